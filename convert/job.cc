#include "convert/job.h"

#include <new>

ConversionJob* job_new(FileSystem* input_fs, FileSystem* output_fs, bool make_dirs, const RunOptions* options,
                       const OutputFormat* format) {
  if (input_fs == nullptr || output_fs == nullptr || options == nullptr || format == nullptr) return nullptr;
  auto* job = new (std::nothrow) ConversionJob;
  if (job == nullptr) return nullptr;
  job->input_fs = input_fs;
  job->output_fs = output_fs;
  job->make_dirs = make_dirs;
  job->options = options;
  job->format = format;
  return job;
}

void job_free(ConversionJob* job) { delete job; }
