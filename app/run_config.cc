#include "app/run_config.h"

#include <new>

#include "convert/file_system.h"
#include "output/backend.h"
#include "formats/trace_writer.h"

namespace {

// An extension that adds nothing: in place until the back end's is installed.
constexpr OptionExtension kNoExtension{nullptr, nullptr, nullptr};

}  // namespace

RunConfig* config_new() {
  auto* config = new (std::nothrow) RunConfig;
  if (config == nullptr) return nullptr;
  config->hooks = &kNoExtension;
  config->hooks = &trace_option_extension;
  return config;
}

void config_free(RunConfig* config) {
  if (config == nullptr) return;
  if (config->hooks != nullptr && config->hooks->release != nullptr) config->hooks->release(config);
  if (config->output_fs != config->input_fs) fs_free(config->output_fs);
  fs_free(config->input_fs);
  delete config;
}

ConversionJob* job_new(FileSystem* input_fs, FileSystem* output_fs, bool make_dirs,
                       const RunOptions* options, OutputBackend* writer) {
  if (input_fs == nullptr || output_fs == nullptr || options == nullptr || writer == nullptr) {
    return nullptr;
  }
  auto* job = new (std::nothrow) ConversionJob;
  if (job == nullptr) return nullptr;
  job->input_fs = input_fs;
  job->output_fs = output_fs;
  job->make_dirs = make_dirs;
  job->options = options;
  job->writer = writer;
  return job;
}

void job_free(ConversionJob* job) { delete job; }
