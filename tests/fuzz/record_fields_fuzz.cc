// The record-field readers over arbitrary field texts: each hand-written
// reader against the library conversion it stands in for ("%x", "%hhu",
// "%2hhx", the 17-digit time template, timegm), in the result and the value.
#include "reader/record_fields.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t seed = in.take<uint8_t>();
  const std::string_view text = in.rest().substr(0, 255);  // a field of the line buffer
  const char* begin = text.data();
  const char* end = begin + text.size();
  uint32_t id_fast = seed, id_library = seed;
  CHECK(scan_hex_u32(begin, end, &id_fast) == scan_hex_u32_library(begin, end, &id_library) && id_fast == id_library);
  uint8_t fast = seed, library = seed;
  CHECK(scan_dec_u8(begin, end, &fast) == scan_dec_u8_library(begin, end, &library) && fast == library);
  CHECK(scan_hex_byte(begin, end, &fast) == scan_hex_byte_library(begin, end, &library) && fast == library);

  char digits[kTimeDigits];  // the text's first 17 characters, padded with digits
  for (size_t i = 0; i < kTimeDigits; ++i) digits[i] = i < text.size() ? text[i] : static_cast<char>('0' + i % 10);
  unsigned numbers[7], library_numbers[7];
  scan_time_template(digits, numbers);
  scan_time_template_library(digits, library_numbers);
  CHECK(memcmp(numbers, library_numbers, sizeof numbers) == 0);
  DayCache cache;  // a miss, then a hit
  CHECK(utc_seconds(numbers, &cache) == utc_seconds_library(numbers));
  CHECK(utc_seconds(numbers, &cache) == utc_seconds_library(numbers));
  return 0;
}
