// Diagnostic log: levels, the output level, and one line on standard error
// per message, prefixed with the local date and time to the millisecond, the
// process and thread numbers and a level letter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// The length of a text as a "%.*s" conversion takes it.
inline int log_length(std::string_view text) { return static_cast<int>(text.size()); }

// True when a message of this level is shown.
inline bool log_enabled(int32_t level) { return level >= log_level; }

// The messages of one piece of work, taken by the thread that does it while
// the capture is on (log_capture_begin): lines that are shown are held in
// `lines` instead of being written when `hold` is set, so that they can be
// written in order later (log_write_held).
struct LogCapture {
  bool hold = false;
  std::string lines;  // whole lines, line feeds included
};

// Sends the calling thread's messages to capture until log_capture_end.
void log_capture_begin(LogCapture* capture);
void log_capture_end();

// Writes lines (whole lines) to standard error as log_write writes a line.
void log_write_held(const std::string& lines);

// Where lines go: by default one write() to file descriptor 2 per line. A
// replacement (a status line that must be cleared first, say) is called with
// each line, or the held lines of a capture, one call at a time.
using LogOutput = void (*)(const char* text, size_t length);
void log_set_output(LogOutput output);

// How a line shows its message, so that no name in it can forge a line or
// drive the terminal: printable characters (valid UTF-8) as they are; line
// feed, carriage return and tab as \n, \r and \t; every other byte below
// 0x20, 0x7F, the bytes of a C1 control character (U+0080 to U+009F) and
// every byte that is no part of valid UTF-8 as \xHH (two lower-case hex
// digits). A backslash shows doubled only where what is shown after it
// begins with n, r, t, x or a backslash, where it could be read as an escape;
// elsewhere it shows as it is.
//
// Stores in shown (at least 4 bytes) how the character at text[at] shows,
// sets *consumed to its bytes in text, and returns the length of the shown
// form (1 to 4).
size_t log_shown_character(std::string_view text, size_t at, char* shown, size_t* consumed);

// The whole text as log_shown_character shows it.
std::string log_shown(std::string_view text);

// One message, printf-style: when its level is shown, builds one line
// (context, message shown as above and cut so that the text ends by
// character 510 without splitting a shown character, line feed) and writes
// it with one write() to file descriptor 2, or hands it to the calling
// thread's capture. A message whose level is not shown costs one comparison
// and formats nothing.
void log_fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_warn(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_info(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same for a level given as a value; the level test is the caller's.
void log_write(int32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Builds the line of log_write into buffer (at least 512 bytes) for the given
// clock reading, process and thread numbers, without writing it. Returns the
// line's length including the line feed. Exposed for tests.
int log_format_line(char* buffer, int32_t level, int64_t seconds, int64_t microseconds, long pid,
                    long tid, const char* format, ...) __attribute__((format(printf, 7, 8)));
