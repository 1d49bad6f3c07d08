#include "app/version.h"

#include <gtest/gtest.h>

namespace {

// The lines of the real build are checked end to end (tests/cli/command_line.sh).
TEST(VersionTest, CompilerDateBecomesVersionAndBuildDate) {
  VersionInfo info;
  ASSERT_TRUE(version_info_from("Jan  5 2024", "09:07:03",
                                "0123456789ABCDEF0123456789abcdef01234567", &info));
  EXPECT_STREQ(info.version, "24.01.05.01234567");
  EXPECT_STREQ(info.build_date, "Jan  5 2024 09:07:03");
  EXPECT_STREQ(info.revision, "0123456789abcdef0123456789abcdef01234567");

  ASSERT_TRUE(version_info_from("Dec 31 1999", "23:59:59",
                                "fedcba9876543210fedcba9876543210fedcba98", &info));
  EXPECT_STREQ(info.version, "99.12.31.fedcba98");
  EXPECT_STREQ(info.build_date, "Dec 31 1999 23:59:59");
}

TEST(VersionTest, ARevisionThatIsNoCommitBecomesZeros) {
  VersionInfo info;
  for (const char* revision : {"", "unknown", "0123456789abcdef0123456789abcdef0123456",
                               "0123456789abcdef0123456789abcdef012345678",
                               "g123456789abcdef0123456789abcdef01234567"}) {
    ASSERT_TRUE(version_info_from("Mar 10 2025", "10:00:00", revision, &info));
    EXPECT_STREQ(info.revision, "0000000000000000000000000000000000000000") << revision;
    EXPECT_STREQ(info.version, "25.03.10.00000000") << revision;
  }
}

TEST(VersionTest, AnUnreadableDateIsRefused) {
  VersionInfo info;
  EXPECT_FALSE(version_info_from("Foo  5 2024", "09:07:03", "", &info));
  EXPECT_FALSE(version_info_from("anM  5 2024", "09:07:03", "", &info));
  EXPECT_FALSE(version_info_from("", "", "", &info));
}

}  // namespace
