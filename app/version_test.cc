#include "app/version.h"

#include <gtest/gtest.h>

namespace {

// The lines of the real build are checked end to end (tests/cli/command_line.sh),
// but only in the month it was built.
TEST(VersionTest, CompilerDateAndRevisionBecomeTheVersion) {
  VersionInfo info;
  ASSERT_TRUE(version_info_from("Jan  5 2024", "09:07:03", "0123456789ABCDEF0123456789abcdef01234567", &info));
  EXPECT_STREQ(info.version, "24.01.05.01234567");
  EXPECT_STREQ(info.build_date, "Jan  5 2024 09:07:03");
  ASSERT_TRUE(version_info_from("Dec 31 1999", "23:59:59", "not a commit", &info));
  EXPECT_STREQ(info.version, "99.12.31.00000000");
  EXPECT_FALSE(version_info_from("anM  5 2024", "09:07:03", "", &info));
}

}  // namespace
