// The reference build of the trace lines (stb_sprintf's general formatter),
// the lines that fall back to it, and the header's start value.
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "formats/trace_lines.h"
#include "output/text_append.h"

namespace {

// Appends text formatted by the C library's vsnprintf (not stb_sprintf),
// at most 63 characters.
void append_standard_format(std::string* s, const char* format, ...) __attribute__((format(printf, 2, 3)));
void append_standard_format(std::string* s, const char* format, ...) {
  char text[64];
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n > 0) s->append(text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}

}  // namespace

void trace_append_start_value(std::string* s, double start_time) {
  const double days = start_time / 86400.0 + 25569.0;
  double whole = 0.0;
  double fraction = 0.0;
  if (days >= 0.0 && days < 1e15) {
    fraction = std::modf(days, &whole) * 10000000000.0;
    // "%.0f" rounds to nearest, ties to even, as nearbyint does in the default
    // rounding mode. A fraction that reaches a whole day would print eleven
    // digits: carry it into the days instead.
    if (std::nearbyint(fraction) >= 10000000000.0) {
      whole += 1.0;
      fraction = 0.0;
    }
  }
  append_standard_format(s, "%5lu.%010.0f\n", static_cast<unsigned long>(whole), fraction);
}

void trace_line_v1_append_reference(std::string* line, int64_t number, double offset, const CanFrame& frame) {
  const char* direction = frame.transmitted ? "Tx" : "Rx";
  const uint32_t identifier = frame.id & kTraceIdentifierMask;
  str_append_format(line, frame.extended ? "%6lld) %11.1f %s    %08X %d  " : "%6lld) %11.1f %s        %04X %d  ",
                    static_cast<long long>(number), offset, direction, identifier, static_cast<int>(frame.length));
  str_append_hex(line, frame.data, trace_data_count(frame), ' ', true);
  line->push_back('\n');
}

void trace_line_v2_append_reference(std::string* line, int64_t number, double offset, const CanFrame& frame) {
  const char* direction = frame.transmitted ? "Tx" : "Rx";
  const uint32_t identifier = frame.id & kTraceIdentifierMask;
  str_append_format(line, frame.extended ? "%7lld %13.3f %s %d %08X %s %d" : "%7lld %13.3f %s %d     %04X %s %d",
                    static_cast<long long>(number), offset, kTraceFrameType, kTraceChannel,
                    identifier, direction, static_cast<int>(frame.length));
  line->append(frame.length < 10 ? "    " : "   ");
  str_append_hex(line, frame.data, trace_data_count(frame), ' ', true);
  line->push_back('\n');
}

// The fast build where it takes the values, else the reference build.
void trace_line_v1_append(std::string* line, int64_t number, double offset, const CanFrame& frame) {
  char text[kTraceLineRoom];
  const char* end = trace_line_v1_write(text, number, offset, frame);
  if (end == nullptr) return trace_line_v1_append_reference(line, number, offset, frame);
  line->append(text, static_cast<size_t>(end - text));
}

void trace_line_v2_append(std::string* line, int64_t number, double offset, const CanFrame& frame) {
  char text[kTraceLineRoom];
  const char* end = trace_line_v2_write(text, number, offset, frame);
  if (end == nullptr) return trace_line_v2_append_reference(line, number, offset, frame);
  line->append(text, static_cast<size_t>(end - text));
}
