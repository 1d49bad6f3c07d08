// Reading speed of the text log reader: record lines per second from memory
// and from a file, each through a buffered reader, and the cost of a one-byte
// stream_read served by the window.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "reader/log_reader.h"
#include "reader/reader_state.h"
#include "stream/stream.h"

namespace {

constexpr int kRecords = 200000;

// A log of kRecords typical record lines: increasing times, alternating
// extended and standard identifiers, 8 data bytes.
const std::string& typical_log() {
  static const std::string text = [] {
    std::string out =
        "# Logger type: VorlatBeta\n# HW rev: 3.1\n# FW rev: 7.04\n# Logger ID: 0A1B2C3D\n"
        "# Session No.: 12\n# Split No.: 3\n# Time: 20240115T093000\n# Value separator: \";\"\n"
        "# Time format: 4\n# Time separator: \":\"\n# Time separator ms: \".\"\n"
        "# Date separator: \"/\"\n# Time and date separator: \" \"\n# Bit-rate: 500000\n"
        "# Silent mode: false\n# Cyclic mode: false\nTimestamp;Lost;Type;ID;Length;Data\n";
    char line[96];
    for (int i = 0; i < kRecords; ++i) {
      int ms = i * 3;  // 3 ms apart
      int n = snprintf(line, sizeof line, "%02d:%02d:%02d.%03d;0;%d;%X;8;%02X%02X%02X%02X%02X%02X%02X%02X\n",
                       9 + ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000, i % 2 ? 1 : 0,
                       i % 2 ? 0x18FEF100 + i % 256 : 0x100 + i % 0x700, i & 255, (i >> 8) & 255, 3, 4, 5, 6, 7,
                       i * 13 & 255);
      out.append(line, static_cast<size_t>(n));
    }
    return out;
  }();
  return text;
}

// Reads every frame of an opened reader; returns the count.
int64_t read_all(Stream* stream) {
  std::unique_ptr<LogReader> reader = LogReader::open(stream, "bench.txt");
  if (reader == nullptr) return -1;
  int64_t frames = 0;
  auto take = [&frames](const CanFrame& frame) {
    benchmark::DoNotOptimize(frame);
    ++frames;
    return true;
  };
  reader->read_frames(take);
  return frames;
}

void BM_RecordsFromMemory(benchmark::State& state) {
  const std::string& text = typical_log();
  int64_t frames = 0;
  for (auto _ : state) {
    Stream* inner = memory_stream_new(text.data(), static_cast<int64_t>(text.size()));
    Stream* stream = buffered_reader_new(inner, true, state.range(0));
    frames += read_all(stream);
    stream_close(stream);
  }
  if (frames != static_cast<int64_t>(state.iterations()) * kRecords) state.SkipWithError("frames were lost");
  state.SetItemsProcessed(frames);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_RecordsFromMemory)->Arg(65536)->Arg(1 << 24);

void BM_RecordsFromFile(benchmark::State& state) {
  const std::string& text = typical_log();
  char path[] = "/tmp/reader_bench_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    state.SkipWithError("cannot write the temporary log");
    return;
  }
  close(fd);
  int64_t frames = 0;
  for (auto _ : state) {
    Stream* file = file_stream_open(path, FILE_STREAM_READ);
    int64_t size = state.range(0) < 0 ? stream_size(file) : state.range(0);
    Stream* stream = buffered_reader_new(file, true, size);
    frames += read_all(stream);
    stream_close(stream);
  }
  unlink(path);
  if (frames != static_cast<int64_t>(state.iterations()) * kRecords) state.SkipWithError("frames were lost");
  state.SetItemsProcessed(frames);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_RecordsFromFile)->Arg(65536)->Arg(-1);

// One byte per stream_read, as the reader's byte path does.
void BM_OneByteRead(benchmark::State& state) {
  const std::string& text = typical_log();
  Stream* inner = memory_stream_new(text.data(), static_cast<int64_t>(text.size()));
  Stream* stream = buffered_reader_new(inner, true, state.range(0));
  int64_t bytes = 0;
  for (auto _ : state) {
    unsigned char byte;
    if (stream_read(stream, &byte, 1) != 1) {
      stream_seek(stream, 0, SEEK_SET);
      continue;
    }
    benchmark::DoNotOptimize(byte);
    ++bytes;
  }
  stream_close(stream);
  state.SetItemsProcessed(bytes);
}
BENCHMARK(BM_OneByteRead)->Arg(65536);

// Line splitting alone, through the window.
void BM_ReadLogLine(benchmark::State& state) {
  const std::string& text = typical_log();
  Stream* inner = memory_stream_new(text.data(), static_cast<int64_t>(text.size()));
  Stream* stream = buffered_reader_new(inner, true, 65536);
  static ReaderState reader{};
  reader.stream = stream;
  int64_t lines = 0;
  for (auto _ : state) {
    int length = read_log_line(&reader);
    if (length == 0) {
      stream_seek(stream, 0, SEEK_SET);
      continue;
    }
    benchmark::DoNotOptimize(reader.line);
    ++lines;
  }
  stream_close(stream);
  state.SetItemsProcessed(lines);
}
BENCHMARK(BM_ReadLogLine);

}  // namespace

BENCHMARK_MAIN();
