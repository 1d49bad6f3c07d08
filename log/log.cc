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

void log_set_level(int32_t level) { log_level = level; }

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
  ssize_t ignored = write(2, buffer, static_cast<size_t>(length));
  (void)ignored;
}

int log_format_line(char* buffer, int32_t level, int64_t seconds, int64_t microseconds, long pid, long tid,
                    const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int length = format_line(buffer, level, seconds, microseconds, pid, tid, format, arguments);
  va_end(arguments);
  return length;
}
