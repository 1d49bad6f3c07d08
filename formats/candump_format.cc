// candump logs as an output format: no header, one line per frame with its
// absolute time (formats/candump_lines.h).
#include <string>

#include "formats/candump_lines.h"
#include "formats/formats.h"
#include "output/text_output.h"

namespace {

inline bool write_frame(TextOutput* output, const CanFrame& frame) {
  ++output->message_number;
  return text_output_line<kCandumpLineRoom>(
      output, [&](char* out) { return candump_line_write(out, frame); },
      [&](std::string* line) { candump_line_append_reference(line, frame); });
}

}  // namespace

extern const TextFormat kCandumpFormat = {".log", nullptr, text_output_record<write_frame>, nullptr};
