// Diagnostic log: one line per message on file descriptor 2, built in a
// buffer on the stack and written with one write() call.
#include "log/log.h"

#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

int32_t log_level = LOG_NONE;

namespace {

thread_local LogCapture* current_capture = nullptr;
std::atomic<LogOutput> output_to{nullptr};

void write_out(const char* text, size_t length) {
  LogOutput output = output_to.load(std::memory_order_acquire);
  if (output != nullptr) {
    output(text, length);
    return;
  }
  ssize_t ignored = write(2, text, length);
  (void)ignored;
}

}  // namespace

void log_set_level(int32_t level) { log_level = level; }

void log_capture_begin(LogCapture* capture) { current_capture = capture; }

void log_capture_end() { current_capture = nullptr; }

void log_write_held(const std::string& lines) {
  if (!lines.empty()) write_out(lines.data(), lines.size());
}

void log_set_output(LogOutput output) { output_to.store(output, std::memory_order_release); }

namespace {

constexpr int kLineBuffer = 512;
constexpr int kMaxText = 510;  // characters before the line feed

// The broken-down local time of the last whole second converted. The state
// word guards it without a lock: bits 0 to 29 count the readers copying it,
// bit 30 alone marks it stale, bits 30 and 31 together mark it as being
// rewritten. A thread that finds it busy or stale converts the time itself.
constexpr uint32_t kStale = 1u << 30;
constexpr uint32_t kBusy = 3u << 30;

struct LocalTimeCache {
  int64_t second = 0;
  struct tm broken_down = {};
  std::atomic<uint32_t> state{kStale};
};

LocalTimeCache local_time_cache;

// Fills *out with the local time of `second`; zeros when it cannot be
// converted (the line then shows a zero date rather than nothing).
void local_time(int64_t second, struct tm* out) {
  LocalTimeCache& cache = local_time_cache;
  if ((cache.state.load(std::memory_order_relaxed) & kBusy) == 0) {
    uint32_t before = cache.state.fetch_add(1, std::memory_order_acquire);
    if ((before & kBusy) == 0) {
      if (cache.second == second) {
        *out = cache.broken_down;
        cache.state.fetch_sub(1, std::memory_order_release);
        return;
      }
      cache.state.fetch_or(kStale, std::memory_order_relaxed);
    }
    cache.state.fetch_sub(1, std::memory_order_release);
  }
  time_t t = static_cast<time_t>(second);
  if (localtime_r(&t, out) == nullptr) {
    memset(out, 0, sizeof *out);
    return;
  }
  uint32_t expected = kStale;
  if (cache.state.compare_exchange_strong(expected, kBusy, std::memory_order_acquire,
                                          std::memory_order_relaxed)) {
    cache.second = second;
    cache.broken_down = *out;
    cache.state.fetch_and(~kBusy, std::memory_order_release);
  }
}

// Writes value in exactly two digits (0 to 99).
char* put2(char* p, int value) {
  if (value < 0 || value > 99) value = 0;
  p[0] = static_cast<char>('0' + value / 10);
  p[1] = static_cast<char>('0' + value % 10);
  return p + 2;
}

// Writes value right-aligned in `width` columns padded with blanks; a wider
// value is written whole. Returns the end.
char* put_padded(char* p, long value, int width) {
  char digits[24];
  int n = 0;
  bool negative = value < 0;
  unsigned long magnitude = negative ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) digits[n++] = '-';
  for (int i = n; i < width; ++i) *p++ = ' ';
  while (n > 0) *p++ = digits[--n];
  return p;
}

// The length of the valid UTF-8 sequence of a printable character at
// text[i]; 0 for a control byte, a C1 control character, a stray, overlong
// or cut-off sequence, a surrogate or a code point beyond U+10FFFF.
size_t printable_length(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return lead >= 0x20 && lead != 0x7f ? 1 : 0;
  const size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
  if (length == 0 || lead > 0xf4 || i + length > text.size()) return 0;
  uint32_t code = lead & (0x7f >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xc0) != 0x80) return 0;
    code = code << 6 | (byte(i + k) & 0x3f);
  }
  const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return code >= 0x80 && code < 0xa0 ? 0 : length;
}

// True when a backslash followed by text[i] must show doubled: what shows
// next begins with n, r, t, x or a backslash.
bool backslash_needs_double(std::string_view text, size_t i) {
  if (i >= text.size()) return false;
  const char next = text[i];
  return next == '\\' || next == 'n' || next == 'r' || next == 't' || next == 'x' || printable_length(text, i) == 0;
}

// Writes the context of a line (date, time, process, thread, level letter,
// each followed by a blank) into buffer. Returns its length.
int format_context(char* buffer, int32_t level, int64_t seconds, int64_t microseconds, long pid, long tid) {
  struct tm local;
  local_time(seconds, &local);
  int milliseconds = static_cast<int>(microseconds / 1000);
  char* p = buffer;
  p = put2(p, local.tm_mon + 1);
  *p++ = '-';
  p = put2(p, local.tm_mday);
  *p++ = ' ';
  p = put2(p, local.tm_hour);
  *p++ = ':';
  p = put2(p, local.tm_min);
  *p++ = ':';
  p = put2(p, local.tm_sec);
  *p++ = '.';
  if (milliseconds < 0 || milliseconds > 999) milliseconds = 0;
  *p++ = static_cast<char>('0' + milliseconds / 100);
  p = put2(p, milliseconds % 100);
  *p++ = ' ';
  p = put_padded(p, pid, 5);
  *p++ = ' ';
  p = put_padded(p, tid, 5);
  *p++ = ' ';
  *p++ = (level >= LOG_VERBOSE && level <= LOG_FATAL) ? "VDIWEF"[level - 1] : '?';
  *p++ = ' ';
  return static_cast<int>(p - buffer);
}

// Appends the message as it shows behind the context of buffer (kLineBuffer
// bytes), up to character 510, and the line feed. Returns the line's length.
int finish_line(char* buffer, int context, std::string_view message) {
  char* p = buffer + context;
  char* const end = buffer + kMaxText;
  char shown[4];
  size_t consumed = 0;
  for (size_t at = 0; at < message.size(); at += consumed) {
    const size_t length = log_shown_character(message, at, shown, &consumed);
    if (p + length > end) break;
    memcpy(p, shown, length);
    p += length;
  }
  *p++ = '\n';
  return static_cast<int>(p - buffer);
}

// Formats the message into raw (kLineBuffer bytes). Returns its length.
size_t format_message(char* raw, const char* format, va_list arguments) {
  const int length = vsnprintf(raw, kLineBuffer, format, arguments);
  if (length < 0) return 0;
  return length < kLineBuffer ? static_cast<size_t>(length) : kLineBuffer - 1;
}

}  // namespace

size_t log_shown_character(std::string_view text, size_t at, char* shown, size_t* consumed) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto byte = static_cast<unsigned char>(text[at]);
  const size_t length = printable_length(text, at);
  if (length == 0) {
    *consumed = 1;
    shown[0] = '\\';
    shown[1] = byte == '\n' ? 'n' : byte == '\r' ? 'r' : byte == '\t' ? 't' : 'x';
    if (shown[1] != 'x') return 2;
    shown[2] = kDigits[byte >> 4];
    shown[3] = kDigits[byte & 15];
    return 4;
  }
  *consumed = length;
  std::memcpy(shown, text.data() + at, length);
  if (byte != '\\' || !backslash_needs_double(text, at + 1)) return length;
  shown[1] = '\\';
  return 2;
}

std::string log_shown(std::string_view text) {
  std::string out;
  char shown[4];
  size_t consumed = 0;
  for (size_t at = 0; at < text.size(); at += consumed) {
    out.append(shown, log_shown_character(text, at, shown, &consumed));
  }
  return out;
}

namespace {

void write_message(int32_t level, const char* format, va_list arguments) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  char raw[kLineBuffer];
  const size_t raw_length = format_message(raw, format, arguments);
  char buffer[kLineBuffer];
  const int context = format_context(buffer, level, now.tv_sec, now.tv_usec, static_cast<long>(getpid()),
                                     static_cast<long>(syscall(SYS_gettid)));
  const int length = finish_line(buffer, context, std::string_view(raw, raw_length));
  LogCapture* capture = current_capture;
  if (capture != nullptr && capture->hold) {
    capture->lines.append(buffer, static_cast<size_t>(length));
    return;
  }
  write_out(buffer, static_cast<size_t>(length));
}

}  // namespace

void log_write(int32_t level, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  write_message(level, format, arguments);
  va_end(arguments);
}

#define TRCFORGE_LOG_AT(name, level)          \
  void name(const char* format, ...) {        \
    if (!log_enabled(level)) return;          \
    va_list arguments;                        \
    va_start(arguments, format);              \
    write_message(level, format, arguments);  \
    va_end(arguments);                        \
  }
TRCFORGE_LOG_AT(log_fatal, LOG_FATAL)
TRCFORGE_LOG_AT(log_error, LOG_ERROR)
TRCFORGE_LOG_AT(log_warn, LOG_WARN)
TRCFORGE_LOG_AT(log_info, LOG_INFO)
#undef TRCFORGE_LOG_AT

int log_format_line(char* buffer, int32_t level, int64_t seconds, int64_t microseconds, long pid, long tid,
                    const char* format, ...) {
  char raw[kLineBuffer];
  va_list arguments;
  va_start(arguments, format);
  const size_t raw_length = format_message(raw, format, arguments);
  va_end(arguments);
  const int context = format_context(buffer, level, seconds, microseconds, pid, tid);
  return finish_line(buffer, context, std::string_view(raw, raw_length));
}
