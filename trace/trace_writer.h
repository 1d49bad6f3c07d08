// The trace back end: one PEAK trace file (version 1.1 or 2.1) per input file.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "trace/backend.h"

struct FileSystem;
struct Stream;

// (Completed by the trace back end: the writer's fields, the line writers and
// the string helpers.)
struct TraceWriter;

// The trace back end's command-line extension: add_options only.
extern const OptionExtension trace_option_extension;

// Creates a writer for trace_version 1 (version 1.1) or 2 (version 2.1) that
// opens its files through output_fs (borrowed). Returns nullptr for any other
// version or on allocation failure. The writer is an OutputBackend: the driver
// calls it through that table only.
TraceWriter* trace_writer_new(FileSystem* output_fs, int trace_version);

// Releases the writer, closing an output stream that is still open (no file is
// removed); accepts nullptr.
void trace_writer_free(TraceWriter* writer);

// The writer's operation table, for the driver.
OutputBackend* trace_writer_backend(TraceWriter* writer);
