// The conversion driver: converts every input named on the command line,
// walking folders depth-first in byte order of names, one output file per text
// log, and combines the per-path results into the run's exit status.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ConversionRun;

// Per-path results, combined by bitwise OR.
enum PathResult : uint32_t {
  PATH_OK = 0,         // converted, or passed over (not a "txt" file)
  PATH_MISSING = 1,    // no such file or folder
  PATH_FAILED = 8,     // the file failed to convert, or could not be reached
  PATH_OTHER = 129,    // neither a regular file, a folder, nor missing
};

// What a run of the inputs gave.
struct RunResult {
  uint32_t paths = PATH_OK;  // the OR of the path results
  // A status query failed ("Could not query %.*s for information", or "Error
  // during stat of %.*s, exiting"): the run ended there, and what the earlier
  // paths gave does not count.
  bool ended_early = false;
};

// Converts every input (relative to the root of run.input_fs) in order, a
// folder with "_out" after its name in the output tree unless the options say
// otherwise.
RunResult run_inputs(const ConversionRun& run, const std::vector<std::string>& inputs);
