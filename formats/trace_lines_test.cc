#include "formats/trace_lines.h"
#include "output/text_append.h"

#include <gtest/gtest.h>
#include <stb_sprintf.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "tests/support/test_frames.h"

namespace {

using test_support::data_frame;

// The line that one of the line builders appends for the frame.
using LineBuilder = void (*)(std::string*, int64_t, double, const CanFrame&);
template <LineBuilder kBuild>
std::string line_of(int64_t number, double offset, const CanFrame& frame) {
  std::string line;
  kBuild(&line, number, offset, frame);
  return line;
}
constexpr auto v1 = line_of<trace_line_v1_append>;
constexpr auto v2 = line_of<trace_line_v2_append>;
constexpr auto v1_reference = line_of<trace_line_v1_append_reference>;
constexpr auto v2_reference = line_of<trace_line_v2_append_reference>;

std::string start_value(double seconds) {
  std::string s;
  trace_append_start_value(&s, seconds);
  return s;
}

// stb_sprintf's own text for "%*.*f".
std::string stb_fixed(double value, int width, int decimals) {
  char text[512];
  stbsp_snprintf(text, sizeof text, "%*.*f", width, decimals, value);
  return text;
}

// The fast offset routine's text, or "" when it declines the value.
std::string fast_fixed(double value, int width, int decimals) {
  char text[64];
  int n = format_offset_fast(text, value, width, decimals);
  return std::string(text, static_cast<size_t>(n));
}

// Checks one value for both layouts; counts the values the fast routine
// declined.
void expect_offset_agrees(double value, int* declined) {
  for (auto [width, decimals] : {std::pair{13, 3}, std::pair{11, 1}}) {
    std::string fast = fast_fixed(value, width, decimals);
    if (fast.empty()) {
      ++*declined;
      continue;
    }
    ASSERT_EQ(fast, stb_fixed(value, width, decimals))
        << "value " << std::hexfloat << value << std::defaultfloat << " (" << value << ") %"
        << width << "." << decimals << "f";
  }
}

TEST(StrAppendTest, FormatAppendsAndGrows) {
  std::string s = "ab";
  s.shrink_to_fit();
  EXPECT_EQ(str_append_format(&s, "[%5d|%s]", 42, "x"), 9);
  EXPECT_EQ(s, "ab[   42|x]");
  std::string long_text(1000, 'z');
  EXPECT_EQ(str_append_format(&s, "%s!", long_text.c_str()), 1001);
  EXPECT_EQ(s, "ab[   42|x]" + long_text + "!");
  EXPECT_EQ(s.size(), strlen(s.c_str()));
  EXPECT_EQ(str_append_format(&s, "%s", ""), 0);
  EXPECT_EQ(s.size(), 1012u);
  // stb_sprintf's rounding, not the C library's: ties go up.
  std::string t;
  str_append_format(&t, "%.3f %.1f", 0.0625, 0.25);
  EXPECT_EQ(t, "0.063 0.3");
}

TEST(StrAppendTest, HexSeparatesBytesOnly) {
  const uint8_t bytes[] = {0xA0, 0x0B, 0xFF};
  std::string s = ">";
  str_append_hex(&s, bytes, 3, ' ', true);
  EXPECT_EQ(s, ">A0 0B FF");
  s.clear();
  str_append_hex(&s, bytes, 3, 0, false);
  EXPECT_EQ(s, "a00bff");
  s.clear();
  str_append_hex(&s, bytes, 1, ':', true);
  EXPECT_EQ(s, "A0");
  str_append_hex(&s, bytes, 0, ' ', true);
  EXPECT_EQ(s, "A0");
}

TEST(StartValueTest, DaysSince1899) {
  EXPECT_EQ(start_value(1700000000.0), "45244.9259259259\n");
  EXPECT_EQ(start_value(0.0), "25569.0000000000\n");
  EXPECT_EQ(start_value(-25569.0 * 86400.0), "    0.0000000000\n");
  EXPECT_EQ(start_value(86400.0 * 74431.0), "100000.0000000000\n");  // widens
  EXPECT_EQ(start_value(-1e300), "    0.0000000000\n");
  EXPECT_EQ(start_value(NAN), "    0.0000000000\n");
}

TEST(StartValueTest, FractionRoundingToAWholeDayCarries) {
  // 2024-01-16 00:00:00 UTC is day 45307; a first frame 1 microsecond before
  // it has a fraction that rounds up to ten billion.
  double midnight = (45307.0 - 25569.0) * 86400.0;
  EXPECT_EQ(start_value(midnight), "45307.0000000000\n");
  EXPECT_EQ(start_value(midnight - 0.000001), "45307.0000000000\n");
  EXPECT_EQ(start_value(midnight - 0.000002), "45307.0000000000\n");
  // Far enough from midnight the fraction stays as the plain format prints it.
  EXPECT_EQ(start_value(midnight - 0.001), "45306.9999999884\n");
  EXPECT_EQ(start_value(midnight - 0.00001), "45306.9999999999\n");
  // Every time in the last seconds of the day has ten fraction digits.
  for (int us = 0; us < 20000; ++us) {
    std::string text = start_value(midnight - us * 1e-6);
    ASSERT_EQ(text.size(), 17u) << us << " " << text;
    ASSERT_TRUE(text == "45307.0000000000\n" || text.compare(0, 6, "45306.") == 0) << text;
  }
}

// The plain lines of both versions are checked byte for byte on real runs
// (tests/cli/convert.sh); here the fields that those do not vary.
TEST(FrameLineTest, TypesRemoteAndEmptyData) {
  CanFrame empty = data_frame(0x7FF, {});
  EXPECT_EQ(v1(3, 1.0, empty), "     3)         1.0 Rx        07FF 0  \n");
  EXPECT_EQ(v2(3, 1.0, empty), "      3         1.000 DT 1     07FF Rx 0    \n");

  CanFrame remote = data_frame(0x100, {});
  remote.remote = true;
  remote.length = 8;
  EXPECT_EQ(v1(4, 2.0, remote), "     4)         2.0 Rx        0100 8  RTR\n");
  EXPECT_EQ(v2(4, 2.0, remote), "      4         2.000 RR 1     0100 Rx 8    \n");

  CanFrame fd = data_frame(0x1ABCDE, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 0.0, true);
  fd.fd = true;
  fd.brs = true;
  fd.channel = 2;
  EXPECT_EQ(v2(5, 3.0, fd),
            "      5         3.000 FB 2 001ABCDE Rx 12   01 02 03 04 05 06 07 08 09 0A 0B 0C\n");
  fd.esi = true;
  EXPECT_EQ(v2(5, 3.0, fd).substr(22, 2), "BI");
  fd.brs = false;
  EXPECT_EQ(v2(5, 3.0, fd).substr(22, 2), "FE");
  fd.esi = false;
  EXPECT_EQ(v2(5, 3.0, fd).substr(22, 2), "FD");
  // FD wins over remote, and a remote frame still has no data bytes.
  fd.remote = true;
  fd.length = 12;
  EXPECT_EQ(v2(5, 3.0, fd), "      5         3.000 FD 2 001ABCDE Rx 12   \n");
}

TEST(FrameLineTest, LengthsNineAndTenAlignTheData) {
  CanFrame frame = data_frame(0x10, {0xAB});
  frame.length = 9;
  EXPECT_EQ(v2(1, 0.0, frame), "      1         0.000 DT 1     0010 Rx 9    AB\n");
  frame.length = 10;
  EXPECT_EQ(v2(1, 0.0, frame), "      1         0.000 DT 1     0010 Rx 10   AB\n");
  frame.length = 255;
  EXPECT_EQ(v2(1, 0.0, frame), "      1         0.000 DT 1     0010 Rx 255   AB\n");
  EXPECT_EQ(v1(1, 0.0, frame), "     1)         0.0 Rx        0010 255  AB\n");
}

TEST(FrameLineTest, IdentifiersAreMaskedAndWidthsWiden) {
  CanFrame frame = data_frame(0xFFFFFFFF, {}, 0.0, true);
  EXPECT_EQ(v2(1, 0.0, frame), "      1         0.000 DT 1 1FFFFFFF Rx 0    \n");
  frame.extended = false;  // a standard frame with a large identifier widens
  EXPECT_EQ(v2(1, 0.0, frame), "      1         0.000 DT 1     1FFFFFFF Rx 0    \n");
  frame.id = 0x12345;
  EXPECT_EQ(v1(1, 0.0, frame), "     1)         0.0 Rx        12345 0  \n");
  frame.id = 0;
  frame.channel = 255;
  EXPECT_EQ(v2(1, 0.0, frame), "      1         0.000 DT 255     0000 Rx 0    \n");

  EXPECT_EQ(v1(999999, 0.0, frame).substr(0, 7), "999999)");
  EXPECT_EQ(v1(1000000, 0.0, frame).substr(0, 8), "1000000)");
  EXPECT_EQ(v2(9999999, 0.0, frame).substr(0, 8), "9999999 ");
  EXPECT_EQ(v2(10000000, 0.0, frame).substr(0, 9), "10000000 ");
  EXPECT_EQ(v2(INT64_MAX, 0.0, frame).substr(0, 20), "9223372036854775807 ");
  // Offsets widen too: 100000000 ms no longer fits 13 characters with three
  // decimals.
  EXPECT_EQ(v2(1, 99999999.0, frame).substr(8, 14), " 99999999.000 ");
  EXPECT_EQ(v2(1, 100000000.0, frame).substr(8, 14), "100000000.000 ");
  EXPECT_EQ(v1(1, 1e9, frame).substr(8, 13), "1000000000.0 ");
}

// Both builds give the same bytes for every combination of fields.
TEST(FrameLineTest, FastBuildMatchesReferenceOnAllFieldCombinations) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    CanFrame frame{};
    frame.kind = 1;
    uint64_t r = random();
    test_support::set_frame_flags(&frame, r);
    frame.channel = static_cast<uint8_t>(r >> 8);
    frame.length = static_cast<uint8_t>(r >> 16);
    frame.id = static_cast<uint32_t>(random());
    if (r & 64) frame.id &= 0x7FF;
    frame.data.size = static_cast<uint8_t>((r >> 24) % (FrameData::kCapacity + 1));
    for (auto& b : frame.data.bytes) b = static_cast<uint8_t>(random());
    int64_t number = static_cast<int64_t>(random() >> (random() % 64));
    double offset = static_cast<double>(random() % 100000000000ull) / 1000.0;
    if (!frame.fd) {
      ASSERT_EQ(v1(number, offset, frame), v1_reference(number, offset, frame));
    }
    ASSERT_EQ(v2(number, offset, frame), v2_reference(number, offset, frame));
  }
}

// Numbers one after the other (as a trace file numbers its lines), across
// every carry and both widening points, with jumps and repeats between runs.
TEST(FrameLineTest, ConsecutiveNumbersMatchReference) {
  CanFrame frame = data_frame(0x18FEF100, {1, 2, 3}, 0.0, true);
  for (int64_t start : {int64_t{0}, int64_t{999990}, int64_t{9999990}, int64_t{1}, int64_t{99999990},
                        int64_t{123456789}, int64_t{7}}) {
    for (int64_t number = start; number < start + (start == 0 ? 1100000 : 30); ++number) {
      ASSERT_EQ(v2(number, 1.5, frame), v2_reference(number, 1.5, frame)) << number;
      ASSERT_EQ(v1(number, 1.5, frame), v1_reference(number, 1.5, frame)) << number;
    }
    ASSERT_EQ(v2(start, 1.5, frame), v2_reference(start, 1.5, frame)) << start;  // a repeat
  }
}

// Offsets that grow a little from line to line (as in a trace file), across
// the points where their upper digits change and back again, and the lines
// written in place, which must equal the appended ones.
TEST(FrameLineTest, SlowlyGrowingOffsetsAndLinesInPlaceMatchReference) {
  CanFrame frame = data_frame(0x123, {0xAB, 0xCD});
  std::string text(kTraceLineRoom, '#');
  for (double start : {0.0, 9990.0, 99990.0, 9999990.0, 12340000.0, 99999990.0, 10000.0, 5.0}) {
    for (int step = 0; step < 40000; ++step) {
      const double offset = start + step * 0.5;
      ASSERT_EQ(v2(7, offset, frame), v2_reference(7, offset, frame)) << offset;
      ASSERT_EQ(v1(7, offset, frame), v1_reference(7, offset, frame)) << offset;
      if (step % 97 == 0) {
        const char* end = trace_line_v2_write(text.data(), 7, offset, frame);
        ASSERT_NE(end, nullptr);
        ASSERT_EQ(std::string(static_cast<const char*>(text.data()), end), v2_reference(7, offset, frame)) << offset;
        end = trace_line_v1_write(text.data(), 7, offset, frame);
        ASSERT_NE(end, nullptr);
        ASSERT_EQ(std::string(static_cast<const char*>(text.data()), end), v1_reference(7, offset, frame)) << offset;
      }
    }
  }
  // Values the fast build does not take: no line in place.
  EXPECT_EQ(trace_line_v2_write(text.data(), -1, 1.0, frame), nullptr);
  EXPECT_EQ(trace_line_v2_write(text.data(), 1, -1.0, frame), nullptr);
  EXPECT_EQ(trace_line_v1_write(text.data(), 1, 1e300, frame), nullptr);
}

// Offsets the way the writer makes them: (timestamp - start) * 1000.0 with
// timestamps at millisecond resolution, as the reader composes them.
TEST(OffsetFormatTest, MatchesStbOnMillisecondDifferences) {
  std::mt19937_64 random(11);
  int declined = 0;
  for (int i = 0; i < 1000000; ++i) {
    int64_t start_ms = 946684800000ll + static_cast<int64_t>(random() % 3000000000000ull);
    int64_t delta_ms = static_cast<int64_t>(random() % (i % 2 ? 100000ull : 400000000000ull));
    double start = static_cast<double>(start_ms) / 1000.0;
    double stamp = static_cast<double>(start_ms + delta_ms) / 1000.0;
    expect_offset_agrees((stamp - start) * 1000.0, &declined);
    if (HasFatalFailure()) return;
  }
  // The fast routine has to take every one of these.
  EXPECT_EQ(declined, 0);
}

TEST(OffsetFormatTest, MatchesStbOnRandomValuesAcrossTheRange) {
  std::mt19937_64 random(13);
  int declined = 0;
  for (int i = 0; i < 1000000; ++i) {
    // Uniform in the exponent, random mantissa, from 2^-12 to 2^42 so that
    // both ends of the fast range are crossed.
    int exponent = static_cast<int>(random() % 54) - 12;
    double value = std::ldexp(1.0 + static_cast<double>(random() >> 12) * 0x1p-52, exponent);
    expect_offset_agrees(value, &declined);
    if (HasFatalFailure()) return;
  }
  EXPECT_LT(declined, 2 * 1000000 * 6 / 54 + 20000);  // the out-of-range share
}

TEST(OffsetFormatTest, MatchesStbNearRoundingTies) {
  std::mt19937_64 random(17);
  int declined = 0;
  for (int i = 0; i < 300000; ++i) {
    // A decimal tie of either layout (…x5 in the first dropped place), and
    // the doubles right around it.
    // Ties of the three-decimal layout (scale 10000) and of the one-decimal
    // layout (scale 100), from small offsets up to the top of the fast range.
    uint64_t limit = i % 3 == 0 ? 100000ull : i % 3 == 1 ? 100000000ull : 10000000000000ull;
    double scale = i % 2 ? 10000.0 : 100.0;
    uint64_t units = random() % (i % 2 ? limit : limit / 100);
    double tie = (static_cast<double>(units) * 10.0 + 5.0) / scale;
    double value = tie;
    for (int step = 0; step < 3; ++step) value = std::nextafter(value, 0.0);
    for (int step = 0; step < 7; ++step) {
      expect_offset_agrees(value, &declined);
      if (HasFatalFailure()) return;
      value = std::nextafter(value, INFINITY);
    }
  }
  // Exact binary ties (multiples of 1/16 and 1/4) and values next to them.
  for (uint64_t sixteenths = 0; sixteenths < 2000000; ++sixteenths) {
    double value = static_cast<double>(sixteenths) / 16.0;
    expect_offset_agrees(value, &declined);
    expect_offset_agrees(std::nextafter(value, INFINITY), &declined);
    if (value > 0) expect_offset_agrees(std::nextafter(value, 0.0), &declined);
    if (HasFatalFailure()) return;
  }
  for (uint64_t k = 0; k < 200000; ++k) {
    double value = static_cast<double>(random() % 1000000000000ull) + 0.0625 * static_cast<double>(k % 16);
    expect_offset_agrees(value, &declined);
    if (HasFatalFailure()) return;
  }
  // The share left to stb_sprintf stays small even here, where every value
  // is picked to be hard (about 16.6 million checks).
  EXPECT_LT(declined, 100000);
}

TEST(OffsetFormatTest, DeclinesOutsideTheProvenRange) {
  char text[64];
  for (double value : {-1.0, -0.0, 0x1p40, 1e300, 1e-5, 0x1p-11, double(INFINITY), double(NAN)}) {
    EXPECT_EQ(format_offset_fast(text, value, 13, 3), 0) << value;
  }
  EXPECT_EQ(format_offset_fast(text, 1.0, 13, 2), 0);  // only 1 or 3 decimals
  EXPECT_EQ(fast_fixed(0.0, 13, 3), "        0.000");
  EXPECT_EQ(fast_fixed(0x1p-10, 11, 1), "        0.0");
  EXPECT_EQ(fast_fixed(0x1p40 - 0x1p-12, 13, 3), stb_fixed(0x1p40 - 0x1p-12, 13, 3));
  // The lines still come out, through stb_sprintf.
  CanFrame frame = data_frame(0x1, {});
  EXPECT_EQ(v2(1, -1.5, frame), "      1        -1.500 DT 1     0001 Rx 0    \n");
  EXPECT_EQ(v1(1, 2e12, frame), "     1) 2000000000000.0 Rx        0001 0  \n");
  EXPECT_EQ(v2(1, INFINITY, frame), v2_reference(1, INFINITY, frame));
}

}  // namespace
