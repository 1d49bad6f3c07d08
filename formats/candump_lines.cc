#include "formats/candump_lines.h"

#include "formats/line_digits.h"
#include "output/digits.h"
#include "output/text_append.h"

namespace {

using line_digits::kStoreSlack;


// The identifier, 29 bits as every format keeps it, and whether it takes the
// eight digits of an extended one. A standard identifier takes three digits:
// below 0x800 as a frame on the bus has it, and up to 0xFFF where a log line
// says more (an inexact record), which the readers of candump files
// (python-can, can-utils' log2asc, both run for this) take as that standard
// identifier still, as the other formats write it. They take no form of a
// larger standard identifier (four to seven digits read as extended, or not
// at all): it is written as an extended one, which keeps the identifier and
// data that the other formats write, and loses only the standard flag.
uint32_t identifier(const CanFrame& frame) { return frame.id & 0x1FFFFFFFu; }
bool eight_digits(const CanFrame& frame) { return frame.extended || identifier(frame) > 0xFFF; }

size_t data_count(const CanFrame& frame) { return frame.size <= 8 ? frame.size : 8; }

// The longest line of the fast build: "(", a time below 2^36 (18
// characters), ") can0 ", 8 identifier digits, "#", 8 data bytes, " T", the
// line feed.
constexpr size_t kLongestLine = 1 + 18 + 7 + 8 + 1 + 2 * 8 + 2 + 1;
static_assert(kLongestLine + kStoreSlack <= kCandumpLineRoom, "line room too small");

}  // namespace

void candump_line_append_reference(std::string* line, const CanFrame& frame) {
  str_append_format(line, eight_digits(frame) ? "(%017.6f) can0 %08X" : "(%017.6f) can0 %03X", frame.timestamp,
                    identifier(frame));
  line->push_back('#');
  str_append_hex(line, frame.data, data_count(frame), 0, true);
  if (frame.transmitted) line->append(" T");
  line->push_back('\n');
}

char* candump_line_write(char* out, const CanFrame& frame) {
  uint64_t micros;
  if (!line_digits::fixed_point_micros(frame.timestamp, &micros)) return nullptr;
  out[0] = '(';
  char* p = line_digits::put_micros(out + 1, micros, 17, '0');
  memcpy(p, ") can0 ", 8);
  p = digits::put_hex(p + 7, identifier(frame), eight_digits(frame) ? 8 : 3);
  *p++ = '#';
  p = digits::put_packed_hex(p, frame.data, data_count(frame));
  memcpy(p, " T", 2);
  p += frame.transmitted ? 2 : 0;
  *p++ = '\n';
  return p;
}

void candump_line_append(std::string* line, const CanFrame& frame) {
  char text[kCandumpLineRoom];
  const char* end = candump_line_write(text, frame);
  if (end == nullptr) return candump_line_append_reference(line, frame);
  line->append(text, static_cast<size_t>(end - text));
}
