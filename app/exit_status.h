// The exit statuses of the program. A run that got as far as converting
// exits with the bitwise OR of its paths' results (PathResult: 1 missing,
// 8 failed, 129 neither file nor folder), which these complete.
#pragma once

enum ExitStatus : int {
  kExitSuccess = 0,          // a clean run, or the version text
  kExitFailure = 129,        // help, a failed set-up, a run that ended early, a report not completed
  kExitMissingValue = 130,   // an option without its value
  kExitBadValue = 131,       // an unexpected argument, a bad number, a value out of range
  kExitNoCommonRoot = 132,   // no input, or inputs without one folder that holds them all
  kExitBadCommandLine = 134, // any other command-line error (they are also printed on standard output)
};
