#include "log/log.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

constexpr int64_t kSecond = 1701836562;    // 2023-12-06 04:22:42 UTC
constexpr int64_t kMidnight = 1705363200;  // 2024-01-16 00:00:00 UTC

class LogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    had_tz_ ? setenv("TZ", old_tz_.c_str(), 1) : unsetenv("TZ");
    tzset();
    log_set_level(saved_level_);
  }
  // The zone and the level as they were before the test.
  const bool had_tz_ = std::getenv("TZ") != nullptr;
  const std::string old_tz_ = had_tz_ ? std::getenv("TZ") : "";
  const int32_t saved_level_ = log_level;
};

// Each row runs after the one before it, so the rows also walk the local
// time cache: a new second, a new day, back to an earlier second, a new zone.
TEST_F(LogTest, LineLayout) {
  const std::string cut(477, 'a');
  struct Row {
    const char* tz;
    int32_t level;
    int64_t seconds, micros;
    long pid, tid;
    std::string message, line;
  };
  const std::vector<Row> rows = {
      {"UTC", LOG_WARN, kSecond, 123456, 4711, 4711, "Skipping",
       "12-06 04:22:42.123  4711  4711 W Skipping\n"},
      {"UTC", LOG_ERROR, kSecond, 5000, 123, 456, "m", "12-06 04:22:42.005   123   456 E m\n"},
      // Wider numbers are written whole and the line grows.
      {"UTC", LOG_FATAL, kSecond, 0, 1234567, 7654321, "m",
       "12-06 04:22:42.000 1234567 7654321 F m\n"},
      // Levels outside 1 to 6 have no letter of their own.
      {"UTC", 0, kSecond, 0, 1, 1, "m", "12-06 04:22:42.000     1     1 ? m\n"},
      {"UTC", 7, kSecond, 0, 1, 1, "m", "12-06 04:22:42.000     1     1 ? m\n"},
      {"UTC", LOG_NONE, kSecond, 0, 1, 1, "m", "12-06 04:22:42.000     1     1 ? m\n"},
      // The text ends at character 510 at the latest, however wide the context.
      {"UTC", LOG_WARN, kSecond, 0, 1, 1, std::string(600, 'a'),
       "12-06 04:22:42.000     1     1 W " + cut + "\n"},
      {"UTC", LOG_WARN, kSecond, 0, 1234567, 1234567, std::string(600, 'a'),
       "12-06 04:22:42.000 1234567 1234567 W " + cut.substr(4) + "\n"},
      {"UTC", LOG_WARN, kSecond, 0, 1, 1, cut, "12-06 04:22:42.000     1     1 W " + cut + "\n"},
      {"UTC", LOG_WARN, kMidnight - 1, 999999, 1, 1, "a", "01-15 23:59:59.999     1     1 W a\n"},
      {"UTC", LOG_WARN, kMidnight, 1000, 1, 1, "a", "01-16 00:00:00.001     1     1 W a\n"},
      {"UTC", LOG_WARN, kMidnight - 1, 0, 1, 1, "a", "01-15 23:59:59.000     1     1 W a\n"},
      // Local time, not UTC.
      {"CET-1", LOG_WARN, kSecond + 10, 0, 1, 1, "a", "12-06 05:22:52.000     1     1 W a\n"},
  };
  for (const Row& row : rows) {
    setenv("TZ", row.tz, 1);
    tzset();
    char buffer[512];
    int n = log_format_line(buffer, row.level, row.seconds, row.micros, row.pid, row.tid, "%s",
                            row.message.c_str());
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), row.line);
  }
  for (int32_t level = LOG_VERBOSE; level <= LOG_FATAL; ++level) {
    char buffer[512];
    log_format_line(buffer, level, kSecond, 0, 1, 1, "m");
    EXPECT_EQ(buffer[31], "VDIWEF"[level - 1]) << level;
  }
}

TEST_F(LogTest, WriteSendsOneFormattedLinePerMessageToStandardError) {
  test_support::FdCapture capture(2);
  log_write(LOG_WARN, "Skipping non-increasing timestamp: %f", 1705311001.123);
  log_write(LOG_ERROR, "Could not open %.*s", 3, "abcdef");
  std::string text = capture.text();
  EXPECT_EQ(test_support::log_messages(text),
            (std::vector<std::string>{"W Skipping non-increasing timestamp: 1705311001.123000",
                                      "E Could not open abc"}));
  char numbers[32];
  std::snprintf(numbers, sizeof numbers, " %5ld %5ld ", static_cast<long>(getpid()),
                static_cast<long>(syscall(SYS_gettid)));
  EXPECT_EQ(text.substr(18, std::strlen(numbers)), numbers) << text;
}

// Which levels show at each verbosity is checked on real runs
// (tests/cli/verbosity.sh); before the command line sets the level, nothing shows,
// not even fatal.
TEST_F(LogTest, NothingShowsBeforeTheLevelIsSet) {
  EXPECT_EQ(log_level, LOG_NONE);
  EXPECT_FALSE(log_enabled(LOG_FATAL));
}

}  // namespace
