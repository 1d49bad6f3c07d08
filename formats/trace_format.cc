// Trace files of versions 1.1 and 2.1: the header at the first frame, then
// one numbered line per frame with its offset from the first one
// (formats/trace_lines.h).
#include <string>

#include "formats/format_writers.h"
#include "formats/trace_line_writer.h"
#include "formats/trace_lines.h"
#include "output/text_line.h"

namespace {

template <int kVersion>
class TraceWriter final : public FormatWriter {
 public:
  explicit TraceWriter(OutputSink& sink) : sink_(sink) { scratch_.reserve(256); }

  void begin(const CanFrame& first) override {
    start_time_ = first.timestamp;
    scratch_.assign(kVersion == 1 ? ";$FILEVERSION=1.1\n;$STARTTIME=" : ";$FILEVERSION=2.1\n;$STARTTIME=");
    trace_append_start_value(&scratch_, first.timestamp);
    if (kVersion == 2) scratch_.append(";$COLUMNS=N,O,T,B,I,d,L,D\n");
    write_text(sink_, scratch_);
  }

  size_t write_frames(const CanFrame* frames, size_t count, const OutputSink& sink) override {
    return write_each(*this, frames, count, sink);
  }

  void write(const CanFrame& frame) override {
    const double offset = (frame.timestamp - start_time_) * 1000.0;
    const int64_t number = message_number_++;
    write_text_line<kTraceLineRoom>(
        sink_, &scratch_,
        [&](char* out) { return lines_.write(out, number, offset, frame); },
        [&](std::string* line) {
          if (kVersion == 1) {
            trace_line_v1_append_reference(line, number, offset, frame);
          } else {
            trace_line_v2_append_reference(line, number, offset, frame);
          }
        });
  }

  void end() override {}

  void mark() override { marked_number_ = message_number_; }
  void rollback() override { message_number_ = marked_number_; }

 private:
  OutputSink& sink_;
  double start_time_ = 0.0;     // the first frame's timestamp
  int64_t message_number_ = 1;  // of the next line
  int64_t marked_number_ = 1;   // message_number_ at the last mark
  std::string scratch_;         // the header, and lines built the slow way
  TraceLineWriter<kVersion> lines_;
};

}  // namespace

std::unique_ptr<FormatWriter> make_trace_v1_writer(OutputSink& sink) { return std::make_unique<TraceWriter<1>>(sink); }
std::unique_ptr<FormatWriter> make_trace_v2_writer(OutputSink& sink) { return std::make_unique<TraceWriter<2>>(sink); }
