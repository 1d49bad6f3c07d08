// CSV files: the column names at the first frame, then one line per frame
// (formats/csv_lines.h).
#include <string>

#include "formats/csv_lines.h"
#include "formats/format_writers.h"
#include "output/text_line.h"

namespace {

class CsvWriter final : public FormatWriter {
 public:
  explicit CsvWriter(OutputSink& sink) : sink_(sink) {}

  void begin(const CanFrame&) override { sink_.append(kCsvHeader, sizeof kCsvHeader - 1); }

  size_t write_frames(const CanFrame* frames, size_t count, const OutputSink&) override {
    return write_text_lines<kCsvLineRoom>(
        sink_, &scratch_, frames, count, [&](char* out, const CanFrame& frame) { return lines_.write(out, frame); },
        [&](std::string* line, const CanFrame& frame) { csv_line_append_reference(line, frame); });
  }

  void write(const CanFrame& frame) override {
    write_text_line<kCsvLineRoom>(
        sink_, &scratch_, [&](char* out) { return lines_.write(out, frame); },
        [&](std::string* line) { csv_line_append_reference(line, frame); });
  }

  void end() override {}

  // The lines carry nothing that counts on from frame to frame.
  void mark() override {}
  void rollback() override {}

 private:
  OutputSink& sink_;
  std::string scratch_;  // lines built the slow way
  CsvLineWriter lines_;
};

}  // namespace

std::unique_ptr<FormatWriter> make_csv_writer(OutputSink& sink) { return std::make_unique<CsvWriter>(sink); }
