// Equivalence of the fast paths with a plain reading of the formats.
//
// Generated logs of every record layout are converted by the trcforge binary
// with every buffer size class and both trace versions; all outputs of one
// log and version must be byte-identical, and identical to the trace that a
// reference converter in this file writes. The reference reads the record
// lines one byte at a time, splits them with strchr, converts the fields with
// sscanf ("%x", "%hhu", "%2hhx", "%4u%2u%2u%2u%2u%2u%3u") and timegm, and
// formats every line with stb_sprintf (the reference line builders), so it
// shares none of the hand-written conversions with the program. A second
// case feeds both random, partly malformed record fields.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "reader/log_reader.h"
#include "stream/stream.h"
#include "tests/support/test_support.h"
#include "formats/trace_lines.h"

namespace {

using test_support::read_file;
using test_support::run_program;
using test_support::TempFolder;

constexpr int kLayouts = 9;  // gen_log --list-layouts

// ---------------------------------------------------------------------------
// Reference converter

// The header and column layout as the reader parses them (header parsing is
// no fast path), and where the records begin.
struct Layout {
  LogHeader header{};
  ColumnKind columns[kColumnSlots]{};
  uint32_t data_start = 0;
  bool ok = false;
};

Layout read_layout(const std::string& text) {
  Layout layout;
  Stream* stream = memory_stream_new(text.data(), static_cast<int64_t>(text.size()));
  LogReader* reader = log_reader_open(stream);
  if (reader != nullptr) {
    layout.header = reader->header;
    memcpy(layout.columns, reader->column_kinds, sizeof layout.columns);
    layout.data_start = reader->data_start;
    layout.ok = true;
  }
  log_reader_free(reader);
  stream_close(stream);
  return layout;
}

// One record line, its line feed kept, carriage returns dropped. False when
// no line is left (end of input or a first byte of value 0). *malformed tells
// whether a logger could have written it: at most 199 bytes other than the
// line feed (carriage returns counted), no control byte but tabs, no byte
// from 0x80 up, no zero byte.
bool reference_line(const std::string& text, size_t* at, std::string* line, bool* malformed) {
  line->clear();
  const size_t end = text.find('\n', *at);
  const std::string raw = text.substr(*at, end == std::string::npos ? std::string::npos : end - *at);
  *at = end == std::string::npos ? text.size() : end + 1;
  if (raw.empty() && end == std::string::npos) return false;
  if (!raw.empty() && raw[0] == '\0') return false;
  *malformed = raw.size() > 199;
  for (char c : raw) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\r') continue;
    if ((byte < 0x20 && c != '\t') || byte >= 0x80) *malformed = true;
    line->push_back(c);
  }
  if (end != std::string::npos) line->push_back('\n');
  return true;
}

struct ReferenceReader {
  Layout layout;
  uint32_t wrap_offset = 0;
  double last_parsed = 0.0;
  double last_accepted = 0.0;

  bool dropped(char c) const {
    const LogHeader& h = layout.header;
    for (char s : {h.value_separator, h.time_separator, h.time_separator_ms, h.date_separator,
                   h.time_date_separator}) {
      if (s != 0 && c == s) return true;
    }
    return c == 'T';
  }

  // The timestamp of the field; false when the field, its separators and "T"
  // removed, or the template it is written over, holds anything but digits.
  bool timestamp(const std::string& field, double* result) {
    std::string f, h;
    for (char c : field) {
      if (!dropped(c)) f.push_back(c);
    }
    for (const char* p = layout.header.start_time_text; *p != 0; ++p) {
      if (!dropped(*p)) h.push_back(*p);
    }
    std::string digits = "19700101000000000";
    for (size_t i = 0; i < h.size() && i < 17; ++i) digits[i] = h[i];
    for (size_t i = 0; i < f.size() && i < 17; ++i) digits[16 - i] = f[f.size() - 1 - i];
    if ((f + digits).find_first_not_of("0123456789") != std::string::npos) return false;
    unsigned n[7] = {0, 0, 0, 0, 0, 0, 0};
    sscanf(digits.c_str(), "%4u%2u%2u%2u%2u%2u%3u", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5], &n[6]);
    double t = static_cast<double>(test_support::library_utc_seconds(n));
    double ts = static_cast<double>(wrap_offset) + std::fma(static_cast<double>(n[6]), 0.001, t);
    if (ts < last_parsed) {
      uint32_t period = 0;
      switch (layout.header.time_format) {
        case 1: period = 60; break;
        case 2: period = 3600; break;
        case 3: period = 86400; break;
        case 4:
        case 5: {
          time_t s = static_cast<time_t>(ts);
          struct tm b = {};
          gmtime_r(&s, &b);
          if (layout.header.time_format == 4) {
            b.tm_mon += 1;
          } else {
            b.tm_year += 1;
          }
          period = static_cast<uint32_t>(timegm(&b) - s);
          break;
        }
        default: break;
      }
      double p = static_cast<double>(period);
      if (period != 0 && (ts - last_parsed) + p < p - 1) {
        wrap_offset += period;
        ts += p;
      }
    }
    last_parsed = ts;
    *result = ts;
    return true;
  }

  // Parses one field into frame; false for a field that makes the line malformed.
  bool field(int column, const std::string& text, CanFrame* frame) {
    switch (layout.columns[column]) {
      case COLUMN_TIMESTAMP:
        return timestamp(text, &frame->timestamp);
      case COLUMN_TYPE:
        if (text.empty()) break;
        if (text[0] == '0' || text[0] == '1' || text[0] == '8' || text[0] == '9') {
          frame->extended = text[0] == '1' || text[0] == '9';
          frame->transmitted = text[0] == '8' || text[0] == '9';
        }
        break;
      case COLUMN_ID: {
        unsigned id;
        if (sscanf(text.c_str(), "%x", &id) == 1) frame->id = id;
        break;
      }
      case COLUMN_LENGTH: {
        unsigned char length;
        if (sscanf(text.c_str(), "%hhu", &length) == 1) frame->length = length;
        break;
      }
      case COLUMN_DATA: {
        uint8_t count = 0;
        for (size_t i = 0; i < 8 && 2 * i < text.size(); ++i) {
          unsigned char byte = 0;
          sscanf(text.c_str() + 2 * i, "%2hhx", &byte);
          frame->data.bytes[i] = byte;
          ++count;
        }
        frame->data.size = count;
        frame->length = count;
        break;
      }
      default:
        break;
    }
    return true;
  }

  // The next accepted frame of text from *at; false at the end.
  bool next(const std::string& text, size_t* at, CanFrame* frame) {
    std::string line;
    bool malformed = false;
    while (reference_line(text, at, &line, &malformed)) {
      if (malformed) continue;
      *frame = CanFrame{};
      frame->channel = 1;
      std::string body = line;
      if (!body.empty() && body.back() == '\n') body.pop_back();
      const char separator = layout.header.value_separator;
      size_t begin = 0;
      for (int column = 0; column < kColumnSlots; ++column) {
        const char* found = separator != 0 ? strchr(body.c_str() + begin, separator) : nullptr;
        if (found == nullptr) {
          malformed = !field(column, body.substr(begin), frame);
          break;
        }
        size_t end = static_cast<size_t>(found - body.c_str());
        malformed = !field(column, body.substr(begin, end - begin), frame);
        if (malformed) break;
        begin = end + 1;
      }
      if (malformed) continue;
      frame->kind = 1;
      if (frame->timestamp < last_accepted) continue;
      last_accepted = frame->timestamp;
      return true;
    }
    return false;
  }
};

// The trace of version (1 or 2) for the log text; empty when the log yields
// no frame (the program then leaves no file).
std::string reference_trace(const std::string& text, int version) {
  ReferenceReader reader;
  reader.layout = read_layout(text);
  if (!reader.layout.ok) return "";
  size_t at = reader.layout.data_start;
  std::string trace;
  double start = 0.0;
  int64_t number = 1;
  CanFrame frame;
  while (reader.next(text, &at, &frame)) {
    if (number == 1 && trace.empty()) {
      start = frame.timestamp;
      trace = version == 1 ? ";$FILEVERSION=1.1\n" : ";$FILEVERSION=2.1\n";
      trace += ";$STARTTIME=";
      trace_append_start_value(&trace, start);
      if (version == 2) trace += ";$COLUMNS=N,O,T,B,I,d,L,D\n";
    }
    double offset = (frame.timestamp - start) * 1000.0;
    if (version == 1) {
      trace_line_v1_append_reference(&trace, number++, offset, frame);
    } else {
      trace_line_v2_append_reference(&trace, number++, offset, frame);
    }
  }
  return trace;
}

// ---------------------------------------------------------------------------
// Runs of the program

// The trace that trcforge writes for the log at input with the options;
// empty when it leaves none. Expects a successful run.
std::string program_trace(const TempFolder& folder, const std::string& input, const std::vector<std::string>& options) {
  const std::string out = folder.at("out");
  test_support::run_program({"rm", "-rf", out});
  folder.make_folders("out");
  std::vector<std::string> argv = {TRCFORGE_BINARY};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {"-O", out, input});
  test_support::RunResult result = run_program(argv);
  EXPECT_EQ(result.status, 0) << result.err;
  return read_file(out + "/log.trc");
}

// The buffer size classes: none, windows of 8 bytes (1 and 8), a page, and
// the default window.
const std::vector<std::vector<std::string>> kBufferClasses = {
    {"-b", "0"}, {"-b", "1"}, {"-b", "8"}, {"-b", "4096"}, {}};

// Converts the log at input in every buffer class and both versions; each
// output must equal the reference trace of its version.
void expect_all_equal_reference(const TempFolder& folder, const std::string& input, const std::string& what) {
  const std::string text = read_file(input);
  for (int version : {1, 2}) {
    const std::string expected = reference_trace(text, version);
    ASSERT_FALSE(expected.empty()) << what;
    for (const auto& buffer : kBufferClasses) {
      std::vector<std::string> options = buffer;
      options.insert(options.end(), {"-f", version == 1 ? "version1" : "version2"});
      std::string got = program_trace(folder, input, options);
      std::string where = what + " version " + std::to_string(version) + " buffer " +
                          (buffer.empty() ? "default" : buffer[1]);
      ASSERT_EQ(got.size(), expected.size()) << where;
      // The first differing line, not the whole trace, on failure.
      if (got != expected) {
        size_t at = 0;
        while (got[at] == expected[at]) ++at;
        size_t line_start = expected.rfind('\n', at) + 1;
        FAIL() << where << ": first difference in line\n  expected: "
               << expected.substr(line_start, expected.find('\n', at) - line_start)
               << "\n  got:      " << got.substr(line_start, got.find('\n', at) - line_start);
      }
    }
  }
}

TEST(EquivalenceTest, EveryLayoutBufferClassAndVersionMatchesTheReference) {
  TempFolder folder;
  for (int layout = 0; layout < kLayouts; ++layout) {
    const std::string input = folder.at("log.txt");
    test_support::RunResult made = run_program(
        {GEN_LOG_BINARY, "--records", "4000", "--layout", std::to_string(layout), "--seed", "23", "--out", input});
    ASSERT_EQ(made.status, 0) << made.err;
    expect_all_equal_reference(folder, input, "layout " + std::to_string(layout));
    if (HasFatalFailure()) return;
  }
}

// ---------------------------------------------------------------------------
// Random record fields

// A timestamp field that mostly continues the one before (the reader reuses
// its digits) and sometimes breaks the pattern: other lengths, letters,
// separators in odd places, a "T", empty fields, long fields.
std::string random_time(std::mt19937_64& random, int64_t* ms) {
  *ms += static_cast<int64_t>(random() % 1500);
  const int64_t t = *ms;
  char text[64];
  switch (random() % 18) {
    case 0:
      return "";
    case 1:
      snprintf(text, sizeof text, "%02d:%02d.%03d", static_cast<int>(t / 60000 % 60), static_cast<int>(t / 1000 % 60),
               static_cast<int>(t % 1000));
      return text;
    case 2:
      snprintf(text, sizeof text, "%02d:%02d:%02d.%02d", static_cast<int>(t / 3600000 % 24),
               static_cast<int>(t / 60000 % 60), static_cast<int>(t / 1000 % 60), static_cast<int>(t % 100));
      return text;
    case 3: {
      std::string s = "12:3x:45.678";
      s[random() % s.size()] = "0123456789:.T xA"[random() % 16];
      return s;
    }
    case 4:
      snprintf(text, sizeof text, "2024/0%d/%02d 23:59:%02d.%03d", static_cast<int>(random() % 9) + 1,
               static_cast<int>(random() % 40), static_cast<int>(t / 1000 % 60), static_cast<int>(t % 1000));
      return text;
    case 5:
      return std::string(20 + random() % 10, static_cast<char>('0' + random() % 10));
    case 6:
    case 7:
    case 8: {
      // All seventeen digits, no separator: the day changes every few
      // seconds, the month is now and then out of range.
      snprintf(text, sizeof text, "2024%02d%02d%02d%02d%02d%03d", random() % 40 == 0 ? 13 : 1,
               static_cast<int>(1 + t / 5000 % 28), static_cast<int>(t / 3600000 % 24),
               static_cast<int>(t / 60000 % 60), static_cast<int>(t / 1000 % 60), static_cast<int>(t % 1000));
      return text;
    }
    default:
      snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(t / 3600000 % 24),
               static_cast<int>(t / 60000 % 60), static_cast<int>(t / 1000 % 60), static_cast<int>(t % 1000));
      return text;
  }
}

// A hexadecimal field of up to max_digits digits, now and then malformed.
std::string random_hex(std::mt19937_64& random, int max_digits) {
  static const char kDigits[] = "0123456789ABCDEFabcdef";
  static const char kOdd[] = "xX+- gG\t:0";
  std::string s;
  int digits = static_cast<int>(random() % static_cast<uint64_t>(max_digits + 1));
  for (int i = 0; i < digits; ++i) s.push_back(kDigits[random() % 22]);
  if (random() % 6 == 0) {
    if (s.empty()) s = "0";
    s.insert(random() % (s.size() + 1), 1, kOdd[random() % 10]);
  }
  if (random() % 20 == 0) s = "0x" + s;
  return s;
}

// Column orders of the random logs: the two that the reader splits with code
// of their own, and one that takes its general path.
const char* const kRandomTitles[] = {"Timestamp;Lost;Type;ID;Length;Data", "Timestamp;Type;ID;Length;Data",
                                     "Timestamp;Type;ID;Data;Length"};

TEST(EquivalenceTest, RandomAndMalformedFieldsMatchTheReference) {
  TempFolder folder;
  std::mt19937_64 random(29);
  for (int round = 0; round < 6; ++round) {
    const std::string title = kRandomTitles[round % 3];
    std::string text =
        "# Logger type: VorlatBeta\n# Logger ID: 0A1B2C3D\n# Session No.: 12\n# Split No.: 3\n"
        "# Time: 20240115T235500\n# Value separator: \";\"\n";
    text += "# Time format: " + std::to_string(round % 4) + "\n";
    text += "# Time separator: \":\"\n# Time separator ms: \".\"\n# Date separator: \"/\"\n"
            "# Time and date separator: \" \"\n";
    text += title + "\n";
    int64_t ms = 0;
    for (int i = 0; i < 3000; ++i) {
      std::string time = random_time(random, &ms);
      std::string type(1, "01890X"[random() % 6]);
      std::string id = random_hex(random, random() % 2 ? 3 : 9);
      std::string data = random_hex(random, 18);
      std::string length = std::to_string(random() % (random() % 10 ? 9 : 400));
      if (random() % 30 == 0) length = " 7";
      std::vector<std::string> fields;
      switch (round % 3) {
        case 0:
          fields = {time, "0", type, id, length, data};
          break;
        case 1:
          fields = {time, type, id, length, data};
          break;
        default:
          fields = {time, type, id, data, length};
          break;
      }
      // Now and then fields are missing, extra fields follow, or a long
      // field makes the line longer than 64 bytes.
      switch (random() % 24) {
        case 0:
          fields.resize(random() % fields.size());
          break;
        case 1:
          for (int extra = 1 + static_cast<int>(random() % 3); extra > 0; --extra) fields.push_back(random_hex(random, 4));
          break;
        case 2:
          fields[random() % fields.size()] += std::string(30 + random() % 40, 'A');
          break;
        default:
          break;
      }
      std::string line;
      for (size_t f = 0; f < fields.size(); ++f) line += (f == 0 ? "" : ";") + fields[f];
      text += line + (random() % 8 ? "\n" : "\r\n");
    }
    const std::string input = folder.at("log.txt");
    ASSERT_TRUE(test_support::write_file(input, text));
    expect_all_equal_reference(folder, input, "random round " + std::to_string(round));
    if (HasFatalFailure()) return;
  }
}

}  // namespace
