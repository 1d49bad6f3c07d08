// The compression of a BLF file's objects into whole containers: the
// container header, the objects as a zlib stream (RFC 1950) made in one call
// by the storage-acceleration library's deflate, and the zero bytes that
// follow a container.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/blf_layout.h"

struct isal_zstream;

class BlfCompressor {
 public:
  // The levels the library offers: 0 (its fastest, one fixed Huffman code)
  // to 3.
  static constexpr int kMinLevel = 0;
  static constexpr int kMaxLevel = 3;

  // The most bytes one container takes: its header, the stream of
  // blf::container::kCapacity bytes of objects stored at worst, and the
  // zero bytes after it.
  static constexpr size_t kContainerRoom = blf::container::kHeaderSize + 2 + 4 +
                                           blf::container::kCapacity + 5 * (blf::container::kCapacity / 65535 + 1) +
                                           3;

  // A compressor at the level, with its working memory. Throws
  // std::bad_alloc when memory runs out, std::out_of_range for a level
  // outside kMinLevel..kMaxLevel.
  explicit BlfCompressor(int level);
  ~BlfCompressor();
  BlfCompressor(const BlfCompressor&) = delete;
  BlfCompressor& operator=(const BlfCompressor&) = delete;

  // Writes the container of count bytes of objects (1 to
  // blf::container::kCapacity) at out (kContainerRoom bytes); returns the
  // bytes written, the zero bytes after the container included. The bytes
  // depend on the objects and the level alone.
  size_t put_container(const uint8_t* objects, size_t count, uint8_t* out);

 private:
  int level_;
  std::unique_ptr<isal_zstream> stream_;
  std::unique_ptr<uint8_t[]> level_buffer_;  // the match finder's memory (levels above 0)
  uint32_t level_buffer_size_ = 0;
};
