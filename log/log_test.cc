#include "log/log.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Sends file descriptor 2 into a temporary file until text() is called.
class StderrCapture {
 public:
  StderrCapture() {
    char name[] = "/tmp/log_test_XXXXXX";
    fd_ = mkstemp(name);
    unlink(name);
    saved_ = dup(2);
    dup2(fd_, 2);
  }
  ~StderrCapture() { restore(); }
  std::string text() {
    restore();
    std::string out;
    char buffer[4096];
    lseek(fd_, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd_, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    return out;
  }

 private:
  void restore() {
    if (saved_ >= 0) {
      dup2(saved_, 2);
      close(saved_);
      saved_ = -1;
    }
  }
  int fd_ = -1;
  int saved_ = -1;
};

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    had_tz_ = tz != nullptr;
    if (had_tz_) old_tz_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
    saved_level_ = log_level;
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", old_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
    log_set_level(saved_level_);
  }
  std::string line(int32_t level, int64_t seconds, int64_t micros, long pid, long tid, const char* message) {
    char buffer[512];
    int n = log_format_line(buffer, level, seconds, micros, pid, tid, "%s", message);
    return std::string(buffer, static_cast<size_t>(n));
  }

  bool had_tz_ = false;
  std::string old_tz_;
  int32_t saved_level_ = LOG_NONE;
};

// 2023-12-06 04:22:42 UTC
constexpr int64_t kSecond = 1701836562;

TEST_F(LogTest, ContextLayout) {
  EXPECT_EQ(line(LOG_WARN, kSecond, 123456, 4711, 4711, "Skipping"),
            "12-06 04:22:42.123  4711  4711 W Skipping\n");
  // The context is 33 characters with numbers of up to 5 digits.
  EXPECT_EQ(line(LOG_ERROR, kSecond, 999, 12345, 1, "x").find('x'), 33u);
  EXPECT_EQ(line(LOG_ERROR, kSecond, 5000, 123, 456, "m"), "12-06 04:22:42.005   123   456 E m\n");
  // Wider numbers are written whole and the line grows.
  EXPECT_EQ(line(LOG_FATAL, kSecond, 0, 1234567, 7654321, "m"), "12-06 04:22:42.000 1234567 7654321 F m\n");
}

TEST_F(LogTest, LevelLetters) {
  const char* expected = "?VDIWEF?";
  for (int32_t level = 0; level <= 7; ++level) {
    std::string text = line(level, kSecond, 0, 1, 1, "m");
    EXPECT_EQ(text[31], expected[level]) << level;
  }
  EXPECT_EQ(line(LOG_NONE, kSecond, 0, 1, 1, "m")[31], '?');
}

TEST_F(LogTest, LongMessageIsCutAtCharacter510) {
  std::string message(600, 'a');
  std::string text = line(LOG_WARN, kSecond, 0, 1, 1, message.c_str());
  ASSERT_EQ(text.size(), 511u);
  EXPECT_EQ(text[510], '\n');
  EXPECT_EQ(text.substr(33, 477), std::string(477, 'a'));
  // With 7-digit numbers the context is longer and the message shorter.
  text = line(LOG_WARN, kSecond, 0, 1234567, 1234567, message.c_str());
  ASSERT_EQ(text.size(), 511u);
  EXPECT_EQ(text.find('a'), 37u);
  // A message that just fits is not cut.
  std::string fits(477, 'b');
  text = line(LOG_WARN, kSecond, 0, 1, 1, fits.c_str());
  EXPECT_EQ(text, text.substr(0, 33) + fits + "\n");
}

TEST_F(LogTest, NewSecondAndNewDayAreConverted) {
  int64_t before_midnight = 1705363199;  // 2024-01-15 23:59:59 UTC
  EXPECT_EQ(line(LOG_WARN, before_midnight, 999999, 1, 1, "a").substr(0, 18), "01-15 23:59:59.999");
  EXPECT_EQ(line(LOG_WARN, before_midnight, 0, 1, 1, "a").substr(0, 18), "01-15 23:59:59.000");
  EXPECT_EQ(line(LOG_WARN, before_midnight + 1, 1000, 1, 1, "a").substr(0, 18), "01-16 00:00:00.001");
  EXPECT_EQ(line(LOG_WARN, before_midnight, 0, 1, 1, "a").substr(0, 18), "01-15 23:59:59.000");
}

TEST_F(LogTest, CachedBreakdownFollowsTheTimeZone) {
  // The cache holds a second; a changed zone is seen when the second changes.
  setenv("TZ", "CET-1", 1);
  tzset();
  EXPECT_EQ(line(LOG_WARN, kSecond + 10, 0, 1, 1, "a").substr(0, 14), "12-06 05:22:52");
}

TEST_F(LogTest, LogWriteWritesOneLineToStandardError) {
  StderrCapture capture;
  log_write(LOG_WARN, "Skipping non-increasing timestamp: %f", 1705311001.123);
  log_write(LOG_ERROR, "Could not open %.*s", 3, "abcdef");
  std::string text = capture.text();
  std::string pid = std::to_string(getpid());
  std::string tid = std::to_string(syscall(SYS_gettid));
  auto pad = [](const std::string& s) { return std::string(s.size() < 5 ? 5 - s.size() : 0, ' ') + s; };
  // The clock part is "MM-DD hh:mm:ss.mmm": digits where the mask has '9'.
  auto clock_ok = [](const std::string& l) {
    const std::string mask = "99-99 99:99:99.999";
    if (l.size() < mask.size()) return false;
    for (size_t i = 0; i < mask.size(); ++i) {
      if (mask[i] == '9' ? !isdigit(static_cast<unsigned char>(l[i])) : l[i] != mask[i]) return false;
    }
    return true;
  };
  std::string first = " " + pad(pid) + " " + pad(tid) + " W Skipping non-increasing timestamp: 1705311001.123000\n";
  std::string second = " " + pad(pid) + " " + pad(tid) + " E Could not open abc\n";
  size_t split = text.find('\n') + 1;
  ASSERT_NE(split, 0u) << text;
  std::string line1 = text.substr(0, split), line2 = text.substr(split);
  EXPECT_TRUE(clock_ok(line1)) << line1;
  EXPECT_TRUE(clock_ok(line2)) << line2;
  EXPECT_EQ(line1.substr(18), first);
  EXPECT_EQ(line2.substr(18), second);
}

TEST_F(LogTest, LevelGate) {
  EXPECT_EQ(log_level, LOG_NONE);  // nothing shows before the command line sets it
  for (int32_t level = LOG_VERBOSE; level <= LOG_FATAL; ++level) EXPECT_FALSE(log_enabled(level));
  log_set_level(LOG_ERROR);
  EXPECT_FALSE(log_enabled(LOG_WARN));
  EXPECT_TRUE(log_enabled(LOG_ERROR));
  EXPECT_TRUE(log_enabled(LOG_FATAL));
  int formatted = 0;
  auto argument = [&formatted] {
    ++formatted;
    return 1;
  };
  StderrCapture capture;
  if (log_enabled(LOG_WARN)) log_write(LOG_WARN, "%d", argument());
  EXPECT_EQ(formatted, 0);
  EXPECT_EQ(capture.text(), "");
}

}  // namespace
