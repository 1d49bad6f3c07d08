#include "app/trcforge_main.h"

#include "app/command_line.h"
#include "app/run_config.h"
#include "convert/driver.h"
#include "formats/trace_writer.h"

int trcforge_main(int argc, char** argv) {
  int status = 129;
  RunConfig* config = config_new();
  if (config == nullptr) return status;
  if (!parse_command_line(config, argc, argv, &status)) {
    config_free(config);
    return status;
  }
  TraceWriter* writer = trace_writer_new(config->output_fs, config->trace_version);
  if (writer == nullptr) {
    config_free(config);
    return status;
  }
  ConversionJob* job = job_new(config->input_fs, config->output_fs, true, &config->options,
                               trace_writer_backend(writer));
  if (job == nullptr) {
    trace_writer_free(writer);
    config_free(config);
    return status;
  }
  status = static_cast<int>(run_inputs(job, config->inputs));
  config_free(config);
  trace_writer_free(writer);
  job_free(job);
  return status;
}
