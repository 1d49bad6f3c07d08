#include "reader/record_fields.h"

#include <cstdio>
#include <cstring>


namespace {

// Value of a hexadecimal digit, or -1.
inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Copies the field into a terminated buffer for the library scanner. Fields
// come from the 200-byte line buffer; a longer range would be cut at 255.
struct FieldCopy {
  static constexpr size_t kCapacity = 255;
  char text[kCapacity + 1];
  FieldCopy(const char* begin, const char* end) {
    size_t length = static_cast<size_t>(end - begin);
    if (length > kCapacity) length = kCapacity;
    memcpy(text, begin, length);
    text[length] = '\0';
  }
};

}  // namespace

bool scan_hex_u32(const char* begin, const char* end, uint32_t* value) {
  // Hand-read: digits from the first character on, no "0x" prefix, at most
  // 16 digits (no overflow of the scanner's unsigned long; the low 32 bits
  // are kept as the conversion to unsigned int does).
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
  FieldCopy copy(begin, end);
  unsigned int scanned;
  if (sscanf(copy.text, "%x", &scanned) != 1) return false;
  *value = scanned;
  return true;
}

bool scan_dec_u8(const char* begin, const char* end, uint8_t* value) {
  // Hand-read: up to 19 decimal digits from the first character on (no
  // overflow of unsigned long); the conversion keeps the value modulo 256.
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
  FieldCopy copy(begin, end);
  unsigned char scanned;
  if (sscanf(copy.text, "%hhu", &scanned) != 1) return false;
  *value = scanned;
  return true;
}

bool scan_hex_byte(const char* begin, const char* end, uint8_t* value) {
  // Hand-read: two hexadecimal digits, or one that ends the field.
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
  FieldCopy copy(begin, end);
  unsigned char scanned;
  if (sscanf(copy.text, "%2hhx", &scanned) != 1) return false;
  *value = scanned;
  return true;
}

void scan_time_template(const char* digits, unsigned numbers[7]) {
  bool all_digits = true;
  for (int i = 0; i < kTimeDigits; ++i) all_digits &= is_digit(digits[i]);
  if (all_digits) {
    auto number = [digits](int from, int count) {
      unsigned n = 0;
      for (int i = from; i < from + count; ++i) n = n * 10 + static_cast<unsigned>(digits[i] - '0');
      return n;
    };
    numbers[0] = number(0, 4);
    numbers[1] = number(4, 2);
    numbers[2] = number(6, 2);
    numbers[3] = number(8, 2);
    numbers[4] = number(10, 2);
    numbers[5] = number(12, 2);
    numbers[6] = number(14, 3);
    return;
  }
  char text[kTimeDigits + 1];
  memcpy(text, digits, kTimeDigits);
  text[kTimeDigits] = '\0';
  for (int i = 0; i < 7; ++i) numbers[i] = 0;
  sscanf(text, "%4u%2u%2u%2u%2u%2u%3u", &numbers[0], &numbers[1], &numbers[2], &numbers[3], &numbers[4],
         &numbers[5], &numbers[6]);
}

int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
  // Years start in March, so the leap day is the last day of its year.
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;                                     // 0 to 399
  const int64_t month_index = month > 2 ? month - 3 : month + 9;                    // March = 0
  const int64_t day_of_year = (153 * month_index + 2) / 5 + int64_t{day} - 1;       // 0 to 365 for valid days
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

int64_t utc_seconds(const unsigned numbers[7], DayCache* cache) {
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
  struct tm broken_down = {};
  broken_down.tm_year = static_cast<int>(year - 1900);
  broken_down.tm_mon = static_cast<int>(month - 1);
  broken_down.tm_mday = static_cast<int>(day);
  broken_down.tm_hour = static_cast<int>(hour);
  broken_down.tm_min = static_cast<int>(minute);
  broken_down.tm_sec = static_cast<int>(second);
  return static_cast<int64_t>(timegm(&broken_down));
}
