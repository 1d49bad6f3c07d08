#include "formats/trace_lines.h"

#include <gtest/gtest.h>
#include <stb_sprintf.h>

#include <cmath>
#include <random>
#include <string>

namespace {

// A data frame with the identifier and data bytes, its length the byte
// count; the direction (and extended) from the bits of flags.
CanFrame data_frame(uint32_t id, std::initializer_list<uint8_t> bytes, double timestamp = 0.0, bool extended = false,
                    uint64_t flags = 0) {
  CanFrame frame{};
  frame.timestamp = timestamp;
  frame.id = id;
  for (uint8_t b : bytes) frame.data[frame.size++] = b;
  frame.length = frame.size;
  frame.extended = extended || (flags & 1), frame.transmitted = flags & 2;
  return frame;
}

template <void (*kBuild)(std::string*, int64_t, double, const CanFrame&)>
std::string line_of(int64_t number, double offset, const CanFrame& frame) {
  std::string line;
  kBuild(&line, number, offset, frame);
  return line;
}
constexpr auto v1 = line_of<trace_line_v1_append>;
constexpr auto v2 = line_of<trace_line_v2_append>;
constexpr auto v1_reference = line_of<trace_line_v1_append_reference>;
constexpr auto v2_reference = line_of<trace_line_v2_append_reference>;

// The plain lines of both versions are checked on real runs (tests/cli);
// here the fields those never vary.
TEST(TraceLines, FieldsRealLogsDoNotVary) {
  CanFrame frame = data_frame(0xFFFFFFFF, {}, 0.0, true);
  EXPECT_EQ(v2(1, 0.0, frame), "      1         0.000 DT 1 1FFFFFFF Rx 0    \n");
  frame.extended = false;  // a standard identifier that large widens
  frame.length = 10;
  EXPECT_EQ(v2(10000000, 1e8, frame), "10000000 100000000.000 DT 1     1FFFFFFF Rx 10   \n");
  EXPECT_EQ(v1(1000000, 1e9, frame), "1000000) 1000000000.0 Rx        1FFFFFFF 10  \n");
  EXPECT_EQ(v1(4, -2.0, frame), "     4)        -2.0 Rx        1FFFFFFF 10  \n");
}

// The fast build against the reference on every combination of fields, on
// numbers one after the other across every carry and widening point, and on
// offsets that grow slowly across the points where their upper digits change
// (as in a trace file), also written in place.
TEST(TraceLines, FastBuildMatchesTheReference) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    const uint64_t r = random();
    CanFrame frame = data_frame(0, {}, 0.0, false, r);
    frame.length = static_cast<uint8_t>(r >> 16);
    frame.id = static_cast<uint32_t>(random()) & (r & 64 ? 0x7FF : ~0u);
    frame.size = static_cast<uint8_t>((r >> 24) % 9);
    for (auto& b : frame.data) b = static_cast<uint8_t>(random());
    const int64_t number = static_cast<int64_t>(random() >> (random() % 64));
    const double offset = static_cast<double>(random() % 100000000000ull) / 1000.0;
    ASSERT_EQ(v1(number, offset, frame), v1_reference(number, offset, frame));
    ASSERT_EQ(v2(number, offset, frame), v2_reference(number, offset, frame));
  }
  const CanFrame frame = data_frame(0x123, {0xAB, 0xCD});
  for (int64_t start : {int64_t{0}, int64_t{9999990}, int64_t{99999990}, int64_t{7}}) {
    for (int64_t number = start; number < start + (start == 0 ? 1100000 : 30); ++number) {
      ASSERT_EQ(v2(number, 1.5, frame), v2_reference(number, 1.5, frame)) << number;
      ASSERT_EQ(v1(number, 1.5, frame), v1_reference(number, 1.5, frame)) << number;
    }
  }
  char text[kTraceLineRoom];
  for (double start : {0.0, 9990.0, 99999990.0, 10000.0, 5.0}) {
    for (int step = 0; step < 40000; ++step) {
      const double offset = start + step * 0.5;
      ASSERT_EQ(std::string(text, trace_line_v2_write(text, 7, offset, frame)), v2_reference(7, offset, frame));
      ASSERT_EQ(std::string(text, trace_line_v1_write(text, 7, offset, frame)), v1_reference(7, offset, frame));
    }
  }
}

// The fast offset routine against stb_sprintf's "%*.*f" wherever it takes a
// value: random values across its range and beyond, decimal ties of both
// layouts and the doubles around them, and exact binary ties.
TEST(TraceLines, FastOffsetsMatchStbSprintf) {
  auto check = [](double value) {
    for (auto [width, decimals] : {std::pair{13, 3}, std::pair{11, 1}}) {
      char fast[64], reference[512];
      const int n = format_offset_fast(fast, value, width, decimals);
      stbsp_snprintf(reference, sizeof reference, "%*.*f", width, decimals, value);
      if (n != 0) {
        ASSERT_EQ(std::string(fast, static_cast<size_t>(n)), reference) << std::hexfloat << value;
      }
    }
  };
  std::mt19937_64 random(13);
  for (int i = 0; i < 1000000; ++i) {
    check(std::ldexp(1.0 + static_cast<double>(random() >> 12) * 0x1p-52, static_cast<int>(random() % 54) - 12));
    const uint64_t limit = i % 3 == 0 ? 100000ull : i % 3 == 1 ? 100000000ull : 10000000000000ull;
    double value = (static_cast<double>(random() % (i % 2 ? limit : limit / 100)) * 10.0 + 5.0) / (i % 2 ? 10000.0 : 100.0);
    for (int step = 0; step < 3; ++step) value = std::nextafter(value, 0.0);
    for (int step = 0; step < 7; ++step, value = std::nextafter(value, INFINITY)) check(value);
    check(static_cast<double>(i) / 16.0);
  }
}

// Days since 1899-12-30 as "%5lu.%010.0f"; a fraction that rounds to a whole
// day is carried into the days.
TEST(TraceLines, StartValue) {
  auto start_value = [](double seconds) {
    std::string s;
    trace_append_start_value(&s, seconds);
    return s;
  };
  const double midnight = (45307.0 - 25569.0) * 86400.0;
  EXPECT_EQ(start_value(1700000000.0), "45244.9259259259\n");
  EXPECT_EQ(start_value(86400.0 * 74431.0), "100000.0000000000\n");
  EXPECT_EQ(start_value(-1e300), "    0.0000000000\n");
  EXPECT_EQ(start_value(midnight - 0.000001), "45307.0000000000\n");
  EXPECT_EQ(start_value(midnight - 0.00001), "45306.9999999999\n");
}

}  // namespace
