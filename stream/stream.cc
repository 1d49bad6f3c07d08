// Byte streams: the generic entry points, the stdio file stream in its three
// modes, and the buffered reader whose window lives behind its record.
#include "stream/stream.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <system_error>
#include <thread>

// The thread that writes the full buffers of a write-only FileStream. The
// owner hands over a buffer only while the thread is idle and touches the
// stdio file only after it has waited for idleness, so the file is used by
// one thread at a time and the unlocked stdio calls stay safe.
struct WriteBehind {
  static constexpr int kIdle = 0;  // waiting for a buffer; buffer is the spare one
  static constexpr int kBusy = 1;  // writing buffer[0, count)
  static constexpr int kStop = 2;  // leaving
  std::atomic<int> state{kIdle};
  char* buffer = nullptr;  // owned
  size_t count = 0;
  FILE* file = nullptr;
  bool failed = false;  // a write of the thread fell short; read while idle
  std::thread thread;
};

namespace {

// The buffer of a stream that writes. The stream is used by one thread at a
// time, so the unlocked stdio calls are safe and save a lock per line.
constexpr size_t kWriteBufferSize = size_t{1} << 16;

// Buffers a write-only stream writes itself before it starts its writing
// thread: a trace file of a few lines costs no thread and no large buffers.
constexpr int kFlushesBeforeThread = 2;

// The two buffers of a stream with a writing thread: large, so that the
// thread is woken rarely and each wake-up moves much.
constexpr size_t kBehindBufferSize = size_t{1} << 20;

// ---------------------------------------------------------------------------
// Writing thread

void write_behind_run(WriteBehind* behind) {
  for (;;) {
    int state;
    while ((state = behind->state.load(std::memory_order_acquire)) == WriteBehind::kIdle) {
      behind->state.wait(WriteBehind::kIdle, std::memory_order_acquire);
    }
    if (state == WriteBehind::kStop) return;
    if (fwrite_unlocked(behind->buffer, 1, behind->count, behind->file) != behind->count) behind->failed = true;
    behind->state.store(WriteBehind::kIdle, std::memory_order_release);
    behind->state.notify_one();
  }
}

bool flush_pending(FileStream* file);

// Gives file a writing thread and two large buffers, after writing what its
// small buffer holds (a failure there is the thread's first). Returns false,
// changing nothing, when memory or the thread cannot be had; the stream then
// goes on writing by itself.
bool write_behind_start(FileStream* file) {
  auto* behind = new (std::nothrow) WriteBehind;
  if (behind == nullptr) return false;
  behind->buffer = static_cast<char*>(std::malloc(kBehindBufferSize));
  char* current = static_cast<char*>(std::malloc(kBehindBufferSize));
  behind->file = file->file;
  if (behind->buffer != nullptr && current != nullptr) {
    try {
      behind->thread = std::thread(write_behind_run, behind);
      // The thread waits for its first buffer and touches nothing meanwhile.
      behind->failed = !flush_pending(file);
      std::free(file->write_buffer);
      file->write_buffer = current;
      file->write_capacity = kBehindBufferSize;
      file->behind = behind;
      return true;
    } catch (const std::system_error&) {
    }
  }
  std::free(current);
  std::free(behind->buffer);
  delete behind;
  return false;
}

// Waits until the thread has written what it was given. Returns false when
// any of its writes fell short.
bool write_behind_wait(WriteBehind* behind) {
  int state;
  while ((state = behind->state.load(std::memory_order_acquire)) == WriteBehind::kBusy) {
    behind->state.wait(WriteBehind::kBusy, std::memory_order_acquire);
  }
  return !behind->failed;
}

// Waits for the thread, ends it and releases it with its buffer. Returns
// false when any of its writes fell short.
bool write_behind_stop(WriteBehind* behind) {
  const bool written = write_behind_wait(behind);
  behind->state.store(WriteBehind::kStop, std::memory_order_release);
  behind->state.notify_one();
  behind->thread.join();
  std::free(behind->buffer);
  delete behind;
  return written;
}

// ---------------------------------------------------------------------------
// FileStream

FileStream* as_file(Stream* stream) { return static_cast<FileStream*>(stream); }

// Bytes read; 0 at the end of the file; -1 when the file reports an error and
// nothing was read. Bytes read before an error are delivered first: the error
// indicator of the stdio file stays set, so the next read reports it.
int64_t file_read(Stream* stream, void* destination, int64_t count) {
  FileStream* file = as_file(stream);
  if (count <= 0) return 0;
  size_t got = fread_unlocked(destination, 1, static_cast<size_t>(count), file->file);
  if (got > 0) {
    file->position += static_cast<int64_t>(got);
    return static_cast<int64_t>(got);
  }
  return ferror(file->file) ? -1 : 0;
}

// Hands the stream's pending bytes to its stdio file. True when all of them
// were written; a failure sets the file's error indicator, and the bytes are
// dropped either way (as stdio drops a buffer whose flush failed).
bool flush_pending(FileStream* file) {
  bool written = true;
  if (file->behind != nullptr) written = write_behind_wait(file->behind);
  if (file->pending == 0) return written;
  if (written) written = fwrite_unlocked(file->write_buffer, 1, file->pending, file->file) == file->pending;
  file->pending = 0;
  return written;
}

// Hands the full buffer of a write-only stream to its writing thread (started
// after kFlushesBeforeThread buffers) and goes on with the spare one, or
// writes it at once where there is no thread. Returns what flush_pending
// returns; a failure may belong to a buffer handed over before.
bool hand_over_pending(FileStream* file) {
  if (file->behind == nullptr && file->flushes >= 0 && ++file->flushes > kFlushesBeforeThread &&
      !write_behind_start(file)) {
    file->flushes = -1;  // no further attempt
  }
  WriteBehind* behind = file->behind;
  if (behind == nullptr || file->pending == 0) return flush_pending(file);
  const bool written = write_behind_wait(behind);
  if (written) {
    char* full = file->write_buffer;
    file->write_buffer = behind->buffer;
    behind->buffer = full;
    behind->count = file->pending;
    behind->state.store(WriteBehind::kBusy, std::memory_order_release);
    behind->state.notify_one();
  }
  file->pending = 0;
  return written;
}

// Bytes written (a short count on failure). A stream that fills its own
// buffer hands it to the file when the bytes do not fit into it; a failure
// there takes none of them. Bytes that would fill the whole buffer go to the
// file at once.
int64_t file_write(Stream* stream, const void* bytes, int64_t count) {
  FileStream* file = as_file(stream);
  if (count <= 0) return 0;
  if (file->write_capacity > 0) {
    if (static_cast<uint64_t>(count) <= file->write_capacity - file->pending) {
      memcpy(file->write_buffer + file->pending, bytes, static_cast<size_t>(count));
      file->pending += static_cast<size_t>(count);
      file->position += count;
      return count;
    }
    if (!hand_over_pending(file)) return 0;
    if (static_cast<uint64_t>(count) < file->write_capacity) {
      memcpy(file->write_buffer, bytes, static_cast<size_t>(count));
      file->pending = static_cast<size_t>(count);
      file->position += count;
      return count;
    }
  }
  if (file->behind != nullptr && !write_behind_wait(file->behind)) return 0;
  size_t put = fwrite_unlocked(bytes, 1, static_cast<size_t>(count), file->file);
  if (put > 0) file->position += static_cast<int64_t>(put);
  return static_cast<int64_t>(put);
}

// stdio's position of the file, the pending bytes counted in; -1 on failure.
int64_t file_tell(Stream* stream) {
  FileStream* file = as_file(stream);
  if (file->behind != nullptr) write_behind_wait(file->behind);  // a failure stays for the next flush
  int64_t position = static_cast<int64_t>(ftello(file->file));
  if (position < 0) return position;
  return position + static_cast<int64_t>(file->pending);
}

// The new position, or -1. A seek from the start to the tracked position
// costs no call to the file: reading straight through a file with a buffered
// reader in front asks for exactly that at every refill.
int64_t file_seek(Stream* stream, int64_t offset, int origin) {
  FileStream* file = as_file(stream);
  if (origin < SEEK_SET || origin > SEEK_END) return -1;
  if (origin == SEEK_SET && offset == file->position) return file->position;
  if (!flush_pending(file)) return -1;
  int result = fseeko(file->file, static_cast<off_t>(offset), origin);
  if (result != 0) return result;
  file->position = static_cast<int64_t>(ftello(file->file));
  return file->position;
}

// fclose's result, or EOF when a stream that writes had a write fail
// before: a flush that failed earlier (in a sync) has dropped its bytes, so
// fclose finds nothing left to write and succeeds although the file is cut
// short. The record is released whatever fclose returned: a failed fclose
// has disassociated the stdio file all the same, so nothing is left to
// retry, and a record kept back would only leak.
int file_close(Stream* stream) {
  FileStream* file = as_file(stream);
  bool write_failed = !flush_pending(file);  // a short write also sets the error indicator
  if (file->behind != nullptr) write_failed |= !write_behind_stop(file->behind);
  write_failed |= file->ops->write != nullptr && ferror(file->file) != 0;
  int result = fclose(file->file);
  if (result == 0 && write_failed) result = EOF;
  std::free(file->write_buffer);
  delete file;
  return result;
}

// 0 when the written data reached stable storage, -1 otherwise: also when an
// earlier write failed, since its bytes never reached the file.
int file_sync(Stream* stream) {
  FileStream* file = as_file(stream);
  if (file->file == nullptr) return -1;
  if (!flush_pending(file)) return -1;
  if (fflush(file->file) != 0) return -1;
  if (file->ops->write != nullptr && ferror(file->file) != 0) return -1;
  return fsync(fileno(file->file)) == 0 ? 0 : -1;
}

const StreamOps file_read_ops = {file_read, nullptr, file_tell, file_seek, file_close, file_sync};
const StreamOps file_read_write_ops = {file_read, file_write, file_tell, file_seek, file_close, file_sync};

// ---------------------------------------------------------------------------
// BufferedReader

BufferedReader* as_reader(Stream* stream) { return static_cast<BufferedReader*>(stream); }

// Loads the window from inner position `start`. Returns the inner read's
// result (bytes loaded, 0 at the end, negative on failure); the window state
// changes only when bytes were loaded. A seek of the inner stream that fails
// counts as a failed read; an inner stream that cannot seek (-2) is read from
// where it stands.
int64_t load_window(BufferedReader* reader, int64_t start) {
  int64_t landed = stream_seek(reader->inner, start, SEEK_SET);
  if (landed != start && landed != -2) return landed < 0 ? landed : -1;
  int64_t got = stream_read(reader->inner, reader->window(), reader->capacity);
  if (got > 0) {
    reader->fill = got;
    reader->cursor = 0;
    reader->window_start = start;
  }
  return got;
}

// count bytes, fewer at the end of the data, or the inner stream's negative
// result when it fails before anything was delivered. Bytes delivered before
// a failure are returned first; the position stays at the failed refill, so
// the next read tries it again.
int64_t reader_read(Stream* stream, void* destination, int64_t count) {
  BufferedReader* reader = as_reader(stream);
  if (count <= 0) return 0;
  auto* out = static_cast<unsigned char*>(destination);
  int64_t delivered = 0;
  while (delivered < count) {
    int64_t available = reader->fill - reader->cursor;
    if (available == 0) {
      int64_t got = load_window(reader, reader->window_start + reader->cursor);
      if (got <= 0) return (got < 0 && delivered == 0) ? got : delivered;
      available = reader->fill;
    }
    int64_t take = count - delivered < available ? count - delivered : available;
    memcpy(out + delivered, reader->window() + reader->cursor, static_cast<size_t>(take));
    reader->cursor += take;
    delivered += take;
  }
  return count;
}

// The reader's position: window start + cursor.
int64_t reader_tell(Stream* stream) {
  BufferedReader* reader = as_reader(stream);
  return reader->window_start + reader->cursor;
}

// The target position; -1 for an unknown origin, an overflowing target or a
// failed seek to the end of the inner stream. A target inside the window (its
// end included) only moves the cursor. Otherwise the window is loaded there;
// when nothing can be loaded (beyond the end, a failed inner seek or read) the
// old position is returned and nothing changes.
int64_t reader_seek(Stream* stream, int64_t offset, int origin) {
  BufferedReader* reader = as_reader(stream);
  int64_t target = 0;
  switch (origin) {
    case SEEK_SET:
      target = offset;
      break;
    case SEEK_CUR:
      if (__builtin_add_overflow(reader->window_start + reader->cursor, offset, &target)) return -1;
      break;
    case SEEK_END: {
      int64_t end = stream_seek(reader->inner, offset, SEEK_END);
      if (end < 0) return -1;
      target = stream_tell(reader->inner);
      if (target < 0) return -1;
      break;
    }
    default:
      return -1;
  }
  if (target >= reader->window_start && target - reader->window_start <= reader->fill) {
    reader->cursor = target - reader->window_start;
    return target;
  }
  if (target < 0 || load_window(reader, target) <= 0) return reader->window_start + reader->cursor;
  return target;
}

// 0 when closed and released; the inner stream's failed close result
// otherwise (the reader then stays).
int reader_close(Stream* stream) {
  BufferedReader* reader = as_reader(stream);
  if (reader == nullptr) return -1;
  if (reader->owns_inner && reader->inner != nullptr) {
    int result = stream_close(reader->inner);
    if (result != 0) return result;
    reader->inner = nullptr;
  }
  reader->~BufferedReader();
  free(reader);
  return 0;
}

}  // namespace

extern const StreamOps file_write_ops = {nullptr, file_write, file_tell, file_seek, file_close, file_sync};
extern const StreamOps buffered_reader_ops = {reader_read, nullptr, reader_tell, reader_seek, reader_close, nullptr};

// ---------------------------------------------------------------------------
// Generic entry points

int stream_sync(Stream* stream) {
  if (stream->ops->sync == nullptr) return -2;
  return stream->ops->sync(stream);
}

int64_t stream_tell(Stream* stream) {
  if (stream->ops->tell == nullptr) return -2;
  return stream->ops->tell(stream);
}

int64_t stream_seek(Stream* stream, int64_t offset, int origin) {
  if (stream->ops->seek == nullptr) return -2;
  return stream->ops->seek(stream, offset, origin);
}

int stream_close(Stream* stream) {
  if (stream == nullptr || stream->ops->close == nullptr) return 0;
  return stream->ops->close(stream);
}

bool stream_get_position(Stream* stream, int64_t* position) {
  if (stream == nullptr || position == nullptr) return false;
  *position = stream_tell(stream);
  return true;
}

bool stream_set_position(Stream* stream, const int64_t* position) {
  if (stream == nullptr || position == nullptr) return false;
  return stream_seek(stream, *position, SEEK_SET) == *position;
}

int64_t stream_size(Stream* stream) {
  if (stream == nullptr) return -1;
  int64_t saved = 0;
  stream_get_position(stream, &saved);
  stream_seek(stream, 0, SEEK_END);
  int64_t size = stream_tell(stream);
  stream_set_position(stream, &saved);
  return size;
}

Stream* file_stream_open(const char* path, int mode) {
  if (path == nullptr) return nullptr;
  const StreamOps* ops = nullptr;
  const char* stdio_mode = nullptr;
  switch (mode) {
    case FILE_STREAM_READ:
      ops = &file_read_ops;
      stdio_mode = "rb";
      break;
    case FILE_STREAM_WRITE:
      ops = &file_write_ops;
      stdio_mode = "wb";
      break;
    case FILE_STREAM_READ_WRITE:
      ops = &file_read_write_ops;
      stdio_mode = "r+b";
      break;
    default:
      return nullptr;
  }
  FILE* file = fopen(path, stdio_mode);
  if (file == nullptr) return nullptr;
  auto* stream = new (std::nothrow) FileStream;
  if (stream == nullptr) {
    fclose(file);
    return nullptr;
  }
  stream->ops = ops;
  stream->file = file;
  stream->position = 0;
  stream->write_buffer = nullptr;
  stream->write_capacity = 0;
  stream->pending = 0;
  stream->behind = nullptr;
  stream->flushes = 0;
  if (ops->write != nullptr) {
    // Without the larger buffer stdio keeps its default one.
    stream->write_buffer = static_cast<char*>(std::malloc(kWriteBufferSize));
    if (stream->write_buffer != nullptr) {
      if (mode == FILE_STREAM_WRITE && setvbuf(file, nullptr, _IONBF, 0) == 0) {
        stream->write_capacity = kWriteBufferSize;
      } else {
        setvbuf(file, stream->write_buffer, _IOFBF, kWriteBufferSize);
      }
    }
  }
  return stream;
}

Stream* buffered_reader_new(Stream* inner, bool owns_inner, int64_t size) {
  if (inner == nullptr || size < 1) return nullptr;
  // Round up to a multiple of 8 without overflowing, and keep the record plus
  // the window addressable.
  if (size > INT64_MAX - 7) return nullptr;
  int64_t capacity = (size + 7) & ~int64_t{7};
  if (static_cast<uint64_t>(capacity) > SIZE_MAX - sizeof(BufferedReader)) return nullptr;
  // calloc gives the zero-filled window; for a large window the zero pages are
  // only touched when the window is first loaded.
  void* memory = calloc(1, sizeof(BufferedReader) + static_cast<size_t>(capacity));
  if (memory == nullptr) return nullptr;
  auto* reader = new (memory) BufferedReader;
  reader->ops = &buffered_reader_ops;
  reader->capacity = capacity;
  reader->fill = 0;
  reader->cursor = 0;
  reader->window_start = 0;
  reader->inner = inner;
  reader->owns_inner = owns_inner;
  return reader;
}

// ---------------------------------------------------------------------------
// MemoryStream: a read-only stream over borrowed bytes.

namespace {

struct MemoryStream : Stream {
  const unsigned char* data;
  int64_t size;
  int64_t position;
};

MemoryStream* as_memory(Stream* stream) { return static_cast<MemoryStream*>(stream); }

// Bytes copied, 0 at the end.
int64_t memory_read(Stream* stream, void* destination, int64_t count) {
  MemoryStream* memory = as_memory(stream);
  if (count <= 0 || memory->position >= memory->size) return 0;
  int64_t left = memory->size - memory->position;
  int64_t take = count < left ? count : left;
  memcpy(destination, memory->data + memory->position, static_cast<size_t>(take));
  memory->position += take;
  return take;
}

// The position.
int64_t memory_tell(Stream* stream) { return as_memory(stream)->position; }

// The new position; -1 for an unknown origin or a target outside 0 to
// INT64_MAX. A position beyond the end is allowed and reads nothing.
int64_t memory_seek(Stream* stream, int64_t offset, int origin) {
  MemoryStream* memory = as_memory(stream);
  int64_t base = 0;
  if (origin == SEEK_CUR) {
    base = memory->position;
  } else if (origin == SEEK_END) {
    base = memory->size;
  } else if (origin != SEEK_SET) {
    return -1;
  }
  int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return -1;
  memory->position = target;
  return target;
}

// Always 0: releases the record, never the bytes.
int memory_close(Stream* stream) {
  delete as_memory(stream);
  return 0;
}

const StreamOps memory_ops = {memory_read, nullptr, memory_tell, memory_seek, memory_close, nullptr};

}  // namespace

Stream* memory_stream_new(const void* data, int64_t size) {
  if (size < 0 || (data == nullptr && size > 0)) return nullptr;
  auto* stream = new (std::nothrow) MemoryStream;
  if (stream == nullptr) return nullptr;
  stream->ops = &memory_ops;
  stream->data = static_cast<const unsigned char*>(data);
  stream->size = size;
  stream->position = 0;
  return stream;
}
