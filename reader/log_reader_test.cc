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

// Collects what is written to standard error while it lives.
class StderrCapture : public test_support::FdCapture {
 public:
  StderrCapture() : FdCapture(2) {}
};

// Sets TZ for the test and restores it afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

// True when two frames hold the same value in every field; of the data only
// the bytes of the byte string count.
bool same_frame(const CanFrame& a, const CanFrame& b) {
  return memcmp(&a.timestamp, &b.timestamp, sizeof a.timestamp) == 0 && a.channel == b.channel &&
         a.id == b.id && a.data.size == b.data.size &&
         memcmp(a.data.bytes, b.data.bytes, a.data.size <= FrameData::kCapacity ? a.data.size : 0) == 0 &&
         a.kind == b.kind && a.extended == b.extended && a.transmitted == b.transmitted && a.fd == b.fd &&
         a.esi == b.esi && a.brs == b.brs && a.remote == b.remote && a.length == b.length;
}

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

TEST(LogReaderHeader, FullHeader) {
  ScopedTimeZone zone("UTC");
  Log log(std::string(kHeader) + kTitle + "09:30:01.123;0;1;18FEF100;8;0102030405060708\n");
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
  const ColumnKind expected[kColumnSlots] = {COLUMN_TIMESTAMP, COLUMN_LOST,   COLUMN_TYPE, COLUMN_ID,
                                             COLUMN_LENGTH,    COLUMN_DATA, COLUMN_NONE};
  for (int i = 0; i < kColumnSlots; ++i) EXPECT_EQ(log.reader()->column_parsers[i], expected[i]) << i;
  EXPECT_EQ(log.reader()->data_start, strlen(kHeader) + strlen(kTitle));
  EXPECT_EQ(stream_tell(log.stream()), static_cast<int64_t>(strlen(kHeader) + strlen(kTitle)));
  EXPECT_EQ(log_reader_rewind(log.reader()), static_cast<int64_t>(log.reader()->data_start));
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
  EXPECT_EQ(header_of("# Split No.: 12").split_no, 12);
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
  EXPECT_EQ(log.reader()->header.start_time - frames[0].timestamp, 5 * 3600.0);
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
  EXPECT_EQ(only_lost.reader()->column_parsers[1], COLUMN_LOST);
  Log no_separator("# x\nID\n");  // the whole line is one name, and it is known
  ASSERT_NE(no_separator.reader(), nullptr);
  EXPECT_EQ(no_separator.reader()->column_parsers[0], COLUMN_ID);
}

TEST(LogReaderOpen, NineColumnsUseTheFirstSeven) {
  Log log("# Value separator: \",\"\nData,x,ID,ID,y,z,Type,Timestamp,Length\n");
  ASSERT_NE(log.reader(), nullptr);
  const ColumnKind expected[kColumnSlots] = {COLUMN_DATA, COLUMN_NONE, COLUMN_ID,  COLUMN_ID,
                                             COLUMN_NONE, COLUMN_NONE, COLUMN_TYPE};
  for (int i = 0; i < kColumnSlots; ++i) EXPECT_EQ(log.reader()->column_parsers[i], expected[i]) << i;
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
    EXPECT_LE(length, kLineBufferSize - 1);
    lines.emplace_back(reader.line);
  }
  EXPECT_FALSE(reader.read_failed);
  stream_close(stream);
  return lines;
}

TEST(ReadLogLine, SplitsAfter199Bytes) {
  std::string long_line(250, 'a');
  long_line[198] = 'b';
  long_line[199] = 'c';
  auto lines = lines_of(long_line + "\nnext\n", 0);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], long_line.substr(0, 199));
  EXPECT_EQ(lines[1], long_line.substr(199) + "\n");
  EXPECT_EQ(lines[2], "next\n");
  // Exactly 199 bytes: the line feed is left for the next line.
  lines = lines_of(std::string(199, 'x') + "\ny\n", 0);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "\n");
  // 198 bytes take their line feed along.
  lines = lines_of(std::string(198, 'x') + "\ny\n", 0);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(198, 'x') + "\n");
  // Carriage returns are dropped but count against the budget.
  lines = lines_of(std::string(100, '\r') + std::string(150, 'z') + "\n", 0);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(99, 'z'));
  EXPECT_EQ(lines[1], std::string(51, 'z') + "\n");
}

TEST(ReadLogLine, ZeroByteAndEnd) {
  auto lines = lines_of(std::string("ab\0cd\nxy", 8), 0);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "ab");
  EXPECT_EQ(lines[1], "xy");
  // A line that starts with a zero byte ends the input.
  lines = lines_of(std::string("ab\n\0cd\nxy\n", 10), 0);
  ASSERT_EQ(lines.size(), 1u);
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

// An inner stream that delivers `good` bytes of text and then fails.
struct FailingStream : Stream {
  std::string text;
  int64_t good = 0;
  int64_t position = 0;
};
int64_t failing_read(Stream* s, void* destination, int64_t count) {
  auto* f = static_cast<FailingStream*>(s);
  if (f->position >= f->good) return -1;
  int64_t take = std::min(count, f->good - f->position);
  memcpy(destination, f->text.data() + f->position, static_cast<size_t>(take));
  f->position += take;
  return take;
}
int64_t failing_tell(Stream* s) { return static_cast<FailingStream*>(s)->position; }
int64_t failing_seek(Stream* s, int64_t offset, int origin) {
  if (origin != SEEK_SET) return -1;
  static_cast<FailingStream*>(s)->position = offset;
  return offset;
}
const StreamOps failing_ops = {failing_read, nullptr, failing_tell, failing_seek, nullptr, nullptr};

TEST(LogReaderNext, ReadErrorIsRemembered) {
  ScopedTimeZone zone("UTC");
  std::string text = make_log("09:30:01.000;0;0;1;0;\n09:30:02.000;0;0;2;0;\n09:30:03.000;0;0;3;0;\n");
  for (int64_t window : {0, 8, 4096}) {
    FailingStream inner;
    inner.ops = &failing_ops;
    inner.text = text;
    inner.good = static_cast<int64_t>(text.size()) - 30;  // fails inside the second record
    Stream* stream = window > 0 ? buffered_reader_new(&inner, false, window) : &inner;
    LogReader* reader = log_reader_open(stream);
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(log_reader_failed(reader));
    CanFrame frame;
    ASSERT_TRUE(log_reader_next(reader, &frame));
    EXPECT_EQ(frame.id, 1u);
    // The cut second record still comes out; then the input has failed.
    while (log_reader_next(reader, &frame)) {
    }
    EXPECT_TRUE(log_reader_failed(reader)) << window;
    log_reader_free(reader);
    if (window > 0) stream_close(stream);
  }
}

// ---------------------------------------------------------------------------
// Records

TEST(LogReaderNext, WorkedTimestampExample) {
  Log log(make_log("09:30:01.123;0;1;18FEF100;8;0102030405060708\n"));
  ASSERT_NE(log.reader(), nullptr);
  auto frames = log.frames();
  ASSERT_EQ(frames.size(), 1u);
  const CanFrame& f = frames[0];
  EXPECT_EQ(f.timestamp, 1705311001.123);
  EXPECT_EQ(f.channel, 1);
  EXPECT_EQ(f.kind, 1);
  EXPECT_EQ(f.id, 0x18FEF100u);
  EXPECT_TRUE(f.extended);
  EXPECT_FALSE(f.transmitted);
  EXPECT_EQ(f.length, 8);
  ASSERT_EQ(f.data.size, 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(f.data.bytes[i], i + 1);
  EXPECT_FALSE(f.fd || f.esi || f.brs || f.remote);
}

TEST(LogReaderNext, CrlfReadsLikeLf) {
  std::string records = "09:30:01.123;0;1;18FEF100;8;0102030405060708\n09:30:02.500;0;8;7FF;2;AABB\n";
  std::string lf = std::string(kHeader) + kTitle + records;
  std::string crlf;
  for (char c : lf) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  Log a(lf), b(crlf);
  ASSERT_NE(a.reader(), nullptr);
  ASSERT_NE(b.reader(), nullptr);
  const LogHeader &ha = a.reader()->header, &hb = b.reader()->header;
  EXPECT_EQ(ha.logger_type, hb.logger_type);
  EXPECT_STREQ(ha.hw_rev, hb.hw_rev);
  EXPECT_STREQ(ha.fw_rev, hb.fw_rev);
  EXPECT_STREQ(ha.logger_id, hb.logger_id);
  EXPECT_EQ(ha.session_no, hb.session_no);
  EXPECT_EQ(ha.split_no, hb.split_no);
  EXPECT_EQ(ha.start_time, hb.start_time);
  EXPECT_STREQ(ha.start_time_text, hb.start_time_text);
  EXPECT_EQ(ha.value_separator, hb.value_separator);
  EXPECT_EQ(ha.time_format, hb.time_format);
  EXPECT_EQ(ha.time_separator, hb.time_separator);
  EXPECT_EQ(ha.time_separator_ms, hb.time_separator_ms);
  EXPECT_EQ(ha.date_separator, hb.date_separator);
  EXPECT_EQ(ha.time_date_separator, hb.time_date_separator);
  EXPECT_EQ(ha.bit_rate, hb.bit_rate);
  EXPECT_EQ(ha.silent_mode, hb.silent_mode);
  EXPECT_EQ(ha.cyclic_mode, hb.cyclic_mode);
  auto fa = a.frames(), fb = b.frames();
  ASSERT_EQ(fa.size(), 2u);
  ASSERT_EQ(fb.size(), 2u);
  for (size_t i = 0; i < 2; ++i) EXPECT_TRUE(same_frame(fa[i], fb[i])) << i;
  EXPECT_EQ(fa[1].timestamp, 1705311002.5);
  EXPECT_EQ(fa[1].id, 0x7FFu);
  EXPECT_TRUE(fa[1].transmitted);
}

TEST(LogReaderNext, ColumnParsers) {
  Log log(make_log(
      "09:30:01.000;0;1;1;1;\n"     // Type 1: extended, received
      "09:30:02.000;0;8;2;1;\n"     // Type 8: standard, sent
      "09:30:03.000;0;2;3;1;\n"     // Type 2: both false
      "09:30:04.000;0;9;0x1F;1;\n"  // 0x prefix
      "09:30:05.000;0;0;zz;300;\n"  // no digit: id stays 0; length modulo 256
      "09:30:06.000;0;0;1;9;0102030405060708090A\n"
      "09:30:07.000;0;0;1;9;123\n"
      "\n"                          // only the first column, empty
      "#09:30:08.000;0;0;5;0;\n"    // a record line like any other
      "09:30:09.000;0;0;6;0;AB",     // no line feed at the end
      "0"));
  ASSERT_NE(log.reader(), nullptr);
  auto f = log.frames();
  // The empty line goes back to 09:30:00 and is skipped (time format 0: no
  // wrap correction).
  ASSERT_EQ(f.size(), 8u);
  EXPECT_TRUE(f[0].extended && !f[0].transmitted);
  EXPECT_TRUE(!f[1].extended && f[1].transmitted);
  EXPECT_TRUE(!f[2].extended && !f[2].transmitted);
  EXPECT_TRUE(f[3].extended && f[3].transmitted);
  EXPECT_EQ(f[3].id, 0x1Fu);
  EXPECT_EQ(f[4].id, 0u);
  EXPECT_EQ(f[4].length, 0);  // the empty Data field behind it counts 0 bytes
  EXPECT_EQ(f[5].length, 8);
  EXPECT_EQ(f[5].data.size, 8);
  EXPECT_EQ(f[5].data.bytes[7], 8);
  EXPECT_EQ(f[6].length, 2);
  EXPECT_EQ(f[6].data.bytes[0], 0x12);
  EXPECT_EQ(f[6].data.bytes[1], 0x03);
  // "#09:30:08": the "#" is part of the time text, and '#' is no digit, so the
  // template reads the hour as 0 and stops: the frame is skipped.
  EXPECT_EQ(f[7].id, 6u);
  EXPECT_EQ(f[7].data.size, 1);
  EXPECT_EQ(f[7].data.bytes[0], 0xAB);
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

TEST(LogReaderNext, EmptyTimestampIsTheStartTime) {
  Log log(make_log(";0;0;1;0;\n"));
  auto f = log.frames();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].timestamp, 1705311000.0);
}

TEST(LogReaderNext, OverlongTimeTextsStayInTheTemplate) {
  // Only the last 17 characters of a time field count.
  Log log(make_log("999999999999999920240115093001123;0;0;1;0;\n"));
  auto f = log.frames();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].timestamp, 1705311001.123);
  // Only the first 17 characters of the start time text count: the start
  // text '20240115T09300123' fills the whole template.
  Log whole(make_log(";0;0;1;0;\n", "0", "20240115T0930012345"));
  ASSERT_NE(whole.reader(), nullptr);
  EXPECT_STREQ(whole.reader()->header.start_time_text, "20240115T0930012345");
  f = whole.frames();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].timestamp, 1705311001.234);
}

// Timestamps of all frames of a log.
std::vector<double> times(const std::string& text) {
  Log log(text);
  EXPECT_NE(log.reader(), nullptr);
  std::vector<double> out;
  if (log.reader() == nullptr) return out;
  for (const CanFrame& f : log.frames()) out.push_back(f.timestamp);
  return out;
}

TEST(LogReaderWrap, MinuteFormat1) {
  auto t = times(make_log("59.900;0;0;1;0;\n00.100;0;0;1;0;\n30.000;0;0;1;0;\n", "1", "20240115T093000"));
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0], 1705311059.9);  // 09:30:59.900
  EXPECT_NEAR(t[1] - t[0], 0.2, 1e-6);
  EXPECT_EQ(t[2], 1705311000.0 + 60 + 30);  // later records keep the minute
}

TEST(LogReaderWrap, HourFormat2) {
  auto t = times(make_log("59:59.000;0;0;1;0;\n00:01.000;0;0;1;0;\n", "2"));
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[1] - t[0], 2.0);
}

TEST(LogReaderWrap, DayFormat3) {
  auto t = times(make_log("23:59:59.999;0;0;1;0;\n00:00:00.010;0;0;1;0;\n", "3"));
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[1], 1705276800.0 + 86400 + 0.010);
  EXPECT_NEAR(t[1] - t[0], 0.011, 1e-6);
}

TEST(LogReaderWrap, MonthFormat4) {
  // Day and time: 31 January 23:59:59.999, then "01" 00:00:00.010, which is 1
  // January until a month of 31 days is added.
  auto t = times(make_log("31T23:59:59.999;0;0;1;0;\n01T00:00:00.010;0;0;1;0;\n", "4", "20240101T000000"));
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0], 1706745599.999);  // 2024-01-31 23:59:59.999
  EXPECT_EQ(t[1], 1706745600.010);  // 2024-02-01 00:00:00.010
}

TEST(LogReaderWrap, YearFormat5) {
  // 2024 is a leap year: the wrap adds 366 days.
  auto t = times(make_log("1231T23:59:59.999;0;0;1;0;\n0101T00:00:00.010;0;0;1;0;\n", "5", "20240101T000000"));
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[1], 1735689600.010);  // 2025-01-01 00:00:00.010
  EXPECT_NEAR(t[1] - t[0], 0.011, 1e-6);
}

TEST(LogReaderWrap, NoCorrectionWithFormat0AndSmallSteps) {
  auto t = times(make_log("30.000;0;0;1;0;\n10.000;0;0;2;0;\n31.000;0;0;3;0;\n", "0"));
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[1] - t[0], 1.0);
  // A step back of one second or less is no wrap, even with format 1.
  t = times(make_log("30.000;0;0;1;0;\n29.000;0;0;2;0;\n31.000;0;0;3;0;\n", "1"));
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[1] - t[0], 1.0);
}

TEST(LogReaderNext, SkipsNonIncreasingTimestampsWithOneWarning) {
  int32_t saved = log_level;
  log_set_level(LOG_WARN);
  Log log(make_log("01.000;0;0;1;0;\n01.000;0;0;2;0;\n00.500;0;0;3;0;\n00.400;0;0;4;0;\n01.250;0;0;5;0;\n", "0"));
  ASSERT_NE(log.reader(), nullptr);
  log_reader_rewind(log.reader());
  StderrCapture capture;
  CanFrame frame;
  std::vector<uint32_t> ids;
  while (log_reader_next(log.reader(), &frame)) ids.push_back(frame.id);
  std::string text = capture.text();
  log_set_level(saved);
  EXPECT_EQ(ids, (std::vector<uint32_t>{1, 2, 5}));
  size_t count = 0;
  for (size_t p = text.find('\n'); p != std::string::npos; p = text.find('\n', p + 1)) ++count;
  EXPECT_EQ(count, 1u) << text;
  EXPECT_NE(text.find(" W Skipping non-increasing timestamp: 1705311001.000000\n"), std::string::npos) << text;

  // Below the warning level nothing is written.
  log_set_level(LOG_ERROR);
  Log quiet(make_log("01.000;0;0;1;0;\n00.000;0;0;2;0;\n02.000;0;0;3;0;\n", "0"));
  StderrCapture capture2;
  EXPECT_EQ(quiet.frames().size(), 2u);
  EXPECT_EQ(capture2.text(), "");
  log_set_level(saved);
}

TEST(LogReaderNext, BufferedAndDirectReadingAgree) {
  std::string records;
  for (int i = 0; i < 500; ++i) {
    char line[80];
    snprintf(line, sizeof line, "09:%02d:%02d.%03d;0;%d;%X;8;%016llX\n", 30 + i / 60 % 30, i % 60, i * 7 % 1000,
             i % 2 ? 1 : 8, 0x100 + i, 0x0102030405060708ull * static_cast<unsigned long long>(i));
    records += line;
  }
  std::string text = std::string(kHeader) + kTitle + records;
  Log direct(text);
  auto expected = direct.frames();
  ASSERT_GT(expected.size(), 400u);
  for (int64_t window : {int64_t{1}, int64_t{64}, int64_t{4096}, static_cast<int64_t>(text.size())}) {
    Log buffered(text, window);
    auto got = buffered.frames();
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) ASSERT_TRUE(same_frame(got[i], expected[i])) << i;
  }
}

}  // namespace
