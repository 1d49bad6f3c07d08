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
#include "convert/session_link.h"
#include "convert/session_output.h"
#include "log/log.h"

namespace {

// The observer hears of the bytes read about every this many frames.
constexpr uint64_t kFramesPerProgress = 2048;

class FileConversion {
 public:
  FileConversion(const ConversionRun& run, WorkQueue* helpers, FileTask* task)
      : run_(run), helpers_(helpers), task_(task), name_(task->input_path), input_(run.input_fs, name_) {
    output_base_.assign(path_output_base(task->output_path));
    output_path_ = output_base_ + std::string(run.format->extension);
  }

  // Converts the file and leaves in the task what became of it; finishes
  // the task, or hands it on with its session's output to the next split,
  // whose conversion finishes it. The file's messages go to the task's
  // capture while it converts.
  void run(bool hold_messages) {
    const auto start = std::chrono::steady_clock::now();
    task_->capture.hold = hold_messages;
    log_capture_begin(&task_->capture);
    if (task_->session_before != nullptr) session_ = task_->session_before->wait_for_session();
    task_->output_name = output_path_;
    task_->result = convert();
    if (!task_->header_after->published()) task_->header_after->publish(task_->header_before->wait());
    fill_outcome();
    if (!handing_on_) settle_session();
    log_capture_end();
    task_->outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (handing_on_) {
      task_->session_after->hand_on(std::move(session_));
      task_->hand_on();
    } else {
      task_->finish();
    }
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
    return PATH_OK;
  }

  // What the file's own conversion tells of it; its output and its removal
  // come when its session is settled.
  void fill_outcome() {
    FileOutcome& outcome = task_->outcome;
    outcome.input_path = task_->input_path;
    outcome.status = task_->result == PATH_OK ? FileOutcome::Status::kConverted : FileOutcome::Status::kFailed;
    outcome.reason = reason_;
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
      // One whose session goes on may yet put its output there.
      const bool kept = earlier->wait_settled() ? earlier->kept : true;
      if (!kept) continue;
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
  // order ("Repeated input file", a split missing or out of order), and
  // makes it the last one for the file after this.
  void remember_header() {
    const LogHeader& header = input_.reader().header();
    identity_ = HeaderIdentity{header.logger_id[0] != '\0' ? header.logger_id : kDefaultLoggerId, header.session_no,
                               header.split_no, task_->input_path};
    const HeaderIdentity last = task_->header_before->wait();
    if (!last.logger_id.empty() && last.logger_id == identity_.logger_id && last.session_no == identity_.session_no) {
      warn_split_order(last);
    }
    task_->header_after->publish(identity_);
  }

  // Warns when this split does not follow the last one of its session.
  void warn_split_order(const HeaderIdentity& last) {
    const char* id = identity_.logger_id.c_str();
    const int64_t split = identity_.split_no, expected = int64_t{last.split_no} + 1;
    const int session = identity_.session_no;
    if (split == last.split_no) {
      log_warn("Repeated input file (%s, %08u, %08u)", id, static_cast<unsigned>(session), static_cast<unsigned>(split));
    } else if (split == expected + 1) {
      log_warn("Session %s/%d: split %lld missing between %s and %s", id, session, static_cast<long long>(expected),
               last.input_path.c_str(), identity_.input_path.c_str());
    } else if (split > expected) {
      log_warn("Session %s/%d: splits %lld to %lld missing between %s and %s", id, session,
               static_cast<long long>(expected), static_cast<long long>(split - 1), last.input_path.c_str(),
               identity_.input_path.c_str());
    } else if (split < last.split_no) {
      log_warn("Session %s/%d: split %lld expected after %s, but %s is split %lld", id, session,
               static_cast<long long>(expected), last.input_path.c_str(), identity_.input_path.c_str(),
               static_cast<long long>(split));
    }
  }

  // Appends to the session of the split before, when this split continues
  // it; else settles that session, and creates this log's own output under
  // its temporary name.
  bool begin_output() {
    if (session_ != nullptr && session_->identity().continued_by(identity_)) {
      input_.reader().continue_after(session_->last_time());
      return true;
    }
    if (session_ != nullptr) settle_session();
    Status status;
    session_ = SessionOutput::create(run_, output_path_, &status);
    if (session_ != nullptr) return true;
    error(status);
    error("Error on new file");
    return false;
  }

  // Hands every accepted frame to the output, the large log's chunks parsed
  // by the threads converting beside this one. False when the input could
  // not be positioned or the output failed.
  bool pass_frames() {
    LogReader& reader = input_.reader();
    FrameOutput& output = session_->frames();
    frames_before_ = output.frames();
    // The observer hears of the bytes read at each kFramesPerProgress-th
    // frame written.
    struct Take {
      FileConversion* conversion;
      LogReader& reader;
      FrameOutput& output;

      bool operator()(const CanFrame& frame) {
        if (!output.write(frame)) return false;
        if (output.frames() % kFramesPerProgress == 0) conversion->tell_bytes_read(reader);
        return true;
      }
      size_t operator()(const CanFrame* frames, size_t count) {
        const uint64_t before = output.frames();
        const size_t taken = output.write_frames(frames, count);
        if ((before + taken) / kFramesPerProgress != before / kFramesPerProgress) conversion->tell_bytes_read(reader);
        return taken;
      }
    } take{this, reader, output};
    WorkQueue* helpers = helpers_ != nullptr && input_.size() > LogReader::kChunkedLogSize ? helpers_ : nullptr;
    const bool passed = reader.read_frames(take, helpers);
    tell_bytes_read(reader);
    counts_ = reader.counts();
    if (!output.status().ok()) error(output.status());
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

  // Ends this split's part of the output: a split converted whole is added
  // to its session, one that failed is dropped from it (an output of its
  // own, then, leaves nothing). The session goes on to the next split when
  // one continues it; else it is put in place here. True when that
  // succeeded; also true when the output could not be begun. False when the
  // split, converted whole, could not be added (its frames did not reach
  // the file).
  bool end_output(bool converted) {
    if (session_ == nullptr) return true;
    const bool added = converted && add_split();
    if (added && task_->session_after != nullptr) {
      handing_on_ = true;
      return true;
    }
    const bool add_failed = converted && !added;
    if (added || !session_->empty()) {
      if (!added) session_->drop_partial();
      return put_session_in_place() && !add_failed;
    }
    const bool discarded = check(session_->discard());
    session_.reset();
    if (!discarded) error("Error during end file callback");
    return discarded && !add_failed;
  }

  bool add_split() {
    const uint64_t frames = session_->frames().frames() - frames_before_;
    const SplitRecord split{task_, own_keep_reason(), input_.opened_as(), frames};
    if (session_->add(split, identity_, input_.reader().last_accepted_time(), task_->session_after != nullptr)) {
      return true;
    }
    error(session_->frames().status());
    return false;
  }

  bool put_session_in_place() {
    if (session_->put_in_place(run_, &put_failure_)) return true;
    error(put_failure_);
    error("Error during end file callback");
    return false;
  }

  // Settles the session this conversion holds, put in place first when it
  // was not yet: each split's outcome, and under -d its log removed or kept.
  void settle_session() {
    if (task_->session_after != nullptr && !handing_on_) task_->session_after->hand_on(nullptr);
    if (session_ == nullptr) return;
    if (!session_->placed()) {
      Status failure;
      if (!session_->put_in_place(run_, &failure)) log_error("%s", failure.message().c_str());
      put_failure_ = failure;
    }
    session_->settle_splits(run_, put_failure_, task_);
    session_.reset();
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

  // Why the log must stay whatever becomes of its output ("" when nothing of
  // it would be lost by removing it once its frames are safe).
  std::string own_keep_reason() const {
    const uint64_t skipped = counts_.skipped_records;
    if (skipped > 0) return std::to_string(skipped) + " record(s) skipped for " + skip_cause();
    if (counts_.malformed_lines > 0) return std::to_string(counts_.malformed_lines) + " malformed line(s)";
    if (!title_note_.empty()) return title_note_;
    if (counts_.inexact_records > 0) return std::to_string(counts_.inexact_records) + " inexact record(s)";
    return {};
  }

  // Why the skipped records were skipped.
  const char* skip_cause() const {
    if (counts_.early_records == 0) return "a non-increasing timestamp";
    return counts_.early_records == counts_.skipped_records ? "a time before 1970"
                                                            : "a non-increasing timestamp or a time before 1970";
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
  HeaderIdentity identity_;  // of this log's header
  std::unique_ptr<SessionOutput> session_;  // the output this log's frames go to
  uint64_t frames_before_ = 0;  // the frames of the session's earlier splits
  bool handing_on_ = false;     // the session goes on to the next split
  Status put_failure_;          // why the session's output could not be put in place
  std::string title_note_;  // what the reader cannot take of the title line
  ReadCounts counts_;
  uint64_t bytes_told_ = 0;   // bytes the observer was told of
  std::string reason_;        // the first error
};

}  // namespace

void convert_file(const ConversionRun& run, WorkQueue* helpers, FileTask* task, bool hold_messages) {
  FileConversion conversion(run, helpers, task);
  conversion.run(hold_messages);
}
