// What the process sets up before anything else: its standard streams and
// its answer to the signals that stop a run.
#pragma once

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that no file the run opens takes one of them (and a diagnostic line meant
// for standard error never lands in an output file).
void guard_standard_streams();

// SIGINT, SIGTERM and SIGHUP remove the run's temporary output files, erase
// the status line, say so on standard error ("trcforge: stopped by signal 15
// (Terminated); temporary files removed", unless the diagnostic log is
// switched off) and end the process with 128 + the signal number; SIGXFSZ
// is ignored, so that a write beyond the file size limit fails (and is
// reported) instead of killing the process. An exception that nothing
// catches (memory that ran out) ends the process the same way, with
// "trcforge: out of memory; temporary files removed" and status 129.
void install_signal_handlers();
