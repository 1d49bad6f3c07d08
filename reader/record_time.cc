#include "reader/record_time.h"

#include <cmath>
#include <ctime>
#include <initializer_list>

namespace {

bool all_digits(const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// The digit counts, from the field's end, at which one group of the
// template ends and the next begins: milliseconds 3, then seconds, minutes,
// hours, day, month, the year's last two and all four digits.
constexpr uint32_t kGroupEnds = 1u << 3 | 1u << 5 | 1u << 7 | 1u << 9 | 1u << 11 | 1u << 13 | 1u << 15 | 1u << 17;

bool ends_group(int digits) { return digits <= kTimeDigits && ((kGroupEnds >> digits) & 1u) != 0; }

// Whether the composed numbers (year to second) are a real date and time of
// day, as the calendar conversion takes them without counting on.
bool date_in_range(const unsigned numbers[7]) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const unsigned year = numbers[0], month = numbers[1], day = numbers[2];
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1u : 0u);
}

// Remembers the field [begin, end) and its composed template digits, whose
// whole seconds are t, when the template is well formed (seventeen digits, a
// month from 1 to 12); forgets the cache otherwise. date_exact: whether the
// field's groups and the template's date are exact.
void remember_time_field(RecordClock* clock, const char* begin, const char* end, const char* digits, int64_t t,
                         bool date_exact) {
  TimeFieldCache& cache = clock->time_cache;
  const size_t length = static_cast<size_t>(end - begin);
  cache.forget();
  if (length > TimeFieldCache::kFieldCapacity) return;
  const unsigned month = static_cast<unsigned>(digits[4] - '0') * 10 + static_cast<unsigned>(digits[5] - '0');
  if (month < 1 || month > 12) return;
  size_t kept_tail = 0;
  while (kept_tail < length &&
         !clock->time_drop[static_cast<unsigned char>(end[-1 - static_cast<ptrdiff_t>(kept_tail)])]) {
    ++kept_tail;
  }
  unsigned millis;
  cache.midnight = t - record_time_detail::seconds_of_day(digits, &millis, &cache.time_exact);
  cache.date_exact = date_exact;
  cache.seconds = t;
  memcpy(cache.field, begin, length);
  memcpy(cache.digits, digits, kTimeDigits);
  cache.length = static_cast<uint8_t>(length);
  cache.kept_tail = static_cast<uint8_t>(kept_tail);
  if (length <= 16) {
    cache.repeat_length = static_cast<uint8_t>(length);
    cache.repeat_mask = static_cast<uint16_t>((uint32_t{1} << length) - 1);
    const bool millis_alone = kept_tail >= 3 && clock->digits_kept;
    cache.millis_mask = millis_alone ? static_cast<uint16_t>(cache.repeat_mask & ~((uint32_t{1} << (length - 3)) - 1)) : 0;
  }
}

}  // namespace

void record_clock_init(RecordClock* clock, const LogHeader& header) {
  *clock = RecordClock{};
  memset(clock->time_drop, 0, sizeof clock->time_drop);
  for (char c : {header.value_separator, header.time_separator, header.time_separator_ms, header.date_separator,
                 header.time_date_separator, 'T'}) {
    if (c != '\0') clock->time_drop[static_cast<unsigned char>(c)] = true;
  }
  // Of the start-time text (separators and "T" removed) at most its first 17
  // characters are written from the template's start; of a record's time
  // field only its last 17 count, written right-aligned. Neither can reach
  // outside the template.
  memcpy(clock->time_base, "19700101000000000", kTimeDigits);
  int written = 0;
  for (const char* p = header.start_time_text; *p != '\0' && written < kTimeDigits; ++p) {
    if (!clock->time_drop[static_cast<unsigned char>(*p)]) clock->time_base[written++] = *p;
  }
  clock->time_format = header.time_format;
  clock->digits_kept = true;
  for (char digit = '0'; digit <= '9'; ++digit) clock->digits_kept &= !clock->time_drop[static_cast<unsigned char>(digit)];
  // The start time is the time before the first record for the wrap rule.
  if (all_digits(clock->time_base, kTimeDigits)) {
    unsigned numbers[7];
    scan_time_template(clock->time_base, numbers);
    const int64_t t = utc_seconds(numbers, &clock->day_cache);
    clock->last_parsed_time = std::fma(static_cast<double>(numbers[6]), 0.001, static_cast<double>(t));
  }
}

uint32_t wrap_period(uint8_t time_format, double ts) {
  switch (time_format) {
    case 1:
      return 60;
    case 2:
      return 3600;
    case 3:
      return 86400;
    case 4:
    case 5: {
      const time_t s = static_cast<time_t>(ts);  // toward zero
      struct tm broken_down = {};
      if (gmtime_r(&s, &broken_down) == nullptr) return 0;
      if (time_format == 4) {
        broken_down.tm_mon += 1;
      } else {
        broken_down.tm_year += 1;
      }
      return static_cast<uint32_t>(timegm(&broken_down) - s);
    }
    default:
      return 0;
  }
}

bool record_time_detail::compose_afresh(RecordClock* clock, const char* begin, const char* end, int64_t* t,
                                        unsigned* millis, bool* exact) {
  // The kept characters must all be digits; the last 17 of them count. The
  // removed ones must stand between whole groups.
  char kept[kTimeDigits];
  int count = 0;
  int digits_seen = 0;
  bool groups_whole = true;
  for (const char* p = end; p > begin;) {
    const char c = *--p;
    if (clock->time_drop[static_cast<unsigned char>(c)]) {
      groups_whole &= ends_group(digits_seen);
      continue;
    }
    if (c < '0' || c > '9') return false;
    ++digits_seen;
    if (count < kTimeDigits) kept[kTimeDigits - 1 - count++] = c;
  }
  groups_whole &= ends_group(digits_seen);
  char digits[kTimeDigits];
  memcpy(digits, clock->time_base, kTimeDigits);
  memcpy(digits + kTimeDigits - count, kept + kTimeDigits - count, static_cast<size_t>(count));
  if (!all_digits(digits, kTimeDigits)) return false;

  unsigned numbers[7];
  scan_time_template(digits, numbers);
  *t = utc_seconds(numbers, &clock->day_cache);
  *millis = numbers[6];
  const bool date_exact = groups_whole && date_in_range(numbers);
  *exact = date_exact && numbers[3] <= 23 && numbers[4] <= 59 && numbers[5] <= 59;
  remember_time_field(clock, begin, end, digits, *t, date_exact);
  return true;
}
