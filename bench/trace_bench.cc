// Frame lines per second of the trace writer (items/s in the output), through
// the writer as the conversion calls it into a sink that drops the bytes,
// and of the line
// formatters alone: the two trace versions and the ASC, candump and CSV lines,
// each in its fast and its stb_sprintf build.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/asc_lines.h"
#include "formats/candump_lines.h"
#include "formats/csv_lines.h"
#include "formats/registry.h"
#include "formats/trace_lines.h"
#include "output/output_sink.h"
#include "frame/can_frame.h"

namespace {

// A sink that takes every byte and keeps none: its window starts over.
class NullSink final : public OutputSink {
 public:
  void overwrite(uint64_t, const void*, size_t) override {}
  uint64_t size() const override { return 0; }

 protected:
  char* make_room(size_t) override {
    cursor_ = buffer_;
    limit_ = buffer_ + sizeof buffer_;
    return cursor_;
  }

 private:
  char buffer_[1 << 16];
};

// A recording of 4096 frames, one millisecond apart on average: mostly
// standard frames with 8 bytes, some extended ones and short payloads.
std::vector<CanFrame> make_frames() {
  std::vector<CanFrame> frames(4096);
  uint64_t state = 12345;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  };
  int64_t ms = 1700000000000ll;
  for (CanFrame& frame : frames) {
    frame = CanFrame{};
    ms += 1 + next() % 2;
    frame.timestamp = static_cast<double>(ms) / 1000.0;
    frame.extended = next() % 4 == 0;
    frame.id = frame.extended ? next() & 0x1FFFFFFF : next() & 0x7FF;
    frame.transmitted = next() % 8 == 0;
    frame.size = next() % 5 == 0 ? static_cast<uint8_t>(next() % 8) : 8;
    for (uint8_t i = 0; i < frame.size; ++i) frame.data[i] = static_cast<uint8_t>(next());
    frame.length = frame.size;
  }
  return frames;
}

void record_lines(benchmark::State& state, const char* format) {
  static const std::vector<CanFrame> frames = make_frames();
  NullSink sink;
  std::unique_ptr<FormatWriter> writer = find_format(format)->make_writer(sink);
  writer->begin(frames[0]);
  // Frames repeat with a growing time base, so offsets keep increasing.
  size_t i = 0;
  double base = 0.0;
  for (auto _ : state) {
    CanFrame frame = frames[i];
    frame.timestamp += base;
    writer->write(frame);
    if (++i == frames.size()) {
      i = 0;
      base += 10.0;
    }
  }
  writer->end();
  state.SetItemsProcessed(state.iterations());
}

void BM_RecordV1(benchmark::State& state) { record_lines(state, "version1"); }
void BM_RecordV2(benchmark::State& state) { record_lines(state, "version2"); }

// A line builder: line, number, seconds since the first frame, frame.
using LineAppend = void (*)(std::string*, int64_t, double, const CanFrame&);

void format_lines(benchmark::State& state, LineAppend append) {
  static const std::vector<CanFrame> frames = make_frames();
  std::string line;
  line.reserve(256);
  size_t i = 0;
  int64_t number = 1;
  for (auto _ : state) {
    const CanFrame& frame = frames[i];
    line.clear();
    append(&line, number++, frame.timestamp - frames[0].timestamp, frame);
    benchmark::DoNotOptimize(line.data());
    if (++i == frames.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

// The trace lines take the offset in milliseconds.
template <void (*kAppend)(std::string*, int64_t, double, const CanFrame&)>
void trace_line(std::string* line, int64_t number, double seconds, const CanFrame& frame) {
  kAppend(line, number, seconds * 1000.0, frame);
}
template <void (*kAppend)(std::string*, double, const CanFrame&)>
void offset_line(std::string* line, int64_t, double seconds, const CanFrame& frame) {
  kAppend(line, seconds, frame);
}
template <void (*kAppend)(std::string*, const CanFrame&)>
void time_line(std::string* line, int64_t, double, const CanFrame& frame) {
  kAppend(line, frame);
}

void BM_FormatV1Fast(benchmark::State& state) { format_lines(state, trace_line<trace_line_v1_append>); }
void BM_FormatV1Stb(benchmark::State& state) { format_lines(state, trace_line<trace_line_v1_append_reference>); }
void BM_FormatV2Fast(benchmark::State& state) { format_lines(state, trace_line<trace_line_v2_append>); }
void BM_FormatV2Stb(benchmark::State& state) { format_lines(state, trace_line<trace_line_v2_append_reference>); }
void BM_FormatAscFast(benchmark::State& state) { format_lines(state, offset_line<asc_line_append>); }
void BM_FormatAscStb(benchmark::State& state) { format_lines(state, offset_line<asc_line_append_reference>); }
void BM_FormatCandumpFast(benchmark::State& state) { format_lines(state, time_line<candump_line_append>); }
void BM_FormatCandumpStb(benchmark::State& state) { format_lines(state, time_line<candump_line_append_reference>); }
void BM_FormatCsvFast(benchmark::State& state) { format_lines(state, time_line<csv_line_append>); }
void BM_FormatCsvStb(benchmark::State& state) { format_lines(state, time_line<csv_line_append_reference>); }

BENCHMARK(BM_RecordV1);
BENCHMARK(BM_RecordV2);
BENCHMARK(BM_FormatV1Fast);
BENCHMARK(BM_FormatV1Stb);
BENCHMARK(BM_FormatV2Fast);
BENCHMARK(BM_FormatV2Stb);
BENCHMARK(BM_FormatAscFast);
BENCHMARK(BM_FormatAscStb);
BENCHMARK(BM_FormatCandumpFast);
BENCHMARK(BM_FormatCandumpStb);
BENCHMARK(BM_FormatCsvFast);
BENCHMARK(BM_FormatCsvStb);

}  // namespace

BENCHMARK_MAIN();
