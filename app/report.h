// The report of a run for scripts and batch systems (--report=<file>): one
// JSON object per file, one per line, in walk order as each file ends, then
// one summary object with the totals and the exit status.
//
// A path is a byte string: a path that is no valid UTF-8 is written with
// every invalid byte replaced by U+FFFD, and its exact bytes follow in a
// second field, "input_hex" or "output_hex" (two lower-case hexadecimal
// digits per byte). The reason text is written the same way, without a
// second field.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "app/run_totals.h"
#include "convert/run_events.h"
#include "fs/output_tree.h"

class RunReport : public RunObserver {
 public:
  RunReport() = default;
  ~RunReport() override;
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  // Opens the report: "-" is standard output; a regular file (or a new
  // name) is written under a temporary name beside it and put in place by
  // finish; anything else (a device, a pipe) is written directly. False,
  // with an error logged, when it cannot be written.
  bool open(const std::string& path);

  // The roots that the paths of the outcomes are relative to (each ends in
  // "/"); the report gives whole paths.
  void set_roots(const std::string& input_root, const std::string& output_root);

  void file_finished(const FileOutcome& outcome) override;

  // Writes the summary with the exit status and puts the report in place.
  // False, with an error logged, when the report could not be written.
  bool finish(int exit_status);

 private:
  void write_line(const std::string& line);

  bool open_ = false;
  std::string path_;     // as given, for messages
  int fd_ = -1;          // standard output or the target opened directly; -1 for a pending file
  bool own_fd_ = false;  // fd_ is closed at the end
  std::unique_ptr<FileSystem> folder_;  // the folder of a pending file
  std::unique_ptr<OutputTree> tree_;    // its outputs: the report
  PendingOutput pending_;
  int write_error_ = 0;  // errno of the first failed write

  std::mutex mutex_;
  std::string input_root_;
  std::string output_root_;
  RunTotals totals_;
  std::chrono::steady_clock::time_point started_;
};
