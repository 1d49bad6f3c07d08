// The output formats: their names on the command line, their back ends, and
// the option that chooses one. The entry point knows the formats through this
// header only; the conversion driver not at all.
#pragma once

#include "fs/file_system.h"
#include "output/backend.h"

struct TextFormat;

// Format numbers, as OutputSettings::format holds them.
enum OutputFormatId : int {
  FORMAT_TRACE_V1 = 1,  // "version1": trace file version 1.1
  FORMAT_TRACE_V2 = 2,  // "version2": trace file version 2.1, the default
  FORMAT_ASC = 3,       // "asc": ASC file
  FORMAT_CANDUMP = 4,   // "candump": candump log
  FORMAT_CSV = 5,       // "csv": comma-separated values
};

// The number of a format name (any letter case), 0 for no format.
int output_format_by_name(const char* name);

// The extension of the format's output names (".trc"), or nullptr for no
// format.
const char* output_format_extension(int format);

// Creates the back end of the format, writing through output_fs (borrowed).
// Returns nullptr for an unknown format or when memory runs out. Released
// with output_backend_free.
OutputBackend* output_backend_new(FileSystem* output_fs, int format);

// The "trace-format" option: add_options only.
extern const OptionExtension format_option_extension;

// The formats' writers (each in its own file).
extern const TextFormat kTraceV1Format;
extern const TextFormat kTraceV2Format;
extern const TextFormat kAscFormat;
extern const TextFormat kCandumpFormat;
extern const TextFormat kCsvFormat;
