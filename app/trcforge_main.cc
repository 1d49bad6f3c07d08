#include "app/trcforge_main.h"

#include "app/command_line.h"
#include "app/process.h"
#include "app/run_config.h"
#include "convert/driver.h"
#include "convert/job.h"
#include "formats/formats.h"

namespace {

// Converts every input of the parsed configuration. Returns the exit status,
// or fallback when the run cannot be set up.
int convert_inputs(RunConfig* config, int fallback) {
  OutputBackend* writer = output_backend_new(config->output_fs, config->output.format);
  if (writer == nullptr) return fallback;
  ConversionJob* job = job_new(config->input_fs, config->output_fs, true, &config->options, writer);
  if (job != nullptr) {
    job->make_writer = [config] { return output_backend_new(config->output_fs, config->output.format); };
  }
  int status = fallback;
  if (job != nullptr) status = static_cast<int>(run_inputs(job, config->inputs));
  job_free(job);
  output_backend_free(writer);
  return status;
}

}  // namespace

int trcforge_main(int argc, char** argv) {
  guard_standard_streams();
  install_signal_handlers();
  int status = 129;
  RunConfig* config = config_new();
  if (config == nullptr) return status;
  if (parse_command_line(config, argc, argv, &status)) status = convert_inputs(config, status);
  config_free(config);
  return status;
}
