#include "app/version.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "revision.h"

#ifndef TRCFORGE_REVISION
#define TRCFORGE_REVISION "0000000000000000000000000000000000000000"
#endif
#ifndef TRCFORGE_VERSION
#define TRCFORGE_VERSION "0.0.0+00000000"
#endif

namespace {

bool is_revision(const char* revision) {
  if (std::strlen(revision) != 40) return false;
  for (int i = 0; i < 40; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(revision[i]))) return false;
  }
  return true;
}

}  // namespace

void version_info_from(const char* version, const char* date, const char* time, const char* revision,
                       VersionInfo* out) {
  if (is_revision(revision)) {
    std::memcpy(out->revision, revision, 41);
    for (char& c : out->revision) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  } else {
    std::memset(out->revision, '0', 40);
    out->revision[40] = '\0';
  }
  std::snprintf(out->version, sizeof out->version, "%s", version);
  std::snprintf(out->build_date, sizeof out->build_date, "%.11s %.8s", date, time);
}

VersionInfo build_version_info() {
  VersionInfo info;
  version_info_from(TRCFORGE_VERSION, __DATE__, __TIME__, TRCFORGE_REVISION, &info);
  return info;
}
