// The three version lines' values: version string, build date, revision.
#pragma once

struct VersionInfo {
  char version[32];     // the semantic version with the revision's first 8 digits: "1.1.0+44c1e07c"
  char build_date[32];  // "Mon DD YYYY HH:MM:SS", the day padded with a space
  char revision[41];    // 40 hexadecimal digits
};

// Forms the values from the stamped version text, a compiler-style date
// ("Jan  5 2024") and time ("09:30:00") and the source revision. A revision
// that is not 40 hexadecimal digits becomes 40 zeros.
void version_info_from(const char* version, const char* date, const char* time, const char* revision,
                       VersionInfo* out);

// The values of this build.
VersionInfo build_version_info();
