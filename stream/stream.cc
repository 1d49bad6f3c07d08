// The generic entry points of every stream.
#include "stream/stream.h"

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
