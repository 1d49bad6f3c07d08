// The three version lines' values: version string, build date, revision.
#pragma once

struct VersionInfo {
  char version[32];     // YY.MM.DD.<first 8 hex digits of the revision>
  char build_date[32];  // "Mon DD YYYY HH:MM:SS", the day padded with a space
  char revision[41];    // 40 hexadecimal digits
};

// Forms the values from a compiler-style date ("Jan  5 2024"), time
// ("09:30:00") and source revision. A revision that is not 40 hexadecimal
// digits becomes 40 zeros. Returns false (out then holds zeros and the texts
// as given) when the date cannot be read.
bool version_info_from(const char* date, const char* time, const char* revision,
                       VersionInfo* out);

// The values of this build.
VersionInfo build_version_info();
