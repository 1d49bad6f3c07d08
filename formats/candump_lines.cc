#include "formats/candump_lines.h"

#include "formats/line_digits.h"
#include "output/digits.h"
#include "output/text_append.h"

namespace {

using line_digits::kStoreSlack;

size_t data_count(const CanFrame& frame) { return frame.size <= 8 ? frame.size : 8; }

// The longest line of the fast build: "(", a time below 2^36 (18
// characters), ") can0 ", 8 identifier digits, "#", 8 data bytes, " T", the
// line feed.
constexpr size_t kLongestLine = 1 + 18 + 7 + 8 + 1 + 2 * 8 + 2 + 1;
static_assert(kLongestLine + kStoreSlack <= kCandumpLineRoom, "line room too small");

thread_local CandumpLineWriter candump_lines;

}  // namespace

void candump_line_append_reference(std::string* line, const CanFrame& frame) {
  str_append_format(line, candump_eight_digits(frame) ? "(%017.6f) can0 %08X" : "(%017.6f) can0 %03X", frame.timestamp,
                    candump_identifier(frame));
  line->push_back('#');
  str_append_hex(line, frame.data, data_count(frame), 0, true);
  if (frame.transmitted) line->append(" T");
  line->push_back('\n');
}

char* candump_line_write(char* out, const CanFrame& frame) { return candump_lines.write(out, frame); }

void candump_line_append(std::string* line, const CanFrame& frame) {
  char text[kCandumpLineRoom];
  const char* end = candump_line_write(text, frame);
  if (end == nullptr) return candump_line_append_reference(line, frame);
  line->append(text, static_cast<size_t>(end - text));
}
