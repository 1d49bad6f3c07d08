#include "app/trcforge_main.h"

#include <memory>

#include "app/command_line.h"
#include "app/exit_status.h"
#include "app/process.h"
#include "app/progress.h"
#include "app/report.h"
#include "app/report_target.h"
#include "app/run_config.h"
#include "app/run_totals.h"
#include "convert/driver.h"
#include "convert/job.h"
#include "fs/file_system.h"
#include "log/log.h"

namespace {

// Converts every input of the parsed configuration, telling the observer
// (when there is one) what happens. Returns the exit status, or fallback
// when the run cannot be set up.
int convert_inputs(RunConfig* config, RunObserver* observer, int fallback) {
  ConversionJob* job = job_new(config->input_fs, config->output_fs, true, &config->options, config->format);
  int status = fallback;
  if (job != nullptr) {
    job->observer = observer;
    const RunResult result = run_inputs(job, config->inputs);
    status = result.ended_early ? kExitFailure : static_cast<int>(result.paths);
  } else if (log_enabled(LOG_ERROR)) {
    log_write(LOG_ERROR, "Could not set up the conversion (out of memory)");
  }
  job_free(job);
  return status;
}

// Runs the conversion with the observers the run asks for: the status line
// and summary of an interactive run, and the report (nullptr: none).
int watch_conversion(RunConfig* config, RunReport* report, int fallback) {
  ObserverFanOut observers;
  std::unique_ptr<StatusLine> status_line;
  if (progress_wanted(config->options.non_interactive)) {
    status_line = std::make_unique<StatusLine>(2);
    observers.add(status_line.get());
  }
  if (report != nullptr) {
    log_keep_error_texts();  // each failed file's reason, at any verbosity
    report->set_roots(config->root, config->output_fs->root);
    observers.add(report);
  }
  if (status_line) status_line->start();
  const int status = convert_inputs(config, observers.empty() ? nullptr : &observers, fallback);
  if (status_line) status_line->finish();
  return status;
}

}  // namespace

int trcforge_main(int argc, char** argv) {
  guard_standard_streams();
  install_signal_handlers();
  int status = kExitFailure;
  RunConfig* config = config_new();
  if (config == nullptr) {
    log_set_level(LOG_ERROR);
    log_write(LOG_ERROR, "Could not set up the run (out of memory)");
    return status;
  }
  bool parsed = parse_command_line(config, argc, argv, &status);
  if (parsed && !report_target_allowed(*config)) {
    parsed = false;  // nothing is converted, and the report is not written either
    config->report = false;
  }
  RunReport report;
  const bool reporting = config->report && report.open(config->report_path);
  if (parsed && reporting == config->report) status = watch_conversion(config, reporting ? &report : nullptr, status);
  // A report that cannot be completed fails the run as a set-up failure does.
  if (reporting && !report.finish(status)) status |= kExitFailure;
  config_free(config);
  return status;
}
