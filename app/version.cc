#include "app/version.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "revision.h"

#ifndef TRCFORGE_REVISION
#define TRCFORGE_REVISION "0000000000000000000000000000000000000000"
#endif

namespace {

constexpr const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";

bool is_revision(const char* revision) {
  if (std::strlen(revision) != 40) return false;
  for (int i = 0; i < 40; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(revision[i]))) return false;
  }
  return true;
}

}  // namespace

bool version_info_from(const char* date, const char* time, const char* revision,
                       VersionInfo* out) {
  if (is_revision(revision)) {
    std::memcpy(out->revision, revision, 41);
    for (char& c : out->revision) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  } else {
    std::memset(out->revision, '0', 40);
    out->revision[40] = '\0';
  }
  std::snprintf(out->build_date, sizeof out->build_date, "%.11s %.8s", date, time);

  char month_name[4] = {};
  unsigned day = 0;
  unsigned year = 0;
  int month = 0;
  if (std::sscanf(date, "%3s %u %u", month_name, &day, &year) == 3) {
    const char* found = std::strstr(kMonths, month_name);
    if (std::strlen(month_name) == 3 && found != nullptr && (found - kMonths) % 3 == 0) {
      month = static_cast<int>(found - kMonths) / 3 + 1;
    }
  }
  if (month == 0 || day < 1 || day > 31) {
    std::snprintf(out->version, sizeof out->version, "00.00.00.%.8s", out->revision);
    return false;
  }
  std::snprintf(out->version, sizeof out->version, "%02u.%02d.%02u.%.8s", year % 100, month, day,
                out->revision);
  return true;
}

VersionInfo build_version_info() {
  VersionInfo info;
  version_info_from(__DATE__, __TIME__, TRCFORGE_REVISION, &info);
  return info;
}
