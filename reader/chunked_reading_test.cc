// The records of a log read in chunks of every size from a few bytes up,
// against the log reader one record at a time: the same frames, counts,
// flags and warnings, wherever a wrap, a skipped record, a malformed line, an
// inexact record or the end at a zero byte falls against a chunk boundary;
// and every byte of the records counted as taken.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "log/log.h"
#include "reader/log_reader.h"
#include "stream/stream.h"
#include "tests/support/inline_helpers.h"
#include "tests/support/test_support.h"

namespace {

// Every frame, then the reader's counts and flags, then the warnings, of
// text's records read one by one (chunk_bytes 0) or in chunks.
std::vector<std::string> pass(const std::string& text, size_t chunk_bytes) {
  std::vector<std::string> result;
  auto take = [&result](const CanFrame& f) {
    char line[128];
    snprintf(line, sizeof line, "%.3f %X %d %d %u:", f.timestamp, f.id, f.extended, f.transmitted, f.length);
    result.push_back(line);
    for (int i = 0; i < f.size; ++i) result.back() += std::to_string(f.data[i]) + ",";
    return true;
  };
  Stream* stream = memory_stream_new(text.data(), static_cast<int64_t>(text.size()));
  std::unique_ptr<LogReader> reader = LogReader::open(stream, "log.txt");
  const uint64_t taken_before = reader->bytes_taken();
  log_set_level(LOG_WARN);
  test_support::FdCapture capture(2);
  static std::mt19937 random(3);  // chunks planned for 1 to 3 threads
  test_support::InlineHelpers helpers(1 + static_cast<int>(random() % 3));
  if (chunk_bytes == 0) {
    reader->read_frames(take);
  } else {
    reader->read_frames(take, &helpers, chunk_bytes);
    // The status line follows these: all the records' bytes (up to the zero
    // bytes that end them).
    if (text.find('\0') == std::string::npos) {
      EXPECT_EQ(reader->bytes_taken() - taken_before, text.size() - static_cast<size_t>(reader->data_start()));
    }
  }
  const ReadCounts c = reader->counts();
  for (uint64_t count : {c.record_lines, c.skipped_records, c.malformed_lines, c.first_malformed_line, c.early_records,
                         c.first_early_line, c.inexact_records, c.first_inexact_line,
                         static_cast<uint64_t>(reader->end())}) {
    result.push_back(std::to_string(count));
  }
  for (const std::string& warning : test_support::log_messages(capture.text())) result.push_back(warning);
  log_set_level(LOG_NONE);
  reader.reset();
  stream_close(stream);
  return result;
}

TEST(ChunkedReadingTest, EveryChunkSizeGivesWhatTheReaderGivesOneByOne) {
  std::string log =
      "# Session No.: 1\n# Split No.: 1\n# Time: 20240115T235959\n# Time format: 3\n# Value separator: \";\"\n"
      "# Time separator: \":\"\n# Time separator ms: \".\"\nTimestamp;Type;ID;Length;Data\n";
  for (int i = 0; i < 60; ++i) {
    // Around midnight (a wrap), now and then a step back (skipped), a line
    // no logger writes, a carriage return, a line longer than the buffer, an
    // inexact record, a time before 1970, a long blank line.
    const int second = 57 + i / 10;
    char line[96];
    snprintf(line, sizeof line, "23:59:%02d.%03d;%d;%X;2;%04X", second % 60, (i * 37) % 1000, i % 2 ? 1 : 8, 0x100 + i, i);
    std::string text = line;
    if (second >= 60) text.replace(0, 8, "00:00:0" + std::to_string(second - 60));
    if (i % 11 == 5) text.replace(0, 2, "22");
    if (i % 13 == 7) text[3] = '\x01';
    if (i % 17 == 3) text += '\r';
    if (i % 19 == 9) text += std::string(210, 'A');
    if (i % 23 == 11) text = "00:x0:00.000;0;1;0;";
    if (i % 7 == 4) text += i % 2 ? ";X" : "0";
    if (i % 29 == 13) text = "19691231235959999;0;1;0;";
    if (i % 31 == 20) text = std::string(250, '\r');
    log += text + "\n";
  }
  for (const std::string& tail : {std::string(), std::string(300, '\0'),             // padding after the records
                                  std::string(40, '\0') + "\n23:59:59.999;0;1;0;\n",  // data after zeros
                                  std::string("23:59:59.999;0;7FF;1;AB"),             // no line feed at the end
                                  std::string(700, 'Z')}) {                           // a line that never ends
    const std::vector<std::string> expected = pass(log + tail, 0);
    ASSERT_GT(expected.size(), 20u);
    for (size_t chunk : {1, 2, 7, 16, 33, 64, 100, 199, 200, 257, 1000, 4096}) {
      EXPECT_EQ(pass(log + tail, chunk), expected) << "chunks of " << chunk << " bytes";
    }
  }
}

// Lines without a Timestamp field (the column is not the first), and lines
// with two: a record's time is settled once, and only when it has one, so
// the frames after such a line keep their day.
TEST(ChunkedReadingTest, LinesWithoutOrWithTwoTimesSettleAsOneByOne) {
  const std::string head = "# Time: 20240115T235959\n# Time format: 3\n# Value separator: \";\"\n"
                           "# Time separator: \":\"\n# Time separator ms: \".\"\n";
  const std::string records = "100;23:59:58.000;1;AA;23:59:58.500\n101\n103;23:59:59.000;1;BB;23:59:59.500\n";
  for (const std::string& title :
       {std::string("ID;Timestamp;Length;Data\n"), std::string("ID;Timestamp;Length;Data;Timestamp\n")}) {
    const std::vector<std::string> expected = pass(head + title + records, 0);
    ASSERT_GE(expected.size(), 2u);
    EXPECT_EQ(expected[0].substr(0, 14), title.size() < 30 ? "1705363198.000" : "1705363198.500");
    EXPECT_EQ(expected[1].substr(0, 14), title.size() < 30 ? "1705363199.000" : "1705363199.500");
    for (size_t chunk : {1, 5, 20, 37}) EXPECT_EQ(pass(head + title + records, chunk), expected) << chunk;
  }
}

}  // namespace
