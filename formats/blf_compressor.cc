#include "formats/blf_compressor.h"

#include <isa-l/igzip_lib.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>

using namespace blf;

namespace {

// The bytes of a stream up to its internal buffers: its fields and those of
// its state.
constexpr size_t kStreamFields = offsetof(isal_zstream, internal_state) + offsetof(isal_zstate, buffer);

// The match finder's memory at each level: the library's default size. The
// size decides where the deflate blocks end, so it is fixed for the bytes
// to stay the same.
uint32_t level_buffer_size(int level) {
  switch (level) {
    case 1: return ISAL_DEF_LVL1_DEFAULT;
    case 2: return ISAL_DEF_LVL2_DEFAULT;
    case 3: return ISAL_DEF_LVL3_DEFAULT;
    default: return 0;
  }
}

}  // namespace

BlfCompressor::BlfCompressor(int level)
    : level_(level), stream_(new isal_zstream()), level_buffer_size_(level_buffer_size(level)) {
  if (level < kMinLevel || level > kMaxLevel) throw std::out_of_range("BLF compression level");
  if (level_buffer_size_ > 0) level_buffer_.reset(new uint8_t[level_buffer_size_]);
}

BlfCompressor::~BlfCompressor() = default;

size_t BlfCompressor::put_container(const uint8_t* objects, size_t count, uint8_t* out) {
  // The library's init leaves some of the stream's fields as they were (the
  // window size among them), and on inputs of a few hundred bytes their old
  // values can change the bytes it makes: every field before the internal
  // buffers is cleared first (what the buffers held changes nothing).
  isal_zstream* stream = stream_.get();
  memset(stream, 0, kStreamFields);
  isal_deflate_stateless_init(stream);
  stream->level = static_cast<uint32_t>(level_);
  stream->level_buf = level_buffer_.get();
  stream->level_buf_size = level_buffer_size_;
  stream->gzip_flag = IGZIP_ZLIB;
  stream->end_of_stream = 1;
  stream->flush = NO_FLUSH;
  stream->next_in = const_cast<uint8_t*>(objects);
  stream->avail_in = static_cast<uint32_t>(count);
  stream->next_out = out + container::kHeaderSize;
  stream->avail_out = static_cast<uint32_t>(kContainerRoom - container::kHeaderSize - 3);
  uint16_t method = container::kZlib;
  size_t body = 0;
  if (isal_deflate_stateless(stream) == COMP_OK) {
    body = stream->total_out;
  } else {  // the room holds any stream of stored blocks, so this is not seen: the objects go as they are
    method = container::kUncompressed;
    memcpy(out + container::kHeaderSize, objects, count);
    body = count;
  }
  const size_t object_size = container::kHeaderSize + body;
  memset(out + object_header::kSize, 0, container::kHeaderSize - object_header::kSize);
  put_object_header(out, object_header::kSize, 1, static_cast<uint32_t>(object_size), container::kType);
  store<uint16_t>(out + container::kCompression, method);
  store<uint32_t>(out + container::kUncompressedSize, static_cast<uint32_t>(count));
  const size_t padding = container::padding_after(object_size);
  memset(out + object_size, 0, padding);
  return object_size + padding;
}
