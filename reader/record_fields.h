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

#include <cstdint>
#include <ctime>

// sscanf(field, "%x", &value). Returns true and stores the value when the
// conversion matched; false leaves *value untouched.
bool scan_hex_u32(const char* begin, const char* end, uint32_t* value);

// sscanf(field, "%hhu", &value). Returns true and stores the value when the
// conversion matched; false leaves *value untouched.
bool scan_dec_u8(const char* begin, const char* end, uint8_t* value);

// sscanf(field, "%2hhx", &value) on the text from begin to end. Returns true
// and stores the value when the conversion matched; false leaves *value
// untouched.
bool scan_hex_byte(const char* begin, const char* end, uint8_t* value);

// Length of the time template: year 4, month, day, hour, minute, second 2
// each, milliseconds 3.
constexpr int kTimeDigits = 17;

// The numbers of sscanf(template, "%4u%2u%2u%2u%2u%2u%3u", ...) over the 17
// characters of the template; a number that was not read is 0. Order: year,
// month, day, hour, minute, second, milliseconds.
void scan_time_template(const char* digits, unsigned numbers[7]);

// The last day whose midnight was converted, so that the lines of one day
// cost no calendar arithmetic.
struct DayCache {
  int64_t key = -1;  // year * 10000 + month * 100 + day; -1 for none
  int64_t start = 0;
};

// timegm of year - 1900, month - 1, day, hour, minute, second (every other
// member 0), with the numbers converted to int as the broken-down time holds
// them. Computed from the calendar for a year up to 9999, a month from 1 to
// 12 and day, hour, minute and second up to 99; timegm itself does the rest.
// Returns the seconds since 1970-01-01 00:00:00 UTC (-1 where timegm fails).
int64_t utc_seconds(const unsigned numbers[7], DayCache* cache);

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar
// (month 1 to 12; a day beyond the month's end counts on into the next).
int64_t days_from_civil(int64_t year, unsigned month, unsigned day);
