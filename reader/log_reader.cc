// Text log reader: header lines, the column-title line, and the record lines
// with their absolute timestamps.
#include "reader/log_reader.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "log/log.h"

namespace {

// ---------------------------------------------------------------------------
// Header values

// The value of a header line: it begins two characters after the line's
// first ": " and ends at the first 0, carriage return or line feed, where the
// line is terminated. Returns nullptr when the line has no ": ".
char* header_value(char* line) {
  char* colon = strstr(line, ": ");
  if (colon == nullptr) return nullptr;
  char* value = colon + 2;
  value[strcspn(value, "\r\n")] = '\0';
  return value;
}

void handle_logger_type(LogHeader* header, char* line) {
  const char* value = header_value(line);
  if (value == nullptr) return;
  if (strcmp(value, "VorlatAlpha") == 0) header->logger_type = 0;
  if (strcmp(value, "VorlatBeta") == 0) header->logger_type = 1;
  if (strcmp(value, "VorlatGamma") == 0) header->logger_type = 2;
}

// The first whitespace-delimited word, cut at the field's capacity by the
// scanner's width; a value without a word leaves the field as it was.
void handle_hw_rev(LogHeader* header, char* line) {
  const char* value = header_value(line);
  char word[sizeof header->hw_rev];
  if (value != nullptr && sscanf(value, "%4s", word) == 1) memcpy(header->hw_rev, word, sizeof word);
}
void handle_fw_rev(LogHeader* header, char* line) {
  const char* value = header_value(line);
  char word[sizeof header->fw_rev];
  if (value != nullptr && sscanf(value, "%4s", word) == 1) memcpy(header->fw_rev, word, sizeof word);
}
void handle_logger_id(LogHeader* header, char* line) {
  const char* value = header_value(line);
  char word[sizeof header->logger_id];
  if (value != nullptr && sscanf(value, "%21s", word) == 1) memcpy(header->logger_id, word, sizeof word);
}
static_assert(sizeof(LogHeader::hw_rev) == 5 && sizeof(LogHeader::fw_rev) == 5 &&
                  sizeof(LogHeader::logger_id) == 22,
              "the scanner widths above follow the field sizes");

// An integer with base prefix ("%i"); a value that is no number leaves the
// field as it was.
void scan_integer(char* line, int32_t* field) {
  const char* value = header_value(line);
  int number;
  if (value != nullptr && sscanf(value, "%i", &number) == 1) *field = number;
}
void handle_session_no(LogHeader* header, char* line) { scan_integer(line, &header->session_no); }
void handle_split_no(LogHeader* header, char* line) { scan_integer(line, &header->split_no); }
void handle_bit_rate(LogHeader* header, char* line) { scan_integer(line, &header->bit_rate); }

// "Time format: " keeps the low 8 bits of the number, 0 when there is none.
void handle_time_format(LogHeader* header, char* line) {
  const char* value = header_value(line);
  int number;
  if (value != nullptr && sscanf(value, "%i", &number) == 1) {
    header->time_format = static_cast<uint8_t>(number);
  } else {
    header->time_format = 0;
  }
}

// A quoted character: exactly three characters, the first a double quote;
// the middle one is the separator. Anything else means no separator (0).
char quoted_character(char* line) {
  const char* value = header_value(line);
  if (value == nullptr || strlen(value) != 3 || value[0] != '"') return 0;
  return value[1];
}
void handle_value_separator(LogHeader* header, char* line) { header->value_separator = quoted_character(line); }
void handle_time_separator(LogHeader* header, char* line) { header->time_separator = quoted_character(line); }
void handle_time_separator_ms(LogHeader* header, char* line) { header->time_separator_ms = quoted_character(line); }
void handle_date_separator(LogHeader* header, char* line) { header->date_separator = quoted_character(line); }
void handle_time_date_separator(LogHeader* header, char* line) {
  header->time_date_separator = quoted_character(line);
}

void scan_flag(char* line, uint32_t* field) {
  const char* value = header_value(line);
  if (value == nullptr) return;
  if (strcmp(value, "true") == 0) *field = 1;
  if (strcmp(value, "false") == 0) *field = 0;
}
void handle_silent_mode(LogHeader* header, char* line) { scan_flag(line, &header->silent_mode); }
void handle_cyclic_mode(LogHeader* header, char* line) { scan_flag(line, &header->cyclic_mode); }

// "Time: " as local time, and the text as written, cut at 19 characters.
void handle_time(LogHeader* header, char* line) {
  const char* value = header_value(line);
  if (value == nullptr) return;
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  sscanf(value, "%4u%2u%2uT%2u%2u%2u", &year, &month, &day, &hour, &minute, &second);
  struct tm local = {};
  local.tm_year = static_cast<int>(year - 1900);
  local.tm_mon = static_cast<int>(month - 1);
  local.tm_mday = static_cast<int>(day);
  local.tm_hour = static_cast<int>(hour);
  local.tm_min = static_cast<int>(minute);
  local.tm_sec = static_cast<int>(second);
  local.tm_isdst = 0;
  header->start_time = static_cast<double>(mktime(&local));
  size_t length = strnlen(value, sizeof header->start_time_text - 1);
  memcpy(header->start_time_text, value, length);
  header->start_time_text[length] = '\0';
}

// ---------------------------------------------------------------------------
// Lines and fields

// Copies the run of bytes at the start of from[0, count) that holds no line
// feed, carriage return or zero byte to to, and returns its length. Works
// sixteen or eight bytes at a time and may copy bytes of from behind the run,
// never beyond count.
inline size_t copy_plain_run(const char* from, size_t count, char* to) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  // A byte of x is flagged when it is zero; the lowest flag is exact.
  auto zero_bytes = [](uint64_t x) { return (x - kOnes) & ~x & kHigh; };
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i line_feeds = _mm_set1_epi8('\n');
  const __m128i returns = _mm_set1_epi8('\r');
  const __m128i zeros = _mm_setzero_si128();
  for (; i + 16 <= count; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), chunk);
    const __m128i ends = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, line_feeds), _mm_cmpeq_epi8(chunk, returns)),
                                      _mm_cmpeq_epi8(chunk, zeros));
    const unsigned marks = static_cast<unsigned>(_mm_movemask_epi8(ends));
    if (marks != 0) return i + static_cast<size_t>(__builtin_ctz(marks));
  }
#endif
  for (; i + 8 <= count; i += 8) {
    uint64_t word;
    memcpy(&word, from + i, 8);
    memcpy(to + i, &word, 8);
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) word = __builtin_bswap64(word);
    // Any byte below 14 flags the word (text has none, apart from tabs);
    // only then are the three line-ending bytes looked for.
    if (((word - kOnes * 14) & ~word & kHigh) != 0) {
      uint64_t flags = zero_bytes(word) | zero_bytes(word ^ (kOnes * '\n')) | zero_bytes(word ^ (kOnes * '\r'));
      if (flags != 0) return i + static_cast<size_t>(__builtin_ctzll(flags) / 8);
    }
  }
  for (; i < count; ++i) {
    char c = from[i];
    if (c == '\n' || c == '\r' || c == '\0') return i;
    to[i] = c;
  }
  return count;
}

// Eight bytes from text as a word whose lowest byte is text[0].
inline uint64_t load_first_low(const char* text) {
  uint64_t word;
  memcpy(&word, text, 8);
  if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) word = __builtin_bswap64(word);
  return word;
}

// The bytes of word equal to byte, each marked by its high bit (exact for
// every byte, not only the lowest match).
inline uint64_t bytes_equal(uint64_t word, char byte) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  const uint64_t x = word ^ (0x0101010101010101ull * static_cast<unsigned char>(byte));
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// The separators among the first size (at most 64) bytes at line, one bit
// per byte, the first byte lowest; line must be readable for 64 bytes.
inline uint64_t separator_marks(const char* line, size_t size, char separator) {
  uint64_t marks = 0;
#if defined(__SSE2__)
  const __m128i separators = _mm_set1_epi8(separator);
  for (size_t i = 0; i < size; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + i));
    marks |= uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, separators)))} << i;
  }
#else
  for (size_t i = 0; i < size; i += 8) {
    uint64_t word = bytes_equal(load_first_low(line + i), separator);
    for (; word != 0; word &= word - 1) marks |= uint64_t{1} << (i + static_cast<size_t>(__builtin_ctzll(word) / 8));
  }
#endif
  return size < 64 ? marks & ((uint64_t{1} << size) - 1) : marks;
}

// Finds the separators of the text line[0, size) that end its first fields,
// at most kColumnSlots of them, and stores their positions in ends. Returns
// their count. A separator of 0 ends no field.
//
// The separators are found 64 bytes at a time, the last eight bytes of the
// line buffer eight at a time: line must be the kLineBufferSize bytes of a
// line buffer.
inline int field_ends(const char* line, size_t size, char separator, size_t ends[kColumnSlots]) {
  int count = 0;
  if (separator == '\0') return 0;
  size_t base = 0;
  for (; base < size && base + 64 <= static_cast<size_t>(kLineBufferSize); base += 64) {
    const size_t block = size - base < 64 ? size - base : 64;
    for (uint64_t marks = separator_marks(line + base, block, separator); marks != 0; marks &= marks - 1) {
      ends[count] = base + static_cast<size_t>(__builtin_ctzll(marks));
      if (++count == kColumnSlots) return count;
    }
  }
  for (size_t i = base; i < size; i += 8) {
    uint64_t marks = bytes_equal(load_first_low(line + i), separator);
    while (marks != 0) {
      const size_t at = i + static_cast<size_t>(__builtin_ctzll(marks) / 8);
      if (at >= size) return count;
      ends[count] = at;
      marks &= marks - 1;
      if (++count == kColumnSlots) return count;
    }
  }
  return count;
}

// Calls visit(column index, begin, end) for each field of the line's text
// (length bytes), at most kColumnSlots of them. A field runs to the next
// separator; the last one to the line feed or the end of the text. With no
// separator (0) the whole text is one field.
template <typename Visit>
[[gnu::always_inline]] inline void split_fields(const char* line, int length, char separator, Visit visit) {
  const char* text_end = line + length;
  if (length > 0 && text_end[-1] == '\n') --text_end;
  size_t ends[kColumnSlots];
  const int separators = field_ends(line, static_cast<size_t>(text_end - line), separator, ends);
  const char* begin = line;
  for (int column = 0; column < separators; ++column) {
    visit(column, begin, line + ends[column]);
    begin = line + ends[column] + 1;
  }
  // Seven separators end seven fields: what follows is not parsed.
  if (separators < kColumnSlots) visit(separators, begin, text_end);
}

ColumnKind column_kind(const char* begin, const char* end) {
  static const struct {
    const char* name;
    ColumnKind kind;
  } kNames[] = {{"Timestamp", COLUMN_TIMESTAMP}, {"Lost", COLUMN_LOST},     {"Type", COLUMN_TYPE},
                {"ID", COLUMN_ID},               {"Length", COLUMN_LENGTH}, {"Data", COLUMN_DATA}};
  size_t length = static_cast<size_t>(end - begin);
  for (const auto& entry : kNames) {
    if (strlen(entry.name) == length && memcmp(entry.name, begin, length) == 0) return entry.kind;
  }
  return COLUMN_NONE;
}

// Prepares the timestamp composition from the header: which characters the
// time texts lose, and the template with the start-time text written in.
//
// The template has 17 digits. Of the start-time text (separators and "T"
// removed) at most its first 17 characters are written from the template's
// start; of a record's time field only its last 17 characters count, written
// right-aligned. Neither can reach outside the template.
void prepare_time_composition(LogReader* reader) {
  const LogHeader& header = reader->header;
  memset(reader->time_drop, 0, sizeof reader->time_drop);
  for (char c : {header.value_separator, header.time_separator, header.time_separator_ms, header.date_separator,
                 header.time_date_separator, 'T'}) {
    if (c != '\0') reader->time_drop[static_cast<unsigned char>(c)] = true;
  }
  memcpy(reader->time_base, "19700101000000000", kTimeDigits);
  int written = 0;
  for (const char* p = header.start_time_text; *p != '\0' && written < kTimeDigits; ++p) {
    if (!reader->time_drop[static_cast<unsigned char>(*p)]) reader->time_base[written++] = *p;
  }
  reader->day_cache = DayCache{};
  reader->time_cache = TimeFieldCache{};
}

// The wrap period in seconds for the reader's time format at ts; 0 for a
// format without wrap correction.
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
      time_t s = static_cast<time_t>(ts);  // toward zero
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

// Index of the first byte where a and b differ among their first length
// bytes (length when none does). Both must be readable in whole words of 8
// up to length rounded up.
inline size_t first_difference(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; i += 8) {
    const uint64_t x = load_first_low(a + i) ^ load_first_low(b + i);
    if (x != 0) {
      const size_t at = i + static_cast<size_t>(__builtin_ctzll(x) / 8);
      return at < length ? at : length;
    }
  }
  return length;
}

// Seconds since midnight and milliseconds from the time-of-day digits
// (template positions 8 to 16) of a template that holds digits only.
inline int64_t seconds_of_day(const char* d, unsigned* millis) {
  auto digit = [d](int i) { return static_cast<unsigned>(d[i] - '0'); };
  const unsigned hour = digit(8) * 10 + digit(9);
  const unsigned minute = digit(10) * 10 + digit(11);
  const unsigned second = digit(12) * 10 + digit(13);
  *millis = (digit(14) * 10 + digit(15)) * 10 + digit(16);
  return int64_t{hour} * 3600 + int64_t{minute} * 60 + int64_t{second};
}

// The whole seconds t and the milliseconds of the field [begin, end) from the
// cached composition of the field before. True when the field has that
// field's length and differs from it only in digits within its suffix of
// kept characters, no further left than the template's hour: only the
// template's time-of-day digits change, and the cache then describes this
// field. False (nothing changed) for any other field.
[[gnu::always_inline]] inline bool compose_from_cache(LogReader* reader, const char* begin, const char* end,
                                                      int64_t* t, unsigned* millis) {
  TimeFieldCache& cache = reader->time_cache;
  const size_t length = static_cast<size_t>(end - begin);
  const char* line_end = reader->line + sizeof reader->line;
  if (!cache.valid || length != cache.length || line_end - begin < TimeFieldCache::kFieldCapacity) return false;
  const size_t first = first_difference(begin, cache.field, length);
  const size_t changed = length - first;
  if (changed > cache.kept_tail || changed > kTimeDigits - 8) return false;
  // Every character from first on is kept, so each lands at the same distance
  // from the template's end as from the field's end.
  char* digit = cache.digits + kTimeDigits - length;
  for (size_t i = first; i < length; ++i) {
    const char c = begin[i];
    if (c < '0' || c > '9' || reader->time_drop[static_cast<unsigned char>(c)]) {
      cache.valid = false;  // its digits are partly overwritten
      return false;
    }
    digit[i] = c;
  }
  memcpy(cache.field, begin, TimeFieldCache::kFieldCapacity);  // stale bytes behind length
  if (changed <= 3) {
    // Only milliseconds changed: the whole seconds stay.
    auto digit = [&cache](int i) { return static_cast<unsigned>(cache.digits[i] - '0'); };
    *millis = (digit(14) * 10 + digit(15)) * 10 + digit(16);
    *t = cache.seconds;
    return true;
  }
  cache.seconds = cache.midnight + seconds_of_day(cache.digits, millis);
  *t = cache.seconds;
  return true;
}

// Remembers the field [begin, end) and its composed template digits, whose
// whole seconds are t, when the template is well formed (seventeen digits, a
// month from 1 to 12); forgets the cache otherwise.
void remember_time_field(LogReader* reader, const char* begin, const char* end, const char* digits, int64_t t) {
  TimeFieldCache& cache = reader->time_cache;
  const size_t length = static_cast<size_t>(end - begin);
  cache.valid = false;
  if (length > TimeFieldCache::kFieldCapacity) return;
  for (int i = 0; i < kTimeDigits; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return;
  }
  const unsigned month = static_cast<unsigned>(digits[4] - '0') * 10 + static_cast<unsigned>(digits[5] - '0');
  if (month < 1 || month > 12) return;
  size_t kept_tail = 0;
  while (kept_tail < length && !reader->time_drop[static_cast<unsigned char>(end[-1 - static_cast<ptrdiff_t>(kept_tail)])]) {
    ++kept_tail;
  }
  unsigned millis;
  cache.midnight = t - seconds_of_day(digits, &millis);
  cache.seconds = t;
  memcpy(cache.field, begin, length);
  memcpy(cache.digits, digits, kTimeDigits);
  cache.length = static_cast<uint8_t>(length);
  cache.kept_tail = static_cast<uint8_t>(kept_tail);
  cache.valid = true;
}

// compose_time for a field that the cache does not describe: the field's last
// 17 kept characters written right-aligned over the template, read as year,
// month, day, hour, minute, second and milliseconds, and converted as UTC.
// Kept out of line: most fields take the cached path.
[[gnu::noinline]] int64_t compose_time_afresh(LogReader* reader, const char* begin, const char* end,
                                              unsigned* millis) {
  // Keep the last 17 characters of the field that survive the removal.
  char kept[kTimeDigits];
  int count = 0;
  for (const char* p = end; p > begin && count < kTimeDigits;) {
    char c = *--p;
    if (!reader->time_drop[static_cast<unsigned char>(c)]) kept[kTimeDigits - 1 - count++] = c;
  }
  char digits[kTimeDigits];
  memcpy(digits, reader->time_base, kTimeDigits);
  memcpy(digits + kTimeDigits - count, kept + kTimeDigits - count, static_cast<size_t>(count));

  unsigned numbers[7];
  scan_time_template(digits, numbers);
  const int64_t t = utc_seconds(numbers, &reader->day_cache);
  *millis = numbers[6];
  remember_time_field(reader, begin, end, digits, t);
  return t;
}

// The whole seconds and the milliseconds of a Timestamp field: the field's
// last 17 kept characters written right-aligned over the template, read as
// year, month, day, hour, minute, second and milliseconds, and converted as
// UTC.
[[gnu::always_inline]] inline int64_t compose_time(LogReader* reader, const char* begin, const char* end,
                                                   unsigned* millis) {
  int64_t t;
  if (compose_from_cache(reader, begin, end, &t, millis)) return t;
  return compose_time_afresh(reader, begin, end, millis);
}

// The Timestamp column: composes the 17 digits, converts them, and corrects
// a wrap of the record's time field.
[[gnu::always_inline]] inline void parse_timestamp(LogReader* reader, const char* begin, const char* end, CanFrame* frame) {
  unsigned millis;
  double t = static_cast<double>(compose_time(reader, begin, end, &millis));
  // The product and the sum with t round once.
  double ts = static_cast<double>(reader->wrap_offset) + std::fma(static_cast<double>(millis), 0.001, t);

  if (ts < reader->last_parsed_time) {
    uint8_t format = reader->header.time_format;
    if (format >= 1 && format <= 5) {
      uint32_t period = wrap_period(format, ts);
      double p = static_cast<double>(period);
      // Only a step back of more than one second is a wrap.
      if ((ts - reader->last_parsed_time) + p < p - 1) {
        reader->wrap_offset += period;
        ts += p;
      }
    }
  }
  reader->last_parsed_time = ts;
  frame->timestamp = ts;
}

inline void parse_type(const char* begin, const char* end, CanFrame* frame) {
  if (begin == end) return;
  switch (*begin) {
    case '0':
      frame->extended = false;
      frame->transmitted = false;
      break;
    case '1':
      frame->extended = true;
      frame->transmitted = false;
      break;
    case '8':
      frame->extended = false;
      frame->transmitted = true;
      break;
    case '9':
      frame->extended = true;
      frame->transmitted = true;
      break;
    default:
      break;
  }
}

// Reads the field of the n (1 to 8) characters before end as a hexadecimal
// number into *value, eight characters at once; the 8 bytes before end must
// be readable. Returns false, leaving *value, when a character of the field
// is no hexadecimal digit (or on a machine that is not little-endian).
inline bool read_hex_field(const char* end, size_t n, uint32_t* value) {
  if constexpr (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__) return false;
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = kOnes * 0x80;
  uint64_t word;
  memcpy(&word, end - 8, 8);
  // The field is in the top n bytes; the bytes before it count as zeros.
  const uint64_t field = n >= 8 ? ~uint64_t{0} : ~((uint64_t{1} << (8 * (8 - n))) - 1);
  word = (word & field) | (kOnes * '0' & ~field);
  if ((word & kHigh) != 0) return false;
  // The high bit of each byte of x (all below 0x80) set where it is c or above.
  auto at_least = [](uint64_t x, unsigned c) { return (x + kOnes * (0x80 - c)) & kHigh; };
  const uint64_t lower = word | kOnes * 0x20;
  const uint64_t digit = at_least(word, '0') & ~at_least(word, '9' + 1);
  const uint64_t letter = at_least(lower, 'a') & ~at_least(lower, 'f' + 1);
  if ((digit | letter) != kHigh) return false;
  const uint64_t nibbles = (word & kOnes * 0x0F) + (letter >> 7) * 9;
  // Pairs of nibbles into bytes, the earlier (more significant) one high.
  const uint64_t pairs = ((nibbles & 0x000F000F000F000Full) << 4) | ((nibbles >> 8) & 0x000F000F000F000Full);
  const uint64_t packed = (pairs | (pairs >> 8)) & 0x0000FFFF0000FFFFull;
  *value = __builtin_bswap32(static_cast<uint32_t>(packed | (packed >> 16)));
  return true;
}

// Reads the first pairs (at most 8) pairs of hexadecimal digits at begin into
// bytes, sixteen characters at once; begin must be readable for 16 bytes.
// Returns false when one of those characters is no hexadecimal digit (bytes
// is then partly written). Bytes from pairs to 7 may be written too.
inline bool read_hex_pairs(const char* begin, int pairs, uint8_t* bytes) {
#if defined(__SSE2__)
  const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin));
  const __m128i lower = _mm_or_si128(text, _mm_set1_epi8(0x20));
  // Signed comparisons: a byte from 0x80 up is negative and matches neither.
  const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(text, _mm_set1_epi8('0' - 1)),
                                      _mm_cmplt_epi8(text, _mm_set1_epi8('9' + 1)));
  const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)),
                                       _mm_cmplt_epi8(lower, _mm_set1_epi8('f' + 1)));
  const unsigned valid = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(digit, letter)));
  const unsigned needed = (1u << (2 * pairs)) - 1;
  if ((valid & needed) != needed) return false;
  // Digit values: the low four bits, plus 9 for a letter.
  const __m128i values = _mm_add_epi8(_mm_and_si128(text, _mm_set1_epi8(0x0F)), _mm_and_si128(letter, _mm_set1_epi8(9)));
  // Each 16-bit lane holds a pair, its first digit in the low byte.
  const __m128i pair_values =
      _mm_or_si128(_mm_slli_epi16(_mm_and_si128(values, _mm_set1_epi16(0x00FF)), 4), _mm_srli_epi16(values, 8));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(pair_values, pair_values));
  return true;
#else
  using record_fields_detail::hex_value;
  int invalid = 0;
  for (int i = 0; i < pairs; ++i) {
    const int high = hex_value(begin[2 * i]);
    const int low = hex_value(begin[2 * i + 1]);
    invalid |= high | low;
    bytes[i] = static_cast<uint8_t>((static_cast<unsigned>(high) << 4) | static_cast<unsigned>(low));
  }
  return invalid >= 0;
#endif
}

// Up to 8 bytes, one per two characters; a lone last character is a byte of
// its own. The count of bytes is the frame's length. The line is readable up
// to limit.
inline void parse_data(const char* begin, const char* end, const char* limit, CanFrame* frame) {
  using record_fields_detail::hex_value;
  const ptrdiff_t size = end - begin;
  const int pairs = size >= 16 ? 8 : static_cast<int>(size / 2);
  // The common field: pairs of hexadecimal digits, read here at once.
  int invalid = -1;
  if (limit - begin >= 16) {
    invalid = read_hex_pairs(begin, pairs, frame->data.bytes) ? 0 : -1;
  } else {
    invalid = 0;
    for (int i = 0; i < pairs; ++i) {
      const int high = hex_value(begin[2 * i]);
      const int low = hex_value(begin[2 * i + 1]);
      invalid |= high | low;
      frame->data.bytes[i] = static_cast<uint8_t>((static_cast<unsigned>(high) << 4) | static_cast<unsigned>(low));
    }
  }
  uint8_t length = static_cast<uint8_t>(pairs);
  if (invalid < 0) {
    // Some character is no digit: every byte as the scanner reads it.
    length = 0;
    for (int i = 0; i < 8 && 2 * i < size; ++i) {
      uint8_t byte = 0;
      scan_hex_byte(begin + 2 * i, end, &byte);
      frame->data.bytes[i] = byte;
      ++length;
    }
  } else if (pairs < 8 && (size & 1) != 0) {
    uint8_t byte = 0;
    scan_hex_byte(begin + 2 * pairs, end, &byte);  // the lone last character
    frame->data.bytes[pairs] = byte;
    ++length;
  }
  frame->data.size = length;
  frame->length = length;
}

// Every field of the frame 0, false or empty, then channel 1. The data bytes
// beyond the (empty) byte string are left as they are: they are no part of it.
inline void reset_frame(CanFrame* frame) {
  frame->timestamp = 0.0;
  frame->channel = 1;
  frame->id = 0;
  frame->data.size = 0;
  frame->kind = 0;
  frame->extended = false;
  frame->transmitted = false;
  frame->fd = false;
  frame->esi = false;
  frame->brs = false;
  frame->remote = false;
  frame->length = 0;
}

// Gives the field [begin, end) of the given column kind to its parser.
[[gnu::always_inline]] inline void parse_field(LogReader* reader, ColumnKind kind, const char* begin,
                                               const char* end, CanFrame* frame) {
  switch (kind) {
    case COLUMN_TIMESTAMP:
      parse_timestamp(reader, begin, end, frame);
      break;
    case COLUMN_TYPE:
      parse_type(begin, end, frame);
      break;
    case COLUMN_ID:
      // "%x" of a field of five to eight digits, read at once; a shorter
      // field (a standard identifier) digit by digit.
      if (end - begin < 5 || end - begin > 8 || end - reader->line < 8 ||
          !read_hex_field(end, static_cast<size_t>(end - begin), &frame->id)) {
        scan_hex_u32(begin, end, &frame->id);
      }
      break;
    case COLUMN_LENGTH:
      // "%hhu" of a single digit, or by the general reader.
      if (end - begin == 1 && *begin >= '0' && *begin <= '9') {
        frame->length = static_cast<uint8_t>(*begin - '0');
      } else {
        scan_dec_u8(begin, end, &frame->length);
      }
      break;
    case COLUMN_DATA:
      parse_data(begin, end, reader->line + sizeof reader->line, frame);
      break;
    case COLUMN_LOST:
    case COLUMN_NONE:
      break;
  }
}

// Parses the record line (length bytes of reader->line) whose columns are
// kKinds, in this order, with nothing behind them. Returns false, having
// parsed nothing, when the line's text is longer than 64 bytes or has fewer
// fields than columns; the general path then takes it. Otherwise each field
// goes to the parser of its column as split_fields would give it: a field
// runs to the next separator, the last one to the next separator or the end
// of the text, and fields beyond the columns are not parsed.
template <ColumnKind... kKinds>
[[gnu::always_inline]] inline bool parse_record_as(LogReader* reader, int length, CanFrame* frame) {
  const char* line = reader->line;
  const char* text_end = line + length;
  if (length > 0 && text_end[-1] == '\n') --text_end;
  const size_t size = static_cast<size_t>(text_end - line);
  static_assert(kLineBufferSize >= 64, "separator_marks reads 64 bytes of the line buffer");
  if (size > 64) return false;
  uint64_t marks = separator_marks(line, size, reader->header.value_separator);
  constexpr size_t kFields = sizeof...(kKinds);
  const char* ends[kFields];
  for (size_t i = 0; i + 1 < kFields; ++i) {
    if (marks == 0) return false;
    ends[i] = line + __builtin_ctzll(marks);
    marks &= marks - 1;
  }
  ends[kFields - 1] = marks != 0 ? line + __builtin_ctzll(marks) : text_end;
  const char* begin = line;
  size_t i = 0;
  auto field = [&](ColumnKind kind) __attribute__((always_inline)) {
    parse_field(reader, kind, begin, ends[i], frame);
    begin = ends[i++] + 1;
  };
  (field(kKinds), ...);
  return true;
}

// The layout whose own parser takes the record lines of the reader's
// columns and separator.
RecordLayout record_layout_of(const LogReader* reader) {
  if (reader->header.value_separator == '\0') return RECORD_LAYOUT_GENERAL;
  static constexpr ColumnKind kWithLost[kColumnSlots] = {COLUMN_TIMESTAMP, COLUMN_LOST,   COLUMN_TYPE, COLUMN_ID,
                                                         COLUMN_LENGTH,    COLUMN_DATA,   COLUMN_NONE};
  static constexpr ColumnKind kWithoutLost[kColumnSlots] = {COLUMN_TIMESTAMP, COLUMN_TYPE, COLUMN_ID,  COLUMN_LENGTH,
                                                            COLUMN_DATA,      COLUMN_NONE, COLUMN_NONE};
  if (memcmp(reader->column_parsers, kWithLost, sizeof kWithLost) == 0) return RECORD_LAYOUT_WITH_LOST;
  if (memcmp(reader->column_parsers, kWithoutLost, sizeof kWithoutLost) == 0) return RECORD_LAYOUT_WITHOUT_LOST;
  return RECORD_LAYOUT_GENERAL;
}

// Parses the fields of the record line (length bytes of reader->line) into
// frame, each by the parser of its column.
[[gnu::always_inline]] inline void parse_record(LogReader* reader, int length, CanFrame* frame) {
  switch (reader->record_layout) {
    case RECORD_LAYOUT_WITH_LOST:
      if (parse_record_as<COLUMN_TIMESTAMP, COLUMN_LOST, COLUMN_TYPE, COLUMN_ID, COLUMN_LENGTH, COLUMN_DATA>(
              reader, length, frame)) {
        return;
      }
      break;
    case RECORD_LAYOUT_WITHOUT_LOST:
      if (parse_record_as<COLUMN_TIMESTAMP, COLUMN_TYPE, COLUMN_ID, COLUMN_LENGTH, COLUMN_DATA>(reader, length,
                                                                                                 frame)) {
        return;
      }
      break;
    case RECORD_LAYOUT_GENERAL:
      break;
  }
  split_fields(reader->line, length, reader->header.value_separator,
               [reader, frame](int column, const char* begin, const char* end) __attribute__((always_inline)) {
                 parse_field(reader, reader->column_parsers[column], begin, end, frame);
               });
}

}  // namespace

const HeaderKey header_keys[16] = {
    {"Logger type: ", handle_logger_type},
    {"HW rev: ", handle_hw_rev},
    {"FW rev: ", handle_fw_rev},
    {"Logger ID: ", handle_logger_id},
    {"Session No.: ", handle_session_no},
    {"Split No.: ", handle_split_no},
    {"Time: ", handle_time},
    {"Value separator: ", handle_value_separator},
    {"Time format: ", handle_time_format},
    {"Time separator: ", handle_time_separator},
    {"Time separator ms: ", handle_time_separator_ms},
    {"Date separator: ", handle_date_separator},
    {"Time and date separator: ", handle_time_date_separator},
    {"Bit-rate: ", handle_bit_rate},
    {"Silent mode: ", handle_silent_mode},
    {"Cyclic mode: ", handle_cyclic_mode},
};

namespace {

// True when the bytes hold nothing but zeros and white space: what a logger
// leaves behind when it lost power after reserving the space of its file.
bool only_padding(const char* bytes, int count) {
  for (int i = 0; i < count; ++i) {
    switch (bytes[i]) {
      case '\0': case '\n': case '\r': case ' ': case '\t':
        break;
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

namespace {

// read_log_line, inlined into the record loop. Same contract.
[[gnu::always_inline]] inline int read_line(LogReader* reader) {
  char* line = reader->line;
  int stored = 0;
  int first_zero = -1;               // a stored zero byte ends the line's text
  int budget = kLineBufferSize - 1;  // bytes other than line feeds
  Stream* stream = reader->stream;
  while (budget > 0) {
    unsigned char byte;
    // While a buffered reader's window holds bytes, copy the run up to the
    // next line feed, carriage return or zero byte at once.
    if (stream->ops == &buffered_reader_ops && static_cast<BufferedReader*>(stream)->cursor <
                                                   static_cast<BufferedReader*>(stream)->fill) {
      auto* window = static_cast<BufferedReader*>(stream);
      const char* from = reinterpret_cast<const char*>(window->window() + window->cursor);
      int64_t available = window->fill - window->cursor;
      size_t scan = static_cast<size_t>(available < budget ? available : budget);
      // The copy stays within the budget, so within the line buffer.
      size_t run = copy_plain_run(from, scan, line + stored);
      stored += static_cast<int>(run);
      budget -= static_cast<int>(run);
      window->cursor += static_cast<int64_t>(run);
      if (run == scan) continue;  // the window or the budget is used up
      byte = static_cast<unsigned char>(from[run]);
      ++window->cursor;
    } else {
      int64_t got = stream_read(stream, &byte, 1);
      if (got != 1) {
        if (got < 0) reader->read_failed = true;
        break;
      }
    }
    if (byte == '\n') {
      line[stored++] = '\n';
      break;
    }
    --budget;
    if (byte == '\r') continue;
    if (byte == 0 && first_zero < 0) first_zero = stored;
    line[stored++] = static_cast<char>(byte);
  }
  line[stored] = '\0';
  reader->stopped_at_zero = first_zero == 0;
  if (first_zero == 0 && !reader->data_after_zero) {
    reader->data_after_zero = !only_padding(line + 1, stored - 1);
  }
  return first_zero >= 0 ? first_zero : stored;
}

}  // namespace

int read_log_line(LogReader* reader) { return read_line(reader); }

LogReader* log_reader_open(Stream* stream) {
  if (stream == nullptr) return nullptr;
  LogReader* reader = new (std::nothrow) LogReader{};
  if (reader == nullptr) return nullptr;
  reader->stream = stream;

  // Header pass: every key found in a "#" line has its handler called.
  stream_seek(stream, 0, SEEK_SET);
  while (read_log_line(reader) > 0 && reader->line[0] == '#') {
    for (const HeaderKey& key : header_keys) {
      if (strstr(reader->line, key.key) != nullptr) key.handle(&reader->header, reader->line);
    }
  }

  // Title pass: the first line that is not a "#" line names the columns.
  stream_seek(stream, 0, SEEK_SET);
  bool header_seen = false;
  int length;
  while ((length = read_log_line(reader)) > 0 && reader->line[0] == '#') header_seen = true;
  if (length == 0 || !header_seen) {
    log_reader_free(reader);
    return nullptr;
  }
  reader->data_start = static_cast<uint32_t>(stream_tell(stream));
  bool recognised = false;
  split_fields(reader->line, length, reader->header.value_separator,
               [reader, &recognised](int column, const char* begin, const char* end) {
                 reader->column_parsers[column] = column_kind(begin, end);
                 recognised |= reader->column_parsers[column] != COLUMN_NONE;
               });
  if (!recognised) {
    log_reader_free(reader);
    return nullptr;
  }
  reader->record_layout = record_layout_of(reader);
  prepare_time_composition(reader);
  return reader;
}

void log_reader_free(LogReader* reader) { delete reader; }

int64_t log_reader_rewind(LogReader* reader) { return stream_seek(reader->stream, reader->data_start, SEEK_SET); }

// Reads the rest of the input after the line of zero bytes that ended the
// records and notes whether anything but padding follows. This runs once per
// file, and only when the records ended at a zero byte.
static void check_rest_after_zero(LogReader* reader) {
  char chunk[4096];
  while (!reader->data_after_zero) {
    int64_t got = stream_read(reader->stream, chunk, sizeof chunk);
    if (got < 0) reader->read_failed = true;
    if (got <= 0) return;
    reader->data_after_zero = !only_padding(chunk, static_cast<int>(got));
  }
}

bool log_reader_next(LogReader* reader, CanFrame* frame) {
  double skipped_at = 0.0;
  bool result = false;
  int length;
  while ((length = read_line(reader)) > 0) {
    reset_frame(frame);
    parse_record(reader, length, frame);
    frame->kind = 1;
    if (frame->timestamp < reader->last_accepted_time) {
      skipped_at = reader->last_accepted_time;
      continue;
    }
    reader->last_accepted_time = frame->timestamp;
    result = true;
    break;
  }
  if (!result && reader->stopped_at_zero) check_rest_after_zero(reader);
  if (skipped_at > 0 && log_enabled(LOG_WARN)) {
    log_write(LOG_WARN, "Skipping non-increasing timestamp: %f", skipped_at);
  }
  return result;
}
