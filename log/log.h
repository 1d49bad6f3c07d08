// Diagnostic log: levels, the output level, and one line on standard error
// per message, prefixed with the local date and time to the millisecond, the
// process and thread numbers and a level letter.
#pragma once

#include <cstdint>

enum LogLevel : int32_t {
  LOG_VERBOSE = 1,
  LOG_DEBUG = 2,
  LOG_INFO = 3,
  LOG_WARN = 4,
  LOG_ERROR = 5,
  LOG_FATAL = 6,
  LOG_NONE = 255,  // as output level only: suppresses everything
};

// The output level; a message is written when its level is at least this.
// Starts at LOG_NONE, so nothing is shown until the command line sets it.
extern int32_t log_level;

// Sets the output level.
void log_set_level(int32_t level);

// True when a message of this level would be written. Call sites test this
// before formatting anything, so a suppressed message costs one comparison:
//   if (log_enabled(LOG_WARN)) log_write(LOG_WARN, "...", ...);
inline bool log_enabled(int32_t level) { return level >= log_level; }

// Builds one line (context, message cut so the text ends at character 510,
// line feed) and writes it with one write() to file descriptor 2. Writes
// whatever it is given: the level test is the caller's.
void log_write(int32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Builds the line of log_write into buffer (at least 512 bytes) for the given
// clock reading, process and thread numbers, without writing it. Returns the
// line's length including the line feed. Exposed for tests.
int log_format_line(char* buffer, int32_t level, int64_t seconds, int64_t microseconds, long pid,
                    long tid, const char* format, ...) __attribute__((format(printf, 7, 8)));
