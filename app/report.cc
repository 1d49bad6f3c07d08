// The JSON report of a run, written with nlohmann-json.
#include "app/report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <nlohmann/json.hpp>

#include "app/progress.h"
#include "convert/paths.h"
#include "fs/file_system.h"
#include "log/log.h"

namespace {

using Json = nlohmann::ordered_json;

const char* status_name(FileOutcome::Status status) {
  switch (status) {
    case FileOutcome::Status::kConverted: return "converted";
    case FileOutcome::Status::kFailed: return "failed";
    case FileOutcome::Status::kPassedOver: break;
  }
  return "skipped";
}

// True when the text is valid UTF-8, as the JSON library judges it.
bool is_utf8(const std::string& text) {
  try {
    (void)Json(text).dump();
    return true;
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

std::string hex_bytes(const std::string& text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(text.size() * 2);
  for (unsigned char c : text) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

// Sets object[key] to the path, and object[key + "_hex"] to its bytes when
// the path is no valid UTF-8 (the dump replaces the invalid bytes).
void put_path(Json& object, const std::string& key, const std::string& path) {
  object[key] = path;
  if (!is_utf8(path)) object[key + "_hex"] = hex_bytes(path);
}

std::string line_of(const Json& object) {
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

Json outcome_object(const FileOutcome& outcome, const std::string& input_root, const std::string& output_root) {
  Json object;
  object["input"] = nullptr;
  object["output"] = nullptr;
  object["status"] = status_name(outcome.status);
  object["reason"] = nullptr;
  if (!outcome.reason.empty()) object["reason"] = outcome.reason;
  object["frames"] = outcome.frames;
  object["skipped_records"] = outcome.skipped_records;
  object["malformed_lines"] = outcome.malformed_lines;
  object["inexact_records"] = outcome.inexact_records;
  object["bytes"] = outcome.bytes;
  object["deleted"] = outcome.deleted;
  object["seconds"] = outcome.seconds;
  if (outcome.joined) object["joined"] = true;
  put_path(object, "input", input_root + outcome.input_path);
  if (!outcome.output_path.empty()) put_path(object, "output", output_root + outcome.output_path);
  return object;
}

Json summary_object(const RunTotals& totals, double seconds, int exit_status) {
  Json object;
  object["summary"] = true;
  object["files"] = totals.files;
  object["converted"] = totals.converted;
  object["failed"] = totals.failed;
  object["skipped"] = totals.passed_over;
  object["deleted"] = totals.deleted;
  object["outputs"] = totals.outputs;
  object["frames"] = totals.frames;
  object["skipped_records"] = totals.skipped_records;
  object["malformed_lines"] = totals.malformed_lines;
  object["inexact_records"] = totals.inexact_records;
  object["bytes"] = totals.bytes;
  object["seconds"] = seconds;
  object["exit_status"] = exit_status;
  return object;
}

void log_report_error(const std::string& path, const char* step, int error) {
  log_error("Could not %s report file %s (%s)", step, path.c_str(), Status::reason(error));
}

// The step of a commit that failed, as the message names it.
const char* step_name(CommitStep step) {
  switch (step) {
    case CommitStep::kSync: return "sync";
    case CommitStep::kRename: return "rename";
    case CommitStep::kSyncFolder: return "sync the folder of";
    case CommitStep::kWrite:
    case CommitStep::kNone: break;
  }
  return "write";
}

}  // namespace

RunReport::~RunReport() {
  if (pending_.stream != nullptr) tree_->discard(&pending_);
  if (own_fd_) close(fd_);
}

bool RunReport::open(const std::string& path) {
  path_ = path;
  started_ = std::chrono::steady_clock::now();
  struct stat target;
  if (path == "-") {
    fd_ = 1;
  } else if (stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) {
    // A device or a pipe is written directly; a folder is no report.
    if (!S_ISDIR(target.st_mode)) fd_ = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) {
      log_report_error(path, "write", S_ISDIR(target.st_mode) ? EISDIR : errno);
      return false;
    }
    own_fd_ = true;
  } else {
    const std::string_view folder = path_folder(path);
    Status opened;
    folder_ = FileSystem::open_root(folder.empty() ? "./" : std::string(folder), &opened);
    if (folder_ != nullptr) {
      tree_ = std::make_unique<OutputTree>(folder_.get());
      opened = tree_->create(path_base_name(path), &pending_);
    }
    if (!opened.ok()) {
      log_report_error(path, "write", opened.error());
      return false;
    }
  }
  open_ = true;
  return true;
}

void RunReport::set_roots(const std::string& input_root, const std::string& output_root) {
  std::lock_guard<std::mutex> lock(mutex_);
  input_root_ = input_root;
  output_root_ = output_root;
}

void RunReport::file_finished(const FileOutcome& outcome) {
  std::lock_guard<std::mutex> lock(mutex_);
  totals_.add(outcome);
  write_line(line_of(outcome_object(outcome, input_root_, output_root_)));
}

bool RunReport::finish(int exit_status) {
  std::lock_guard<std::mutex> lock(mutex_);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  write_line(line_of(summary_object(totals_, seconds, exit_status)));
  open_ = false;
  if (write_error_ != 0) {
    log_report_error(path_, "write", write_error_);
    return false;
  }
  if (pending_.stream == nullptr) return true;
  const CommitResult result = tree_->commit(&pending_, false);
  if (result.outcome == CommitOutcome::kFailed) {
    log_report_error(path_, step_name(result.failed_step), result.status.error());
    return false;
  }
  return true;
}

void RunReport::write_line(const std::string& line) {
  if (write_error_ != 0) return;
  if (pending_.stream != nullptr) {
    if (stream_write(pending_.stream, line.data(), static_cast<int64_t>(line.size())) !=
        static_cast<int64_t>(line.size())) {
      write_error_ = errno != 0 ? errno : EIO;
    }
    return;
  }
  // Standard output may be the terminal of the status line.
  if (!write_above_status_line(fd_, line)) write_error_ = errno;
}
