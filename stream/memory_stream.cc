// A read-only stream over bytes the caller keeps alive.
#include <new>

#include "stream/stream.h"

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

// The rest of the data.
int64_t memory_look(Stream* stream, const unsigned char** bytes) {
  MemoryStream* memory = as_memory(stream);
  if (memory->position >= memory->size) return 0;
  *bytes = memory->data + memory->position;
  return memory->size - memory->position;
}

void memory_consume(Stream* stream, int64_t count) { as_memory(stream)->position += count; }

// Always 0: releases the record, never the bytes.
int memory_close(Stream* stream) {
  delete as_memory(stream);
  return 0;
}

const StreamOps memory_ops = {memory_read,  nullptr, memory_tell, memory_seek,
                             memory_close, nullptr, memory_look, memory_consume};

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
