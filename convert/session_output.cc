#include "convert/session_output.h"

#include "convert/driver.h"
#include "convert/input_log.h"
#include "log/log.h"

std::unique_ptr<SessionOutput> SessionOutput::create(const ConversionRun& run, const std::string& path,
                                                     Status* status) {
  std::unique_ptr<FrameOutput> output = FrameOutput::create(run.outputs, path, *run.format, status);
  if (output == nullptr) return nullptr;
  return std::unique_ptr<SessionOutput>(new SessionOutput(path, std::move(output)));
}

bool SessionOutput::add(SplitRecord split, const HeaderIdentity& identity, double last_time, bool continued) {
  // A split of a joined output is marked also when it is the last, so that
  // a write of it that fails shows here, where it can still be taken back.
  if ((continued || !splits_.empty()) && output_->frames() > 0) output_->mark();
  if (!output_->status().ok()) return false;  // its frames are not whole in the file: it is no split of the output
  splits_.push_back(std::move(split));
  identity_ = identity;
  last_time_ = last_time;
  return true;
}

bool SessionOutput::put_in_place(const ConversionRun& run, Status* failure) {
  placed_ = true;
  attempted_ = output_->frames() > 0;
  if (!attempted_) {
    *failure = output_->discard();
    return failure->ok();
  }
  const OutputCommit commit = output_->commit(run.options.delete_converted);
  folders_durable_ = commit.folders;
  switch (commit.outcome) {
    case CommitOutcome::kMoved:
    case CommitOutcome::kSameContent:
      kept_ = true;
      return true;
    case CommitOutcome::kOtherContent:
      taken_name_ = "output file " + path_ + " holds other content";
      return true;
    case CommitOutcome::kLink:
      taken_name_ = "output file " + path_ + " is a link";
      return true;
    case CommitOutcome::kFailed:
      break;
  }
  *failure = commit.status;
  return false;
}

void SessionOutput::settle_splits(const ConversionRun& run, const Status& failure, const FileTask* self) {
  if (!splits_.empty()) splits_.front().task->kept = kept_;
  for (size_t i = 0; i < splits_.size(); ++i) {
    settle_split(run, splits_[i], i > 0, failure);
    if (splits_[i].task != self) splits_[i].task->finish();
  }
  splits_.clear();
}

void SessionOutput::settle_split(const ConversionRun& run, const SplitRecord& split, bool joined,
                                 const Status& failure) {
  FileTask* task = split.task;
  FileOutcome& outcome = task->outcome;
  if (attempted_) outcome.frames = split.frames;
  if (kept_) outcome.output_path = path_;
  outcome.joined = joined;
  if (task->result != PATH_OK) return;  // its own conversion failed, and has said so
  if (!failure.ok()) {
    // The output holding the split's frames could not be put in place: the
    // split fails with it.
    log_error("Error during conversion of %.*s", log_length(task->input_path), task->input_path.data());
    fail_task(task, failure.message());
  } else if (run.options.delete_converted) {
    remove_log(run, split);
  }
}

std::string SessionOutput::keep_reason(const ConversionRun& run, const SplitRecord& split) const {
  if (!split.keep_reason.empty()) return split.keep_reason;
  if (!taken_name_.empty()) return taken_name_;
  if (const char* change = log_change(*run.input_fs, split.task->input_path, split.opened_as)) return change;
  if (!folders_durable_.ok()) return folders_durable_.message();
  return {};
}

// Removes the log of a converted split when nothing of it would be lost.
void SessionOutput::remove_log(const ConversionRun& run, const SplitRecord& split) {
  FileTask* task = split.task;
  const std::string& name = task->input_path;
  const std::string reason = keep_reason(run, split);
  if (!reason.empty()) {
    const std::string message = "Keeping input file " + name + ": " + reason;
    log_error("%s", message.c_str());
    fail_task(task, message);
    return;
  }
  const Status removed = run.input_fs->remove(name);
  if (removed.ok()) {
    task->outcome.deleted = true;
    return;
  }
  const Status failure = Status::failure("Could not remove input file after conversion: " + name, removed.error());
  log_error("%s", failure.message().c_str());
  fail_task(task, failure.message());
}

void SessionOutput::fail_task(FileTask* task, const std::string& reason) {
  task->result = PATH_FAILED;
  task->outcome.status = FileOutcome::Status::kFailed;
  if (task->outcome.reason.empty()) task->outcome.reason = reason;
}
