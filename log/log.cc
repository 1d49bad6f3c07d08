// Diagnostic log: one line per message on file descriptor 2, built in a
// buffer on the stack and written with one write() call.
#include "log/log.h"

#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

int32_t log_level = LOG_NONE;
int32_t log_format_level = LOG_NONE;

namespace {

bool keep_error_texts = false;
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

void update_format_level() {
  log_format_level = keep_error_texts && log_level > LOG_ERROR ? LOG_ERROR : log_level;
}

}  // namespace

void log_set_level(int32_t level) {
  log_level = level;
  update_format_level();
}

void log_keep_error_texts() {
  keep_error_texts = true;
  update_format_level();
}

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

// Where the message of a line built by format_line begins: behind the
// context's level letter and its blank.
int message_start(const char* line, int length) {
  int blanks = 0;
  for (int i = 0; i < length; ++i) {
    // Date, time, process, thread and letter are each followed by a blank;
    // numbers may be padded with more, so count the fields, not the blanks.
    if (line[i] == ' ' && i > 0 && line[i - 1] != ' ' && ++blanks == 5) return i + 1;
  }
  return length;
}

// Builds the line into buffer (kLineBuffer bytes). Returns its length,
// line feed included.
int format_line(char* buffer, int32_t level, int64_t seconds, int64_t microseconds, long pid, long tid,
                const char* format, va_list arguments) {
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
  int context = static_cast<int>(p - buffer);
  // The message fills the rest up to character 510; vsnprintf cuts it there
  // and terminates it in the byte before the line feed's successor.
  int room = kMaxText - context;
  int length = vsnprintf(p, static_cast<size_t>(room) + 1, format, arguments);
  if (length < 0) length = 0;
  if (length > room) length = room;
  p += length;
  *p++ = '\n';
  return static_cast<int>(p - buffer);
}

}  // namespace

void log_write(int32_t level, const char* format, ...) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  char buffer[kLineBuffer];
  va_list arguments;
  va_start(arguments, format);
  int length = format_line(buffer, level, now.tv_sec, now.tv_usec, static_cast<long>(getpid()),
                           static_cast<long>(syscall(SYS_gettid)), format, arguments);
  va_end(arguments);
  LogCapture* capture = current_capture;
  if (capture != nullptr && level >= LOG_ERROR && capture->first_error.empty()) {
    // The message alone: behind the context, before the line feed.
    const char* message = buffer + message_start(buffer, length);
    capture->first_error.assign(message, static_cast<size_t>(buffer + length - 1 - message));
  }
  if (keep_error_texts && level < log_level) return;  // formatted for its text only
  if (capture != nullptr && capture->hold) {
    capture->lines.append(buffer, static_cast<size_t>(length));
    return;
  }
  write_out(buffer, static_cast<size_t>(length));
}

int log_format_line(char* buffer, int32_t level, int64_t seconds, int64_t microseconds, long pid, long tid,
                    const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int length = format_line(buffer, level, seconds, microseconds, pid, tid, format, arguments);
  va_end(arguments);
  return length;
}
