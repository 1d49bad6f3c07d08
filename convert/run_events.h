// What a run tells an observer as it goes (a progress display, a report):
// the work found, the work done, and how each file ended.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How one file of the walk ended.
struct FileOutcome {
  enum class Status {
    kConverted,   // a text log converted (with or without an output: a log without frames leaves none)
    kFailed,      // a text log that failed, or a path that could not be reached
    kPassedOver,  // any other file
  };
  std::string input_path;   // relative to the input root
  std::string output_path;  // relative to the output root; empty when no output was kept
  Status status = Status::kPassedOver;
  std::string reason;       // the text of the file's first error message; empty when there was none
  uint64_t frames = 0;           // frame lines written
  uint64_t skipped_records = 0;  // records passed over for a non-increasing timestamp
  uint64_t malformed_lines = 0;  // record lines no logger writes
  uint64_t inexact_records = 0;  // frames that say something other than their record line
  int64_t bytes = 0;             // the input's size
  uint64_t bytes_told = 0;       // what bytes_read was told of this file
  bool deleted = false;          // the input was removed
  bool joined = false;           // a split whose frames were appended to an earlier split's output
  double seconds = 0.0;          // time spent on it
};

// Receives the events of a run. The default of every event is to do nothing.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The walk found more files to look at (entries of any kind but folders)
  // with so many bytes, and the number of folders it has still to list
  // changed by folders: +1 for a folder named on the command line (all of
  // them are told before the walk begins), the number of its sub-folders
  // less one for a folder listed, -1 for a folder that is not listed after
  // all. The count of files is complete once that number is back to 0.
  virtual void work_found(uint64_t files, uint64_t bytes, int64_t folders) {
    (void)files;
    (void)bytes;
    (void)folders;
  }
  // The conversion of a file begins.
  virtual void file_started(std::string_view input_path, int64_t bytes) {
    (void)input_path;
    (void)bytes;
  }
  // So many more bytes of the files being converted were read. Called from
  // the threads that convert, now and then (every 64 KiB or so, and once at
  // the end of a file's records).
  virtual void bytes_read(uint64_t bytes) { (void)bytes; }
  // A file ended. Called in walk order, whatever ended first.
  virtual void file_finished(const FileOutcome& outcome) { (void)outcome; }
};
