#include "convert/convert_file.h"

#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "convert/chunked_pass.h"
#include "convert/driver.h"
#include "convert/file_task.h"
#include "convert/run.h"
#include "convert/paths.h"
#include "convert/run_events.h"
#include "fs/file_system.h"
#include "log/log.h"
#include "output/file_sink.h"
#include "output/format_writer.h"
#include "reader/log_reader.h"
#include "stream/stream.h"

namespace {

constexpr const char kDefaultLoggerId[] = "LOGGERID";

// The observer hears of the bytes read in steps of about this size.
constexpr uint64_t kBytesReadStep = 64 * 1024;

int text_length(std::string_view text) { return static_cast<int>(text.size()); }

// What the reader told of the log besides the lines passed over.
struct ReadCounts {
  uint64_t early_records = 0;  // of the skipped records, those before 1970
  uint64_t first_early_line = 0;
  uint64_t inexact_records = 0;
  uint64_t first_inexact_line = 0;
  std::string title_note;  // what the reader cannot take of the title line

  // Why so many records were skipped.
  const char* skip_cause(uint64_t skipped) const {
    if (early_records == 0) return "a non-increasing timestamp";
    return early_records == skipped ? "a time before 1970" : "a non-increasing timestamp or a time before 1970";
  }
};

// One file's conversion, step by step. Each step logs its own failure.
class FileConversion {
 public:
  FileConversion(const ConversionRun& run, HelperQueue* helpers, FileTask* task)
      : run_(run), helpers_(helpers), task_(task), input_(task->input_path) {
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
    if (!open_input() || !open_log() || !accept_header()) return close_and_fail();
    remember_header();
    const bool began = begin_output();
    bool converted = began && pass_frames() && reader_ended_cleanly();
    const bool ended = end_output(converted);
    release_log();
    report_passed_over_lines();
    converted &= close_input() && ended;
    if (!converted) return fail();
    return run_.options.delete_converted ? remove_input() : PATH_OK;
  }

  void fill_outcome() {
    FileOutcome& outcome = task_->outcome;
    outcome.input_path = task_->input_path;
    if (kept_) outcome.output_path = output_path_;
    outcome.status = task_->result == PATH_OK ? FileOutcome::Status::kConverted : FileOutcome::Status::kFailed;
    outcome.reason = task_->capture.first_error;
    outcome.frames = frames_kept_;
    outcome.skipped_records = skipped_records_;
    outcome.malformed_lines = malformed_lines_;
    outcome.inexact_records = counts_.inexact_records;
    outcome.bytes = opened_as_.size;
    outcome.bytes_told = bytes_told_;
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
      if (log_enabled(LOG_ERROR)) {
        log_write(LOG_ERROR, "Output file %s was already written for %s", earlier->output_name.c_str(),
                  earlier->input_path.c_str());
      }
      return true;
    }
    return false;
  }

  // Makes the output's folder and its missing parents.
  bool make_output_folders() {
    const std::string_view folder = path_folder(output_base_);
    const Status made = run_.outputs->make_folders(folder);
    if (made.ok()) return true;
    if (log_enabled(LOG_ERROR)) {
      log_write(LOG_ERROR, "Could not make output folder %.*s (%s)", text_length(folder), folder.data(),
                Status::reason(made.error()));
    }
    return false;
  }

  // Opens the input, notes its size and time, and puts the read window in
  // front of it.
  bool open_input() {
    if (!run_.input_fs->query(input_, &opened_as_).ok()) opened_as_ = EntryInfo{};
    if (run_.observer != nullptr) run_.observer->file_started(input_, opened_as_.size);
    Status opened;
    stream_ = run_.input_fs->open(input_, Access::kRead, &opened);
    if (stream_ == nullptr) {
      if (log_enabled(LOG_ERROR)) {
        log_write(LOG_ERROR, "Could not open input file %.*s (%s)", text_length(input_), input_.data(),
                  Status::reason(opened.error()));
      }
      return false;
    }
    int64_t size = run_.options.buffer_size;
    if (size < 0) {
      // The window holds the whole file, so the rewind to the first record
      // costs no read; a large file is read through a window of the cap.
      size = stream_size(stream_);
      if (size > kDefaultWindowCap) size = kDefaultWindowCap;
    }
    if (size <= 0) return true;
    Stream* buffered = buffered_reader_new(stream_, true, size);
    if (buffered == nullptr) {
      if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Could not allocate buffer of size %zd", static_cast<ssize_t>(size));
      return false;
    }
    stream_ = buffered;
    return true;
  }

  bool open_log() {
    reader_ = log_reader_open(stream_);
    if (reader_ == nullptr) {
      if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Could not open log");
      return false;
    }
    reader_->name = input_;
    if (!log_reader_title_note(reader_).empty() && log_enabled(LOG_WARN)) {
      log_write(LOG_WARN, "Title line of %.*s: %s", text_length(input_), input_.data(),
                log_reader_title_note(reader_).c_str());
    }
    return true;
  }

  // The header must name the session and the split.
  bool accept_header() {
    const LogHeader& header = reader_->header;
    if (header.session_no != 0 && header.split_no != 0) return true;
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Could not parse file header");
    return false;
  }

  // Compares the header with the last one accepted before this file in walk
  // order ("Repeated input file", continuation), and makes it the last one
  // for the file after this.
  void remember_header() {
    const LogHeader& header = reader_->header;
    const char* logger_id = header.logger_id[0] != '\0' ? header.logger_id : kDefaultLoggerId;
    const HeaderIdentity last = task_->header_before->wait();
    if (!last.logger_id.empty() && last.logger_id == logger_id && header.session_no == last.session_no) {
      if (header.split_no == last.split_no) {
        if (log_enabled(LOG_WARN)) {
          log_write(LOG_WARN, "Repeated input file (%s, %08u, %08u)", logger_id,
                    static_cast<unsigned>(header.session_no), static_cast<unsigned>(header.split_no));
        }
      }
    }
    task_->header_after->publish(HeaderIdentity{logger_id, header.session_no, header.split_no});
  }

  // Creates the output under its temporary name and the format's writer.
  bool begin_output() {
    Status status;
    sink_ = FileSink::create(run_.outputs, output_path_, &status);
    if (sink_ != nullptr) {
      writer_ = run_.format->make_writer(*sink_);
      return true;
    }
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "%s", status.message().c_str());
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Error on new file");
    return false;
  }

  // Hands one frame to the writer, the first one after the header. False
  // (after logging) when the output could not be written.
  bool write_frame(const CanFrame& frame) {
    if (frames_ == 0) {
      writer_->begin(frame);
      if (!sink_->ok()) {
        report_write_failure("Could not write CAN header");
        return false;
      }
    }
    writer_->write(frame);
    ++frames_;
    if (sink_->ok()) return true;
    report_write_failure("Could not write CAN data");
    return false;
  }

  void report_write_failure(const char* what) {
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "%s (%s)", what, Status::reason(sink_->status().error()));
  }

  // Hands every accepted frame to the back end. False when the input could
  // not be positioned or the back end failed.
  bool pass_frames() {
    if (log_reader_rewind(reader_) != reader_->data_start) {
      reader_->read_error = errno;
      report_read_failure();
      return false;
    }
    uint64_t report_at = run_.observer != nullptr ? kBytesReadStep : UINT64_MAX;
    auto take = [this, &report_at](const CanFrame& frame) {
      if (!write_frame(frame)) return false;
      if (reader_->bytes_taken >= report_at) {
        tell_bytes_read();
        report_at = reader_->bytes_taken + kBytesReadStep;
      }
      return true;
    };
    bool passed = true;
    if (helpers_ != nullptr && opened_as_.size > kChunkedLogSize) {
      passed = pass_frames_in_chunks(reader_, helpers_, take);
    } else {
      // Zeroed once: the reader leaves the data bytes beyond a frame's byte
      // string as they were, and the line writers read all eight of a
      // classic frame's bytes at once.
      CanFrame frame{};
      while (passed && log_reader_next(reader_, &frame)) passed = take(frame);
    }
    tell_bytes_read();
    return passed;
  }

  // Tells the observer the bytes taken since it was told last.
  void tell_bytes_read() {
    if (run_.observer == nullptr || reader_->bytes_taken == bytes_told_) return;
    run_.observer->bytes_read(reader_->bytes_taken - bytes_told_);
    bytes_told_ = reader_->bytes_taken;
  }

  // The records read are all the file holds: no read failed and no data
  // hides behind zero bytes.
  bool reader_ended_cleanly() {
    if (log_reader_failed(reader_)) {
      report_read_failure();
      return false;
    }
    if (log_reader_data_after_zero(reader_)) {
      if (log_enabled(LOG_ERROR)) {
        log_write(LOG_ERROR, "Input file %.*s holds data after zero bytes that end its records", text_length(input_),
                  input_.data());
      }
      return false;
    }
    return true;
  }

  void report_read_failure() {
    if (log_enabled(LOG_ERROR)) {
      log_write(LOG_ERROR, "Could not read input file %.*s (%s)", text_length(input_), input_.data(),
                Status::reason(reader_->read_error != 0 ? reader_->read_error : EIO));
    }
  }

  // Ends the output: a complete one with frames is put in place (see
  // FileSink::commit); one without frames, or of a failed input, leaves
  // nothing. True when that succeeded; also true when the output could not
  // be begun.
  bool end_output(bool converted) {
    if (sink_ == nullptr) return true;
    const bool ended = converted && frames_ > 0 ? commit_output() : discard_output();
    writer_.reset();
    sink_.reset();
    if (!ended && log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Error during end file callback");
    return ended;
  }

  bool commit_output() {
    frames_kept_ = frames_;
    writer_->end();
    if (!sink_->ok()) {
      report_write_failure("Could not write CAN data");
      discard_output();
      return false;
    }
    const OutputCommit commit = sink_->commit(run_.options.delete_converted);
    folders_durable_ = commit.folders;
    switch (commit.outcome) {
      case CommitOutcome::kMoved:
      case CommitOutcome::kSameContent:
        kept_ = true;
        return true;
      case CommitOutcome::kOtherContent:
        other_content_ = true;
        return true;
      case CommitOutcome::kLink:
        link_at_name_ = true;
        return true;
      case CommitOutcome::kFailed:
        break;
    }
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "%s", commit.status.message().c_str());
    return false;
  }

  bool discard_output() {
    const Status discarded = sink_->discard();
    if (!discarded.ok() && log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "%s", discarded.message().c_str());
    return discarded.ok();
  }

  // Releases the reader, keeping its counts of the lines that became no frame.
  void release_log() {
    skipped_records_ = reader_->skipped_records;
    malformed_lines_ = reader_->malformed_lines;
    first_malformed_line_ = reader_->first_malformed_line;
    counts_ = ReadCounts{reader_->early_records, reader_->first_early_line, reader_->inexact_records,
                         reader_->first_inexact_line, log_reader_title_note(reader_)};
    log_reader_free(reader_);
    reader_ = nullptr;
  }

  bool close_input() {
    Stream* stream = stream_;
    stream_ = nullptr;
    if (stream_close(stream) == 0) return true;
    const int error = errno;
    if (log_enabled(LOG_ERROR)) {
      log_write(LOG_ERROR, "Could not close input file after conversion: %.*s (%s)", text_length(input_),
                input_.data(), Status::reason(error));
    }
    return false;
  }

  // Record lines that became no frame, in one warning.
  void report_passed_over_lines() {
    if (malformed_lines_ > 0 && log_enabled(LOG_WARN)) {
      log_write(LOG_WARN, "Skipping %llu malformed line(s) of %.*s, the first at line %llu",
                static_cast<unsigned long long>(malformed_lines_), text_length(input_), input_.data(),
                static_cast<unsigned long long>(first_malformed_line_));
    }
    if (counts_.early_records > 0 && log_enabled(LOG_WARN)) {
      log_write(LOG_WARN, "Skipping %llu record(s) before 1970 of %.*s, the first at line %llu",
                static_cast<unsigned long long>(counts_.early_records), text_length(input_), input_.data(),
                static_cast<unsigned long long>(counts_.first_early_line));
    }
    if (counts_.inexact_records > 0 && log_enabled(LOG_WARN)) {
      log_write(LOG_WARN, "%llu inexact record(s) of %.*s, the first at line %llu",
                static_cast<unsigned long long>(counts_.inexact_records), text_length(input_), input_.data(),
                static_cast<unsigned long long>(counts_.first_inexact_line));
    }
  }

  // Why the input must stay although it was converted; empty when nothing of
  // it would be lost by removing it.
  std::string keep_reason() {
    std::string reason;
    if (skipped_records_ > 0) {
      reason = std::to_string(skipped_records_) + " record(s) skipped for " + counts_.skip_cause(skipped_records_);
    } else if (malformed_lines_ > 0) {
      reason = std::to_string(malformed_lines_) + " malformed line(s)";
    } else if (!counts_.title_note.empty()) {
      reason = counts_.title_note;
    } else if (counts_.inexact_records > 0) {
      reason = std::to_string(counts_.inexact_records) + " inexact record(s)";
    } else if (other_content_) {
      reason = "output file " + output_path_ + " holds other content";
    } else if (link_at_name_) {
      reason = "output file " + output_path_ + " is a link";
    } else if (const char* change = input_change()) {
      reason = change;
    } else if (!folders_durable_.ok()) {
      reason = "its output folders could not be synced (" + std::string(Status::reason(folders_durable_.error())) + ")";
    }
    return reason;
  }

  // How the input differs from when it was opened (gone, or another size or
  // modification time, to the nanosecond); nullptr when it does not.
  const char* input_change() {
    EntryInfo now;
    if (run_.input_fs->query(input_, &now).ok() && now.kind == ENTRY_MISSING) {
      return "it disappeared during the conversion";
    }
    if (now.kind == ENTRY_FILE && now.size == opened_as_.size && now.modified_ns == opened_as_.modified_ns) {
      return nullptr;
    }
    return "it changed during the conversion";
  }

  // Removes the converted input when nothing of it would be lost.
  uint32_t remove_input() {
    const std::string reason = keep_reason();
    if (!reason.empty()) {
      if (log_enabled(LOG_ERROR)) {
        log_write(LOG_ERROR, "Keeping input file %.*s: %s", text_length(input_), input_.data(), reason.c_str());
      }
      return PATH_FAILED;
    }
    const Status removed = run_.input_fs->remove(input_);
    if (removed.ok()) {
      task_->outcome.deleted = true;
      return PATH_OK;
    }
    if (log_enabled(LOG_ERROR)) {
      log_write(LOG_ERROR, "Could not remove input file after conversion: %.*s (%s)", text_length(input_),
                input_.data(), Status::reason(removed.error()));
    }
    return PATH_FAILED;
  }

  uint32_t close_and_fail() {
    if (reader_ != nullptr) release_log();
    stream_close(stream_);
    stream_ = nullptr;
    return fail();
  }

  uint32_t fail() {
    if (log_enabled(LOG_ERROR)) {
      log_write(LOG_ERROR, "Error during conversion of %.*s", text_length(input_), input_.data());
    }
    return PATH_FAILED;
  }

  const ConversionRun& run_;
  HelperQueue* helpers_;
  FileTask* task_;
  std::string_view input_;
  std::string output_base_;  // relative to the output root, without extension
  std::string output_path_;  // with the format's extension
  std::unique_ptr<FileSink> sink_;
  std::unique_ptr<FormatWriter> writer_;
  uint64_t frames_ = 0;       // handed to the writer
  uint64_t frames_kept_ = 0;  // in the output put in place
  bool kept_ = false;           // a complete output stands at output_path_
  bool other_content_ = false;  // durable: another file stood there and was kept
  bool link_at_name_ = false;   // durable: a link stood there and was kept
  Status folders_durable_;      // durable: why the output's folders could not be synced
  EntryInfo opened_as_;
  Stream* stream_ = nullptr;
  LogReader* reader_ = nullptr;
  uint64_t skipped_records_ = 0;
  uint64_t malformed_lines_ = 0;
  uint64_t first_malformed_line_ = 0;
  ReadCounts counts_;
  uint64_t bytes_told_ = 0;  // bytes the observer was told of
};

}  // namespace

void convert_file(const ConversionRun& run, HelperQueue* helpers, FileTask* task, bool hold_messages) {
  FileConversion conversion(run, helpers, task);
  conversion.run(hold_messages);
}
