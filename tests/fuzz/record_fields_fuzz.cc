// The record-field readers over arbitrary field texts: each hand-written
// reader against the library conversion it stands in for ("%x", "%hhu",
// "%2hhx", the 17-digit time template, timegm), which must agree on every
// input, in the result and in the value stored.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "reader/record_fields.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t seed = in.take<uint8_t>();
  // A field of the line buffer: at most 255 characters.
  std::string_view text = in.rest().substr(0, 255);
  const char* begin = text.data();
  const char* end = begin + text.size();

  uint32_t id_fast = seed, id_library = seed;
  CHECK(scan_hex_u32(begin, end, &id_fast) == scan_hex_u32_library(begin, end, &id_library));
  CHECK(id_fast == id_library);

  uint8_t length_fast = seed, length_library = seed;
  CHECK(scan_dec_u8(begin, end, &length_fast) == scan_dec_u8_library(begin, end, &length_library));
  CHECK(length_fast == length_library);

  uint8_t byte_fast = seed, byte_library = seed;
  CHECK(scan_hex_byte(begin, end, &byte_fast) == scan_hex_byte_library(begin, end, &byte_library));
  CHECK(byte_fast == byte_library);

  // The template is 17 characters: taken from the text, padded with digits.
  char digits[kTimeDigits];
  for (int i = 0; i < kTimeDigits; ++i) {
    digits[i] = static_cast<size_t>(i) < text.size() ? text[static_cast<size_t>(i)] : static_cast<char>('0' + i % 10);
  }
  unsigned fast[7], library[7];
  scan_time_template(digits, fast);
  scan_time_template_library(digits, library);
  CHECK(memcmp(fast, library, sizeof fast) == 0);

  // Seconds of the numbers, through the day cache twice (a miss, then a
  // hit) and through timegm.
  DayCache cache;
  const int64_t expected = utc_seconds_library(fast);
  CHECK(utc_seconds(fast, &cache) == expected);
  CHECK(utc_seconds(fast, &cache) == expected);
  return 0;
}
