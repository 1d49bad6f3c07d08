#include "formats/formats.h"

#include <strings.h>

#include "output/text_output.h"

namespace {

struct FormatEntry {
  const char* name;
  int id;
  const TextFormat* format;
};

const FormatEntry kFormats[] = {
    {"version1", FORMAT_TRACE_V1, &kTraceV1Format},
    {"version2", FORMAT_TRACE_V2, &kTraceV2Format},
    {"asc", FORMAT_ASC, &kAscFormat},
    {"candump", FORMAT_CANDUMP, &kCandumpFormat},
    {"csv", FORMAT_CSV, &kCsvFormat},
};

}  // namespace

int output_format_by_name(const char* name) {
  for (const FormatEntry& entry : kFormats) {
    if (strcasecmp(name, entry.name) == 0) return entry.id;
  }
  return 0;
}

const char* output_format_extension(int format) {
  for (const FormatEntry& entry : kFormats) {
    if (entry.id == format) return entry.format->extension;
  }
  return nullptr;
}

OutputBackend* output_backend_new(FileSystem* output_fs, int format) {
  for (const FormatEntry& entry : kFormats) {
    if (entry.id == format) return text_output_new(output_fs, entry.format);
  }
  return nullptr;
}
