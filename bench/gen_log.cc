// gen_log: writes a deterministic, realistic text log of a given size for the
// throughput benchmark and for the equivalence tests of the fast paths.
//
//   gen_log --size N --layout K --seed S --out F
//   gen_log --records N --layout K --seed S --out F
//   gen_log --list-layouts
//
// With --times T it also writes one line per record line to T: the line's
// time in microseconds since 1970 UTC, then "R", the identifier and the data
// in hexadecimal for a regular record, or "?" for an edge-case line of the
// irregular layout (whatever a reader makes of it; its time is the one the
// line states, for an empty line the header's).
//
// N takes the suffixes K, M and G (binary: 1K = 1024 bytes). With --size the
// file holds as many whole record lines as fit into N bytes after the header;
// with --records it holds exactly N record lines. The same size, layout and
// seed always give the same bytes, on any machine: the generator draws from
// its own pseudo-random sequence and formats every number by hand.
//
// On success it prints one line "bytes=<n> records=<m> layout=<k> seed=<s>"
// to standard output and exits 0; on a bad argument or a failed write it
// prints a message to standard error and exits 2.
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast, and the same sequence everywhere.
struct Random {
  uint64_t state;
  // Returns the next 64 pseudo-random bits.
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Returns a value in [0, bound); bound must be positive.
  uint32_t below(uint32_t bound) {
    return static_cast<uint32_t>(((next() >> 32) * bound) >> 32);
  }
  // Returns true with the given probability in parts per thousand.
  bool chance(uint32_t per_mille) { return below(1000) < per_mille; }
};

// How the record lines of one layout look.
enum class TimeStyle {
  kTimeOfDay,   // "23:59:59.999", time format 3 (the day wraps)
  kMinuteSecs,  // "MM:SS.mmm", time format 2 (the hour wraps)
  kSeconds,     // "SS.mmm", time format 1 (the minute wraps)
  kDateTime,    // "2024/01/15 23:59:59.999", time format 0 (never wraps)
};

struct Layout {
  const char* name;
  const char* description;
  char separator;        // value separator
  bool crlf;             // lines end in CR LF
  TimeStyle time_style;
  const char* columns;   // the column-title line, separators as ';'
  bool irregular;        // sprinkle malformed and edge-case lines
};

// Column names are written with ';' here and converted to the layout's
// separator on output.
const Layout kLayouts[] = {
    {"default", "Timestamp;Lost;Type;ID;Length;Data, LF, time of day, time format 3",
     ';', false, TimeStyle::kTimeOfDay, "Timestamp;Lost;Type;ID;Length;Data", false},
    {"no-lost", "Timestamp;Type;ID;Length;Data, LF, time of day, time format 3",
     ';', false, TimeStyle::kTimeOfDay, "Timestamp;Type;ID;Length;Data", false},
    {"data-first", "Timestamp;Lost;Type;ID;Data;Length (Data before Length)",
     ';', false, TimeStyle::kTimeOfDay, "Timestamp;Lost;Type;ID;Data;Length", false},
    {"extra-columns",
     "Timestamp;Lost;Bus;Type;ID;Length;Data;Comment (unknown columns, 8 columns)",
     ';', false, TimeStyle::kTimeOfDay, "Timestamp;Lost;Bus;Type;ID;Length;Data;Comment",
     false},
    {"crlf", "the default layout with CR LF line ends", ';', true, TimeStyle::kTimeOfDay,
     "Timestamp;Lost;Type;ID;Length;Data", false},
    {"date-time", "comma separator, date and time stamps, time format 0", ',', false,
     TimeStyle::kDateTime, "Timestamp;Lost;Type;ID;Length;Data", false},
    {"minute-wrap", "seconds-only stamps, time format 1 (a wrap every minute)", ';', false,
     TimeStyle::kSeconds, "Timestamp;Type;ID;Length;Data", false},
    {"hour-wrap", "minute and second stamps, time format 2 (a wrap every hour)", ';', false,
     TimeStyle::kMinuteSecs, "Timestamp;Lost;Type;ID;Length;Data", false},
    {"irregular",
     "the default layout with malformed and edge-case lines (long lines, stray CR, "
     "short lines, bad fields, steps back, '#' records, no final LF)",
     ';', false, TimeStyle::kTimeOfDay, "Timestamp;Lost;Type;ID;Length;Data", true},
};
constexpr int kLayoutCount = static_cast<int>(sizeof(kLayouts) / sizeof(kLayouts[0]));

// The start of the log: 15 January 2024, 23:55:00 (the header's "Time: ").
constexpr int64_t kStartDayNumber = 19737;  // days from 1970-01-01 to 2024-01-15
constexpr int64_t kStartMsOfDay = (23 * 3600 + 55 * 60) * 1000ll;

// One recurring message on the bus.
struct Signal {
  uint32_t id;
  bool extended;
  bool transmitted;
  uint8_t length;
};

// Output buffer flushed to the file in large blocks.
class Output {
 public:
  explicit Output(FILE* file) : file_(file) { buffer_.resize(kCapacity); }
  // Returns false if an earlier write failed.
  bool ok() const { return ok_; }
  uint64_t written() const { return written_ + used_; }
  void put(char c) {
    if (used_ == kCapacity) flush();
    buffer_[used_++] = c;
  }
  void put(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) put(text[i]);
  }
  void put(const std::string& text) { put(text.data(), text.size()); }
  // Writes out what is buffered; returns false on a failed write.
  bool flush() {
    if (used_ > 0 && std::fwrite(buffer_.data(), 1, used_, file_) != used_) ok_ = false;
    written_ += used_;
    used_ = 0;
    return ok_;
  }

 private:
  static constexpr size_t kCapacity = 1 << 20;
  FILE* file_;
  std::vector<char> buffer_;
  size_t used_ = 0;
  uint64_t written_ = 0;
  bool ok_ = true;
};

const char kHexUpper[] = "0123456789ABCDEF";
const char kHexLower[] = "0123456789abcdef";

// Appends value as exactly `digits` decimal digits with leading zeros.
void append_decimal(std::string& line, uint64_t value, int digits) {
  char text[24];
  for (int i = digits - 1; i >= 0; --i) {
    text[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  line.append(text, static_cast<size_t>(digits));
}

// Appends value as exactly `digits` hexadecimal digits.
void append_hex(std::string& line, uint32_t value, int digits, bool lower = false) {
  const char* table = lower ? kHexLower : kHexUpper;
  for (int i = digits - 1; i >= 0; --i) line.push_back(table[(value >> (4 * i)) & 0xF]);
}

// Converts a day count since 1970-01-01 to a civil date (proleptic Gregorian).
void civil_from_days(int64_t days, int* year, int* month, int* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

// Appends the record's time field for the given absolute time in milliseconds
// since the start day's midnight.
void append_time(std::string& line, TimeStyle style, int64_t ms) {
  const int64_t ms_of_day = ms % 86400000;
  const int64_t h = ms_of_day / 3600000, m = ms_of_day / 60000 % 60,
                s = ms_of_day / 1000 % 60, milli = ms_of_day % 1000;
  switch (style) {
    case TimeStyle::kDateTime: {
      int year, month, day;
      civil_from_days(kStartDayNumber + ms / 86400000, &year, &month, &day);
      append_decimal(line, static_cast<uint64_t>(year), 4);
      line.push_back('/');
      append_decimal(line, static_cast<uint64_t>(month), 2);
      line.push_back('/');
      append_decimal(line, static_cast<uint64_t>(day), 2);
      line.push_back(' ');
    }
      [[fallthrough]];
    case TimeStyle::kTimeOfDay:
      append_decimal(line, static_cast<uint64_t>(h), 2);
      line.push_back(':');
      [[fallthrough]];
    case TimeStyle::kMinuteSecs:
      append_decimal(line, static_cast<uint64_t>(m), 2);
      line.push_back(':');
      [[fallthrough]];
    case TimeStyle::kSeconds:
      append_decimal(line, static_cast<uint64_t>(s), 2);
      line.push_back('.');
      append_decimal(line, static_cast<uint64_t>(milli), 3);
      break;
  }
}

// Returns the header lines (each with its line end) and the column-title line.
std::string make_header(const Layout& layout) {
  const char* eol = layout.crlf ? "\r\n" : "\n";
  int time_format = 3;
  switch (layout.time_style) {
    case TimeStyle::kTimeOfDay: time_format = 3; break;
    case TimeStyle::kMinuteSecs: time_format = 2; break;
    case TimeStyle::kSeconds: time_format = 1; break;
    case TimeStyle::kDateTime: time_format = 0; break;
  }
  std::string sep(1, layout.separator);
  std::string header;
  auto line = [&](const std::string& text) { header += text + eol; };
  line("# Logger type: VorlatBeta");
  line("# HW rev: 3.1");
  line("# FW rev: 2.14");
  line("# Logger ID: 4F2A9C11");
  line("# Session No.: 12");
  line("# Split No.: 3");
  line("# Time: 20240115T235500");
  line("# Value separator: \"" + sep + "\"");
  line("# Time format: " + std::to_string(time_format));
  line("# Time separator: \":\"");
  line("# Time separator ms: \".\"");
  line("# Date separator: \"/\"");
  line(std::string("# Time and date separator: \"") +
       (layout.time_style == TimeStyle::kDateTime ? " " : "T") + "\"");
  line("# Bit-rate: 500000");
  line("# Silent mode: false");
  line("# Cyclic mode: false");
  if (layout.irregular) line("# a comment line that names no key");
  std::string columns = layout.columns;
  for (char& c : columns) {
    if (c == ';') c = layout.separator;
  }
  line(columns);
  return header;
}

// The pool of recurring messages: mostly standard identifiers, a good share
// of 29-bit ones (J1939-like), lengths 0 to 8 with 8 the most common, and a
// few messages sent by the logger itself.
std::vector<Signal> make_signals(Random& random) {
  std::vector<Signal> signals(48);
  for (size_t i = 0; i < signals.size(); ++i) {
    Signal& s = signals[i];
    s.extended = random.chance(400);
    s.id = s.extended ? (random.below(8) << 26) | random.below(1u << 26)
                      : random.below(0x800);
    s.transmitted = random.chance(150);
    s.length = random.chance(450) ? 8 : static_cast<uint8_t>(random.below(8));
    if (i < 9) s.length = static_cast<uint8_t>(i);  // every length occurs
  }
  return signals;
}

enum class Column { kTimestamp, kLost, kType, kId, kLength, kData, kBus, kOther };

// Returns the kinds of the layout's columns, left to right.
std::vector<Column> column_kinds(const Layout& layout) {
  std::vector<Column> kinds;
  const char* column = layout.columns;
  while (*column != 0) {
    const char* end = std::strchr(column, ';');
    const size_t length = end ? static_cast<size_t>(end - column) : std::strlen(column);
    const std::string name(column, length);
    kinds.push_back(name == "Timestamp" ? Column::kTimestamp
                    : name == "Lost"    ? Column::kLost
                    : name == "Type"    ? Column::kType
                    : name == "ID"      ? Column::kId
                    : name == "Length"  ? Column::kLength
                    : name == "Data"    ? Column::kData
                    : name == "Bus"     ? Column::kBus
                                        : Column::kOther);
    column = end ? end + 1 : column + length;
  }
  return kinds;
}

// Appends one regular record line (without its line end) for the layout's
// columns, reading the values it needs from signal, time and data.
void append_record(std::string& line, const Layout& layout, const std::vector<Column>& kinds,
                   const Signal& signal, int64_t ms, const uint8_t* data, Random& random) {
  bool first = true;
  for (Column kind : kinds) {
    if (!first) line.push_back(layout.separator);
    first = false;
    switch (kind) {
      case Column::kTimestamp:
        append_time(line, layout.time_style, ms);
        break;
      case Column::kLost:
        line.push_back(random.chance(2) ? '1' : '0');
        break;
      case Column::kType:
        line.push_back(signal.extended ? (signal.transmitted ? '9' : '1')
                                       : (signal.transmitted ? '8' : '0'));
        break;
      case Column::kId:
        append_hex(line, signal.id, signal.extended ? 8 : 3);
        break;
      case Column::kLength:
        line.push_back(static_cast<char>('0' + signal.length));
        break;
      case Column::kData:
        for (int i = 0; i < signal.length; ++i) {
          line.push_back(kHexUpper[data[i] >> 4]);
          line.push_back(kHexUpper[data[i] & 0xF]);
        }
        break;
      case Column::kBus:
        line.push_back('1');
        break;
      case Column::kOther:
        line += "ok";
        break;
    }
  }
}

// Replaces the regular line by one of the edge cases of the irregular layout
// about once in 25 lines. No replacement yields a time far ahead of its
// neighbours, so a file never ends in a long run of skipped frames. Returns true when the line was replaced;
// *stated_ms is then the time the line states.
bool make_irregular(std::string& line, Random& random, int64_t ms, const Signal& signal,
                    const uint8_t* data, int64_t* stated_ms) {
  *stated_ms = ms;
  if (!random.chance(40)) return false;
  line.clear();
  std::string time;
  append_time(time, TimeStyle::kTimeOfDay, ms);
  switch (random.below(16)) {
    case 0: {  // lines at and beyond the reader's 199-byte budget
      line = time + ";0;0;123;8;1122334455667788";
      const size_t target = 198 + random.below(3);  // 198, 199 or 200 bytes
      while (line.size() < target) line.push_back('0');
      if (line.size() == 199 && random.chance(500)) {
        // The rest of an overlong line is read as a record of its own.
        append_time(line, TimeStyle::kTimeOfDay, ms);
        line += ";0;0;124;1;AA";
      }
      break;
    }
    case 1:  // stray carriage returns inside the line
      line = time + ";0\r;1;" + "18FEF100;\r3;A00BFF";
      break;
    case 2:  // an empty line: its empty time field stands for the header's time
      *stated_ms = kStartMsOfDay;
      break;
    case 3:  // a short line: timestamp and lost count only
      line = time + ";0";
      break;
    case 4:  // lower-case identifier with a 0x prefix, leading blanks
      line = time + ";0;1;  0x";
      append_hex(line, signal.id, 8, true);
      line += ";2;a0b1";
      break;
    case 5:  // odd number of data digits and more than 16 digits
      line = time + ";0;0;7FF;8;0102030405060708090A0B";
      if (random.chance(500)) line = time + ";0;0;7FF;2;123";
      break;
    case 6:  // unknown type character, empty fields
      line = time + ";;X;;;";
      break;
    case 7: {  // a step back of half a second (skipped frame)
      std::string earlier;
      *stated_ms = ms >= 500 ? ms - 500 : 0;
      append_time(earlier, TimeStyle::kTimeOfDay, *stated_ms);
      line = earlier + ";0;0;100;1;FF";
      break;
    }
    case 8:  // a record line that starts with '#'
      line = "#" + time + ";0;0;101;0;";
      break;
    case 9:  // a day and a capital T in front of the time
      line = "15T" + time + ";0;0;102;1;01";
      break;
    case 10:  // non-hex digits in identifier and data
      line = time + ";0;1;GHIJ;4;ZZ11YY22";
      break;
    case 11:  // a length beyond 8 and a length beyond 255
      line = time + (random.chance(500) ? ";0;0;103;12;" : ";0;8;104;300;") + "1122";
      break;
    case 12:  // mixed-case data digits
      line = time + ";0;0;105;2;aBcD";
      break;
    case 13:  // trailing separators and blanks
      line = time + ";0;9;1ABCDEF0;3;010203;;; ";
      break;
    case 14:  // a data field with embedded blanks
      line = time + ";0;0;106;4; 1 2 3 4";
      break;
    default: {  // a regular frame with every byte value pattern
      line = time + ";0;";
      line.push_back(signal.extended ? '1' : '0');
      line.push_back(';');
      append_hex(line, signal.id, signal.extended ? 8 : 3);
      line += ";8;";
      for (int i = 0; i < 8; ++i) {
        const uint8_t b = static_cast<uint8_t>(data[i] ^ (i * 0x11));
        line.push_back(kHexUpper[b >> 4]);
        line.push_back(kHexUpper[b & 0xF]);
      }
      break;
    }
  }
  return true;
}

// Parses a byte count with an optional K, M or G suffix (binary). Returns
// false when the text is not such a count.
bool parse_size(const char* text, uint64_t* value) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long n = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text) return false;
  uint64_t factor = 1;
  if (*end == 'K' || *end == 'k') factor = 1ull << 10, ++end;
  else if (*end == 'M' || *end == 'm') factor = 1ull << 20, ++end;
  else if (*end == 'G' || *end == 'g') factor = 1ull << 30, ++end;
  if (*end == 'B' || *end == 'b') ++end;
  if (*end != 0) return false;
  *value = n * factor;
  return true;
}

void usage(FILE* out) {
  std::fprintf(out,
               "usage: gen_log (--size N | --records N) [--layout K] [--seed S] --out F [--times T]\n"
               "       gen_log --list-layouts\n"
               "  --size N     fill at most N bytes (suffixes K, M, G are binary)\n"
               "  --records N  write exactly N record lines\n"
               "  --layout K   record layout, 0 to %d (default 0)\n"
               "  --seed S     seed of the pseudo-random sequence (default 1)\n"
               "  --out F      output file ('-' for standard output)\n"
               "  --times T    each record line's time, identifier and data into T\n",
               kLayoutCount - 1);
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t size = 0, records = 0, seed = 1;
  bool have_size = false, have_records = false;
  int layout_index = 0;
  const char* out_path = nullptr;
  const char* times_path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--list-layouts") {
      for (int k = 0; k < kLayoutCount; ++k)
        std::printf("%d %s: %s\n", k, kLayouts[k].name, kLayouts[k].description);
      return 0;
    } else if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    } else if (arg == "--size" && has_value) {
      if (!parse_size(argv[++i], &size)) return usage(stderr), 2;
      have_size = true;
    } else if (arg == "--records" && has_value) {
      if (!parse_size(argv[++i], &records)) return usage(stderr), 2;
      have_records = true;
    } else if (arg == "--layout" && has_value) {
      char* end = nullptr;
      const long k = std::strtol(argv[++i], &end, 10);
      if (*end != 0 || k < 0 || k >= kLayoutCount) return usage(stderr), 2;
      layout_index = static_cast<int>(k);
    } else if (arg == "--seed" && has_value) {
      char* end = nullptr;
      seed = std::strtoull(argv[++i], &end, 10);
      if (*end != 0) return usage(stderr), 2;
    } else if (arg == "--times" && has_value) {
      times_path = argv[++i];
    } else if (arg == "--out" && has_value) {
      out_path = argv[++i];
    } else {
      std::fprintf(stderr, "gen_log: unknown or incomplete argument '%s'\n", arg.c_str());
      usage(stderr);
      return 2;
    }
  }
  if (out_path == nullptr || have_size == have_records) {
    usage(stderr);
    return 2;
  }
  const Layout& layout = kLayouts[layout_index];

  FILE* file = std::strcmp(out_path, "-") == 0 ? stdout : std::fopen(out_path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "gen_log: cannot open %s: %s\n", out_path, std::strerror(errno));
    return 2;
  }
  FILE* times = times_path != nullptr ? std::fopen(times_path, "w") : nullptr;
  if (times_path != nullptr && times == nullptr) {
    std::fprintf(stderr, "gen_log: cannot open %s: %s\n", times_path, std::strerror(errno));
    return 2;
  }
  Output out(file);
  Random random{seed * 0x2545F4914F6CDD1Dull + static_cast<uint64_t>(layout_index)};
  const std::vector<Signal> signals = make_signals(random);
  const std::vector<Column> kinds = column_kinds(layout);

  const std::string header = make_header(layout);
  if (have_size && header.size() > size) {
    std::fprintf(stderr, "gen_log: size %" PRIu64 " is smaller than the header\n", size);
    return 2;
  }
  out.put(header);

  // The mean gap between frames: a busy 500 kbit/s bus (a frame every 250 us),
  // slowed down for small files so that the midnight wrap, 5 minutes after the
  // start, falls within the first 40% of the records.
  const uint64_t estimated_records = have_records ? records : size / 36 + 1;
  uint64_t mean_gap_us = 250;
  const uint64_t needed_us = 300000000ull * 10 / 4 / (estimated_records ? estimated_records : 1);
  if (needed_us > mean_gap_us) mean_gap_us = needed_us;
  // Short logs: at most 5 s between frames on average, so that even the
  // layout that wraps every minute sees every wrap.
  if (mean_gap_us > 5000000) mean_gap_us = 5000000;

  const char* eol = layout.crlf ? "\r\n" : "\n";
  const size_t eol_length = layout.crlf ? 2 : 1;
  uint64_t time_us = 0;
  uint64_t count = 0;
  std::string line;
  line.reserve(512);
  uint8_t data[8];
  while (have_records ? count < records : true) {
    const Signal& signal = signals[random.below(static_cast<uint32_t>(signals.size()))];
    for (uint8_t& b : data) b = static_cast<uint8_t>(random.below(256));
    const int64_t ms = kStartMsOfDay + static_cast<int64_t>(time_us / 1000);
    line.clear();
    int64_t stated_ms = ms;
    const bool replaced = layout.irregular && make_irregular(line, random, ms, signal, data, &stated_ms);
    if (!replaced) append_record(line, layout, kinds, signal, ms, data, random);
    const bool last = have_records && count + 1 == records;
    const bool final_without_eol = layout.irregular && last;
    const size_t total = line.size() + (final_without_eol ? 0 : eol_length);
    if (have_size && out.written() + total > size) break;
    out.put(line);
    if (!final_without_eol) out.put(eol, eol_length);
    if (times != nullptr) {
      std::fprintf(times, "%lld ", static_cast<long long>((kStartDayNumber * 86400000 + stated_ms) * 1000));
      if (replaced) {
        std::fputs("?\n", times);
      } else {
        std::fprintf(times, "R %X ", signal.id);
        for (int k = 0; k < signal.length; ++k) std::fprintf(times, "%02X", data[k]);
        std::fputc('\n', times);
      }
    }
    ++count;
    time_us += random.below(static_cast<uint32_t>(2 * mean_gap_us + 1));
  }
  const bool ok = out.flush() && (file == stdout ? std::fflush(file) == 0 : std::fclose(file) == 0) &&
                  (times == nullptr || std::fclose(times) == 0);
  if (!ok) {
    std::fprintf(stderr, "gen_log: write to %s failed\n", out_path);
    return 2;
  }
  std::fprintf(file == stdout ? stderr : stdout,
               "bytes=%" PRIu64 " records=%" PRIu64 " layout=%d seed=%" PRIu64 "\n",
               out.written(), count, layout_index, seed);
  return 0;
}
