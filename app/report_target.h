// Where the report of a run may go: never over a log that the run converts
// or an output that it writes.
#pragma once

struct RunConfig;

// True when the report that config asks for (--report) may be written: to
// standard output, or to a file that is neither a log this run converts nor
// an output it writes, however each is reached (links, "..", -X, -O). The
// report's folder is resolved, mapped back to the input folder it lies in or
// whose outputs it holds, and only that folder is looked at, never the whole
// tree; a folder reached through a link inside an input is not seen. A report
// whose folder cannot be resolved is left to fail when it is opened. False
// after the error "Report file R would replace the log L that this run
// converts" (or "the output O that this run writes"), L and O whole paths.
bool report_target_allowed(const RunConfig& config);
