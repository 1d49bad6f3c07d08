// The buffered reader: another stream read through a window that lives in
// the reader's own allocation.
#include <cstdlib>
#include <new>

#include "stream/stream.h"

namespace {

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

// The rest of the window, loaded anew from the reader's position when it is
// used up.
int64_t reader_look(Stream* stream, const unsigned char** bytes) {
  BufferedReader* reader = as_reader(stream);
  if (reader->cursor == reader->fill) {
    const int64_t got = load_window(reader, reader->window_start + reader->cursor);
    if (got <= 0) return got;
  }
  *bytes = reader->window() + reader->cursor;
  return reader->fill - reader->cursor;
}

void reader_consume(Stream* stream, int64_t count) { as_reader(stream)->cursor += count; }

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

extern const StreamOps buffered_reader_ops = {reader_read,  nullptr, reader_tell, reader_seek,
                                              reader_close, nullptr, reader_look, reader_consume};

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
