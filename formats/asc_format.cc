// ASC files as an output format: the date and trigger-block header, one line
// per frame with its seconds since the first frame (formats/asc_lines.h),
// and the closing line.
#include <string>

#include "formats/asc_lines.h"
#include "formats/formats.h"
#include "output/text_output.h"

namespace {

void append_header(std::string* text, const CanFrame& first) { asc_append_header(text, first.timestamp); }

void append_footer(std::string* text) { text->append(kAscFooter); }

inline bool write_frame(TextOutput* output, const CanFrame& frame) {
  const double offset = frame.timestamp - output->start_time;
  ++output->message_number;
  return text_output_line<kAscLineRoom>(
      output, [&](char* out) { return asc_line_write(out, offset, frame); },
      [&](std::string* line) { asc_line_append_reference(line, offset, frame); });
}

}  // namespace

extern const TextFormat kAscFormat = {".asc", append_header, text_output_record<write_frame>, append_footer};
