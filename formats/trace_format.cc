// Trace files of versions 1.1 and 2.1 as output formats: their headers and
// frame lines (formats/trace_lines.h) behind the text output back end.
#include <string>

#include "formats/formats.h"
#include "formats/trace_lines.h"
#include "output/text_output.h"

namespace {

void append_header_v1(std::string* text, const CanFrame& first) {
  text->append(";$FILEVERSION=1.1\n;$STARTTIME=");
  trace_append_start_value(text, first.timestamp);
}

void append_header_v2(std::string* text, const CanFrame& first) {
  text->append(";$FILEVERSION=2.1\n;$STARTTIME=");
  trace_append_start_value(text, first.timestamp);
  text->append(";$COLUMNS=N,O,T,B,I,d,L,D\n");
}

// The offset of a frame from the first one, in milliseconds.
double offset_of(const TextOutput* output, const CanFrame& frame) {
  return (frame.timestamp - output->start_time) * 1000.0;
}

// Version 1.1 has no line for a CAN FD frame: it is passed over without using
// a number.
inline bool write_frame_v1(TextOutput* output, const CanFrame& frame) {
  if (frame.fd) return true;
  const double offset = offset_of(output, frame);
  const int64_t number = output->message_number++;
  return text_output_line<kTraceLineRoom>(
      output, [&](char* out) { return trace_line_v1_write(out, number, offset, frame); },
      [&](std::string* line) { trace_line_v1_append_reference(line, number, offset, frame); });
}

inline bool write_frame_v2(TextOutput* output, const CanFrame& frame) {
  const double offset = offset_of(output, frame);
  const int64_t number = output->message_number++;
  return text_output_line<kTraceLineRoom>(
      output, [&](char* out) { return trace_line_v2_write(out, number, offset, frame); },
      [&](std::string* line) { trace_line_v2_append_reference(line, number, offset, frame); });
}

}  // namespace

extern const TextFormat kTraceV1Format = {".trc", append_header_v1, text_output_record<write_frame_v1>, nullptr};
extern const TextFormat kTraceV2Format = {".trc", append_header_v2, text_output_record<write_frame_v2>, nullptr};
