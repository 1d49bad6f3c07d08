#include "reader/log_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "log/log.h"
#include "tests/support/test_support.h"

namespace {

// Sets TZ for the test and restores it (or its absence) afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) : had_(getenv("TZ") != nullptr), old_(had_ ? getenv("TZ") : "") {
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    had_ ? setenv("TZ", old_.c_str(), 1) : unsetenv("TZ");
    tzset();
  }

 private:
  bool had_;
  std::string old_;
};

// A reader over text held in memory, optionally through a buffered reader.
class Log {
 public:
  explicit Log(std::string text, int64_t window = 0) : text_(std::move(text)) {
    stream_ = memory_stream_new(text_.data(), static_cast<int64_t>(text_.size()));
    if (window > 0) stream_ = buffered_reader_new(stream_, true, window);
    reader_ = log_reader_open(stream_);
  }
  ~Log() {
    log_reader_free(reader_);
    stream_close(stream_);
  }
  LogReader* reader() { return reader_; }
  Stream* stream() { return stream_; }
  std::vector<CanFrame> frames() {
    std::vector<CanFrame> out;
    log_reader_rewind(reader_);
    CanFrame frame;
    while (log_reader_next(reader_, &frame)) out.push_back(frame);
    return out;
  }

 private:
  std::string text_;
  Stream* stream_ = nullptr;
  LogReader* reader_ = nullptr;
};

const char kHeader[] =
    "# Logger type: VorlatBeta\n"
    "# HW rev: 3.1\n"
    "# FW rev: 7.04\n"
    "# Logger ID: 0A1B2C3D\n"
    "# Session No.: 12\n"
    "# Split No.: 3\n"
    "# Time: 20240115T093000\n"
    "# Value separator: \";\"\n"
    "# Time format: 4\n"
    "# Time separator: \":\"\n"
    "# Time separator ms: \".\"\n"
    "# Date separator: \"/\"\n"
    "# Time and date separator: \" \"\n"
    "# Bit-rate: 500000\n"
    "# Silent mode: true\n"
    "# Cyclic mode: false\n";
const char kTitle[] = "Timestamp;Lost;Type;ID;Length;Data\n";

// A log with the given time settings and record lines.
std::string make_log(const std::string& records, const std::string& time_format = "4",
                     const std::string& time = "20240115T093000") {
  return "# Value separator: \";\"\n# Time format: " + time_format + "\n# Time: " + time +
         "\n# Time separator: \":\"\n# Time separator ms: \".\"\n" + kTitle + records;
}

// ---------------------------------------------------------------------------
// Header

// Every header field and the records after the title, with line feeds and
// with carriage returns before them: the carriage returns change nothing but
// the offsets.
TEST(LogReaderHeader, FullHeaderAndRecordsWithEitherLineEnd) {
  ScopedTimeZone zone("UTC");
  const std::string lf = std::string(kHeader) + kTitle +
                         "09:30:01.123;0;1;18FEF100;8;0102030405060708\n09:30:02.500;0;8;7FF;2;AABB\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& text : {lf, crlf}) {
    SCOPED_TRACE(text.find('\r') == std::string::npos ? "LF" : "CRLF");
    Log log(text);
    ASSERT_NE(log.reader(), nullptr);
    const LogHeader& h = log.reader()->header;
    EXPECT_EQ(h.logger_type, 1);
    EXPECT_STREQ(h.hw_rev, "3.1");
    EXPECT_STREQ(h.fw_rev, "7.04");
    EXPECT_STREQ(h.logger_id, "0A1B2C3D");
    EXPECT_EQ(h.session_no, 12);
    EXPECT_EQ(h.split_no, 3);
    EXPECT_EQ(h.start_time, 1705311000.0);
    EXPECT_STREQ(h.start_time_text, "20240115T093000");
    EXPECT_EQ(h.value_separator, ';');
    EXPECT_EQ(h.time_format, 4);
    EXPECT_EQ(h.time_separator, ':');
    EXPECT_EQ(h.time_separator_ms, '.');
    EXPECT_EQ(h.date_separator, '/');
    EXPECT_EQ(h.time_date_separator, ' ');
    EXPECT_EQ(h.bit_rate, 500000);
    EXPECT_EQ(h.silent_mode, 1u);
    EXPECT_EQ(h.cyclic_mode, 0u);
    // Slots 1 to 6 in title order, slot 7 empty; data starts after the title.
    const ColumnKind expected[kColumnSlots] = {COLUMN_TIMESTAMP, COLUMN_LOST, COLUMN_TYPE, COLUMN_ID,
                                               COLUMN_LENGTH,    COLUMN_DATA, COLUMN_NONE};
    for (int i = 0; i < kColumnSlots; ++i) EXPECT_EQ(log.reader()->column_kinds[i], expected[i]) << i;
    const int64_t data_start = static_cast<int64_t>(text.find("09:30:01"));
    EXPECT_EQ(log.reader()->data_start, data_start);
    EXPECT_EQ(stream_tell(log.stream()), data_start);
    EXPECT_EQ(log_reader_rewind(log.reader()), data_start);

    auto f = log.frames();
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].timestamp, 1705311001.123);
    EXPECT_EQ(f[0].channel, 1);
    EXPECT_EQ(f[0].kind, 1);
    EXPECT_EQ(f[0].id, 0x18FEF100u);
    EXPECT_TRUE(f[0].extended && !f[0].transmitted);
    EXPECT_EQ(f[0].length, 8);
    ASSERT_EQ(f[0].data.size, 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(f[0].data.bytes[i], i + 1);
    EXPECT_FALSE(f[0].fd || f[0].esi || f[0].brs || f[0].remote);
    EXPECT_EQ(f[1].timestamp, 1705311002.5);
    EXPECT_EQ(f[1].id, 0x7FFu);
    EXPECT_TRUE(!f[1].extended && f[1].transmitted);
    ASSERT_EQ(f[1].data.size, 2);
    EXPECT_EQ(f[1].data.bytes[1], 0xBB);
  }
}

// The header of a log made of one extra header line and a plain title.
LogHeader header_of(const std::string& line) {
  Log log("# Value separator: \";\"\n" + (line.empty() ? "" : line + "\n") + kTitle);
  EXPECT_NE(log.reader(), nullptr) << line;
  return log.reader() ? log.reader()->header : LogHeader{};
}

TEST(LogReaderHeader, IntegersTakeBasePrefixes) {
  EXPECT_EQ(header_of("#Split No.: 010").split_no, 8);
  EXPECT_EQ(header_of("# Split No.: 0x1A").split_no, 26);
  EXPECT_EQ(header_of("# Split No.: -7").split_no, -7);
  EXPECT_EQ(header_of("# Split No.: none").split_no, 0);
  EXPECT_EQ(header_of("# Session No.: 0X10").session_no, 16);
  EXPECT_EQ(header_of("# Bit-rate: 250000\r").bit_rate, 250000);
  EXPECT_EQ(header_of("# Time format: 0x3").time_format, 3);
  EXPECT_EQ(header_of("# Time format: 261").time_format, 5);  // low 8 bits
  EXPECT_EQ(header_of("# Time format: 3\n# Time format: x").time_format, 0);
}

TEST(LogReaderHeader, TextValues) {
  EXPECT_EQ(header_of("").logger_type, 0);
  EXPECT_EQ(header_of("# Logger type: VorlatGamma").logger_type, 2);
  EXPECT_EQ(header_of("# Logger type: VorlatBeta ").logger_type, 0);  // compared whole
  EXPECT_EQ(header_of("# Logger type:VorlatBeta").logger_type, 0);    // no blank after the colon
  EXPECT_STREQ(header_of("# Logger ID:   ABC DEF").logger_id, "ABC");
  EXPECT_STREQ(header_of("# Logger ID: ").logger_id, "");
  EXPECT_EQ(header_of("# Silent mode: TRUE").silent_mode, 0u);
  EXPECT_EQ(header_of("# Silent mode: true\r").silent_mode, 1u);
  EXPECT_EQ(header_of("# Cyclic mode: true").cyclic_mode, 1u);
  EXPECT_EQ(header_of("# Time and date separator: \" \"").time_date_separator, ' ');
  EXPECT_EQ(header_of("# Date separator: \"-x").date_separator, '-');  // the third character is not examined
  EXPECT_EQ(header_of("# Date separator: -").date_separator, 0);
  // One line may carry several keys; each takes the value after the first ": ".
  LogHeader both = header_of("# Session No.: 5 Split No.: 6");
  EXPECT_EQ(both.session_no, 5);
  EXPECT_EQ(both.split_no, 5);
  EXPECT_EQ(header_of("# nothing known here").split_no, 0);
}

TEST(LogReaderHeader, LongValuesAreCutAtTheFieldCapacity) {
  LogHeader h = header_of("# HW rev: ABCDEFGH\n# FW rev: 123456789\n# Logger ID: 0123456789abcdefghijKLMNOP");
  EXPECT_STREQ(h.hw_rev, "ABCD");
  EXPECT_STREQ(h.fw_rev, "1234");
  EXPECT_STREQ(h.logger_id, "0123456789abcdefghijK");
  h = header_of("# Time: 20240115T093000 and a long tail");
  EXPECT_STREQ(h.start_time_text, "20240115T093000 and");
  // The fields behind the text fields are intact.
  EXPECT_EQ(h.value_separator, ';');
}

TEST(LogReaderHeader, StartTimeIsLocal) {
  {
    ScopedTimeZone zone("UTC");
    EXPECT_EQ(header_of("# Time: 20240115T093000").start_time, 1705311000.0);
    EXPECT_EQ(header_of("# Time: 20240115 093000").start_time, 1705276800.0);  // start of the day
  }
  ScopedTimeZone zone("EST5");
  LogHeader h = header_of("# Time: 20240115T093000");
  EXPECT_EQ(h.start_time, 1705311000.0 + 5 * 3600);
  EXPECT_STREQ(h.start_time_text, "20240115T093000");
  // The frames read the same digits as UTC.
  Log log(make_log("09:30:00.000;0;0;1;0;\n"));
  ASSERT_NE(log.reader(), nullptr);
  auto frames = log.frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].timestamp, 1705311000.0);
}

TEST(LogReaderOpen, Failures) {
  EXPECT_EQ(log_reader_open(nullptr), nullptr);
  const char* bad[] = {
      "",                                                  // empty
      "Timestamp;Lost\n1;2\n",                             // no header line
      "\xEF\xBB\xBF# Value separator: \";\"\nID\n",        // byte order mark
      "# Value separator: \";\"\n# Time: 2024\n",          // only "#" lines
      "# Value separator: \";\"\nfoo;bar;baz\n",           // no known column
      "# Value separator: ;\nTimestamp;ID\n",              // no usable separator: one name
      "# Value separator: \"\"\nTimestamp;ID\n",           // empty quotes
      "# Value separator: \";\"\n\n",                      // empty title line
      "# Value separator: \";\"\na;b;c;d;e;f;g;Timestamp\n",  // known name only in column 8
  };
  for (const char* text : bad) {
    Log log(text);
    EXPECT_EQ(log.reader(), nullptr) << text;
  }
  Log only_lost("# Value separator: \";\"\nfoo;Lost\n");
  ASSERT_NE(only_lost.reader(), nullptr);
  EXPECT_EQ(only_lost.reader()->column_kinds[1], COLUMN_LOST);
  Log no_separator("# x\nID\n");  // the whole line is one name, and it is known
  ASSERT_NE(no_separator.reader(), nullptr);
  EXPECT_EQ(no_separator.reader()->column_kinds[0], COLUMN_ID);
}

TEST(LogReaderOpen, NineColumnsUseTheFirstSeven) {
  Log log("# Value separator: \",\"\nData,x,ID,ID,y,z,Type,Timestamp,Length\n");
  ASSERT_NE(log.reader(), nullptr);
  const ColumnKind expected[kColumnSlots] = {COLUMN_DATA, COLUMN_NONE, COLUMN_ID,  COLUMN_ID,
                                             COLUMN_NONE, COLUMN_NONE, COLUMN_TYPE};
  for (int i = 0; i < kColumnSlots; ++i) EXPECT_EQ(log.reader()->column_kinds[i], expected[i]) << i;
}

// ---------------------------------------------------------------------------
// Lines

// Every line of text as read_log_line gives it, through the given window (0:
// byte by byte from the memory stream).
std::vector<std::string> lines_of(const std::string& text, int64_t window) {
  Stream* stream = memory_stream_new(text.data(), static_cast<int64_t>(text.size()));
  if (window > 0) stream = buffered_reader_new(stream, true, window);
  LogReader reader{};
  reader.stream = stream;
  std::vector<std::string> lines;
  int length;
  while ((length = read_log_line(&reader)) > 0) {
    EXPECT_EQ(static_cast<size_t>(length), strlen(reader.line));
    EXPECT_LE(length, kLineBufferSize);
    lines.emplace_back((reader.line_malformed ? "!" : "") + std::string(reader.line));
  }
  EXPECT_FALSE(reader.read_failed);
  stream_close(stream);
  return lines;
}

// A line holds at most 199 bytes other than its line feed; carriage returns
// are dropped but count against that budget; the rest of a longer line is
// passed over and the line is malformed ("!" below). A zero byte ends a
// line's text (and makes it malformed), and a line that starts with one ends
// the input.
TEST(ReadLogLine, SplitsAfter199BytesAndEndsAtAZeroByte) {
  std::string long_line(250, 'a');
  long_line[198] = 'b';
  long_line[199] = 'c';
  const std::string x198(198, 'x'), x199(199, 'x');
  struct Row {
    std::string text;
    std::vector<std::string> lines;
  };
  for (const Row& row : std::vector<Row>{
           {long_line + "\nnext\n", {"!" + long_line.substr(0, 199), "next\n"}},
           {x199 + "\ny\n", {x199 + "\n", "y\n"}},
           {x198 + "\ny\n", {x198 + "\n", "y\n"}},
           {std::string(100, '\r') + std::string(150, 'z') + "\n", {"!" + std::string(99, 'z')}},
           {std::string("ab\0cd\nxy", 8), {"!ab", "xy"}},
           {"a\tb\x01;\n\xC3\xA9\n", {"!a\tb\x01;\n", "!\xC3\xA9\n"}},
           {std::string("ab\n\0cd\nxy\n", 10), {"ab\n"}},
       }) {
    EXPECT_EQ(lines_of(row.text, 0), row.lines) << row.text;
  }
}

TEST(ReadLogLine, WindowsOfAnySizeGiveTheSameLines) {
  std::mt19937 rng(5);
  const char alphabet[] = "abc;:.0123\r\r\n\n\n";
  for (int round = 0; round < 40; ++round) {
    std::string text;
    size_t length = rng() % 3000;
    for (size_t i = 0; i < length; ++i) {
      // Occasional long runs without a line feed.
      text.push_back(rng() % 50 == 0 ? 'L' : alphabet[rng() % (sizeof alphabet - 1)]);
      if (text.back() == 'L') text.append(rng() % 400, 'L');
    }
    auto expected = lines_of(text, 0);
    for (int64_t window : {1, 8, 16, 200, 256, 4096}) {
      ASSERT_EQ(lines_of(text, window), expected) << "window " << window << " round " << round;
    }
  }
}

// ---------------------------------------------------------------------------
// Records

// Types, identifiers, lengths and data of every shape are compared with a
// plain reading of generated logs (tests/equivalence_test.cc); here the lines
// those logs do not hold.
TEST(LogReaderNext, ColumnParsers) {
  Log log(make_log(
      "09:30:01.000;0;9;1;1;\n"     // Type 9: extended, sent
      "09:30:02.000;0;2;2;1;\n"     // Type 2: neither, whatever the frame before
      "\n"                          // only the first column, empty
      "#09:30:08.000;0;0;5;0;\n"    // a record line like any other
      "09:30:09.000;0;0;6;0;AB",     // no line feed at the end
      "0"));
  ASSERT_NE(log.reader(), nullptr);
  auto f = log.frames();
  // The empty line goes back to 09:30:00 and is skipped (time format 0: no
  // wrap correction). In "#09:30:08" the "#" is part of the time text, and
  // '#' is no digit, so the template reads the hour as 0 and stops: that
  // frame is skipped too.
  ASSERT_EQ(f.size(), 3u);
  EXPECT_TRUE(f[0].extended && f[0].transmitted);
  EXPECT_TRUE(!f[1].extended && !f[1].transmitted);
  EXPECT_EQ(f[2].id, 6u);
  ASSERT_EQ(f[2].data.size, 1);
  EXPECT_EQ(f[2].data.bytes[0], 0xAB);
}

// The separators are searched in blocks of 64 bytes and the last bytes of the
// line buffer eight at a time: fields that end on either side of every block
// boundary, up to the longest line, are split the same.
TEST(LogReaderNext, FieldsEndingAcrossSearchBlocks) {
  std::string records;
  constexpr int kLongestPad = kLineBufferSize - 2 - 26;  // the line stays whole
  for (int pad = 0; pad <= kLongestPad; ++pad) {
    char time[16];
    snprintf(time, sizeof time, "09:%02d:%02d.000", pad / 60, pad % 60);
    records += std::string(time) + ";" + std::string(static_cast<size_t>(pad), 'x') + ";8;7FF;2;ABCD\n";
  }
  Log log(make_log(records, "0"));
  ASSERT_NE(log.reader(), nullptr);
  auto f = log.frames();
  ASSERT_EQ(f.size(), static_cast<size_t>(kLongestPad + 1));
  for (int pad = 0; pad <= kLongestPad; ++pad) {
    const CanFrame& frame = f[static_cast<size_t>(pad)];
    EXPECT_TRUE(frame.transmitted && !frame.extended) << pad;
    EXPECT_EQ(frame.id, 0x7FFu) << pad;
    ASSERT_EQ(frame.data.size, 2) << pad;
    EXPECT_EQ(frame.length, 2) << pad;
    EXPECT_EQ(frame.data.bytes[0], 0xAB) << pad;
    EXPECT_EQ(frame.data.bytes[1], 0xCD) << pad;
  }
}

TEST(LogReaderNext, LengthAfterDataOverridesAndShortLines) {
  Log log("# Value separator: \";\"\n# Time: 20240115T093000\nData;Length;ID\n0102;300\n0102\n;;5\n");
  ASSERT_NE(log.reader(), nullptr);
  auto f = log.frames();
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].length, 44);  // 300 modulo 256
  EXPECT_EQ(f[0].data.size, 2);
  EXPECT_EQ(f[1].length, 2);
  EXPECT_EQ(f[1].id, 0u);
  EXPECT_EQ(f[2].id, 5u);
  EXPECT_EQ(f[2].length, 0);
  EXPECT_EQ(f[2].timestamp, 0.0);  // no Timestamp column
}

TEST(LogReaderNext, EmptyAndOverlongTimeTextsStayInTheTemplate) {
  // An empty time field is the start time; of an overlong one only the last
  // 17 characters count.
  Log log(make_log(";0;0;1;0;\n999999999999999920240115093001123;0;0;2;0;\n"));
  auto f = log.frames();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].timestamp, 1705311000.0);
  EXPECT_EQ(f[1].timestamp, 1705311001.123);
  // Only the first 17 characters of the start time text count: the start
  // text '20240115T09300123' fills the whole template.
  Log whole(make_log(";0;0;1;0;\n", "0", "20240115T0930012345"));
  ASSERT_NE(whole.reader(), nullptr);
  EXPECT_STREQ(whole.reader()->header.start_time_text, "20240115T0930012345");
  f = whole.frames();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].timestamp, 1705311001.234);
}

// A step back of more than a second adds one period of the time format (a
// minute, an hour, a day, the month or the year that ends) to this and every
// later timestamp; format 0 and smaller steps add nothing, and the record is
// skipped as not increasing.
TEST(LogReaderWrap, AStepBackAddsThePeriodOfTheTimeFormat) {
  struct Row {
    const char* format;
    const char* start;
    std::vector<const char*> times;
    std::vector<double> expected;
  };
  for (const Row& row : std::vector<Row>{
           // Later records keep the added minute.
           {"1", "20240115T093000", {"59.900", "00.100", "30.000"}, {1705311059.9, 1705311060.1, 1705311090.0}},
           {"2", "20240115T093000", {"59:59.000", "00:01.000"}, {1705312799.0, 1705312801.0}},
           {"3", "20240115T093000", {"23:59:59.999", "00:00:00.010"}, {1705363199.999, 1705363200.010}},
           // 31 January, then "01", which is 1 January until 31 days are added.
           {"4", "20240101T000000", {"31T23:59:59.999", "01T00:00:00.010"}, {1706745599.999, 1706745600.010}},
           // 2024 is a leap year: the wrap adds 366 days.
           {"5", "20240101T000000", {"1231T23:59:59.999", "0101T00:00:00.010"}, {1735689599.999, 1735689600.010}},
           {"0", "20240115T093000", {"30.000", "10.000", "31.000"}, {1705311030.0, 1705311031.0}},
           {"1", "20240115T093000", {"30.000", "29.000", "31.000"}, {1705311030.0, 1705311031.0}},
       }) {
    std::string records;
    for (const char* time : row.times) records += std::string(time) + ";0;0;1;0;\n";
    Log log(make_log(records, row.format, row.start));
    ASSERT_NE(log.reader(), nullptr);
    auto f = log.frames();
    ASSERT_EQ(f.size(), row.expected.size()) << "format " << row.format;
    for (size_t i = 0; i < f.size(); ++i) {
      EXPECT_NEAR(f[i].timestamp, row.expected[i], 1e-6) << "format " << row.format << " record " << i;
    }
  }
}

// Without a separator before the milliseconds, the last four digits of a
// field change when its seconds carry: the seconds must be read again.
TEST(LogReaderNext, SecondsCarryWithoutAMillisecondSeparator) {
  Log log("# Value separator: \";\"\n# Time format: 3\n# Time: 20240115T000000\n# Time separator: \":\"\n" +
          std::string(kTitle) +
          "12:00:01999;0;0;1;0;\n12:00:02000;0;0;2;0;\n12:00:02001;0;0;3;0;\n12:00:09999;0;0;4;0;\n12:00:10000;0;0;5;0;\n");
  ASSERT_NE(log.reader(), nullptr);
  auto f = log.frames();
  const double expected[] = {1705320001.999, 1705320002.000, 1705320002.001, 1705320009.999, 1705320010.000};
  ASSERT_EQ(f.size(), 5u);
  for (size_t i = 0; i < 5; ++i) EXPECT_NEAR(f[i].timestamp, expected[i], 1e-6) << i;
}

TEST(LogReaderNext, SkipsNonIncreasingTimestampsWithOneWarning) {
  int32_t saved = log_level;
  log_set_level(LOG_WARN);
  Log log(make_log("01.000;0;0;1;0;\n01.000;0;0;2;0;\n00.500;0;0;3;0;\n00.400;0;0;4;0;\n01.250;0;0;5;0;\n", "0"));
  ASSERT_NE(log.reader(), nullptr);
  log_reader_rewind(log.reader());
  test_support::FdCapture capture(2);
  CanFrame frame;
  std::vector<uint32_t> ids;
  while (log_reader_next(log.reader(), &frame)) ids.push_back(frame.id);
  const std::string text = capture.text();
  log_set_level(saved);
  EXPECT_EQ(ids, (std::vector<uint32_t>{1, 2, 5}));
  EXPECT_EQ(test_support::log_messages(text),
            std::vector<std::string>{"W Skipping non-increasing timestamp: 1705311001.000000"});

  // Below the warning level nothing is written.
  log_set_level(LOG_ERROR);
  Log quiet(make_log("01.000;0;0;1;0;\n00.000;0;0;2;0;\n02.000;0;0;3;0;\n", "0"));
  test_support::FdCapture capture2(2);
  EXPECT_EQ(quiet.frames().size(), 2u);
  EXPECT_EQ(capture2.text(), "");
  log_set_level(saved);
}

}  // namespace
