// Equivalence of the fast paths with a plain reading of the formats.
//
// Generated logs of every record layout are converted by the trcforge binary
// with every buffer size class and both trace versions; every output must be
// identical to the trace that a reference converter in this file writes. The
// reference reads the record lines one byte at a time, splits them with
// strchr, converts the fields with sscanf ("%x", "%hhu", "%2hhx",
// "%4u%2u%2u%2u%2u%2u%3u") and timegm, and formats every line with
// stb_sprintf (the reference line builders), so it shares none of the
// hand-written conversions with the program. A second case feeds both
// random, partly malformed record fields.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "formats/trace_lines.h"
#include "reader/log_reader.h"
#include "stream/stream.h"
#include "tests/support/test_support.h"

namespace {

using test_support::read_file;
using test_support::run_program;

// ---------------------------------------------------------------------------
// Reference converter

// The header and columns as the reader parses them (no fast path there).
struct ReferenceReader {
  LogHeader header{};
  ColumnKind columns[kColumnSlots]{};
  uint32_t wrap_offset = 0;
  double last_parsed = 0.0;
  double last_accepted = 0.0;

  bool dropped(char c) const {
    for (char s : {header.value_separator, header.time_separator, header.time_separator_ms, header.date_separator,
                   header.time_date_separator, 'T'}) {
      if (s != 0 && c == s) return true;
    }
    return false;
  }

  // The timestamp of the field; false when the field, its separators and "T"
  // removed, or the template it is written over, holds anything but digits.
  bool timestamp(const std::string& field, double* result) {
    std::string f, start, digits = "19700101000000000";
    for (char c : field) {
      if (!dropped(c)) f.push_back(c);
    }
    for (const char* p = header.start_time_text; *p != 0; ++p) {
      if (!dropped(*p)) start.push_back(*p);
    }
    for (size_t i = 0; i < start.size() && i < 17; ++i) digits[i] = start[i];
    for (size_t i = 0; i < f.size() && i < 17; ++i) digits[16 - i] = f[f.size() - 1 - i];
    if ((f + digits).find_first_not_of("0123456789") != std::string::npos) return false;
    unsigned n[7] = {};
    sscanf(digits.c_str(), "%4u%2u%2u%2u%2u%2u%3u", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5], &n[6]);
    const double t = static_cast<double>(test_support::library_utc_seconds(n));
    double ts = static_cast<double>(wrap_offset) + std::fma(static_cast<double>(n[6]), 0.001, t);
    if (ts < last_parsed && header.time_format >= 1 && header.time_format <= 5) {
      uint32_t period = header.time_format == 1 ? 60 : header.time_format == 2 ? 3600 : 86400;
      if (header.time_format >= 4) {
        const time_t s = static_cast<time_t>(ts);
        struct tm b = {};
        gmtime_r(&s, &b);
        (header.time_format == 4 ? b.tm_mon : b.tm_year) += 1;
        period = static_cast<uint32_t>(timegm(&b) - s);
      }
      const double p = static_cast<double>(period);
      if ((ts - last_parsed) + p < p - 1) {
        wrap_offset += period;
        ts += p;
      }
    }
    last_parsed = *result = ts;
    return true;
  }

  // Parses one field into frame; false for a field that makes the line malformed.
  bool field(int column, const std::string& text, CanFrame* frame) {
    unsigned id;
    switch (columns[column]) {
      case COLUMN_TIMESTAMP: return timestamp(text, &frame->timestamp);
      case COLUMN_ID: frame->id = sscanf(text.c_str(), "%x", &id) == 1 ? id : frame->id; break;
      case COLUMN_LENGTH: sscanf(text.c_str(), "%hhu", &frame->length); break;
      case COLUMN_TYPE:
        if (!text.empty() && strchr("0189", text[0]) != nullptr) {
          frame->extended = text[0] == '1' || text[0] == '9';
          frame->transmitted = text[0] == '8' || text[0] == '9';
        }
        break;
      case COLUMN_DATA:
        for (frame->size = 0; frame->size < 8 && 2u * frame->size < text.size(); ++frame->size) {
          frame->data[frame->size] = 0;
          sscanf(text.c_str() + 2 * frame->size, "%2hhx", &frame->data[frame->size]);
        }
        frame->length = frame->size;
        break;
      default: break;
    }
    return true;
  }

  // One record line of text from *at, carriage returns dropped; false when
  // none is left (the end, or a first byte of value 0). *malformed tells
  // whether a logger could have written it: at most 199 bytes other than
  // the line feed (or carriage returns only), no control byte but tabs, no
  // DEL, no byte from 0x80 up.
  static bool next_line(const std::string& text, size_t* at, std::string* line, bool* malformed) {
    const size_t end = text.find('\n', *at);
    const std::string raw = text.substr(*at, end == std::string::npos ? std::string::npos : end - *at);
    *at = end == std::string::npos ? text.size() : end + 1;
    if ((raw.empty() && end == std::string::npos) || (!raw.empty() && raw[0] == '\0')) return false;
    *malformed = raw.size() > 199 && raw.find_first_not_of('\r') != std::string::npos;
    line->clear();
    for (char c : raw) {
      const unsigned char byte = static_cast<unsigned char>(c);
      if (c == '\r') continue;
      *malformed |= (byte < 0x20 && c != '\t') || byte >= 0x7F;
      line->push_back(c);
    }
    return true;
  }

  // The next accepted frame of text from *at; false at the end.
  bool next(const std::string& text, size_t* at, CanFrame* frame) {
    std::string line;
    bool malformed = false;
    while (next_line(text, at, &line, &malformed)) {
      if (malformed) continue;
      *frame = CanFrame{};
      const char separator = header.value_separator;
      size_t begin = 0;
      for (int column = 0; column < kColumnSlots && !malformed; ++column) {
        const char* found = separator != 0 ? strchr(line.c_str() + begin, separator) : nullptr;
        const size_t end = found == nullptr ? line.size() : static_cast<size_t>(found - line.c_str());
        malformed = !field(column, line.substr(begin, end - begin), frame);
        if (found == nullptr) break;
        begin = end + 1;
      }
      if (malformed || frame->timestamp < last_accepted) continue;
      last_accepted = frame->timestamp;
      return true;
    }
    return false;
  }
};

// The trace of version (1 or 2) for the log text; empty when the log is no
// log or yields no frame (the program then leaves no file).
std::string reference_trace(const std::string& text, int version) {
  ReferenceReader reader;
  Stream* stream = memory_stream_new(text.data(), static_cast<int64_t>(text.size()));
  std::unique_ptr<LogReader> log = LogReader::open(stream, "log.txt");
  size_t at = text.size();
  if (log != nullptr) {
    reader.header = log->header();
    memcpy(reader.columns, log->columns(), sizeof reader.columns);
    at = static_cast<size_t>(log->data_start());
    // The start time (an empty field) is the time before the first record.
    reader.last_parsed = -INFINITY;
    double start_time;
    if (!reader.timestamp("", &start_time)) reader.last_parsed = 0.0;
  }
  log.reset();
  stream_close(stream);
  std::string trace;
  double start = 0.0;
  CanFrame frame;
  for (int64_t number = 1; reader.next(text, &at, &frame); ++number) {
    if (number == 1) {
      start = frame.timestamp;
      trace = version == 1 ? ";$FILEVERSION=1.1\n;$STARTTIME=" : ";$FILEVERSION=2.1\n;$STARTTIME=";
      trace_append_start_value(&trace, start);
      if (version == 2) trace += ";$COLUMNS=N,O,T,B,I,d,L,D\n";
    }
    const double offset = (frame.timestamp - start) * 1000.0;
    (version == 1 ? trace_line_v1_append_reference : trace_line_v2_append_reference)(&trace, number, offset, frame);
  }
  return trace;
}

// ---------------------------------------------------------------------------
// Runs of the program

// Converts the log at input (a ".txt" file) in every buffer size class (none,
// windows of 8 bytes, a page, the default) and both versions; each trace
// must equal the reference trace of its version.
void expect_all_equal_reference(const std::string& input, const std::string& what) {
  const std::string text = read_file(input);
  const std::string output = input.substr(0, input.size() - 3) + "trc";
  for (int version : {1, 2}) {
    const std::string expected = reference_trace(text, version);
    ASSERT_FALSE(expected.empty()) << what;
    for (const char* buffer : {"0", "1", "8", "4096", "-1"}) {
      std::string err;
      EXPECT_EQ(run_program(std::string(TRCFORGE_BINARY " -b ") + buffer + " -f version" + std::to_string(version) + " " + input, &err), 0)
          << err;
      const std::string got = read_file(output);
      std::remove(output.c_str());
      if (got == expected) continue;
      // The first differing line, not the whole trace.
      size_t at = 0;
      while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
      const size_t line = expected.rfind('\n', at) + 1;
      FAIL() << what << " version " << version << " buffer " << buffer << ": first difference in line\n  expected: "
             << expected.substr(line, expected.find('\n', at) - line) << "\n  got:      "
             << got.substr(line, got.find('\n', at) - line);
    }
  }
}

TEST(EquivalenceTest, EveryLayoutBufferClassAndVersionMatchesTheReference) {
  test_support::TempFolder folder;
  for (int layout = 0; layout < 9; ++layout) {  // gen_log --list-layouts
    std::string err;
    ASSERT_EQ(run_program(GEN_LOG_BINARY " --records 4000 --seed 23 --layout " + std::to_string(layout) + " --out " + folder.at("log.txt"), &err), 0)
        << err;
    expect_all_equal_reference(folder.at("log.txt"), "layout " + std::to_string(layout));
    if (HasFatalFailure()) return;
  }
}

// ---------------------------------------------------------------------------
// Random record fields

// A timestamp field that mostly continues the one before (the reader reuses
// its digits) and sometimes breaks the pattern: other lengths, letters,
// separators in odd places, a "T", empty fields, long fields.
std::string random_time(std::mt19937_64& random, int64_t* ms) {
  const int64_t t = *ms += static_cast<int64_t>(random() % 1500);
  const int h = static_cast<int>(t / 3600000 % 24), m = static_cast<int>(t / 60000 % 60);
  const int s = static_cast<int>(t / 1000 % 60), f = static_cast<int>(t % 1000);
  char text[64];
  switch (random() % 18) {
    case 0: return "";
    case 1: snprintf(text, sizeof text, "%02d:%02d.%03d", m, s, f); break;
    case 2: snprintf(text, sizeof text, "%02d:%02d:%02d.%02d", h, m, s, f % 100); break;
    case 3: {
      std::string odd = "12:3x:45.678";
      odd[random() % odd.size()] = "0123456789:.T xA"[random() % 16];
      return odd;
    }
    case 4:
      snprintf(text, sizeof text, "2024/0%d/%02d 23:59:%02d.%03d", static_cast<int>(random() % 9) + 1,
               static_cast<int>(random() % 40), s, f);
      break;
    case 5: return std::string(20 + random() % 10, static_cast<char>('0' + random() % 10));
    case 6: case 7: case 8:  // all 17 digits: the day changes every few seconds, the month is now and then 13
      snprintf(text, sizeof text, "2024%02d%02d%02d%02d%02d%03d", random() % 40 == 0 ? 13 : 1,
               static_cast<int>(1 + t / 5000 % 28), h, m, s, f);
      break;
    default: snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", h, m, s, f);
  }
  return text;
}

// A hexadecimal field of up to max_digits digits, now and then malformed.
std::string random_hex(std::mt19937_64& random, int max_digits) {
  std::string s;
  for (int i = static_cast<int>(random() % static_cast<uint64_t>(max_digits + 1)); i > 0; --i) {
    s.push_back("0123456789ABCDEFabcdef"[random() % 22]);
  }
  if (random() % 6 == 0) s.insert(random() % (s.size() + 1), 1, "xX+- gG\t:0\x7F"[random() % 11]);
  return random() % 20 == 0 ? "0x" + s : s;
}

TEST(EquivalenceTest, RandomAndMalformedFieldsMatchTheReference) {
  test_support::TempFolder folder;
  std::mt19937_64 random(29);
  // Column orders: the two that the reader splits with code of their own,
  // and one that takes its general path.
  const char* const titles[] = {"Timestamp;Lost;Type;ID;Length;Data", "Timestamp;Type;ID;Length;Data",
                                "Timestamp;Type;ID;Data;Length"};
  for (int round = 0; round < 6; ++round) {
    std::string text = "# Logger ID: 0A1B2C3D\n# Session No.: 12\n# Split No.: 3\n# Time: 20240115T235500\n"
                       "# Value separator: \";\"\n# Time format: " + std::to_string(round % 4) +
                       "\n# Time separator: \":\"\n# Time separator ms: \".\"\n# Date separator: \"/\"\n"
                       "# Time and date separator: \" \"\n" + titles[round % 3] + "\n";
    int64_t ms = 0;
    for (int i = 0; i < 3000; ++i) {
      const std::string time = random_time(random, &ms);
      const std::string type(1, "01890X"[random() % 6]);
      const std::string id = random_hex(random, random() % 2 ? 3 : 9);
      const std::string data = random_hex(random, 18);
      const std::string length = random() % 30 == 0 ? " 7" : std::to_string(random() % (random() % 10 ? 9 : 400));
      std::vector<std::string> fields = round % 3 == 0   ? std::vector<std::string>{time, "0", type, id, length, data}
                                        : round % 3 == 1 ? std::vector<std::string>{time, type, id, length, data}
                                                         : std::vector<std::string>{time, type, id, data, length};
      // Now and then fields are missing, extra fields follow, or a long
      // field makes the line longer than 64 bytes.
      const uint64_t change = random() % 24;
      if (change == 0) fields.resize(random() % fields.size());
      for (int extra = change == 1 ? 1 + static_cast<int>(random() % 3) : 0; extra > 0; --extra) {
        fields.push_back(random_hex(random, 4));
      }
      if (change == 2) fields[random() % fields.size()] += std::string(30 + random() % 40, 'A');
      for (size_t f = 0; f < fields.size(); ++f) text += (f == 0 ? "" : ";") + fields[f];
      text += random() % 8 ? "\n" : "\r\n";
    }
    ASSERT_TRUE(folder.write("log.txt", text));
    expect_all_equal_reference(folder.at("log.txt"), "random round " + std::to_string(round));
    if (HasFatalFailure()) return;
  }
}

}  // namespace
