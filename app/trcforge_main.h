// The program's run sequence, apart from the process's own main().
#pragma once

// Builds the configuration from the command line, opens the report when one
// is asked for, creates the trace writer and the job, converts every input
// (with the status line of an interactive run), writes the report's summary
// and releases everything. Returns the exit status: 0 after the version text
// or a clean run; 129 after help and set-up failures (a report that cannot be
// created among them); 130, 131 and 134 for parse errors; 132 for inputs
// without one root folder; otherwise the OR of the per-path results (1
// missing, 8 failed, 129 neither file nor folder), with 129 ORed in when the
// report could not be completed.
int trcforge_main(int argc, char** argv);
