#include "reader/log_reader.h"

#include <gtest/gtest.h>

#include "reader/reader_state.h"

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// Opens a reader over text; nullptr when the text is no log.
std::unique_ptr<LogReader> open(const std::string& text, Stream** stream) {
  *stream = memory_stream_new(text.data(), static_cast<int64_t>(text.size()));
  return LogReader::open(*stream, "log.txt");
}

// Every accepted frame of the log as "ID extended transmitted timestamp".
Lines frames_of(const std::string& text) {
  Stream* stream;
  std::unique_ptr<LogReader> reader = open(text, &stream);
  Lines frames;
  auto take = [&frames](const CanFrame& frame) {
    char line[64];
    snprintf(line, sizeof line, "%X %d%d %.3f", frame.id, frame.extended, frame.transmitted, frame.timestamp);
    frames.push_back(line);
    return true;
  };
  if (reader != nullptr) reader->read_frames(take);
  reader.reset();
  stream_close(stream);
  return frames;
}

TEST(LogReader, HeaderValues) {
  const std::string title = "Timestamp;ID\n";
  struct Row {
    std::string line;
    int32_t LogHeader::*field;
    int32_t value;
  };
  for (const Row& row : std::vector<Row>{{"#Split No.: 010", &LogHeader::split_no, 8},
                                         {"# Split No.: 0x1A", &LogHeader::split_no, 26},
                                         {"# Split No.: -7", &LogHeader::split_no, -7},
                                         {"# Split No.: none", &LogHeader::split_no, 0},
                                         {"# Session No.: 5 Split No.: 6", &LogHeader::split_no, 5},
                                         {"# Session No.: 0X10\r", &LogHeader::session_no, 16},
                                         {"# Logger type: VorlatGamma", &LogHeader::logger_type, 2},
                                         {"# Logger type: VorlatBeta ", &LogHeader::logger_type, 0}}) {
    Stream* stream;
    std::unique_ptr<LogReader> reader = open("# Value separator: \";\"\n" + row.line + "\n" + title, &stream);
    ASSERT_NE(reader, nullptr) << row.line;
    EXPECT_EQ(reader->header().*row.field, row.value) << row.line;
    reader.reset();
    stream_close(stream);
  }
}

TEST(LogReader, TextsThatAreNoLog) {
  for (const char* text : {"", "Timestamp;Lost\n1;2\n", "# Value separator: \";\"\n# Time: 2024\n",
                           "# Value separator: \";\"\nfoo;T;Len\n", "# Value separator: \";\"\n\n",
                           "# Value separator: ;\nTimestamp;ID\n", "# Value separator: \";\"\na;b;c;d;e;f;g;ID\n"}) {
    Stream* stream;
    EXPECT_EQ(open(text, &stream), nullptr) << text;
    stream_close(stream);
  }
}

// A line holds at most 199 bytes other than its line feed; carriage returns
// are dropped but count against that; the rest of a longer line is passed
// over and the line is malformed ("!"), but for a line of carriage returns
// only, blank at any length. DEL is a control byte. A zero byte ends a line's text (and
// makes it malformed); a line that starts with one ends the input.
TEST(LogReader, Lines) {
  const std::string x199(199, 'x');
  struct Row {
    std::string text;
    Lines lines;
  };
  for (const Row& row : std::vector<Row>{
           {x199 + "yz\nnext\n", {"!" + x199, "next\n"}},
           {x199 + "\ny\n", {x199 + "\n", "y\n"}},
           {std::string(100, '\r') + std::string(150, 'z') + "\n", {"!" + std::string(99, 'z')}},
           {std::string(250, '\r') + "\nnext\n", {"\n", "next\n"}},
           {std::string(250, '\r') + "x\r\nnext\n" + std::string(300, '\r'), {"!\r", "next\n"}},
           {"xx\x7Fxxxxxxx\n", {"!xx\x7Fxxxxxxx\n"}},
           {"a\r\nb\n", {"a\n", "b\n"}},
           {std::string("ab\0cd\nxy", 8), {"!ab", "xy"}},
           {"a\tb\x01;\n\xC3\xA9\n", {"!a\tb\x01;\n", "!\xC3\xA9\n"}},
           {std::string("ab\n\0cd\nxy\n", 10), {"ab\n"}},
       }) {
    ReaderState reader{};
    reader.stream = memory_stream_new(row.text.data(), static_cast<int64_t>(row.text.size()));
    Lines lines;
    while (read_log_line(&reader) > 0) lines.push_back((reader.line_malformed ? "!" : "") + std::string(reader.line));
    stream_close(reader.stream);
    EXPECT_EQ(lines, row.lines) << row.text;
  }
}

// Timestamps: the field's digits over the start time's, a step back of more
// than a second wrapped by the period of the time format (a minute, an hour,
// a day, the month or the year that ends), records that go back skipped, and
// the types.
TEST(LogReader, Records) {
  struct Row {
    std::string header;  // time format and start, then anything else
    Lines records;
    Lines frames;
  };
  const std::string ms = "# Time separator ms: \".\"\n";
  for (const Row& row : std::vector<Row>{
           {"1\n# Time: 20240115T093000\n" + ms, {"59.900;1", "00.100;2", "30.000;3"},
            {"1 00 1705311059.900", "2 00 1705311060.100", "3 00 1705311090.000"}},
           {"2\n# Time: 20240115T093000\n" + ms, {"59:59.000;1", "00:01.000;2"}, {"1 00 1705312799.000", "2 00 1705312801.000"}},
           {"3\n# Time: 20240115T093000\n" + ms, {"23:59:59.999;1", "00:00:00.010;2"},
            {"1 00 1705363199.999", "2 00 1705363200.010"}},
           {"4\n# Time: 20240101T000000\n" + ms, {"31T23:59:59.999;1", "01T00:00:00.010;2"},
            {"1 00 1706745599.999", "2 00 1706745600.010"}},
           // February 2024 has 29 days, February 2023 28, April 30.
           {"4\n# Time: 20240201T000000\n" + ms, {"29T23:59:59.999;1", "01T00:00:00.010;2"},
            {"1 00 1709251199.999", "2 00 1709251200.010"}},
           {"4\n# Time: 20230201T000000\n" + ms, {"28T23:59:59.999;1", "01T00:00:00.010;2"},
            {"1 00 1677628799.999", "2 00 1677628800.010"}},
           {"4\n# Time: 20240401T000000\n" + ms, {"30T23:59:59.999;1", "01T00:00:00.010;2"},
            {"1 00 1714521599.999", "2 00 1714521600.010"}},
           {"5\n# Time: 20240101T000000\n" + ms, {"1231T23:59:59.999;1", "0101T00:00:00.010;2"},
            {"1 00 1735689599.999", "2 00 1735689600.010"}},
           // No wrap: without a time format, or for a step back of a second.
           {"0\n# Time: 20240115T093000\n" + ms, {"30.000;1", "30.000;2", "10.000;3", "31.000;4"},
            {"1 00 1705311030.000", "2 00 1705311030.000", "4 00 1705311031.000"}},
           {"1\n# Time: 20240115T093000\n" + ms, {"30.000;1", "29.000;2", "31.000;3"},
            {"1 00 1705311030.000", "3 00 1705311031.000"}},
           // No separator before the milliseconds: the seconds carry.
           {"3\n# Time: 20240115T000000\n", {"12:00:01999;1", "12:00:02000;2", "12:00:02001;3", "12:00:09999;4", "12:00:10000;5"},
            {"1 00 1705320001.999", "2 00 1705320002.000", "3 00 1705320002.001", "4 00 1705320009.999", "5 00 1705320010.000"}},
           // An empty field is the start time; of a long one the last 17 digits count.
           {"0\n# Time: 20240115T093000\n" + ms, {";1", "999920240115093001123;2"}, {"1 00 1705311000.000", "2 00 1705311001.123"}},
           {"0\n# Time: 20240115T0930012345\n" + ms, {";1"}, {"1 00 1705311001.234"}},
           // The whole date in the field: the day after midnight is the next one.
           {"0\n# Time: 20240305T235959\n", {"20240305235959500;1", "20240306000000100;2"},
            {"1 00 1709683199.500", "2 00 1709683200.100"}},
       }) {
    std::string text = "# Value separator: \";\"\n# Time separator: \":\"\n# Time format: " + row.header + "Timestamp;ID\n";
    for (const std::string& record : row.records) text += record + "\n";
    EXPECT_EQ(frames_of(text), row.frames) << text;
  }
  // The start time (2024-03-05 23:59:59) is the time before the first record: one more than a second
  // before it wraps, one a second before, at or after it does not. Per time format: the period, and
  // what the field holds before the seconds.
  const std::tuple<int, double, const char*> formats[] = {{0, 0, "23:59:"}, {1, 60, ""}, {2, 3600, "59:"},
      {3, 86400, "23:59:"}, {4, 31 * 86400, "05T23:59:"}, {5, 365 * 86400, "0305T23:59:"}};
  for (const auto& [format, period, head] : formats) {
    for (const auto& [seconds, offset] : {std::pair{"57.999", -1.001 + period}, {"58.000", -1.0}, {"59.000", 0.0}, {"59.500", 0.5}}) {
      char frame[64];
      snprintf(frame, sizeof frame, "1 00 %.3f", 1709683199.0 + offset);
      EXPECT_EQ(frames_of("# Value separator: \";\"\n# Time separator: \":\"\n" + ms + "# Time format: " + std::to_string(format) +
                          "\n# Time: 20240305T235959\nTimestamp;ID\n" + head + seconds + ";1\n"), Lines{frame}) << format << seconds;
    }
  }
  EXPECT_EQ(frames_of("# Value separator: \";\"\nType;ID\n0;1\n1;2\n8;3\n9;4\nx;5\n"),
            (Lines{"1 00 0.000", "2 10 0.000", "3 01 0.000", "4 11 0.000", "5 00 0.000"}));
}

}  // namespace
