// candump logs: no header, one line per frame with its absolute time
// (formats/candump_lines.h).
#include "formats/candump_lines.h"
#include "formats/format_writers.h"
#include "formats/plain_line_writer.h"

std::unique_ptr<FormatWriter> make_candump_writer(OutputSink& sink) {
  return std::make_unique<PlainLineWriter<CandumpLineWriter, kCandumpLineRoom, candump_line_append_reference>>(sink,
                                                                                                              "");
}
