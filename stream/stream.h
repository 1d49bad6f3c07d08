// Byte streams: one small interface (read, write, tell, seek, close) over
// stdio files, and a buffered reader that reads another stream through a
// window buffer.
//
// A stream is a record whose first member points to its table of operations.
// A slot may be empty: the generic entry points then return -2 (0 for close).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

struct Stream;
struct WriteBehind;

// Operation table of a stream. Counts and positions are signed 64-bit values,
// negative on failure.
struct StreamOps {
  // Bytes read, 0 at end of data, negative on failure.
  int64_t (*read)(Stream* stream, void* destination, int64_t count);
  // Bytes written.
  int64_t (*write)(Stream* stream, const void* bytes, int64_t count);
  // Current position.
  int64_t (*tell)(Stream* stream);
  // New position, or negative on failure. Origins: SEEK_SET, SEEK_CUR, SEEK_END.
  int64_t (*seek)(Stream* stream, int64_t offset, int origin);
  // 0 on success; a successful close also releases the stream record. (A
  // file stream is released whatever fclose returned: its file is gone.)
  int (*close)(Stream* stream);
  // Flushes written data to stable storage (fsync); 0 on success. Used before
  // an input is deleted, so that its output survives a power loss.
  int (*sync)(Stream* stream);
  // The bytes at the read position that can be had without copying: points
  // *bytes at them and returns their count, loading more when none are left;
  // 0 at the end of the data, negative on failure. They stay valid until the
  // next operation on the stream. Reading them does not move the position.
  int64_t (*look)(Stream* stream, const unsigned char** bytes);
  // Moves the read position over count bytes of the last look.
  void (*consume)(Stream* stream, int64_t count);
};

struct Stream {
  const StreamOps* ops;
};

// File stream open modes.
enum FileStreamMode : int {
  FILE_STREAM_READ = 0,   // "rb"
  FILE_STREAM_WRITE = 1,  // "wb"
};

// A stream over a stdio file.
struct FileStream : Stream {
  FILE* file;        // owned
  int64_t position;  // the position as the stream has tracked it
  // The buffer of a stream that writes: larger than stdio's default, so that
  // a trace file reaches the kernel in few, large writes. Owned; released
  // after the file is closed. The stream fills it itself and hands it to its
  // stdio file, which then buffers nothing, when it is full and before any
  // other operation, so a short write shows where it would with a stdio
  // buffer of that size (one buffer later once the writing thread below has
  // started).
  char* write_buffer;
  size_t write_capacity;  // bytes the stream fills itself; 0 when stdio buffers
  size_t pending;         // bytes in write_buffer not yet handed to the file
  // A write-only stream whose output outgrows a few buffers hands each full
  // buffer to a thread of its own that writes it to the file while the next
  // one fills; nullptr until then (and when no thread could be started). A
  // write that fails there is reported by the next operation that hands over
  // a buffer, tells, seeks, syncs or closes, as a stdio buffer reports a
  // failure at its next flush.
  WriteBehind* behind;
  int flushes;  // buffers handed to the file so far, up to the one that starts the thread
  int write_error;  // errno of the first write that failed, 0 while none did
};

extern const StreamOps file_write_ops;

// Reads an inner stream through a window buffer of fixed capacity. The window
// lives in the same allocation, directly behind the record.
// Invariant: 0 <= cursor <= fill <= capacity.
struct BufferedReader : Stream {
  int64_t capacity;      // window size in bytes, a multiple of 8
  int64_t fill;          // valid bytes in the window
  int64_t cursor;        // offset of the next byte to deliver, within the window
  int64_t window_start;  // position in the inner stream of the window's first byte
  Stream* inner;
  bool owns_inner;  // closing the reader closes the inner stream

  unsigned char* window() { return reinterpret_cast<unsigned char*>(this + 1); }
};

extern const StreamOps buffered_reader_ops;

// Reads up to count bytes. Returns the count read, 0 at the end of the data,
// negative on failure, -2 when the stream cannot read.
inline int64_t stream_read(Stream* stream, void* destination, int64_t count) {
  if (stream->ops->read == nullptr) return -2;
  return stream->ops->read(stream, destination, count);
}

// The bytes at the read position (see StreamOps::look); -2 when the stream
// cannot offer them.
inline int64_t stream_look(Stream* stream, const unsigned char** bytes) {
  if (stream->ops->look == nullptr) return -2;
  return stream->ops->look(stream, bytes);
}

// Moves the read position over count bytes of the last stream_look.
inline void stream_consume(Stream* stream, int64_t count) { stream->ops->consume(stream, count); }

// Writes count bytes. Returns the count written, -2 when the stream cannot write.
//
// The trace writer hands over one line per call, so a write that the buffer
// of a write-only FileStream can take is done right here, without a call
// through the table.
inline int64_t stream_write(Stream* stream, const void* bytes, int64_t count) {
  if (stream->ops == &file_write_ops) {
    auto* file = static_cast<FileStream*>(stream);
    if (count > 0 && static_cast<uint64_t>(count) <= file->write_capacity - file->pending) {
      memcpy(file->write_buffer + file->pending, bytes, static_cast<size_t>(count));
      file->pending += static_cast<size_t>(count);
      file->position += count;
      return count;
    }
  }
  if (stream->ops->write == nullptr) return -2;
  return stream->ops->write(stream, bytes, count);
}

// Room for at least count bytes at the end of a write-only FileStream's own
// buffer, for a writer that builds its text in place. Returns the first free
// byte, or nullptr when the stream is of another kind or its buffer has less
// room (the caller then writes with stream_write). Nothing is written until
// stream_commit_write; the bytes committed must not exceed count.
inline char* stream_write_space(Stream* stream, size_t count) {
  if (stream->ops != &file_write_ops) return nullptr;
  auto* file = static_cast<FileStream*>(stream);
  if (count > file->write_capacity - file->pending) return nullptr;
  return file->write_buffer + file->pending;
}

// Room for count bytes (at most the buffer's capacity) in a write-only
// FileStream's own buffer, handing the buffer's bytes to the file (or its
// writing thread) first when they leave too little. nullptr when the stream
// is of another kind, count is too large, or handing them on failed (the
// failure shows again at the next sync or close). *available tells how many
// bytes the buffer holds from there on (at least count).
char* stream_write_room(Stream* stream, size_t count, size_t* available);

// True when the stream is a write-only FileStream, whose buffer
// stream_write_room offers.
inline bool stream_offers_room(const Stream* stream) { return stream->ops == &file_write_ops; }

// Takes the count bytes written at stream_write_space as written, exactly as
// stream_write of the same bytes would. Returns nothing.
inline void stream_commit_write(Stream* stream, size_t count) {
  auto* file = static_cast<FileStream*>(stream);
  file->pending += count;
  file->position += static_cast<int64_t>(count);
}

// Cuts a write-only FileStream back to its first size bytes (at most what
// was written) and goes on writing from there. 0 on success, -1 on failure
// (errno tells why), -2 for a stream of another kind.
int stream_truncate(Stream* stream, int64_t size);

// Hands everything written to a write-only FileStream to the file and waits
// until it is there (not on stable storage: see stream_sync). 0 on success,
// -1 when a write fell short (errno tells why), -2 for a stream of another
// kind.
int stream_flush(Stream* stream);

// stream_truncate after a failed write: forgets the failure and every byte
// not yet in the file, and cuts the file back to its first size bytes when
// it holds them all (its writes go in order, so it then holds them whole).
// 0 on success, -1 when the file holds fewer bytes or cannot be cut (errno
// tells why; the stream stays failed), -2 for a stream of another kind.
int stream_truncate_after_failure(Stream* stream, int64_t size);

// Flushes to stable storage. 0 on success, -2 when the stream cannot sync.
int stream_sync(Stream* stream);

// Current position, -2 when the stream cannot tell.
int64_t stream_tell(Stream* stream);

// Moves to offset from origin. Returns the new position, negative on failure,
// -2 when the stream cannot seek.
int64_t stream_seek(Stream* stream, int64_t offset, int origin);

// Closes the stream; on success (0) the stream is released. A missing stream
// or an empty slot gives 0; otherwise the slot's result.
int stream_close(Stream* stream);

// Stores stream_tell in *position. False when stream or position is missing.
bool stream_get_position(Stream* stream, int64_t* position);

// Seeks to *position from the start. True exactly when the stream lands there.
bool stream_set_position(Stream* stream, const int64_t* position);

// Size of the stream's data: seeks to the end, tells, and restores the
// position. -1 for a missing stream.
int64_t stream_size(Stream* stream);

// Opens path in the given FileStreamMode. Returns the stream, or nullptr when
// the path is missing, the mode unknown, or fopen fails (errno tells why).
Stream* file_stream_open(const char* path, int mode);

// A stream over an open file descriptor, which it then owns. Returns nullptr
// (the descriptor still the caller's) when the mode is unknown or memory
// runs out.
Stream* file_stream_from_descriptor(int fd, int mode);

// Creates a reader over inner with a window of size bytes rounded up to a
// multiple of 8. Returns nullptr when inner is missing, size is below 1, the
// window would not be addressable, or the allocation fails; the inner stream
// is then left untouched and still belongs to the caller.
Stream* buffered_reader_new(Stream* inner, bool owns_inner, int64_t size);

// Opens a read-only stream over size bytes that the caller keeps alive until
// the stream is closed (read, tell, seek and close). Returns nullptr when data
// is missing with a positive size, size is negative, or memory runs out.
Stream* memory_stream_new(const void* data, int64_t size);
