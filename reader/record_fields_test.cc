// Every hand-read conversion against the library scanner and timegm, over
// generated and malformed fields (tests/fuzz/record_fields_fuzz.cc goes on
// where these stop).
#include "reader/record_fields.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/test_support.h"

namespace {

// Runs a conversion and sscanf over texts biased toward what the readers
// treat apart; the field is not terminated (pad follows it), and a text
// that does not match must leave the value as it was.
template <typename Value>
void expect_matches_library(const char* format, bool (*scan)(const char*, const char*, Value*), char pad) {
  std::mt19937 random(2024);
  const std::string alphabets[] = {"0123456789", "0123456789abcdefABCDEF", "0123456789abcdefxX +-\tg;:.", "01x- "};
  for (int i = 0; i < 40000; ++i) {
    std::string text;
    for (size_t n = random() % (i % 7 == 0 ? 31 : 13); n > 0; --n) text += alphabets[i % 4][random() % alphabets[i % 4].size()];
    Value expected = 77, got = 77;
    const bool matched = sscanf(text.c_str(), format, &expected) == 1;
    const std::string padded = text + pad;
    ASSERT_EQ(scan(padded.data(), padded.data() + text.size(), &got), matched) << format << " \"" << text << '"';
    ASSERT_EQ(got, expected) << format << " \"" << text << '"';
  }
}

TEST(RecordFields, ScannersMatchTheLibrary) {
  expect_matches_library<uint32_t>("%x", scan_hex_u32, '5');
  expect_matches_library<uint8_t>("%hhu", scan_dec_u8, '5');
  expect_matches_library<uint8_t>("%2hhx", scan_hex_byte, 'f');
}

TEST(RecordFields, UtcSecondsMatchTimegmForEveryDayOfManyYears) {
  DayCache cache;
  for (unsigned year = 1599; year <= 2501; ++year) {
    for (unsigned month = 1; month <= 12; ++month) {
      for (unsigned day = 0; day <= 32; ++day) {
        const unsigned n[7] = {year, month, day, 23, 59, 59, 0};
        ASSERT_EQ(utc_seconds(n, &cache), test_support::library_utc_seconds(n)) << year << "-" << month << "-" << day;
      }
    }
  }
}

}  // namespace
