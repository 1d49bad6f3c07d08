// CSV files as an output format: the column names, then one line per frame
// (formats/csv_lines.h).
#include <string>

#include "formats/csv_lines.h"
#include "formats/formats.h"
#include "output/text_output.h"

namespace {

void append_header(std::string* text, const CanFrame&) { text->append(kCsvHeader); }

inline bool write_frame(TextOutput* output, const CanFrame& frame) {
  ++output->message_number;
  return text_output_line<kCsvLineRoom>(
      output, [&](char* out) { return csv_line_write(out, frame); },
      [&](std::string* line) { csv_line_append_reference(line, frame); });
}

}  // namespace

extern const TextFormat kCsvFormat = {".csv", append_header, text_output_record<write_frame>, nullptr};
