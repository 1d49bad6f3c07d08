#include "app/version.h"

#include <gtest/gtest.h>

namespace {

// The lines of the real build, and their agreement with the manual page and
// the package, are checked by tests/packaging_test.sh.
TEST(VersionTest, ValuesAreTakenAsStampedAndTheRevisionIsNormalised) {
  VersionInfo info;
  version_info_from("1.1.0+01234567", "Jan  5 2024", "09:07:03", "0123456789ABCDEF0123456789abcdef01234567",
                    &info);
  EXPECT_STREQ(info.version, "1.1.0+01234567");
  EXPECT_STREQ(info.build_date, "Jan  5 2024 09:07:03");
  EXPECT_STREQ(info.revision, "0123456789abcdef0123456789abcdef01234567");
  for (const char* revision : {"", "unknown", "0123456789abcdef0123456789abcdef0123456",
                               "0123456789abcdef0123456789abcdef012345678",
                               "g123456789abcdef0123456789abcdef01234567"}) {
    version_info_from("1.1.0", "Mar 10 2025", "10:00:00", revision, &info);
    EXPECT_STREQ(info.revision, "0000000000000000000000000000000000000000") << revision;
  }
}

}  // namespace
