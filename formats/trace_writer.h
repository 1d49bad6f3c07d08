// The trace back end: one PEAK trace file (version 1.1 or 2.1) per input file.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "output/backend.h"

struct FileSystem;
struct Stream;

struct CanFrame;
struct TraceWriter;

// Writes the file header of the writer's version (start time from
// trace_start_time) with one stream write. False when the write came up short.
using TraceHeaderWriter = bool (*)(TraceWriter* writer);
// Writes one frame line with one stream write. True when the line was written
// in full or the version has no line for the frame (CAN FD in version 1.1).
using TraceLineWriter = bool (*)(TraceWriter* writer, const CanFrame* frame);

// The trace back end object: an OutputBackend whose operations write one
// trace file per input file.
struct TraceWriter : OutputBackend {
  FileSystem* output_fs;            // borrowed
  TraceHeaderWriter write_header;   // of the chosen version
  TraceLineWriter write_frame_line; // of the chosen version
  Stream* output;                   // owned; nullptr between input files
  std::string output_path;          // relative to output_fs, ".trc" included
  bool header_written;              // the current file has its header
  double trace_start_time;          // first frame's timestamp; NaN before it
  int64_t message_number;           // number of the next frame line; 1 at new_file
  std::string line_buffer;          // reused for the header and every line

  // The writer's own bookkeeping, not for callers:
  // the open stream was opened by the last new_file, so end_file may remove
  // the file when it holds no frame line; a failed new_file leaves it false
  // and end_file then touches nothing that stands at output_path.
  bool opened_by_new_file;
  // output_path named a file already when new_file opened it (asked only when
  // the output is to be synced): a new file needs its folder synced too.
  bool existed_before_open;
};

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
