// The conversion of one log, step by step: each step returns why it failed,
// and the conversion words it once, in one error line, and keeps the first
// as the file's reason.
#include "convert/convert_file.h"

#include <chrono>
#include <memory>
#include <string>

#include "convert/driver.h"
#include "convert/file_task.h"
#include "convert/input_log.h"
#include "convert/paths.h"
#include "convert/run.h"
#include "convert/run_events.h"
#include "log/log.h"
#include "output/frame_output.h"

namespace {

constexpr const char kDefaultLoggerId[] = "LOGGERID";

// The observer hears of the bytes read about every this many frames.
constexpr uint64_t kFramesPerProgress = 2048;

class FileConversion {
 public:
  FileConversion(const ConversionRun& run, WorkQueue* helpers, FileTask* task)
      : run_(run), helpers_(helpers), task_(task), name_(task->input_path), input_(run.input_fs, name_) {
    output_base_.assign(path_output_base(task->output_path));
    output_path_ = output_base_ + std::string(run.format->extension);
  }

  // Converts the file and leaves in the task what became of it. The file's
  // messages go to the task's capture while it converts.
  void run(bool hold_messages) {
    const auto start = std::chrono::steady_clock::now();
    task_->capture.hold = hold_messages;
    log_capture_begin(&task_->capture);
    task_->result = convert();
    if (!task_->header_after->published()) task_->header_after->publish(task_->header_before->wait());
    log_capture_end();
    task_->kept = kept_;
    task_->output_name = output_path_;
    task_->outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fill_outcome();
  }

 private:
  uint32_t convert() {
    if (output_taken() || !make_output_folders()) return fail();
    if (!check(input_.open_log(run_.options.buffer_size)) || !open_reader() || !accept_header()) return fail();
    remember_header();
    bool converted = begin_output() && pass_frames() && check(input_.read_end());
    const bool ended = end_output(converted);
    report_passed_over_lines();
    converted &= check(input_.close_log()) && ended;
    if (!converted) return fail();
    return run_.options.delete_converted ? remove_input() : PATH_OK;
  }

  void fill_outcome() {
    FileOutcome& outcome = task_->outcome;
    outcome.input_path = task_->input_path;
    if (kept_) outcome.output_path = output_path_;
    outcome.status = task_->result == PATH_OK ? FileOutcome::Status::kConverted : FileOutcome::Status::kFailed;
    outcome.reason = reason_;
    outcome.frames = frames_kept_;
    outcome.skipped_records = counts_.skipped_records;
    outcome.malformed_lines = counts_.malformed_lines;
    outcome.inexact_records = counts_.inexact_records;
    outcome.bytes = input_.size();
    outcome.bytes_told = bytes_told_;
  }

  // Logs a failure in one error line; the first is the file's reason.
  void error(const Status& status) {
    const std::string message = status.message();
    log_error("%s", message.c_str());
    if (reason_.empty()) reason_ = message;
  }
  void error(const std::string& message) { error(Status::failure(message)); }

  // True for success; logs a failure.
  bool check(const Status& status) {
    if (!status.ok()) error(status);
    return status.ok();
  }

  // Two inputs of one run never share an output: a sibling that maps to the
  // same output (a.txt and a.TXT) fails before anything is touched when an
  // earlier one kept its output.
  bool output_taken() {
    for (const FileTask* earlier = task_->same_output_before.get(); earlier != nullptr;
         earlier = earlier->same_output_before.get()) {
      earlier->wait_done();
      if (!earlier->kept) continue;
      if (earlier->input_path == task_->input_path) return false;  // the same input named twice
      error("Output file " + earlier->output_name + " was already written for " + earlier->input_path);
      return true;
    }
    return false;
  }

  // Makes the output's folder and its missing parents.
  bool make_output_folders() {
    const std::string_view folder = path_folder(output_base_);
    const Status made = run_.outputs->make_folders(folder);
    if (made.ok()) return true;
    error(Status::failure("Could not make output folder " + std::string(folder), made.error()));
    return false;
  }

  // Opens the reader, and tells what it cannot take of the title line.
  bool open_reader() {
    if (run_.observer != nullptr) run_.observer->file_started(name_, input_.size());
    if (!check(input_.open_reader())) return false;
    title_note_ = input_.reader().title_note();
    if (!title_note_.empty()) log_warn("Title line of %.*s: %s", log_length(name_), name_.data(), title_note_.c_str());
    return true;
  }

  // The header must name the session and the split.
  bool accept_header() {
    const LogHeader& header = input_.reader().header();
    if (header.session_no != 0 && header.split_no != 0) return true;
    error("Could not parse file header");
    return false;
  }

  // Compares the header with the last one accepted before this file in walk
  // order ("Repeated input file"), and makes it the last one for the file
  // after this.
  void remember_header() {
    const LogHeader& header = input_.reader().header();
    const char* logger_id = header.logger_id[0] != '\0' ? header.logger_id : kDefaultLoggerId;
    const HeaderIdentity last = task_->header_before->wait();
    if (!last.logger_id.empty() && last.logger_id == logger_id && header.session_no == last.session_no &&
        header.split_no == last.split_no) {
      log_warn("Repeated input file (%s, %08u, %08u)", logger_id, static_cast<unsigned>(header.session_no),
               static_cast<unsigned>(header.split_no));
    }
    task_->header_after->publish(HeaderIdentity{logger_id, header.session_no, header.split_no});
  }

  // Creates the output under its temporary name.
  bool begin_output() {
    Status status;
    output_ = FrameOutput::create(run_.outputs, output_path_, *run_.format, &status);
    if (output_ != nullptr) return true;
    error(status);
    error("Error on new file");
    return false;
  }

  // Hands every accepted frame to the output, the large log's chunks parsed
  // by the threads converting beside this one. False when the input could
  // not be positioned or the output failed.
  bool pass_frames() {
    LogReader& reader = input_.reader();
    auto take = [this, &reader](const CanFrame& frame) {
      if (!output_->write(frame)) return false;
      if (output_->frames() % kFramesPerProgress == 0) tell_bytes_read(reader);
      return true;
    };
    WorkQueue* helpers = helpers_ != nullptr && input_.size() > LogReader::kChunkedLogSize ? helpers_ : nullptr;
    const bool passed = reader.read_frames(take, helpers);
    tell_bytes_read(reader);
    counts_ = reader.counts();
    if (!output_->status().ok()) error(output_->status());
    return passed;
  }

  // Tells the observer the bytes taken since it was told last.
  void tell_bytes_read(const LogReader& reader) {
    if (run_.observer == nullptr) return;
    const uint64_t taken = reader.bytes_taken();
    if (taken == bytes_told_) return;
    run_.observer->bytes_read(taken - bytes_told_);
    bytes_told_ = taken;
  }

  // Ends the output: a complete one with frames is put in place; one without
  // frames, or of a failed input, leaves nothing. True when that succeeded;
  // also true when the output could not be begun.
  bool end_output(bool converted) {
    if (output_ == nullptr) return true;
    const bool ended = converted && output_->frames() > 0 ? commit_output() : check(output_->discard());
    output_.reset();
    if (!ended) error("Error during end file callback");
    return ended;
  }

  bool commit_output() {
    frames_kept_ = output_->frames();
    const OutputCommit commit = output_->commit(run_.options.delete_converted);
    folders_durable_ = commit.folders;
    switch (commit.outcome) {
      case CommitOutcome::kMoved:
      case CommitOutcome::kSameContent:
        kept_ = true;
        return true;
      case CommitOutcome::kOtherContent:
        taken_name_ = "output file " + output_path_ + " holds other content";
        return true;
      case CommitOutcome::kLink:
        taken_name_ = "output file " + output_path_ + " is a link";
        return true;
      case CommitOutcome::kFailed:
        break;
    }
    return check(commit.status);
  }

  // Record lines that became no frame, or not the frame they say, one
  // warning each kind.
  void report_passed_over_lines() {
    warn_count(counts_.malformed_lines, "Skipping %llu malformed line(s) of %.*s, the first at line %llu",
               counts_.first_malformed_line);
    warn_count(counts_.early_records, "Skipping %llu record(s) before 1970 of %.*s, the first at line %llu",
               counts_.first_early_line);
    warn_count(counts_.inexact_records, "%llu inexact record(s) of %.*s, the first at line %llu",
               counts_.first_inexact_line);
  }

  void warn_count(uint64_t count, const char* format, uint64_t first_line) {
    if (count == 0) return;
    log_warn(format, static_cast<unsigned long long>(count), log_length(name_), name_.data(),
             static_cast<unsigned long long>(first_line));
  }

  // Why the input must stay although it was converted; empty when nothing of
  // it would be lost by removing it.
  std::string keep_reason() {
    const uint64_t skipped = counts_.skipped_records;
    if (skipped > 0) return std::to_string(skipped) + " record(s) skipped for " + skip_cause();
    if (counts_.malformed_lines > 0) return std::to_string(counts_.malformed_lines) + " malformed line(s)";
    if (!title_note_.empty()) return title_note_;
    if (counts_.inexact_records > 0) return std::to_string(counts_.inexact_records) + " inexact record(s)";
    if (!taken_name_.empty()) return taken_name_;
    if (const char* change = input_.change()) return change;
    if (!folders_durable_.ok()) {
      return "its output folders could not be synced (" + std::string(Status::reason(folders_durable_.error())) + ")";
    }
    return {};
  }

  // Why the skipped records were skipped.
  const char* skip_cause() const {
    if (counts_.early_records == 0) return "a non-increasing timestamp";
    return counts_.early_records == counts_.skipped_records ? "a time before 1970"
                                                            : "a non-increasing timestamp or a time before 1970";
  }

  // Removes the converted input when nothing of it would be lost.
  uint32_t remove_input() {
    const std::string reason = keep_reason();
    if (!reason.empty()) {
      error("Keeping input file " + std::string(name_) + ": " + reason);
      return PATH_FAILED;
    }
    const Status removed = run_.input_fs->remove(name_);
    if (removed.ok()) {
      task_->outcome.deleted = true;
      return PATH_OK;
    }
    error(Status::failure("Could not remove input file after conversion: " + std::string(name_), removed.error()));
    return PATH_FAILED;
  }

  uint32_t fail() {
    error("Error during conversion of " + std::string(name_));
    return PATH_FAILED;
  }

  const ConversionRun& run_;
  WorkQueue* helpers_;
  FileTask* task_;
  std::string_view name_;  // the input, relative to the input root
  InputLog input_;
  std::string output_base_;  // relative to the output root, without extension
  std::string output_path_;  // with the format's extension
  std::unique_ptr<FrameOutput> output_;
  std::string title_note_;  // what the reader cannot take of the title line
  ReadCounts counts_;
  uint64_t frames_kept_ = 0;  // in the output put in place
  bool kept_ = false;         // a complete output stands at output_path_
  std::string taken_name_;    // durable: why another entry at the output's name was kept
  Status folders_durable_;    // durable: why the output's folders could not be synced
  uint64_t bytes_told_ = 0;   // bytes the observer was told of
  std::string reason_;        // the first error
};

}  // namespace

void convert_file(const ConversionRun& run, WorkQueue* helpers, FileTask* task, bool hold_messages) {
  FileConversion conversion(run, helpers, task);
  conversion.run(hold_messages);
}
