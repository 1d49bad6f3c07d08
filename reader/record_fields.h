// Field conversions of the record lines: the identifier ("%x"), the length
// ("%hhu"), the data byte pairs ("%2hhx"), the 17-digit time template
// ("%4u%2u%2u%2u%2u%2u%3u") and the UTC seconds of a broken-down time
// (timegm).
//
// Each conversion takes the common well-formed shape by hand and hands every
// other text to the library scanner, so its result is exactly the library's
// for any input. Fields are given as [begin, end) ranges of the line buffer;
// they need not be terminated, and are at most 255 characters long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "frame/can_frame.h"
#include "reader/hex_text.h"

// Library conversions for texts that the inline readers below do not take.
bool scan_hex_u32_library(const char* begin, const char* end, uint32_t* value);
bool scan_dec_u8_library(const char* begin, const char* end, uint8_t* value);
bool scan_hex_byte_library(const char* begin, const char* end, uint8_t* value);
void scan_time_template_library(const char* digits, unsigned numbers[7]);

namespace record_fields_detail {
// Value of each byte as a hexadecimal digit, -1 for any other byte.
struct HexTable {
  int8_t value[256];
  constexpr HexTable() : value() {
    for (int i = 0; i < 256; ++i) value[i] = -1;
    for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) {
      value['a' + i] = static_cast<int8_t>(10 + i);
      value['A' + i] = static_cast<int8_t>(10 + i);
    }
  }
};
inline constexpr HexTable kHex{};
inline int hex_value(char c) { return kHex.value[static_cast<unsigned char>(c)]; }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The usual field: one to eight hexadecimal digits and nothing else, read
// into *value. False (nothing stored) for any other field.
inline bool read_short_hex(const char* begin, const char* end, uint32_t* value) {
  if (end - begin < 1 || end - begin > 8) return false;
  uint32_t number = 0;
  int invalid = 0;
  for (const char* p = begin; p < end; ++p) {
    const int digit = hex_value(*p);
    invalid |= digit;
    number = (number << 4) | static_cast<uint32_t>(digit & 0xF);
  }
  if (invalid < 0) return false;
  *value = number;
  return true;
}

}  // namespace record_fields_detail

// sscanf(field, "%x", &value). Returns true and stores the value when the
// conversion matched; false leaves *value untouched.
//
// Read here: digits from the first character on, no "0x" prefix, at most 16
// digits (no overflow of the scanner's unsigned long; the low 32 bits are
// kept as the conversion to unsigned int does).
inline bool scan_hex_u32(const char* begin, const char* end, uint32_t* value) {
  using record_fields_detail::hex_value;
  if (record_fields_detail::read_short_hex(begin, end, value)) return true;
  if (begin < end && hex_value(*begin) >= 0 &&
      !(*begin == '0' && end - begin > 1 && (begin[1] == 'x' || begin[1] == 'X'))) {
    uint64_t number = 0;
    const char* p = begin;
    int digit;
    while (p < end && p - begin < 17 && (digit = hex_value(*p)) >= 0) {
      number = (number << 4) | static_cast<uint64_t>(digit);
      ++p;
    }
    if (p - begin <= 16) {
      *value = static_cast<uint32_t>(number);
      return true;
    }
  }
  return scan_hex_u32_library(begin, end, value);
}

// sscanf(field, "%hhu", &value). Returns true and stores the value when the
// conversion matched; false leaves *value untouched.
//
// Read here: up to 19 decimal digits from the first character on (no
// overflow of unsigned long); the conversion keeps the value modulo 256.
inline bool scan_dec_u8(const char* begin, const char* end, uint8_t* value) {
  using record_fields_detail::is_digit;
  if (begin < end && is_digit(*begin)) {
    uint64_t number = 0;
    const char* p = begin;
    while (p < end && p - begin < 20 && is_digit(*p)) {
      number = number * 10 + static_cast<uint64_t>(*p - '0');
      ++p;
    }
    if (p - begin <= 19) {
      *value = static_cast<uint8_t>(number);
      return true;
    }
  }
  return scan_dec_u8_library(begin, end, value);
}

// sscanf(field, "%2hhx", &value) on the text from begin to end. Returns true
// and stores the value when the conversion matched; false leaves *value
// untouched.
//
// Read here: two hexadecimal digits, or one that ends the field.
inline bool scan_hex_byte(const char* begin, const char* end, uint8_t* value) {
  using record_fields_detail::hex_value;
  if (begin < end) {
    int high = hex_value(begin[0]);
    if (high >= 0) {
      if (end - begin == 1) {
        *value = static_cast<uint8_t>(high);
        return true;
      }
      int low = hex_value(begin[1]);
      if (low >= 0) {
        *value = static_cast<uint8_t>(high * 16 + low);
        return true;
      }
    }
  }
  return scan_hex_byte_library(begin, end, value);
}

// Length of the time template: year 4, month, day, hour, minute, second 2
// each, milliseconds 3.
constexpr int kTimeDigits = 17;

// The numbers of sscanf(template, "%4u%2u%2u%2u%2u%2u%3u", ...) over the 17
// characters of the template; a number that was not read is 0. Order: year,
// month, day, hour, minute, second, milliseconds. Seventeen digits are read
// here; any other character leaves the template to the library.
inline void scan_time_template(const char* digits, unsigned numbers[7]) {
  unsigned d[kTimeDigits];
  unsigned odd = 0;
  for (int i = 0; i < kTimeDigits; ++i) {
    d[i] = static_cast<unsigned>(static_cast<unsigned char>(digits[i])) - '0';
    odd |= d[i] > 9 ? 1u : 0u;
  }
  if (odd != 0) {
    scan_time_template_library(digits, numbers);
    return;
  }
  numbers[0] = ((d[0] * 10 + d[1]) * 10 + d[2]) * 10 + d[3];
  numbers[1] = d[4] * 10 + d[5];
  numbers[2] = d[6] * 10 + d[7];
  numbers[3] = d[8] * 10 + d[9];
  numbers[4] = d[10] * 10 + d[11];
  numbers[5] = d[12] * 10 + d[13];
  numbers[6] = (d[14] * 10 + d[15]) * 10 + d[16];
}

// The last day whose midnight was converted, so that the lines of one day
// cost no calendar arithmetic.
struct DayCache {
  int64_t key = -1;  // year * 10000 + month * 100 + day; -1 for none
  int64_t start = 0;
};

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar
// (month 1 to 12; a day beyond the month's end counts on into the next).
int64_t days_from_civil(int64_t year, unsigned month, unsigned day);

// timegm for what the inline path below does not take.
int64_t utc_seconds_library(const unsigned numbers[7]);

// timegm of year - 1900, month - 1, day, hour, minute, second (every other
// member 0), with the numbers converted to int as the broken-down time holds
// them. Computed from the calendar for a year up to 9999, a month from 1 to
// 12 and day, hour, minute and second up to 99; timegm itself does the rest.
// Returns the seconds since 1970-01-01 00:00:00 UTC (-1 where timegm fails).
inline int64_t utc_seconds(const unsigned numbers[7], DayCache* cache) {
  const unsigned year = numbers[0], month = numbers[1], day = numbers[2];
  const unsigned hour = numbers[3], minute = numbers[4], second = numbers[5];
  if (year <= 9999 && month >= 1 && month <= 12 && day <= 99 && hour <= 99 && minute <= 99 && second <= 99) {
    int64_t key = int64_t{year} * 10000 + month * 100 + day;
    if (key != cache->key) {
      // A day outside the month (0, 31 in April, up to 99) counts on from
      // the first of the month, as timegm normalises it.
      cache->start = (days_from_civil(year, month, 1) + int64_t{day} - 1) * 86400;
      cache->key = key;
    }
    return cache->start + int64_t{hour} * 3600 + int64_t{minute} * 60 + int64_t{second};
  }
  return utc_seconds_library(numbers);
}

// ---------------------------------------------------------------------------
// The fields of a frame, as the record parser hands them over.

// "Type": the first character sets the extended and transmitted flags ("0"
// neither, "1" extended, "8" transmitted, "9" both: the digit's bits 0 and
// 3); any other leaves them. Returns whether the field is exact: one of those
// four characters alone.
inline bool parse_type(const char* begin, const char* end, CanFrame* frame) {
  if (begin == end) return false;
  const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(*begin)) - '0';
  if (digit > 9 || ((0x303u >> digit) & 1) == 0) return false;
  frame->extended = (digit & 1) != 0;
  frame->transmitted = (digit & 8) != 0;
  return end - begin == 1;
}

// Whether an ID field says exactly the number "%x" reads from it: after an
// optional "0x" or "0X", one or more hexadecimal digits and nothing else, of
// a value below 2^32.
bool id_field_exact(const char* begin, const char* end);

// "%x" of an ID field into *value (scan_hex_u32), and whether the field is
// exact (id_field_exact). The usual field, one to eight digits, is read here.
inline bool scan_id_field(const char* begin, const char* end, uint32_t* value) {
  if (record_fields_detail::read_short_hex(begin, end, value)) return true;
  scan_hex_u32(begin, end, value);
  return id_field_exact(begin, end);
}

// The number a Length field states: its decimal digits (at least one, and
// nothing else), as far as 999; -1 for any other field.
int length_field_value(const char* begin, const char* end);

// Up to 8 bytes, one per two characters; a lone last character is a byte of
// its own. The count of bytes is the frame's length. The line is readable up
// to limit. Returns whether the field is exact: pairs of hexadecimal digits,
// at most 8 of them.
[[gnu::always_inline]] inline bool parse_data(const char* begin, const char* end, const char* limit, CanFrame* frame) {
  using record_fields_detail::hex_value;
  const ptrdiff_t size = end - begin;
  const int pairs = size >= 16 ? 8 : static_cast<int>(size / 2);
  // The common field: pairs of hexadecimal digits, read here at once.
  int invalid = -1;
  if (limit - begin >= 16) {
    invalid = hex_text::read_pairs(begin, pairs, frame->data) ? 0 : -1;
  } else {
    invalid = 0;
    for (int i = 0; i < pairs; ++i) {
      const int high = hex_value(begin[2 * i]);
      const int low = hex_value(begin[2 * i + 1]);
      invalid |= high | low;
      frame->data[i] = static_cast<uint8_t>((static_cast<unsigned>(high) << 4) | static_cast<unsigned>(low));
    }
  }
  uint8_t length = static_cast<uint8_t>(pairs);
  if (invalid < 0) {
    // Some character is no digit: every byte as the scanner reads it.
    length = 0;
    for (int i = 0; i < 8 && 2 * i < size; ++i) {
      uint8_t byte = 0;
      scan_hex_byte(begin + 2 * i, end, &byte);
      frame->data[i] = byte;
      ++length;
    }
  } else if (pairs < 8 && (size & 1) != 0) {
    uint8_t byte = 0;
    scan_hex_byte(begin + 2 * pairs, end, &byte);  // the lone last character
    frame->data[pairs] = byte;
    ++length;
  }
  frame->size = length;
  frame->length = length;
  return invalid >= 0 && size <= 16 && (size & 1) == 0;
}
