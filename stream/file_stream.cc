// The stdio file stream in its three modes, and the thread that writes the
// full buffers of a large output while the next one fills.
#include "stream/stream.h"

#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <new>
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
  int error = 0;        // errno of that write
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
    if (!behind->failed && fwrite_unlocked(behind->buffer, 1, behind->count, behind->file) != behind->count) {
      behind->failed = true;
      behind->error = errno;
    }
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
      behind->error = errno;
      std::free(file->write_buffer);
      file->write_buffer = current;
      file->write_capacity = kBehindBufferSize;
      file->behind = behind;
      return true;
    } catch (const std::exception&) {  // no thread to be had, or no memory for one
    }
  }
  std::free(current);
  std::free(behind->buffer);
  delete behind;
  return false;
}

// Waits until the thread has written what it was given. Returns false, with
// the reason in errno, when any of its writes fell short.
bool write_behind_wait(WriteBehind* behind) {
  int state;
  while ((state = behind->state.load(std::memory_order_acquire)) == WriteBehind::kBusy) {
    behind->state.wait(WriteBehind::kBusy, std::memory_order_acquire);
  }
  if (behind->failed) errno = behind->error;
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
  if (file->pending != 0) {
    if (written) written = fwrite_unlocked(file->write_buffer, 1, file->pending, file->file) == file->pending;
    file->pending = 0;
  }
  if (!written && file->write_error == 0) file->write_error = errno;
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
  if (!written && file->write_error == 0) file->write_error = errno;
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
  if (file->behind != nullptr && !write_behind_wait(file->behind)) {
    if (file->write_error == 0) file->write_error = errno;
    return 0;
  }
  size_t put = fwrite_unlocked(bytes, 1, static_cast<size_t>(count), file->file);
  if (put > 0) file->position += static_cast<int64_t>(put);
  if (put < static_cast<size_t>(count) && file->write_error == 0) file->write_error = errno;
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
  if (file->behind != nullptr && !write_behind_stop(file->behind)) {
    write_failed = true;
    if (file->write_error == 0) file->write_error = errno;
  }
  write_failed |= file->ops->write != nullptr && ferror(file->file) != 0;
  int result = fclose(file->file);
  if (result == 0 && write_failed) {
    result = EOF;
    errno = file->write_error != 0 ? file->write_error : EIO;
  }
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
  if (file->ops->write != nullptr && ferror(file->file) != 0) {
    errno = file->write_error != 0 ? file->write_error : EIO;
    return -1;
  }
  return fsync(fileno(file->file)) == 0 ? 0 : -1;
}

const StreamOps file_read_ops = {file_read, nullptr, file_tell, file_seek, file_close, file_sync, nullptr, nullptr};

}  // namespace

int stream_truncate(Stream* stream, int64_t size) {
  if (stream->ops != &file_write_ops) return -2;
  FileStream* file = as_file(stream);
  if (size < 0 || size > file->position || !flush_pending(file) || fflush(file->file) != 0 ||
      ftruncate(fileno(file->file), static_cast<off_t>(size)) != 0 ||
      fseeko(file->file, static_cast<off_t>(size), SEEK_SET) != 0) {
    if (size < 0 || size > file->position) errno = EINVAL;
    return -1;
  }
  file->position = size;
  return 0;
}

int stream_flush(Stream* stream) {
  if (stream->ops != &file_write_ops) return -2;
  FileStream* file = as_file(stream);
  if (!flush_pending(file) || fflush(file->file) != 0) return -1;
  if (ferror(file->file) != 0) {
    errno = file->write_error != 0 ? file->write_error : EIO;
    return -1;
  }
  return 0;
}

int stream_truncate_after_failure(Stream* stream, int64_t size) {
  if (stream->ops != &file_write_ops) return -2;
  FileStream* file = as_file(stream);
  // Every byte not yet in the file is dropped: the thread's buffer (after
  // it is done with it), the stream's own and stdio's.
  if (file->behind != nullptr) {
    write_behind_wait(file->behind);
    file->behind->failed = false;
    file->behind->error = 0;
  }
  file->pending = 0;
  __fpurge(file->file);
  clearerr(file->file);
  file->write_error = 0;
  // The file was written in order, so what it holds is the first st_size
  // bytes: whole up to size only when it holds at least that many.
  const int fd = fileno(file->file);
  struct stat status;
  if (fstat(fd, &status) != 0) return -1;
  if (size < 0 || status.st_size < size) {
    errno = EIO;
    return -1;
  }
  if (ftruncate(fd, static_cast<off_t>(size)) != 0 || fseeko(file->file, static_cast<off_t>(size), SEEK_SET) != 0) {
    return -1;
  }
  file->position = size;
  return 0;
}

char* stream_write_room(Stream* stream, size_t count, size_t* available) {
  if (stream->ops != &file_write_ops) return nullptr;
  FileStream* file = as_file(stream);
  if (count > file->write_capacity) return nullptr;
  if (count > file->write_capacity - file->pending && !hand_over_pending(file)) return nullptr;
  *available = file->write_capacity - file->pending;
  return file->write_buffer + file->pending;
}

extern const StreamOps file_write_ops = {nullptr, file_write, file_tell, file_seek, file_close, file_sync, nullptr, nullptr};

namespace {

// The operations and the stdio mode of a FileStreamMode; false for another value.
bool file_mode(int mode, const StreamOps** ops, const char** stdio_mode) {
  switch (mode) {
    case FILE_STREAM_READ:
      *ops = &file_read_ops;
      *stdio_mode = "rbe";
      return true;
    case FILE_STREAM_WRITE:
      *ops = &file_write_ops;
      *stdio_mode = "wbe";
      return true;
    default:
      return false;
  }
}

// Sets up a fresh stream record over the stdio file.
Stream* init_file_stream(FileStream* stream, FILE* file, const StreamOps* ops, int mode) {
  stream->ops = ops;
  stream->file = file;
  stream->position = 0;
  stream->write_buffer = nullptr;
  stream->write_capacity = 0;
  stream->pending = 0;
  stream->behind = nullptr;
  stream->flushes = 0;
  stream->write_error = 0;
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

}  // namespace

namespace {

// Opens the FILE with `open_file` (given the stdio mode) and wraps it in a
// stream of the given mode; nullptr with errno set when either fails.
template <typename OpenFile>
Stream* wrap_file(int mode, OpenFile open_file) {
  const StreamOps* ops = nullptr;
  const char* stdio_mode = nullptr;
  if (!file_mode(mode, &ops, &stdio_mode)) {
    errno = EINVAL;
    return nullptr;
  }
  auto* stream = new (std::nothrow) FileStream;
  if (stream == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  FILE* file = open_file(stdio_mode);
  if (file == nullptr) {
    delete stream;
    return nullptr;
  }
  return init_file_stream(stream, file, ops, mode);
}

}  // namespace

Stream* file_stream_open(const char* path, int mode) {
  if (path == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  return wrap_file(mode, [path](const char* stdio_mode) { return fopen(path, stdio_mode); });
}

Stream* file_stream_from_descriptor(int fd, int mode) {
  // "w" on a descriptor truncates nothing; the descriptor's own flags stay.
  return wrap_file(mode, [fd, mode](const char* stdio_mode) {
    return fdopen(fd, mode == FILE_STREAM_WRITE ? "wb" : stdio_mode);
  });
}
