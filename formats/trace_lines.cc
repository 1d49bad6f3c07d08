// The fast build of the trace lines as free functions: each thread keeps a
// writer of each version (formats/trace_line_writer.h).
#include "formats/trace_lines.h"

#include "formats/trace_line_writer.h"

namespace {

thread_local TraceLineWriter<1> v1_lines;
thread_local TraceLineWriter<2> v2_lines;

}  // namespace

int format_offset_fast(char* out, double value, int width, int decimals) {
  trace_line_detail::IntegerText integer;
  if (decimals == 3) return trace_line_detail::format_fixed<3>(&integer, out, value, width);
  if (decimals == 1) return trace_line_detail::format_fixed<1>(&integer, out, value, width);
  return 0;
}

char* trace_line_v1_write(char* out, int64_t number, double offset, const CanFrame& frame) {
  return v1_lines.write(out, number, offset, frame);
}

char* trace_line_v2_write(char* out, int64_t number, double offset, const CanFrame& frame) {
  return v2_lines.write(out, number, offset, frame);
}
