// What the app's observers share: the totals of a run's file outcomes, and
// one observer that hands every event on to several.
#pragma once

#include <cstdint>
#include <vector>

#include "convert/run_events.h"

// The sums over the files that ended.
struct RunTotals {
  uint64_t files = 0;
  uint64_t converted = 0;
  uint64_t failed = 0;
  uint64_t passed_over = 0;
  uint64_t deleted = 0;
  uint64_t outputs = 0;    // outputs written (one for the splits of a joined session)
  uint64_t frames = 0;
  uint64_t skipped_records = 0;
  uint64_t malformed_lines = 0;
  uint64_t inexact_records = 0;
  uint64_t bytes = 0;      // the sizes of all files
  uint64_t log_bytes = 0;  // the sizes of the logs converted or failed: what was read

  void add(const FileOutcome& outcome) {
    ++files;
    const uint64_t size = outcome.bytes > 0 ? static_cast<uint64_t>(outcome.bytes) : 0;
    switch (outcome.status) {
      case FileOutcome::Status::kConverted: ++converted; log_bytes += size; break;
      case FileOutcome::Status::kFailed: ++failed; log_bytes += size; break;
      case FileOutcome::Status::kPassedOver: ++passed_over; break;
    }
    deleted += outcome.deleted ? 1 : 0;
    outputs += !outcome.output_path.empty() && !outcome.joined ? 1 : 0;
    frames += outcome.frames;
    skipped_records += outcome.skipped_records;
    malformed_lines += outcome.malformed_lines;
    inexact_records += outcome.inexact_records;
    bytes += size;
  }
};

// Hands every event to each of its observers, in the order they were added.
class ObserverFanOut : public RunObserver {
 public:
  void add(RunObserver* observer) { observers_.push_back(observer); }
  bool empty() const { return observers_.empty(); }

  void work_found(uint64_t files, uint64_t bytes, int64_t folders) override {
    for (RunObserver* observer : observers_) observer->work_found(files, bytes, folders);
  }
  void file_started(std::string_view input_path, int64_t bytes) override {
    for (RunObserver* observer : observers_) observer->file_started(input_path, bytes);
  }
  void bytes_read(uint64_t bytes) override {
    for (RunObserver* observer : observers_) observer->bytes_read(bytes);
  }
  void file_finished(const FileOutcome& outcome) override {
    for (RunObserver* observer : observers_) observer->file_finished(outcome);
  }

 private:
  std::vector<RunObserver*> observers_;
};
