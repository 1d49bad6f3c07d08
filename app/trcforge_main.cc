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
#include "convert/run.h"
#include "fs/output_tree.h"
#include "log/log.h"

namespace {

// Converts every input of the parsed configuration, telling the observer
// (when there is one) what happens. Returns the exit status.
int convert_inputs(const RunConfig& config, RunObserver* observer) {
  OutputTree outputs(config.output_fs());
  ConversionRun run;
  run.input_fs = config.input_fs.get();
  run.outputs = &outputs;
  run.format = config.format;
  run.options = config.options;
  run.observer = observer;
  const RunResult result = run_inputs(run, config.inputs);
  return result.ended_early ? kExitFailure : static_cast<int>(result.paths);
}

// Runs the conversion with the observers the run asks for: the status line
// and summary of an interactive run, and the report (nullptr: none).
int watch_conversion(const RunConfig& config, RunReport* report) {
  ObserverFanOut observers;
  std::unique_ptr<StatusLine> status_line;
  if (progress_wanted(config.non_interactive)) {
    status_line = std::make_unique<StatusLine>(2);
    observers.add(status_line.get());
  }
  if (report != nullptr) {
    report->set_roots(config.root, config.output_fs()->root());
    observers.add(report);
  }
  if (status_line) status_line->start();
  const int status = convert_inputs(config, observers.empty() ? nullptr : &observers);
  if (status_line) status_line->finish();
  return status;
}

}  // namespace

int trcforge_main(int argc, char** argv) {
  guard_standard_streams();
  install_signal_handlers();
  int status = kExitFailure;
  RunConfig config;
  bool parsed = parse_command_line(&config, argc, argv, &status);
  if (parsed && !report_target_allowed(config)) {
    parsed = false;  // nothing is converted, and the report is not written either
    config.report = false;
  }
  RunReport report;
  const bool reporting = config.report && report.open(config.report_path);
  if (parsed && reporting == config.report) status = watch_conversion(config, reporting ? &report : nullptr);
  // A report that cannot be completed fails the run as a set-up failure does.
  if (reporting && !report.finish(status)) status |= kExitFailure;
  return status;
}
