// Differential tests: every hand-read conversion against the library scanner
// and timegm, over generated and malformed inputs.
#include "reader/record_fields.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

// Random texts biased toward what the conversions treat specially.
std::string random_text(std::mt19937& rng, const std::string& alphabet, size_t max_length) {
  size_t length = rng() % (max_length + 1);
  std::string text;
  for (size_t i = 0; i < length; ++i) text.push_back(alphabet[rng() % alphabet.size()]);
  return text;
}

std::vector<std::string> fixed_cases() {
  return {"",        "0",        "00",       "0x",       "0X",       "0x1F",      "0xg",        "x1",
          "-1",      "+1",       "-",        "+",        " 7",       "\t7",       "- 5",        "-0x10",
          "1a",      "1A",       "fF",       "g",        "256",      "-256",      "1x5",        "00x1",
          "7f ",     "7 f",      "ffffffff", "100000000", "123456789ABCDEF0", "123456789ABCDEF01",
          "FFFFFFFFFFFFFFFFF", "-FFFFFFFFFFFFFFFFF", "9999999999999999999", "99999999999999999999",
          "18446744073709551615", "18446744073709551616", "000000000000000000000000001", "0000000000000000000000ff"};
}

std::vector<std::string> generated_cases() {
  std::mt19937 rng(2024);
  std::vector<std::string> cases = fixed_cases();
  const std::string alphabets[] = {"0123456789", "0123456789abcdefABCDEF", "0123456789abcdefxX +-\tg;:.",
                                   "01x- "};
  for (int i = 0; i < 40000; ++i) cases.push_back(random_text(rng, alphabets[i % 4], i % 7 == 0 ? 30 : 12));
  return cases;
}

// Runs one conversion and sscanf with format over every generated text. The
// field is not terminated where it ends: a digit (pad) sits right behind it.
// Both start from the same value, so a conversion that does not match must
// leave it untouched.
template <typename Value>
void expect_matches_library(const char* format, bool (*scan)(const char*, const char*, Value*), char pad) {
  for (const std::string& text : generated_cases()) {
    Value expected = 77;
    bool expected_ok = sscanf(text.c_str(), format, &expected) == 1;
    Value got = 77;
    std::string padded = text + pad;
    bool ok = scan(padded.data(), padded.data() + text.size(), &got);
    ASSERT_EQ(ok, expected_ok) << format << " \"" << text << '"';
    ASSERT_EQ(got, expected) << format << " \"" << text << '"';
  }
}

TEST(ScanFields, MatchTheLibrary) {
  expect_matches_library<uint32_t>("%x", scan_hex_u32, '5');
  expect_matches_library<uint8_t>("%hhu", scan_dec_u8, '5');
  expect_matches_library<uint8_t>("%2hhx", scan_hex_byte, 'f');
}

TEST(ScanTimeTemplate, MatchesTheLibrary) {
  std::mt19937 rng(7);
  std::vector<std::string> cases = {"20240115093001123", "19700101000000000", "99999999999999999",
                                    "2024011509300112a", "2024 115093001123", "-0240115093001123",
                                    "20240115-93001123", "2024011509+001123", "                 ",
                                    "2024011509300 123", "00000000000000000", "2024-1-5093001123"};
  const std::string alphabets[] = {"0123456789", "0123456789", "0123456789 +-a", "0123456789-"};
  for (int i = 0; i < 40000; ++i) {
    std::string text;
    const std::string& alphabet = alphabets[i % 4];
    for (int k = 0; k < kTimeDigits; ++k) {
      // Mostly digits, with a few odd characters at random places.
      text.push_back(rng() % 8 == 0 ? alphabet[rng() % alphabet.size()] : static_cast<char>('0' + rng() % 10));
    }
    cases.push_back(text);
  }
  for (const std::string& text : cases) {
    ASSERT_EQ(text.size(), static_cast<size_t>(kTimeDigits));
    unsigned expected[7] = {};
    sscanf(text.c_str(), "%4u%2u%2u%2u%2u%2u%3u", &expected[0], &expected[1], &expected[2], &expected[3],
           &expected[4], &expected[5], &expected[6]);
    unsigned got[7];
    std::string padded = text + "77";  // not terminated after 17 characters
    scan_time_template(padded.data(), got);
    for (int k = 0; k < 7; ++k) ASSERT_EQ(got[k], expected[k]) << text << " number " << k;
  }
}

using test_support::library_utc_seconds;

TEST(UtcSeconds, MatchesTimegmForEveryDayOfManyYears) {
  DayCache cache;
  for (unsigned year = 1599; year <= 2501; ++year) {
    for (unsigned month = 1; month <= 12; ++month) {
      for (unsigned day = 0; day <= 32; ++day) {
        unsigned n[7] = {year, month, day, 23, 59, 59, 0};
        ASSERT_EQ(utc_seconds(n, &cache), library_utc_seconds(n)) << year << "-" << month << "-" << day;
      }
    }
  }
}

TEST(UtcSeconds, MatchesTimegmOutOfRange) {
  std::mt19937 rng(99);
  DayCache cache;
  const unsigned odd[] = {0, 1, 12, 13, 59, 60, 99, 100, 4294967295u, 2147483648u, 1900, 9999, 10000};
  auto pick = [&](unsigned limit) {
    return rng() % 5 == 0 ? odd[rng() % (sizeof odd / sizeof odd[0])] : static_cast<unsigned>(rng() % limit);
  };
  for (int i = 0; i < 200000; ++i) {
    unsigned n[7] = {pick(10000), pick(100), pick(100), pick(100), pick(100), pick(100), 0};
    // Repeat some days so that the cache is hit and missed.
    if (i % 3 == 1) n[3] = static_cast<unsigned>(rng() % 24);
    ASSERT_EQ(utc_seconds(n, &cache), library_utc_seconds(n))
        << n[0] << " " << n[1] << " " << n[2] << " " << n[3] << " " << n[4] << " " << n[5];
  }
}

}  // namespace
