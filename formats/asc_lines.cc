#include "formats/asc_lines.h"

#include <stb_sprintf.h>

#include <cmath>
#include <cstdio>
#include <ctime>

#include "formats/line_digits.h"
#include "output/digits.h"
#include "output/text_append.h"

namespace {

using line_digits::kStoreSlack;


constexpr uint32_t kIdentifierMask = 0x1FFFFFFF;

// The longest line of the fast build: "%11.6f" of an offset below 2^36 (18
// characters), " 1  ", the identifier field and its blank (16), "Rx   d ",
// a two-digit length, a blank and 64 data bytes, the line feed.
constexpr size_t kLongestLine = 18 + 4 + 16 + 7 + 2 + 1 + 3 * 8 - 1 + 1;
static_assert(kLongestLine + kStoreSlack <= kAscLineRoom, "line room too small");

// 10000-01-01 00:00:00 UTC in seconds since 1970.
constexpr double kYear10000 = 253402300800.0;

constexpr char kWeekdays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Appends "Www Mmm dd HH:MM:SS.mmm yyyy" of the time (seconds since 1970 UTC).
void append_date(std::string* s, double time) {
  long long ms = 0;
  if (time >= 0.0 && time < kYear10000) ms = std::llround(time * 1000.0);
  const long long milli = ms % 1000;
  const time_t whole = static_cast<time_t>(ms / 1000);
  struct tm parts {};
  gmtime_r(&whole, &parts);
  char text[64];
  int n = snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d.%03lld %d", kWeekdays[parts.tm_wday % 7],
                   kMonths[parts.tm_mon % 12], parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                   milli, parts.tm_year + 1900);
  if (n > 0) s->append(text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}

// The identifier as it stands in a line: hexadecimal, "x" behind an extended one.
void identifier_text(char (&text)[16], const CanFrame& frame) {
  stbsp_snprintf(text, sizeof text, frame.extended ? "%Xx" : "%X", frame.id & kIdentifierMask);
}

size_t bytes_shown(const CanFrame& frame) { return frame.size <= 8 ? frame.size : 8; }

thread_local AscLineWriter asc_lines;

}  // namespace

void asc_append_header(std::string* s, double start_time) {
  s->append("date ");
  append_date(s, start_time);
  s->append("\nbase hex  timestamps absolute\nno internal events logged\n// version 9.0.0\n");
  s->append("Begin Triggerblock ");
  append_date(s, start_time);
  s->append("\n   0.000000 Start of measurement\n");
}

void asc_line_append_reference(std::string* line, double offset, const CanFrame& frame) {
  const char* direction = frame.transmitted ? "Tx" : "Rx";
  char id[16];
  identifier_text(id, frame);
  const size_t count = bytes_shown(frame);
  str_append_format(line, "%11.6f 1  %-15s %-4s %c %X", offset, id, direction, 'd',
                    static_cast<unsigned>(frame.length));
  for (size_t i = 0; i < count; ++i) str_append_format(line, " %02X", frame.data[i]);
  line->push_back('\n');
}

char* asc_line_write(char* out, double offset, const CanFrame& frame) { return asc_lines.write(out, offset, frame); }

void asc_line_append(std::string* line, double offset, const CanFrame& frame) {
  char text[kAscLineRoom];
  const char* end = asc_line_write(text, offset, frame);
  if (end == nullptr) return asc_line_append_reference(line, offset, frame);
  line->append(text, static_cast<size_t>(end - text));
}
