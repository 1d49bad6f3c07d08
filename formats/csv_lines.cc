#include "formats/csv_lines.h"

#include "formats/line_digits.h"
#include "output/digits.h"
#include "output/text_append.h"

namespace {

using line_digits::kStoreSlack;


constexpr uint32_t kIdentifierMask = 0x1FFFFFFF;

size_t bytes_shown(const CanFrame& frame) { return frame.size <= 8 ? frame.size : 8; }

// The longest line of the fast build: a time below 2^36 (18 characters),
// ",1,", 8 identifier digits, ",0,Rx,0,", a length of 3 digits, a comma, 8
// data bytes, the line feed.
constexpr size_t kLongestLine = 18 + 3 + 8 + 8 + 3 + 1 + 3 * 8 - 1 + 1;
static_assert(kLongestLine + kStoreSlack <= kCsvLineRoom, "line room too small");

thread_local CsvLineWriter csv_lines;

}  // namespace

void csv_line_append_reference(std::string* line, const CanFrame& frame) {
  str_append_format(line, "%.6f,1,%X,%d,%s,%d,%d,", frame.timestamp, frame.id & kIdentifierMask,
                    frame.extended ? 1 : 0, frame.transmitted ? "Tx" : "Rx", 0,
                    static_cast<int>(frame.length));
  str_append_hex(line, frame.data, bytes_shown(frame), ' ', true);
  line->push_back('\n');
}

char* csv_line_write(char* out, const CanFrame& frame) { return csv_lines.write(out, frame); }

void csv_line_append(std::string* line, const CanFrame& frame) {
  char text[kCsvLineRoom];
  const char* end = csv_line_write(text, frame);
  if (end == nullptr) return csv_line_append_reference(line, frame);
  line->append(text, static_cast<size_t>(end - text));
}
