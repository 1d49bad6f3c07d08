#include "reader/record_fields.h"

#include <cstdio>
#include <cstring>


namespace {

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

bool scan_hex_u32_library(const char* begin, const char* end, uint32_t* value) {
  FieldCopy copy(begin, end);
  unsigned int scanned;
  if (sscanf(copy.text, "%x", &scanned) != 1) return false;
  *value = scanned;
  return true;
}

bool scan_dec_u8_library(const char* begin, const char* end, uint8_t* value) {
  FieldCopy copy(begin, end);
  unsigned char scanned;
  if (sscanf(copy.text, "%hhu", &scanned) != 1) return false;
  *value = scanned;
  return true;
}

bool scan_hex_byte_library(const char* begin, const char* end, uint8_t* value) {
  FieldCopy copy(begin, end);
  unsigned char scanned;
  if (sscanf(copy.text, "%2hhx", &scanned) != 1) return false;
  *value = scanned;
  return true;
}

void scan_time_template_library(const char* digits, unsigned numbers[7]) {
  char text[kTimeDigits + 1];
  memcpy(text, digits, kTimeDigits);
  text[kTimeDigits] = '\0';
  for (int i = 0; i < 7; ++i) numbers[i] = 0;
  sscanf(text, "%4u%2u%2u%2u%2u%2u%3u", &numbers[0], &numbers[1], &numbers[2], &numbers[3], &numbers[4],
         &numbers[5], &numbers[6]);
}

bool id_field_exact(const char* begin, const char* end) {
  using record_fields_detail::hex_value;
  if (end - begin >= 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) begin += 2;
  if (begin == end) return false;
  int significant = 0;  // digits from the first that is not 0
  for (const char* p = begin; p < end; ++p) {
    const int digit = hex_value(*p);
    if (digit < 0) return false;
    if (digit > 0 || significant > 0) ++significant;
  }
  return significant <= 8;
}

int length_field_value(const char* begin, const char* end) {
  if (begin == end) return -1;
  int value = 0;
  for (const char* p = begin; p < end; ++p) {
    if (!record_fields_detail::is_digit(*p)) return -1;
    value = value * 10 + (*p - '0');
    if (value > 999) value = 999;
  }
  return value;
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

int64_t utc_seconds_library(const unsigned numbers[7]) {
  const unsigned year = numbers[0], month = numbers[1], day = numbers[2];
  const unsigned hour = numbers[3], minute = numbers[4], second = numbers[5];
  struct tm broken_down = {};
  broken_down.tm_year = static_cast<int>(year - 1900);
  broken_down.tm_mon = static_cast<int>(month - 1);
  broken_down.tm_mday = static_cast<int>(day);
  broken_down.tm_hour = static_cast<int>(hour);
  broken_down.tm_min = static_cast<int>(minute);
  broken_down.tm_sec = static_cast<int>(second);
  return static_cast<int64_t>(timegm(&broken_down));
}
