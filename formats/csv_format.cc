// CSV files: the column names at the first frame, then one line per frame
// (formats/csv_lines.h).
#include "formats/csv_lines.h"
#include "formats/format_writers.h"
#include "formats/plain_line_writer.h"

std::unique_ptr<FormatWriter> make_csv_writer(OutputSink& sink) {
  return std::make_unique<PlainLineWriter<CsvLineWriter, kCsvLineRoom, csv_line_append_reference>>(
      sink, std::string_view(kCsvHeader, sizeof kCsvHeader - 1));
}
