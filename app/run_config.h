// Creation and release of the run's configuration and job records.
#pragma once

#include "app/run_records.h"

// A fresh configuration: no paths, no file systems, buffer_size -1,
// trace_version 0, hooks pointing to the trace back end's extension. Returns
// nullptr when memory runs out.
RunConfig* config_new();

// Calls the release hook, releases the file systems (output_fs only when it is
// not input_fs) and the record. Accepts nullptr.
void config_free(RunConfig* config);

// A job that borrows the two file systems, the options and the writer.
// Returns nullptr when any of them is missing or memory runs out.
ConversionJob* job_new(FileSystem* input_fs, FileSystem* output_fs, bool make_dirs,
                       const RunOptions* options, OutputBackend* writer);

// Releases the job and nothing it borrows. Accepts nullptr.
void job_free(ConversionJob* job);
