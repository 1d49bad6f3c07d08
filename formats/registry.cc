#include "formats/registry.h"

#include <strings.h>

#include "formats/format_writers.h"

namespace {

const OutputFormat kFormats[] = {
    {"version1", ".trc", make_trace_v1_writer},  // trace file version 1.1
    {"version2", ".trc", make_trace_v2_writer},  // trace file version 2.1
    {"asc", ".asc", make_asc_writer},
    {"candump", ".log", make_candump_writer},
    {"csv", ".csv", make_csv_writer},
    {"blf", ".blf", make_blf_writer},
};

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

const OutputFormat* find_format(std::string_view name) {
  for (const OutputFormat& format : kFormats) {
    if (same_name(format.name, name)) return &format;
  }
  return nullptr;
}

const OutputFormat& default_format() { return kFormats[1]; }

std::string format_names() {
  std::string names = "{";
  for (const OutputFormat& format : kFormats) {
    if (names.size() > 1) names += ',';
    names += format.name;
  }
  return names + "}";
}
