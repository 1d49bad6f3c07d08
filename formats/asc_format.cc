// ASC files: the date and trigger-block header at the first frame, one line
// per frame with its seconds since the first one (formats/asc_lines.h), and
// the closing line.
#include <string>

#include "formats/asc_lines.h"
#include "formats/format_writers.h"
#include "output/text_line.h"

namespace {

class AscWriter final : public FormatWriter {
 public:
  explicit AscWriter(OutputSink& sink) : sink_(sink) { scratch_.reserve(256); }

  void begin(const CanFrame& first) override {
    start_time_ = first.timestamp;
    scratch_.clear();
    asc_append_header(&scratch_, first.timestamp);
    write_text(sink_, scratch_);
  }

  size_t write_frames(const CanFrame* frames, size_t count, const OutputSink&) override {
    const double start_time = start_time_;
    return write_text_lines<kAscLineRoom>(
        sink_, &scratch_, frames, count, [&](char* out, const CanFrame& frame) { return lines_.write(out, frame.timestamp - start_time, frame); },
        [&](std::string* line, const CanFrame& frame) { asc_line_append_reference(line, frame.timestamp - start_time, frame); });
  }

  void write(const CanFrame& frame) override {
    const double offset = frame.timestamp - start_time_;
    write_text_line<kAscLineRoom>(
        sink_, &scratch_, [&](char* out) { return lines_.write(out, offset, frame); },
        [&](std::string* line) { asc_line_append_reference(line, offset, frame); });
  }

  void end() override { sink_.append(kAscFooter, sizeof kAscFooter - 1); }

  // The lines carry nothing that counts on from frame to frame.
  void mark() override {}
  void rollback() override {}

 private:
  OutputSink& sink_;
  double start_time_ = 0.0;  // the first frame's timestamp
  std::string scratch_;      // the header, and lines built the slow way
  AscLineWriter lines_;
};

}  // namespace

std::unique_ptr<FormatWriter> make_asc_writer(OutputSink& sink) { return std::make_unique<AscWriter>(sink); }
