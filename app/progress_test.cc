#include "app/progress.h"

#include <gtest/gtest.h>

namespace {

// Columns of a UTF-8 text: its bytes that begin a character.
size_t columns(const std::string& text) {
  size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xc0) != 0x80 ? 1 : 0;
  return count;
}

// The status line through a terminal is tested end to end
// (tests/run_feedback_test.py); here the widths and names a test tree
// cannot easily show.
TEST(StatusTextTest, FitsEveryWidthWithWholeFieldsAndShowsNamesEscaped) {
  ProgressCounts counts{3, 10, 2000000, 8000000, true};
  const std::string fields = "3/10 files  2.0/8.0 MB  1.0 MB/s";
  const std::string prefix = fields + "  0:06 left";
  const int at_name = static_cast<int>(prefix.size()) + 3;  // room for the two blanks and the last column
  struct Case {
    int width;
    std::string name;
    std::string expected;
  } cases[] = {
      {80, "day2/a.txt", prefix + "  day2/a.txt"},
      {at_name + 10, "day2/a.txt", prefix + "  day2/a.txt"},
      {at_name + 9, "day2/a.txt", prefix + "  .../a.txt"},
      {at_name + 3, "day2/a.txt", prefix},  // no room for "..." and a character
      {static_cast<int>(prefix.size()) + 1, "day2/a.txt", prefix},
      {static_cast<int>(prefix.size()), "day2/a.txt", fields},  // the name goes first, then the time left
      {40, "day2/a.txt", fields},
      {12, "day2/a.txt", "3/10 files"},
      {0, "a", ""},
      {100, "a\nb\x1b[2Jc\\n\xff\xc2\x9b\xc3\xa9\xe2\x82\xac\xed\xa0\x80.txt",
       prefix + "  a\\nb\\x1b[2Jc\\\\n\\xff\\xc2\\x9b\xc3\xa9\xe2\x82\xac\\xed\\xa0\\x80.txt"},
      {at_name + 6, "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9.txt", prefix + "  ...txt"},
      {at_name + 6, "\x1b\x1b" "ab", prefix + "  ...ab"},  // an escape is never cut
  };
  for (const Case& c : cases) {
    const std::string text = status_text(counts, 2.0, c.name, c.width);
    EXPECT_EQ(text, c.expected) << c.width;
    EXPECT_LT(columns(text), static_cast<size_t>(c.width > 0 ? c.width : 1)) << c.width;
  }
  EXPECT_EQ(status_text(counts, 0.5, "", 80), "3/10 files  2.0/8.0 MB  4.0 MB/s");  // no rate to go by yet
  EXPECT_EQ(status_text(counts, 80.0, "", 80), "3/10 files  2.0/8.0 MB  0.0 MB/s  4:00 left");
  counts.all_found = false;
  counts.bytes_found = 20000000000;
  EXPECT_EQ(status_text(counts, 2.0, "", 80), "3/10+ files  0.0/20.0+ GB  1.0 MB/s");
}

}  // namespace
