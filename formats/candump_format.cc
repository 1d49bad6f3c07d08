// candump logs: no header, one line per frame with its absolute time
// (formats/candump_lines.h).
#include <string>

#include "formats/candump_lines.h"
#include "formats/format_writers.h"
#include "output/text_line.h"

namespace {

class CandumpWriter final : public FormatWriter {
 public:
  explicit CandumpWriter(OutputSink& sink) : sink_(sink) {}

  void begin(const CanFrame&) override {}

  size_t write_frames(const CanFrame* frames, size_t count, const OutputSink&) override {
    return write_text_lines<kCandumpLineRoom>(
        sink_, &scratch_, frames, count, [&](char* out, const CanFrame& frame) { return lines_.write(out, frame); },
        [&](std::string* line, const CanFrame& frame) { candump_line_append_reference(line, frame); });
  }

  void write(const CanFrame& frame) override {
    write_text_line<kCandumpLineRoom>(
        sink_, &scratch_, [&](char* out) { return lines_.write(out, frame); },
        [&](std::string* line) { candump_line_append_reference(line, frame); });
  }

  void end() override {}

  // The lines carry nothing that counts on from frame to frame.
  void mark() override {}
  void rollback() override {}

 private:
  OutputSink& sink_;
  std::string scratch_;  // lines built the slow way
  CandumpLineWriter lines_;
};

}  // namespace

std::unique_ptr<FormatWriter> make_candump_writer(OutputSink& sink) { return std::make_unique<CandumpWriter>(sink); }
