// The BLF writer into memory: the header's values, containers and padding
// (unchecked by tests/blf_readback_test.py's readers), the same bytes with
// and without the compressing thread, a rollback to a mark, a sink that
// fails.
#include "formats/blf_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_frames.h"

namespace {

using namespace blf;

// An output file in memory whose writes fail past fail_at bytes. Its window
// is a small buffer, emptied into the bytes when full and before anything
// else.
struct MemorySink : OutputSink {
  std::string bytes;
  size_t fail_at = SIZE_MAX;
  char window[512];
  char* make_room(size_t) override {
    flush();
    if (!ok()) return nullptr;
    cursor_ = window;
    limit_ = window + sizeof window;
    return cursor_;
  }
  void flush() {
    const size_t count = cursor_ != nullptr ? static_cast<size_t>(cursor_ - window) : 0;
    cursor_ = limit_ = nullptr;
    if (ok() && bytes.size() + count > fail_at) fail(Status::failure("Could not write"));
    if (ok()) bytes.append(window, count);
  }
  void overwrite(uint64_t offset, const void* data, size_t count) override {
    flush();
    if (ok()) bytes.replace(offset, count, static_cast<const char*>(data), count);
  }
  uint64_t size() const override { return bytes.size() + (cursor_ != nullptr ? cursor_ - window : 0); }
  template <typename T>
  T get(size_t offset) const { return load<T>(reinterpret_cast<const uint8_t*>(bytes.data()) + offset); }
};

// Frames [from, to) of a file, 1 ms apart from 2024-01-31 23:59:59.998 UTC
// (a Wednesday).
void write_frames(BlfWriter& writer, int from, int to) {
  for (int i = from; i < to; ++i) {
    CanFrame frame = test_support::data_frame(0x1FFFFFFF - i, {1, 2, 3}, (1706745599998 + i) / 1000.0, i % 2);
    frame.size = frame.length = static_cast<uint8_t>(i % 4);
    if (i == 0) writer.begin(frame);
    writer.write(frame);
  }
}

void write_file(OutputSink& sink, int frames, bool behind = true) {
  BlfWriter writer(sink, BlfWriter::kDefaultLevel, behind);
  write_frames(writer, 0, frames);
  EXPECT_EQ(writer.compressing_behind(), behind && frames > 2730);
  writer.end();
}

std::vector<uint16_t> system_time(const MemorySink& sink, size_t offset) {
  std::vector<uint16_t> fields(8);
  for (size_t i = 0; i < 8; ++i) fields[i] = sink.get<uint16_t>(offset + 2 * i);
  return fields;
}

TEST(BlfWriter, FileOfContainers) {
  const struct {
    int frames;
    size_t containers;
    std::vector<uint16_t> stop;  // year, month, day of the week (Sunday 0), day, hour, minute, second, ms
  } cases[] = {{1, 1, {2024, 1, 3, 31, 23, 59, 59, 998}},  // 128 KiB = 2730 objects and 16 bytes
               {2730, 1, {2024, 2, 4, 1, 0, 0, 2, 727}},
               {2731, 2, {2024, 2, 4, 1, 0, 0, 2, 728}},
               {8192, 3, {2024, 2, 4, 1, 0, 0, 8, 189}}};
  bool padded = false;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frames);
    MemorySink sink;
    write_file(sink, c.frames);
    size_t at = file_header::kSize, containers = 0, objects = 0;
    while (at < sink.size()) {  // each container, then (its size mod 4) zero bytes
      ASSERT_EQ(sink.bytes.substr(at, 4), "LOBJ");
      EXPECT_EQ(sink.get<uint32_t>(at + object_header::kObjectType), container::kType);
      EXPECT_EQ(sink.get<uint16_t>(at + container::kCompression), container::kZlib);
      const uint32_t size = sink.get<uint32_t>(at + object_header::kObjectSize);
      ASSERT_TRUE(size > container::kHeaderSize && size <= sink.size() - at);
      EXPECT_EQ(objects, containers++ * container::kCapacity);  // every container before is full
      objects += sink.get<uint32_t>(at + container::kUncompressedSize);
      EXPECT_EQ(sink.bytes.substr(at + size, size % 4), std::string(size % 4, '\0'));
      padded |= size % 4 != 0;
      at += size + size % 4;
    }
    EXPECT_EQ(at, sink.size());
    EXPECT_EQ(containers, c.containers);
    EXPECT_EQ(objects, c.frames * 48u);
    EXPECT_EQ(sink.bytes.substr(0, 8), std::string("LOGG\x90\0\0\0", 8));
    EXPECT_EQ(sink.get<uint64_t>(file_header::kFileSize), sink.size());
    EXPECT_EQ(sink.get<uint64_t>(file_header::kUncompressedSize), 144 + 32 * c.containers + c.frames * 48u);
    EXPECT_EQ(sink.get<uint32_t>(file_header::kObjectCount), static_cast<uint32_t>(c.frames));
    EXPECT_EQ(system_time(sink, file_header::kStartTime), (std::vector<uint16_t>{2024, 1, 3, 31, 23, 59, 59, 998}));
    EXPECT_EQ(system_time(sink, file_header::kStopTime), c.stop);
  }
  EXPECT_TRUE(padded);  // the padding rule was seen at work
}

TEST(BlfWriter, SameBytesWithoutThread) {
  MemorySink behind, alone;
  write_file(behind, 30000);
  write_file(alone, 30000, false);
  EXPECT_TRUE(behind.bytes == alone.bytes);
}

// Rolled back after frames in many containers: the file of the frames up to
// the mark alone.
TEST(BlfWriter, RollbackToMark) {
  MemorySink plain, rolled;
  write_file(plain, 3000);
  BlfWriter writer(rolled);
  write_frames(writer, 0, 3000);
  writer.write_held();
  writer.mark();
  const size_t marked = rolled.size();
  write_frames(writer, 3000, 20000);
  writer.rollback();
  rolled.flush();
  rolled.bytes.resize(marked);
  writer.end();
  EXPECT_TRUE(rolled.bytes == plain.bytes);
}

TEST(BlfWriter, FailedSinkStaysFailed) {
  MemorySink sink;
  sink.fail_at = 200;
  write_file(sink, 8192);
  EXPECT_EQ(sink.status().message(), "Could not write");
  EXPECT_LE(sink.bytes.size(), 200u);  // nothing after the failure
}

}  // namespace
