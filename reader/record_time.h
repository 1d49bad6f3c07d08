// The timestamps of the record lines: each Timestamp field written over a
// 17-digit template that holds the header's start time, read as UTC, and
// corrected when the field's clock wraps around (a minute, an hour, a day, a
// month or a year later than it says).
//
// Composing a field depends on the field and the header alone; the wrap
// correction depends on the timestamps before it. The two are separate steps
// (record_clock_compose, record_clock_settle), so that fields can be composed
// anywhere and settled in their order.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "reader/line_scan.h"
#include "reader/log_header.h"
#include "reader/record_fields.h"

// The last Timestamp field that was composed into a well-formed template
// (seventeen digits, a month from 1 to 12), with what it gave. A field of the
// same length that differs from it only in its last digits changes only the
// template's time-of-day digits, so its seconds are the cached midnight plus
// hours, minutes and seconds read from those digits.
struct TimeFieldCache {
  static constexpr int kFieldCapacity = 24;
  static constexpr uint8_t kNone = 0xFF;  // a length no field of a line has
  alignas(16) char field[kFieldCapacity];  // the field's text (bytes beyond length are stale)
  uint8_t length = kNone;      // the field's length, at most kFieldCapacity; kNone: no field
  bool date_exact = false;     // its digit groups and its date are as a logger writes them
  bool time_exact = false;     // its hour, minute and second are within their ranges
  uint8_t kept_tail = 0;       // length of its longest suffix with no removed character
  char digits[kTimeDigits];    // the composed template
  int64_t midnight = 0;        // UTC seconds of the template's day
  int64_t seconds = 0;         // UTC seconds of the whole template (without milliseconds)
  double composed = 0.0;       // the field's timestamp (record_clock_compose)
  // For compose_repeated: the field's length when it is at most 16 (else
  // kNone), one bit per character of it, and the bits of the characters that
  // may change alone (the last three when they are the template's
  // milliseconds digits and no digit is removed from time texts, else none).
  uint8_t repeat_length = kNone;
  uint16_t repeat_mask = 0;
  uint16_t millis_mask = 0;

  void forget() { length = repeat_length = kNone; }
};

// Everything a reader knows about its timestamps.
struct RecordClock {
  // Set up from the header (record_clock_init); never changed afterwards.
  bool time_drop[256];    // characters removed from time texts
  char time_base[17];     // the 17-digit template with the start-time text written in
  uint8_t time_format;    // the wrap period: 1 minute, 2 hour, 3 day, 4 month, 5 year, else none
  bool digits_kept;       // no digit is among the removed characters
  // Caches of the composition.
  DayCache day_cache;          // midnight of the last day seen in a timestamp
  TimeFieldCache time_cache;   // the last timestamp field and its numbers
  // The wrap correction.
  uint32_t wrap_offset = 0;       // seconds added to every timestamp
  double last_parsed_time = 0.0;  // the last timestamp settled; before the first, the start time
};

// From 2^33 seconds on (the year 2242) a timestamp in double precision no
// longer keeps its milliseconds through the six decimals that outputs write:
// a frame at or after it is inexact.
constexpr double kExactTimeLimit = 8589934592.0;

// Prepares the clock for the header's separators, time format and start time.
void record_clock_init(RecordClock* clock, const LogHeader& header);

// The wrap period in seconds for a time format at ts; 0 for a format without
// wrap correction.
uint32_t wrap_period(uint8_t time_format, double ts);

namespace record_time_detail {

// Index of the first byte where a and b differ among their first length
// bytes (length when none does). Both must be readable in whole words of 8
// up to length rounded up.
inline size_t first_difference(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; i += 8) {
    const uint64_t x = line_scan::load_first_low(a + i) ^ line_scan::load_first_low(b + i);
    if (x != 0) {
      const size_t at = i + static_cast<size_t>(__builtin_ctzll(x) / 8);
      return at < length ? at : length;
    }
  }
  return length;
}

// Seconds since midnight and milliseconds from the time-of-day digits
// (template positions 8 to 16) of a template that holds digits only;
// *in_range tells whether hour, minute and second are a time of day (a
// minute of 75 still counts on, as the calendar conversion takes it).
inline int64_t seconds_of_day(const char* d, unsigned* millis, bool* in_range) {
  auto digit = [d](int i) { return static_cast<unsigned>(d[i] - '0'); };
  const unsigned hour = digit(8) * 10 + digit(9);
  const unsigned minute = digit(10) * 10 + digit(11);
  const unsigned second = digit(12) * 10 + digit(13);
  *millis = (digit(14) * 10 + digit(15)) * 10 + digit(16);
  *in_range = hour <= 23 && minute <= 59 && second <= 59;
  return int64_t{hour} * 3600 + int64_t{minute} * 60 + int64_t{second};
}

// The whole seconds t and the milliseconds of the field [begin, end) from the
// cached composition of the field before. True when the field has that
// field's length and differs from it only in digits within its suffix of
// kept characters, no further left than the template's hour: only the
// template's time-of-day digits change, and the cache then describes this
// field; *exact tells whether the field is as a logger writes it. False
// (nothing changed) for any other field. The text from begin must be
// readable up to readable_end.
[[gnu::always_inline]] inline bool compose_from_cache(RecordClock* clock, const char* begin, const char* end,
                                                      const char* readable_end, int64_t* t, unsigned* millis,
                                                      bool* exact) {
  TimeFieldCache& cache = clock->time_cache;
  const size_t length = static_cast<size_t>(end - begin);
  if (length != cache.length || readable_end - begin < TimeFieldCache::kFieldCapacity) return false;
  const size_t first = first_difference(begin, cache.field, length);
  const size_t changed = length - first;
  if (changed > cache.kept_tail || changed > kTimeDigits - 8) return false;
  // Every character from first on is kept, so each lands at the same distance
  // from the template's end as from the field's end.
  char* digit = cache.digits + kTimeDigits - length;
  for (size_t i = first; i < length; ++i) {
    const char c = begin[i];
    if (c < '0' || c > '9' || clock->time_drop[static_cast<unsigned char>(c)]) {
      cache.forget();  // its digits are partly overwritten
      return false;
    }
    digit[i] = c;
  }
  memcpy(cache.field, begin, TimeFieldCache::kFieldCapacity);  // stale bytes behind length
  if (changed <= 3) {
    // Only milliseconds changed: the whole seconds stay.
    auto at = [&cache](int i) { return static_cast<unsigned>(cache.digits[i] - '0'); };
    *millis = (at(14) * 10 + at(15)) * 10 + at(16);
    *t = cache.seconds;
    *exact = cache.date_exact & cache.time_exact;
    return true;
  }
  cache.seconds = cache.midnight + seconds_of_day(cache.digits, millis, &cache.time_exact);
  *t = cache.seconds;
  *exact = cache.date_exact & cache.time_exact;
  return true;
}

// The timestamp of the field [begin, end) when it repeats the cached field
// or differs from it only in its last three characters, which the cached
// field keeps (so they are the template's milliseconds digits) and which are
// digits: most fields of a log are one of these. Only milliseconds differ,
// so *exact is the cached field's. False (nothing changed) for any other
// field. The text from begin must be readable up to readable_end.
[[gnu::always_inline]] inline bool compose_repeated(RecordClock* clock, const char* begin, const char* end,
                                                    const char* readable_end, double* timestamp, bool* exact) {
  TimeFieldCache& cache = clock->time_cache;
  if (end - begin != cache.repeat_length || readable_end - begin < 16) return false;
  // One bit per character of the field that differs from the cached one's.
#if defined(__SSE2__)
  const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin));
  const __m128i cached = _mm_load_si128(reinterpret_cast<const __m128i*>(cache.field));
  const unsigned differ = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(text, cached))) & cache.repeat_mask;
#else
  unsigned differ = 0;
  for (int i = 0; i < cache.repeat_length; ++i) differ |= (begin[i] != cache.field[i] ? 1u : 0u) << i;
#endif
  *exact = cache.date_exact & cache.time_exact;
  if (differ == 0) {
    *timestamp = cache.composed;
    return true;
  }
  if ((differ & ~unsigned{cache.millis_mask}) != 0) return false;
  const unsigned d0 = static_cast<unsigned>(end[-3] - '0'), d1 = static_cast<unsigned>(end[-2] - '0');
  const unsigned d2 = static_cast<unsigned>(end[-1] - '0');
  if (d0 > 9 || d1 > 9 || d2 > 9) return false;
  memcpy(cache.field, begin, 16);  // stale bytes behind length
  memcpy(cache.digits + kTimeDigits - 3, end - 3, 3);
  cache.composed = std::fma(static_cast<double>((d0 * 10 + d1) * 10 + d2), 0.001, static_cast<double>(cache.seconds));
  *timestamp = cache.composed;
  return true;
}

// The composition of a field that the cache does not describe; kept out of
// line, since most fields take the cached path. False for a malformed field.
bool compose_afresh(RecordClock* clock, const char* begin, const char* end, int64_t* t, unsigned* millis,
                    bool* exact);

}  // namespace record_time_detail

// The timestamp of a Timestamp field before the wrap correction: the field's
// characters, separators and "T" removed, written right-aligned over the
// template (only its last 17 count), read as year, month, day, hour, minute,
// second and milliseconds, converted as UTC. False, giving nothing, when the
// field holds anything but digits once those characters are removed, or the
// template still holds anything but digits (a start time that is no time).
// *exact is false when the time is not what the field says: a field with no
// digits, digits that do not fill whole groups (a separator within a group,
// as in "7:0:03.5"), more than 17 digits, or a date or time of day out of
// its range (month 13, 30 February, minute 75). The text from begin must be
// readable up to readable_end.
[[gnu::always_inline]] inline bool record_clock_compose(RecordClock* clock, const char* begin, const char* end,
                                                        const char* readable_end, double* timestamp,
                                                        bool* exact) {
  if (record_time_detail::compose_repeated(clock, begin, end, readable_end, timestamp, exact)) return true;
  int64_t t;
  unsigned millis;
  if (!record_time_detail::compose_from_cache(clock, begin, end, readable_end, &t, &millis, exact) &&
      !record_time_detail::compose_afresh(clock, begin, end, &t, &millis, exact)) {
    return false;
  }
  // The product and the sum with t round once.
  *timestamp = std::fma(static_cast<double>(millis), 0.001, static_cast<double>(t));
  clock->time_cache.composed = *timestamp;
  return true;
}

// The timestamp of a composed field after the wrap correction, which it
// updates: when it goes back by more than one second from the timestamp
// settled before (for the first, from the header's start time), the wrap
// period is added to it and to every later one.
[[gnu::always_inline]] inline double record_clock_settle(RecordClock* clock, double composed) {
  double ts = static_cast<double>(clock->wrap_offset) + composed;
  if (ts < clock->last_parsed_time) {
    const uint8_t format = clock->time_format;
    if (format >= 1 && format <= 5) {
      const uint32_t period = wrap_period(format, ts);
      const double p = static_cast<double>(period);
      // Only a step back of more than one second is a wrap.
      if ((ts - clock->last_parsed_time) + p < p - 1) {
        clock->wrap_offset += period;
        ts += p;
      }
    }
  }
  clock->last_parsed_time = ts;
  return ts;
}
