#include "log/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// The context of a line (local month-day and time to the millisecond,
// process and thread right-aligned in five, the level letter) and the
// message cut so that the text ends at character 510. Each row runs after
// the one before, so the rows also walk the local time cache.
TEST(LogTest, LineLayout) {
  const std::string cut(477, 'a');
  struct Row {
    const char* tz;
    int32_t level;
    int64_t seconds, micros;
    long pid;
    std::string message, line;
  };
  for (const Row& row : std::vector<Row>{
           {"UTC", LOG_WARN, 1701836562, 123456, 4711, "m", "12-06 04:22:42.123  4711  4711 W m\n"},
           {"UTC", LOG_FATAL, 1701836562, 5000, 1234567, "m", "12-06 04:22:42.005 1234567 1234567 F m\n"},
           {"UTC", 0, 1701836562, 0, 1, "m", "12-06 04:22:42.000     1     1 ? m\n"},
           {"UTC", LOG_ERROR, 1705363199, 999999, 1, std::string(600, 'a'), "01-15 23:59:59.999     1     1 E " + cut + "\n"},
           {"UTC", LOG_INFO, 1705363200, 0, 1234567, std::string(600, 'a'),
            "01-16 00:00:00.000 1234567 1234567 I " + cut.substr(4) + "\n"},
           {"CET-1", LOG_DEBUG, 1701836572, 0, 1, "a", "12-06 05:22:52.000     1     1 D a\n"},
           // Shown: control bytes, C1 controls and invalid UTF-8 escaped; a
           // backslash doubled only before what would read as an escape; an
           // escape is never cut.
           {"UTC", LOG_WARN, 1701836562, 0, 1, "a\nE b\x1b[2J\r\t\x7f\\n\\x\\\\q\\\x01\xc3\xa9\xc2\x9b\xff\\",
            "12-06 04:22:42.000     1     1 W a\\nE b\\x1b[2J\\r\\t\\x7f\\\\n\\\\x\\\\\\q\\\\\\x01\xc3\xa9\\xc2\\x9b\\xff\\\n"},
           {"UTC", LOG_WARN, 1701836562, 0, 4711, cut.substr(1) + "\x1b",
            "12-06 04:22:42.000  4711  4711 W " + cut.substr(1) + "\n"},
       }) {
    setenv("TZ", row.tz, 1);
    tzset();
    char buffer[512];
    const int n = log_format_line(buffer, row.level, row.seconds, row.micros, row.pid, row.pid, "%s", row.message.c_str());
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), row.line);
  }
  unsetenv("TZ");
  tzset();
}

}  // namespace
