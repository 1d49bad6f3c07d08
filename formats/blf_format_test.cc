// The BLF writer into memory: the file header's values, one object's bytes,
// the containers and the bytes after them, objects cut at a container's end,
// and a sink that fails. (tests/blf_readback_test.py reads whole files back
// with other readers.)
#include "formats/blf_format.h"

#include <gtest/gtest.h>
#include <libdeflate.h>

#include <cerrno>
#include <string>
#include <vector>

#include "tests/support/test_frames.h"

namespace {

using namespace blf;

// An output file in memory whose appends fail past fail_at bytes.
class MemorySink : public OutputSink {
 public:
  explicit MemorySink(size_t fail_at = SIZE_MAX) : fail_at_(fail_at) {}
  void append(const void* bytes, size_t count) override {
    if (ok() && bytes_.size() + count > fail_at_) fail(Status::failure("Could not write", ENOSPC));
    if (ok()) bytes_.append(static_cast<const char*>(bytes), count);
  }
  void overwrite(uint64_t offset, const void* bytes, size_t count) override {
    if (ok()) bytes_.replace(offset, count, static_cast<const char*>(bytes), count);
  }
  uint64_t size() const override { return bytes_.size(); }
  const uint8_t* at(size_t offset) const { return reinterpret_cast<const uint8_t*>(bytes_.data()) + offset; }

 private:
  std::string bytes_;
  size_t fail_at_;
};

constexpr int64_t kMonthEnd = 1706745599998;  // 2024-01-31 23:59:59.998 UTC, a Wednesday

// Frame i of a file: i ms after start_ms, i % 9 data bytes, every third sent.
CanFrame frame_at(int i, int64_t start_ms = kMonthEnd) {
  CanFrame frame = test_support::data_frame(0x1FFFFFFF - i, {}, static_cast<double>(start_ms + i) / 1000.0, i % 2);
  for (int k = 0; k < i % 9; ++k) frame.data.bytes[frame.data.size++] = static_cast<uint8_t>(i * 31 + k);
  frame.length = frame.data.size;
  frame.transmitted = i % 3 == 0;
  return frame;
}

void write_file(OutputSink& sink, int frames) {
  BlfWriter writer(sink);
  writer.begin(frame_at(0));
  for (int i = 0; i < frames; ++i) writer.write(frame_at(i));
  writer.end();
}

std::vector<uint16_t> system_time_at(const uint8_t* at) {
  std::vector<uint16_t> fields;
  for (int i = 0; i < 8; ++i) fields.push_back(load<uint16_t>(at + 2 * i));
  return fields;
}

struct Containers {
  std::vector<uint32_t> sizes;  // uncompressed
  std::string objects;          // all of them, decompressed
  size_t end = 0;               // where the walk stopped
  bool padded = false;          // a container was followed by zero bytes
};

// Walks the containers after the file header, each followed by (its size
// mod 4) zero bytes.
Containers read_containers(const MemorySink& sink) {
  Containers found;
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  for (size_t at = file_header::kSize; at < sink.size(); found.end = at) {
    const uint8_t* object = sink.at(at);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(object), 4), "LOBJ");
    EXPECT_EQ(load<uint32_t>(object + object_header::kObjectType), container::kType);
    EXPECT_EQ(load<uint16_t>(object + container::kCompression), container::kZlib);
    const uint32_t size = load<uint32_t>(object + object_header::kObjectSize);
    const uint32_t uncompressed = load<uint32_t>(object + container::kUncompressedSize);
    if (size < container::kHeaderSize || size > sink.size() - at || uncompressed > container::kCapacity) {
      ADD_FAILURE() << "no container at " << at;
      break;
    }
    std::string objects(uncompressed, '\0');
    EXPECT_EQ(libdeflate_zlib_decompress(decompressor, object + container::kHeaderSize, size - container::kHeaderSize,
                                         objects.data(), uncompressed, nullptr),
              LIBDEFLATE_SUCCESS);
    found.sizes.push_back(uncompressed);
    found.objects += objects;
    for (size_t k = size; k < size + size % 4; ++k) EXPECT_EQ(object[k], 0);
    found.padded |= size % 4 != 0;
    at += size + size % 4;
  }
  libdeflate_free_decompressor(decompressor);
  return found;
}

TEST(BlfWriter, HeaderTellsSizesCountAndTimes) {
  MemorySink sink;
  write_file(sink, 5);
  const uint8_t* header = sink.at(0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(header), 4), "LOGG");
  EXPECT_EQ(load<uint32_t>(header + file_header::kHeaderSize), 144u);
  EXPECT_EQ(load<uint64_t>(header + file_header::kFileSize), sink.size());
  EXPECT_EQ(load<uint64_t>(header + file_header::kUncompressedSize), 144u + 32 + 5 * 48);
  EXPECT_EQ(load<uint32_t>(header + file_header::kObjectCount), 5u);
  EXPECT_EQ(system_time_at(header + file_header::kStartTime),
            (std::vector<uint16_t>{2024, 1, 3, 31, 23, 59, 59, 998}));
  EXPECT_EQ(system_time_at(header + file_header::kStopTime), (std::vector<uint16_t>{2024, 2, 4, 1, 0, 0, 0, 2}));
  // Frame 1: 1 ms after the start, received, extended 0x1FFFFFFE, one byte.
  const std::string object = read_containers(sink).objects.substr(48, 48);
  EXPECT_EQ(object, std::string("LOBJ\x20\0\x01\0\x30\0\0\0\x01\0\0\0"
                                "\x02\0\0\0\0\0\0\0\x40\x42\x0F\0\0\0\0\0"
                                "\x01\0\0\x01\xFE\xFF\xFF\x9F\x1F\0\0\0\0\0\0\0", 48));
}

TEST(BlfWriter, CalendarTimes) {
  const struct {
    int64_t ms;
    std::vector<uint16_t> fields;
  } cases[] = {
      {0, {1970, 1, 4, 1, 0, 0, 0, 0}},
      {1709210096789, {2024, 2, 4, 29, 12, 34, 56, 789}},  // a leap day
      {1704067199999, {2023, 12, 0, 31, 23, 59, 59, 999}},
  };
  for (const auto& c : cases) {
    const SystemTime t = system_time_of(c.ms);
    EXPECT_EQ((std::vector<uint16_t>{t.year, t.month, t.day_of_week, t.day, t.hour, t.minute, t.second,
                                     t.milliseconds}),
              c.fields);
  }
}

TEST(BlfWriter, ContainersHoldFullBuffersAndCutObjects) {
  const struct {
    int frames;
    size_t containers;
  } cases[] = {{1, 1}, {2730, 1}, {2731, 2}, {8192, 3}};  // 128 KiB = 2730 objects and 16 bytes
  bool padded = false;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frames);
    MemorySink sink;
    write_file(sink, c.frames);
    const Containers found = read_containers(sink);
    EXPECT_EQ(found.end, sink.size());
    ASSERT_EQ(found.sizes.size(), c.containers);
    for (size_t k = 0; k + 1 < c.containers; ++k) EXPECT_EQ(found.sizes[k], container::kCapacity);
    ASSERT_EQ(found.objects.size(), c.frames * 48u);
    EXPECT_EQ(load<uint64_t>(sink.at(file_header::kUncompressedSize)), 144 + 32 * c.containers + c.frames * 48u);
    for (int i = 0; i < c.frames; ++i) {
      const uint8_t* object = reinterpret_cast<const uint8_t*>(found.objects.data()) + i * 48;
      ASSERT_EQ(load<uint64_t>(object + can_message::kTimeStamp), uint64_t(i) * 1000000) << i;
      ASSERT_EQ(load<uint32_t>(object + can_message::kIdentifier) & 0x1FFFFFFF, 0x1FFFFFFFu - i) << i;
    }
    padded |= found.padded;
  }
  EXPECT_TRUE(padded);  // the padding rule was seen at work
}

TEST(BlfWriter, FailedSinkStaysFailed) {
  MemorySink sink(200);
  write_file(sink, 8192);
  EXPECT_EQ(sink.status().message(), "Could not write (No space left on device)");
  EXPECT_EQ(sink.size(), 144u);
}

}  // namespace
