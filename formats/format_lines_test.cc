#include <gtest/gtest.h>
#include <stb_sprintf.h>

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "formats/asc_lines.h"
#include "formats/candump_lines.h"
#include "formats/csv_lines.h"
#include "formats/line_digits.h"
#include "tests/support/test_frames.h"

namespace {

using test_support::data_frame;

// The ASC, candump and CSV lines of the frame.
std::array<std::string, 3> lines(double offset, const CanFrame& frame) {
  std::array<std::string, 3> text;
  asc_line_append(&text[0], offset, frame);
  candump_line_append(&text[1], frame);
  csv_line_append(&text[2], frame);
  return text;
}

// Each fast build, written at the start of exactly its room on the heap,
// against its reference build; counts the lines it declined.
void expect_builds_agree(double offset, const CanFrame& frame, int* declined) {
  std::array<std::string, 3> reference;
  asc_line_append_reference(&reference[0], offset, frame);
  candump_line_append_reference(&reference[1], frame);
  csv_line_append_reference(&reference[2], frame);
  const size_t rooms[3] = {kAscLineRoom, kCandumpLineRoom, kCsvLineRoom};
  for (int format = 0; format < 3; ++format) {
    std::vector<char> room(rooms[format]);
    char* out = room.data();
    const char* end = format == 0   ? asc_line_write(out, offset, frame)
                      : format == 1 ? candump_line_write(out, frame)
                                    : csv_line_write(out, frame);
    if (end == nullptr) {
      ++*declined;
    } else {
      ASSERT_EQ(std::string(out, end - out), reference[format]) << format << " " << offset;
    }
  }
}

// "%11.6f", "%017.6f" and "%.6f" of the fast routines against stb_sprintf's.
void expect_fixed_agrees(double value, int* declined) {
  for (auto [format, width, pad] : {std::tuple{"%11.6f", 11, ' '}, {"%017.6f", 17, '0'}, {"%.6f", 0, ' '}}) {
    char fast[64], reference[512];
    uint64_t micros;
    if (!line_digits::fixed_point_micros(value, &micros)) {
      ++*declined;
      continue;
    }
    *line_digits::put_micros(fast, micros, width, pad) = '\0';
    stbsp_snprintf(reference, sizeof reference, format, value);
    ASSERT_STREQ(fast, reference) << std::hexfloat << value;
  }
}

TEST(FormatLinesTest, ExamplesAndFieldForms) {
  CanFrame beta = data_frame(0x2A1, {0xB6, 0x72, 0xA8, 0x72}, 1709648530.275);
  EXPECT_EQ(lines(0.0, beta), (std::array<std::string, 3>{
                                  "   0.000000 1  2A1             Rx   d 4 B6 72 A8 72\n",
                                  "(1709648530.275000) can0 2A1#B672A872\n",
                                  "1709648530.275000,1,2A1,0,Rx,0,4,B6 72 A8 72\n"}));
  CanFrame alpha = data_frame(0xCF00400, {0xF0, 0x7D, 0x7D, 0xF8, 0x2C, 0xFF, 0xF0, 0x7D}, 1718090102.05, true);
  EXPECT_EQ(lines(0.05, alpha), (std::array<std::string, 3>{
                                    "   0.050000 1  CF00400x        Rx   d 8 F0 7D 7D F8 2C FF F0 7D\n",
                                    "(1718090102.050000) can0 0CF00400#F07D7DF82CFFF07D\n",
                                    "1718090102.050000,1,CF00400,1,Rx,0,8,F0 7D 7D F8 2C FF F0 7D\n"}));
  // A transmitted frame whose length says more than its bytes, a widened
  // offset, a time before 2001.
  CanFrame sent = data_frame(0x7FF, {}, 978307199.5);
  sent.transmitted = true;
  sent.length = 4;
  EXPECT_EQ(lines(123456.5, sent), (std::array<std::string, 3>{
                                       "123456.500000 1  7FF             Tx   d 4\n",
                                       "(0978307199.500000) can0 7FF# T\n",
                                       "978307199.500000,1,7FF,0,Tx,0,4,\n"}));
  // Empty data; a standard identifier beyond 11 bits (an inexact record) in
  // candump: three digits up to FFF, else the eight of an extended one.
  EXPECT_EQ(lines(1.0, data_frame(0xFFF, {}, 1.0))[1], "(0000000001.000000) can0 FFF#\n");
  EXPECT_EQ(lines(1.0, data_frame(0x1000, {}, 1.0))[1], "(0000000001.000000) can0 00001000#\n");
}

TEST(FormatLinesTest, AscHeaderDatesAreTheFirstFrameTimeInUtc) {
  std::string header;
  asc_append_header(&header, 1709648530.275);
  EXPECT_EQ(header,
            "date Tue Mar 05 14:22:10.275 2024\nbase hex  timestamps absolute\nno internal events logged\n"
            "// version 9.0.0\nBegin Triggerblock Tue Mar 05 14:22:10.275 2024\n   0.000000 Start of measurement\n");
  header.clear();
  asc_append_header(&header, 951868799.999);  // the last millisecond of 2000-02-29
  asc_append_header(&header, NAN);
  EXPECT_EQ(header.substr(0, 34), "date Tue Feb 29 23:59:59.999 2000\n");
  EXPECT_EQ(header.substr(header.size() / 2, 34), "date Thu Jan 01 00:00:00.000 1970\n");
  header.clear();
  asc_append_header(&header, 1099153601.393);  // times 1000 falls just below the millisecond
  EXPECT_EQ(header.substr(0, 34), "date Sat Oct 30 16:26:41.393 2004\n");
}

// Every combination of the fields that the fast builds treat apart, at
// times and offsets across and beyond their range.
TEST(FormatLinesTest, FastBuildsMatchReferenceOnEdgeFrames) {
  const double values[] = {0.0, 0.001, 0.0078125, 9.9999995, 99999.9999995, 978307199.999, 1709648530.275,
                           0x1p35 + 0x1p-7, 0x1p36, 1e300, -0.0, -1.5, NAN, INFINITY};
  int declined = 0;
  for (uint32_t id : {0u, 0x7FFu, 0x1000u, 0x1FFFFFFFu, 0xFFFFFFFFu}) {
    for (uint64_t flags = 0; flags < 4; ++flags) {
      for (int size : {0, 1, 7, 8}) {
        CanFrame frame = data_frame(id, {});
        test_support::set_frame_flags(&frame, flags);
        for (int i = 0; i < 8; ++i) frame.data[i] = static_cast<uint8_t>(i * 37 + 5);
        frame.size = static_cast<uint8_t>(size);
        frame.length = static_cast<uint8_t>(size == 7 ? 255 : size);
        for (double value : values) {
          frame.timestamp = value;
          expect_builds_agree(value, frame, &declined);
          if (HasFatalFailure()) return;
        }
      }
    }
  }
  EXPECT_GT(declined, 0);
}

// Times at millisecond resolution and their differences (as the back ends
// make them) are all taken; random values across the range, and those next to
// a rounding tie, agree with stb_sprintf wherever they are taken.
TEST(FormatLinesTest, SixDecimalsMatchStb) {
  std::mt19937_64 random(5);
  int declined = 0;
  for (int i = 0; i < 300000 && !HasFatalFailure(); ++i) {
    const int64_t start_ms = static_cast<int64_t>(random() % 4000000000000ull);
    const int64_t delta_ms = static_cast<int64_t>(random() % (i % 2 ? 100000ull : 40000000000ull));
    expect_fixed_agrees(static_cast<double>(start_ms) / 1000.0, &declined);
    expect_fixed_agrees(static_cast<double>(start_ms + delta_ms) / 1000.0 - static_cast<double>(start_ms) / 1000.0,
                        &declined);
  }
  EXPECT_EQ(declined, 0);
  for (int i = 0; i < 300000 && !HasFatalFailure(); ++i) {
    expect_fixed_agrees(std::ldexp(1.0 + static_cast<double>(random() >> 12) * 0x1p-52, int(random() % 50) - 12),
                        &declined);
    // A tie of the sixth decimal and the doubles around it.
    double value = (static_cast<double>(random() % (i % 2 ? 100000000ull : 60000000000000000ull)) + 0.5) / 1e6;
    for (int step = 0; step < 3; ++step) value = std::nextafter(value, 0.0);
    for (int step = 0; step < 7; ++step, value = std::nextafter(value, INFINITY)) {
      expect_fixed_agrees(value, &declined);
    }
  }
  // Declined: the values outside the range, and near a tie within a margin
  // that for the largest values reaches half a unit of the last decimal.
  EXPECT_LT(declined, 3 * 300000 * 8 / 2);
}

}  // namespace
