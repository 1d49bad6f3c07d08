// The trace file's text over arbitrary frames, numbers, offsets and start
// times: the fast line builds against the stb_sprintf reference byte for
// byte (both versions), the fast offset formatter against stb_sprintf's
// "%*.*f" wherever it takes a value, and the header's start value against
// the C library's "%5lu.%010.0f"; the fast ASC, candump and CSV lines against
// their references, each written into a heap block of exactly its room;
// and every text format's writer, the frames handed to it in one run
// through a small window against one by one.
#include <stb_sprintf.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "formats/asc_lines.h"
#include "formats/candump_lines.h"
#include "formats/csv_lines.h"
#include "formats/format_writers.h"
#include "formats/trace_lines.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

void check_lines(int64_t number, double offset, const CanFrame& frame) {
  std::string fast, reference;
  trace_line_v2_append(&fast, number, offset, frame);
  trace_line_v2_append_reference(&reference, number, offset, frame);
  CHECK(fast == reference);
  fast.clear();
  reference.clear();
  trace_line_v1_append(&fast, number, offset, frame);
  trace_line_v1_append_reference(&reference, number, offset, frame);
  CHECK(fast == reference);
}

// The fast line written at the start of exactly kRoom bytes equals the
// reference line, when the fast build takes the values.
template <size_t kRoom, typename Write, typename Append>
void check_format_line(Write write, Append append_reference) {
  std::unique_ptr<char[]> room(new char[kRoom]);
  const char* end = write(room.get());
  if (end == nullptr) return;
  std::string reference;
  append_reference(&reference);
  CHECK(std::string(static_cast<const char*>(room.get()), end) == reference);
}

void check_format_lines(double offset, const CanFrame& frame) {
  check_format_line<kAscLineRoom>([&](char* out) { return asc_line_write(out, offset, frame); },
                                  [&](std::string* s) { asc_line_append_reference(s, offset, frame); });
  check_format_line<kCandumpLineRoom>([&](char* out) { return candump_line_write(out, frame); },
                                      [&](std::string* s) { candump_line_append_reference(s, frame); });
  check_format_line<kCsvLineRoom>([&](char* out) { return csv_line_write(out, frame); },
                                  [&](std::string* s) { csv_line_append_reference(s, frame); });
}

void check_offset(double value) {
  for (int decimals : {1, 3}) {
    char fast[64], reference[512];
    const int n = format_offset_fast(fast, value, decimals == 1 ? 11 : 13, decimals);
    const int m = stbsp_snprintf(reference, sizeof reference, "%*.*f", decimals == 1 ? 11 : 13, decimals, value);
    CHECK(n == 0 || (n == m && memcmp(fast, reference, static_cast<size_t>(n)) == 0));
  }
}

// A fraction that rounds to a whole day is carried into the days.
void check_start_value(double start_time) {
  std::string value;
  trace_append_start_value(&value, start_time);
  const double days = start_time / 86400.0 + 25569.0;
  double whole = 0.0, fraction = 0.0;
  if (days >= 0.0 && days < 1e15) fraction = std::modf(days, &whole) * 10000000000.0;
  char reference[64];
  snprintf(reference, sizeof reference, "%5lu.%010.0f\n", static_cast<unsigned long>(whole), fraction);
  if (strlen(reference) == value.size()) {
    CHECK(value == reference);
  } else {  // the carry: eleven fraction digits become one more day
    CHECK(std::nearbyint(fraction) >= 10000000000.0 && value.compare(value.size() - 12, 12, ".0000000000\n") == 0);
  }
}

// A sink in memory whose window holds window_size bytes (or the room asked
// for, when more); the text formats never overwrite.
class MemorySink final : public OutputSink {
 public:
  explicit MemorySink(size_t window_size) : window_(window_size) {}
  void overwrite(uint64_t, const void*, size_t) override { CHECK(false); }
  uint64_t size() const override { return 0; }
  const std::string& text() { return make_room(0), text_; }

 protected:
  char* make_room(size_t count) override {
    if (cursor_ != nullptr) text_.append(window_.data(), static_cast<size_t>(cursor_ - window_.data()));
    if (window_.size() < count) window_.resize(count);
    cursor_ = window_.data();
    limit_ = cursor_ + window_.size();
    return cursor_;
  }

 private:
  std::vector<char> window_;
  std::string text_;
};

// Each text format's writer gives the same bytes for frames handed to it in
// one run (write_frames, through a window of window_size bytes, so that runs
// split and lines the fast builds decline come among lines they write) as
// for the frames written one by one.
void check_writers(const std::vector<CanFrame>& frames, size_t window_size) {
  for (auto make : {make_trace_v1_writer, make_trace_v2_writer, make_asc_writer, make_candump_writer, make_csv_writer}) {
    MemorySink in_run(window_size), one_by_one(4096);
    const std::unique_ptr<FormatWriter> run = make(in_run), single = make(one_by_one);
    run->begin(frames[0]);
    single->begin(frames[0]);
    CHECK(run->write_frames(frames.data(), frames.size(), in_run) == frames.size());
    for (const CanFrame& frame : frames) single->write(frame);
    run->end();
    single->end();
    CHECK(in_run.text() == one_by_one.text());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  in.take<uint8_t>();  // once the trace version; kept so that the seeds keep their meaning
  check_start_value(in.take<double>());
  const size_t window_size = 64 + size * 37 % 2048;  // from the input's size: the seeds keep their meaning
  std::vector<CanFrame> frames;
  for (int i = 0; i < 8 && !in.empty(); ++i) {
    CanFrame frame{};
    frame.timestamp = in.take<double>();
    in.take<uint8_t>();  // once the channel; kept so that the seeds keep their meaning
    frame.id = in.take<uint32_t>();
    const uint8_t flags = in.take<uint8_t>();
    frame.extended = flags & 1, frame.transmitted = flags & 2;
    if (flags & 64) in.take<int32_t>();  // once a record kind
    frame.length = in.take<uint8_t>();
    frame.size = static_cast<uint8_t>(in.take<uint8_t>() % 9);
    for (uint8_t k = 0; k < frame.size; ++k) frame.data[k] = in.take<uint8_t>();
    const int64_t number = in.take<int64_t>();
    const double offset = in.take<double>();
    check_lines(number, offset, frame);
    check_format_lines(offset, frame);
    check_offset(offset);
    check_offset(frame.timestamp);
    // The writers take the times a log gives: from 1970 to the year 9999.
    frame.timestamp = std::isfinite(frame.timestamp) ? std::fmod(std::fabs(frame.timestamp), 253402300800.0) : 0.0;
    frames.push_back(frame);
  }
  if (!frames.empty()) check_writers(frames, window_size);
  return 0;
}
