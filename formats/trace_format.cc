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

  // As many lines as the sink's window holds at kTraceLineRoom each are
  // written there one after the other and committed at once; a line with no
  // such room is written by write, which makes room.
  size_t write_frames(const CanFrame* frames, size_t count, const OutputSink& sink) override {
    size_t done = 0;
    while (done < count) {
      size_t room;
      char* const begin = sink_.window_room(&room);
      const size_t fit = room / kTraceLineRoom < count - done ? room / kTraceLineRoom : count - done;
      if (fit == 0) {
        write(frames[done++]);
        if (!sink.ok()) return done;
        continue;
      }
      // Locals, which the stores of the lines cannot change.
      const double start_time = start_time_;
      int64_t number = message_number_;
      char* out = begin;
      const CanFrame* frame = frames + done;
      const CanFrame* const last = frame + fit;
      for (; frame < last; ++frame) {
        char* const end = lines_.write(out, number, (frame->timestamp - start_time) * 1000.0, *frame);
        if (end == nullptr) break;
        out = end;
        ++number;
      }
      message_number_ = number;
      sink_.commit(static_cast<size_t>(out - begin));
      done = static_cast<size_t>(frame - frames);
      if (frame < last) {
        // Declined by the fast writer: the reference writes it.
        write_reference(message_number_++, offset_of(*frame), *frame);
        ++done;
        if (!sink.ok()) return done;
      }
    }
    return count;
  }

  void write(const CanFrame& frame) override {
    const double offset = offset_of(frame);
    const int64_t number = message_number_++;
    write_text_line<kTraceLineRoom>(
        sink_, &scratch_, [&](char* out) { return lines_.write(out, number, offset, frame); },
        [&](std::string* line) { append_reference(line, number, offset, frame); });
  }

  void end() override {}

  void mark() override { marked_number_ = message_number_; }
  void rollback() override { message_number_ = marked_number_; }

 private:
  double offset_of(const CanFrame& frame) const { return (frame.timestamp - start_time_) * 1000.0; }

  static void append_reference(std::string* line, int64_t number, double offset, const CanFrame& frame) {
    if (kVersion == 1) {
      trace_line_v1_append_reference(line, number, offset, frame);
    } else {
      trace_line_v2_append_reference(line, number, offset, frame);
    }
  }

  // A line the fast writer declined, by the reference writer.
  void write_reference(int64_t number, double offset, const CanFrame& frame) {
    scratch_.clear();
    append_reference(&scratch_, number, offset, frame);
    write_text(sink_, scratch_);
  }

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
