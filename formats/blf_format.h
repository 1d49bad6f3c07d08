// BLF as an output format: the binary log file of formats/blf_layout.h, its
// frames as CAN message objects compressed into containers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/blf_containers.h"
#include "formats/blf_layout.h"
#include "output/format_writer.h"
#include "output/output_sink.h"

class BlfWriter : public FormatWriter {
 public:
  // The compression level when none is given (BlfCompressor's 0 to 3).
  // Level 1 is the fastest that keeps a file within a quarter of the
  // version 2.1 trace's size: 20 % on the benchmark log and 22 to 25 % on
  // logs of the bundled examples' kind (8-byte frames of random data, tens of
  // milliseconds apart), compressing at about 540 instructions per frame.
  // Level 0 needs 6 % fewer but makes 23 % and 26 to 31 %; level 2 is as
  // fast and saves at most 0.2 %; level 3 takes twice the time or more to
  // save 2 % (bench/blf_levels.sh).
  static constexpr int kDefaultLevel = 1;

  // A writer into sink (borrowed) at the level; behind says whether the
  // compression may move to a thread of the file's own once the file needs
  // a second container (BlfContainers). Makes the buffers and the compressor
  // of the file: the frames allocate nothing. Throws std::bad_alloc when
  // memory runs out (std::out_of_range for a bad level).
  explicit BlfWriter(OutputSink& sink, int level = kDefaultLevel, bool behind = true);
  BlfWriter(const BlfWriter&) = delete;
  BlfWriter& operator=(const BlfWriter&) = delete;

  // Appends the file header with the first frame's time as the start time;
  // its sizes and counts are set by end.
  void begin(const CanFrame& first) override;
  // Adds the frame's CAN message object; a full buffer of objects becomes a
  // container. Frames come in non-decreasing time order.
  void write(const CanFrame& frame) override;
  // Appends the last container, then overwrites the file header with the
  // file's size, the objects' uncompressed size and count, and the stop time.
  void end() override;

  // The mark is a container boundary: write_held appends the objects so far
  // as containers, mark keeps the counts of the file header; rollback takes
  // them back and drops the objects and containers of the frames since.
  void write_held() override;
  void mark() override;
  void rollback() override;

  // True once a thread compresses the file's containers.
  bool compressing_behind() const { return containers_.behind(); }

 private:
  // What the file header counts at a mark.
  struct Counts {
    int64_t last_ms = 0;
    uint64_t object_count = 0;
    uint64_t uncompressed_size = 0;
  };

  void put_object(const uint8_t* object);
  void hand_over();
  void settle();
  void put_file_header();

  OutputSink& sink_;
  BlfContainers containers_;
  uint8_t* objects_;  // the buffer of the container being filled
  size_t objects_used_ = 0;
  uint8_t file_header_[blf::file_header::kSize] = {};
  int64_t start_ms_ = 0;  // the file's start time, milliseconds since 1970 UTC
  int64_t last_ms_ = 0;   // the last frame's time
  uint64_t object_count_ = 0;
  uint64_t uncompressed_size_ = 0;  // the file header, and each container's header and objects
  Counts marked_;                    // at the last mark
};
