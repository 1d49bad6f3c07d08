// BLF as an output format: the binary log file of formats/blf_layout.h, its
// frames as CAN message objects compressed into containers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/blf_layout.h"
#include "output/format_writer.h"
#include "output/output_sink.h"

struct libdeflate_compressor;

class BlfWriter : public FormatWriter {
 public:
  // The compression level when none is given (1 to 12; 0 stores the objects
  // as zlib stored blocks). Level 1 is the fastest that compresses, and
  // already makes a file of a fifth of the version 2.1 trace's size: higher
  // levels save at most a tenth of that at twice the time or more
  // (bench/blf_levels.sh).
  static constexpr int kDefaultLevel = 1;

  // A writer into sink (borrowed). Makes the object buffer, the container
  // buffer and the compressor of the file: the frames allocate nothing.
  // Throws std::bad_alloc when memory runs out (or the level is out of range).
  explicit BlfWriter(OutputSink& sink, int level = kDefaultLevel);
  ~BlfWriter() override;
  BlfWriter(const BlfWriter&) = delete;
  BlfWriter& operator=(const BlfWriter&) = delete;

  // Appends the file header with the first frame's time as the start time;
  // its sizes and counts are set by end.
  void begin(const CanFrame& first) override;
  // Adds the frame's CAN message object; a full container is compressed and
  // appended. Frames come in non-decreasing time order.
  void write(const CanFrame& frame) override;
  // Appends the last container, then overwrites the file header with the
  // file's size, the objects' uncompressed size and count, and the stop time.
  void end() override;

  // The mark is a container boundary: the container being filled is
  // appended, and the counts of the file header are kept; rollback takes
  // them back and drops the objects of the frames since.
  void mark() override;
  void rollback() override;

 private:
  // What the file header counts at a mark.
  struct Counts {
    int64_t last_ms = 0;
    uint64_t object_count = 0;
    uint64_t uncompressed_size = 0;
  };

  struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const;
  };

  void put_object(const uint8_t* object);
  void append_container();
  void put_file_header();

  OutputSink& sink_;
  std::unique_ptr<libdeflate_compressor, CompressorFree> compressor_;
  std::unique_ptr<uint8_t[]> objects_;    // the objects of the container being filled
  size_t objects_used_ = 0;
  std::unique_ptr<uint8_t[]> container_;  // a container as it is appended
  size_t container_room_;
  uint8_t file_header_[blf::file_header::kSize] = {};
  int64_t start_ms_ = 0;  // the file's start time, milliseconds since 1970 UTC
  int64_t last_ms_ = 0;   // the last frame's time
  uint64_t object_count_ = 0;
  uint64_t uncompressed_size_ = 0;  // the file header, and each container's header and objects
  Counts marked_;                    // at the last mark
};
