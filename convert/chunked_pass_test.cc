// The records of a log read in chunks of every size from a few bytes up,
// against the log reader one record at a time: the same frames, counts,
// flags and warnings, wherever a wrap, a skipped record, a malformed line or
// the end at a zero byte falls against a chunk boundary.
#include "convert/chunked_pass.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "convert/job.h"
#include "log/log.h"
#include "reader/log_reader.h"
#include "stream/stream.h"
#include "tests/support/test_support.h"

namespace {

// Runs queued work on the waiting thread, in the order it came.
class InlineHelpers : public HelperQueue {
 public:
  void push(std::function<void()> work) override { queue_.push_back(std::move(work)); }
  void wait_until(const std::function<bool()>& done) override {
    while (!done() && !queue_.empty()) {
      auto work = std::move(queue_.front());
      queue_.pop_front();
      work();
    }
  }
  void notify() override {}
  int threads() const override { return 1 + static_cast<int>(random_() % 3); }

 private:
  std::deque<std::function<void()>> queue_;
  mutable std::mt19937 random_{3};
};

// What a pass leaves: every frame's line, the reader's counts and flags, and
// the warnings.
struct Pass {
  std::vector<std::string> frames;
  std::string counts;
  std::vector<std::string> warnings;
};

std::string describe(const CanFrame& f) {
  char text[128];
  snprintf(text, sizeof text, "%.3f %X %d %d %u %d:", f.timestamp, f.id, f.extended, f.transmitted, f.length,
           f.kind);
  std::string line = text;
  for (int i = 0; i < f.data.size; ++i) line += std::to_string(f.data.bytes[i]) + ",";
  return line;
}

// Converts text's records one by one (chunk_bytes 0) or in chunks.
Pass pass(const std::string& text, size_t chunk_bytes) {
  Pass result;
  Stream* stream = memory_stream_new(text.data(), static_cast<int64_t>(text.size()));
  LogReader* reader = log_reader_open(stream);
  EXPECT_NE(reader, nullptr);
  if (reader == nullptr) return result;
  log_reader_rewind(reader);
  log_set_level(LOG_WARN);
  test_support::FdCapture capture(2);
  if (chunk_bytes == 0) {
    CanFrame frame{};
    while (log_reader_next(reader, &frame)) result.frames.push_back(describe(frame));
  } else {
    InlineHelpers helpers;
    pass_frames_in_chunks(reader, &helpers, [&](const CanFrame& frame) {
      result.frames.push_back(describe(frame));
      return true;
    }, chunk_bytes);
  }
  result.warnings = test_support::log_messages(capture.text());
  log_set_level(LOG_NONE);
  result.counts = std::to_string(reader->record_lines) + " " + std::to_string(reader->skipped_records) + " " +
                  std::to_string(reader->malformed_lines) + " " + std::to_string(reader->first_malformed_line) + " " +
                  std::to_string(reader->data_after_zero) + std::to_string(reader->read_failed);
  log_reader_free(reader);
  stream_close(stream);
  return result;
}

// A log of the records, one day's clock (time format 3).
std::string log_of(const std::vector<std::string>& records, const std::string& tail = "") {
  std::string text =
      "# Session No.: 1\n# Split No.: 1\n# Time: 20240115T235959\n# Time format: 3\n# Value separator: \";\"\n"
      "# Time separator: \":\"\n# Time separator ms: \".\"\nTimestamp;Type;ID;Length;Data\n";
  for (const std::string& record : records) text += record + "\n";
  return text + tail;
}

TEST(ChunkedPassTest, EveryChunkSizeGivesWhatTheReaderGivesOneByOne) {
  std::vector<std::string> records;
  for (int i = 0; i < 60; ++i) {
    // Around midnight (a wrap), now and then a step back (skipped), a line
    // no logger writes, a carriage return, a line longer than the buffer.
    const int second = 57 + i / 10;
    char line[96];
    snprintf(line, sizeof line, "23:59:%02d.%03d;%d;%X;2;%04X", second % 60, (i * 37) % 1000, i % 2 ? 1 : 8,
             0x100 + i, i);
    std::string text = line;
    if (second >= 60) text.replace(0, 8, "00:00:0" + std::to_string(second - 60));
    if (i % 11 == 5) text.replace(0, 2, "22");       // back by an hour: skipped
    if (i % 13 == 7) text[3] = '\x01';               // a control byte
    if (i % 17 == 3) text += '\r';
    if (i % 19 == 9) text += std::string(210, 'A');  // too long
    if (i % 23 == 11) text = "00:x0:00.000;0;1;0;";  // a time that is no time
    records.push_back(text);
  }
  const std::vector<std::string> texts = {
      log_of(records),
      log_of(records, std::string(300, '\0')),                             // padding after the records
      log_of(records, std::string(40, '\0') + "\n23:59:59.999;0;1;0;\n"),  // data after zeros
      log_of(records, "23:59:59.999;0;7FF;1;AB"),                          // no line feed at the end
      log_of(records, std::string(700, 'Z')),                              // a line that never ends
  };
  for (const std::string& text : texts) {
    const Pass expected = pass(text, 0);
    ASSERT_FALSE(expected.frames.empty());
    for (size_t chunk : {1, 2, 7, 16, 33, 64, 100, 199, 200, 257, 1000, 4096}) {
      const Pass got = pass(text, chunk);
      EXPECT_EQ(got.frames, expected.frames) << "chunks of " << chunk << " bytes";
      EXPECT_EQ(got.counts, expected.counts) << "chunks of " << chunk << " bytes";
      EXPECT_EQ(got.warnings, expected.warnings) << "chunks of " << chunk << " bytes";
    }
  }
}

}  // namespace
