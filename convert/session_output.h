// The output of one session: one log's frames, or those of a session's
// split logs joined (--join-splits), written into one file and settled
// together. A split is added when its frames are in whole; the output is
// then marked, so that a split that fails part way is rolled back to the
// splits before it. The output is put in place once; then each split is
// settled on its own: under -d its log is removed only when the output
// holding all its frames is complete and durable and nothing of the log
// itself would be lost.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "convert/file_task.h"
#include "convert/run.h"
#include "fs/file_system.h"
#include "output/frame_output.h"
#include "stream/status.h"

// A split (or the one log) whose frames are in the output.
struct SplitRecord {
  FileTask* task = nullptr;  // its outcome is settled with the output
  std::string keep_reason;   // why its log must stay whatever the output becomes ("" when nothing)
  EntryInfo opened_as;       // the log's size and time when it was opened
  uint64_t frames = 0;       // its frames in the output
};

class SessionOutput {
 public:
  // The output at path (relative to the output root). nullptr, with
  // *status telling why, when it cannot be created.
  static std::unique_ptr<SessionOutput> create(const ConversionRun& run, const std::string& path, Status* status);

  FrameOutput& frames() { return *output_; }
  const std::string& path() const { return path_; }
  // The identity of the session's last split, and its last frame's time.
  const HeaderIdentity& identity() const { return identity_; }
  double last_time() const { return last_time_; }

  // Adds a split whose frames are all written, and marks the output there
  // when the output joins splits: another split may continue it (continued)
  // or it continues one. False, adding nothing,
  // when the output could not be written up to there (frames().status()
  // tells why).
  bool add(SplitRecord split, const HeaderIdentity& identity, double last_time, bool continued);
  // Forgets the frames written since the last split was added.
  void drop_partial() { output_->rollback(); }
  // True while no split was added.
  bool empty() const { return splits_.empty(); }
  // Removes the output of a session without splits; the final name stays as
  // it was.
  Status discard() { return output_->discard(); }

  // Puts the output in place: one with frames is committed (durably under
  // -d), one without leaves nothing. False, with *failure telling why, when
  // that failed.
  bool put_in_place(const ConversionRun& run, Status* failure);
  bool placed() const { return placed_; }
  // Settles every split after put_in_place: its output and frames in its
  // outcome; when the output failed (failure), the split fails with it;
  // else under -d its log is removed or kept with the line that says why.
  // Finishes the task of every split but self's, which its own conversion
  // finishes. Messages go to the calling thread's log.
  void settle_splits(const ConversionRun& run, const Status& failure, const FileTask* self);

 private:
  SessionOutput(std::string path, std::unique_ptr<FrameOutput> output)
      : path_(std::move(path)), output_(std::move(output)) {}
  void settle_split(const ConversionRun& run, const SplitRecord& split, bool joined, const Status& failure);
  void remove_log(const ConversionRun& run, const SplitRecord& split);
  std::string keep_reason(const ConversionRun& run, const SplitRecord& split) const;
  static void fail_task(FileTask* task, const std::string& reason);

  std::string path_;
  std::unique_ptr<FrameOutput> output_;
  std::vector<SplitRecord> splits_;
  HeaderIdentity identity_;
  double last_time_ = 0.0;
  bool placed_ = false;     // put_in_place was called
  bool attempted_ = false;  // an output with frames was committed (or tried)
  bool kept_ = false;       // it stands at path_
  std::string taken_name_;  // durable: why another entry at the output's name was kept
  Status folders_durable_;  // durable: why the output's folders could not be synced
};
