// The folder walk: every input named on the command line, folders depth
// first in byte order of their entries' names, each "txt" file handed to
// convert_file.
#include "convert/driver.h"

#include <cerrno>
#include <map>

#include "convert/convert_file.h"
#include "convert/job.h"
#include "convert/paths.h"
#include "convert/run_events.h"
#include "fs/file_system.h"
#include "log/log.h"

namespace {

int text_length(std::string_view text) { return static_cast<int>(text.size()); }

// One folder being walked, for the duration of a scope: a level of written
// outputs and an entry of the walk path.
class WalkLevel {
 public:
  WalkLevel(ConversionJob* job, const EntryInfo& folder) : job_(job) {
    job_->written_outputs.emplace_back();
    job_->walk_path.emplace_back(folder.device, folder.inode);
  }
  ~WalkLevel() {
    job_->written_outputs.pop_back();
    job_->walk_path.pop_back();
  }
  WalkLevel(const WalkLevel&) = delete;
  WalkLevel& operator=(const WalkLevel&) = delete;

 private:
  ConversionJob* job_;
};

// Tells the observer of a path that ended without a conversion.
void tell_observer(ConversionJob* job, std::string_view input_path, FileOutcome::Status status, int64_t bytes,
                   std::string reason) {
  if (job->observer == nullptr) return;
  FileOutcome outcome;
  outcome.input_path.assign(input_path);
  outcome.status = status;
  outcome.bytes = bytes;
  outcome.reason = std::move(reason);
  job->observer->file_finished(outcome);
}

// Tells the observer what a folder listing found.
void tell_found(ConversionJob* job, const FolderListing& listing) {
  if (job->observer == nullptr) return;
  uint64_t files = 0;
  uint64_t bytes = 0;
  int64_t folders = -1;  // the folder listed
  for (const auto& [name, info] : listing) {
    if (info.kind == ENTRY_FOLDER) {
      ++folders;
      continue;
    }
    ++files;
    bytes += static_cast<uint64_t>(info.size);
  }
  job->observer->work_found(files, bytes, folders);
}

// Tells the observer of a folder it was told of that is not listed.
void tell_not_listed(ConversionJob* job) {
  if (job->observer != nullptr) job->observer->work_found(0, 0, -1);
}

// Tells the observer what the inputs named on the command line are.
void tell_inputs(ConversionJob* job, const std::vector<std::string>& inputs) {
  if (job->observer == nullptr) return;
  for (const std::string& input : inputs) {
    EntryInfo info{};
    if (!fs_query(job->input_fs, input.data(), input.size(), &info)) continue;
    if (info.kind == ENTRY_FOLDER) {
      job->observer->work_found(0, 0, 1);
    } else {
      job->observer->work_found(1, static_cast<uint64_t>(info.size), 0);
    }
  }
}

// True when the folder is one of those being walked: a link led back to it.
bool on_walk_path(const ConversionJob* job, const EntryInfo& folder) {
  for (const auto& [device, inode] : job->walk_path) {
    if (device == folder.device && inode == folder.inode) return true;
  }
  return false;
}

// Converts every entry of a folder. A folder reached again through a link is
// not entered; a folder that cannot be listed, and an entry whose status
// cannot be queried, fail.
uint32_t convert_folder(ConversionJob* job, std::string_view input_path, std::string_view output_path,
                        const EntryInfo& folder) {
  if (on_walk_path(job, folder)) {
    if (log_enabled(LOG_WARN)) {
      log_write(LOG_WARN, "Skipping folder %.*s: it leads back to a folder being walked", text_length(input_path),
                input_path.data());
    }
    tell_not_listed(job);
    return PATH_OK;
  }
  FolderListing listing;
  if (!fs_list(job->input_fs, input_path.data(), input_path.size(), &listing)) {
    const int error = errno;
    if (log_enabled(LOG_ERROR)) {
      log_write(LOG_ERROR, "Could not list folder %.*s (%s)", text_length(input_path), input_path.data(),
                fs_reason(error));
    }
    tell_not_listed(job);
    tell_observer(job, input_path, FileOutcome::Status::kFailed, 0,
                  "Could not list folder " + std::string(input_path) + " (" + fs_reason(error) + ")");
    return PATH_FAILED;
  }
  tell_found(job, listing);
  WalkLevel level(job, folder);
  uint32_t result = PATH_OK;
  std::string child_input;
  std::string child_output;
  for (const auto& [name, info] : listing) {
    child_input.clear();
    child_output.clear();
    path_append_child(child_input, input_path, name);
    path_append_child(child_output, output_path, name);
    if (info.error != 0) {
      if (log_enabled(LOG_ERROR)) {
        log_write(LOG_ERROR, "Could not query %s (%s)", child_input.c_str(), fs_reason(info.error));
      }
      tell_observer(job, child_input, FileOutcome::Status::kFailed, 0,
                    std::string("Could not query ") + child_input + " (" + fs_reason(info.error) + ")");
      result |= PATH_FAILED;
      continue;
    }
    result |= convert_path(job, child_input, child_output);
    if (result & kPathAbortRun) break;
  }
  return result;
}

}  // namespace

uint32_t convert_path(ConversionJob* job, std::string_view input_path, std::string_view output_path) {
  EntryInfo info{};
  if (!fs_query(job->input_fs, input_path.data(), input_path.size(), &info)) {
    if (log_enabled(LOG_FATAL)) {
      log_write(LOG_FATAL, "Error during stat of %.*s, exiting", text_length(input_path), input_path.data());
    }
    return kPathAbortRun;
  }
  switch (info.kind) {
    case ENTRY_FOLDER:
      return convert_folder(job, input_path, output_path, info);
    case ENTRY_MISSING:
      if (log_enabled(LOG_ERROR)) {
        log_write(LOG_ERROR, "Could not find input file/folder %.*s", text_length(input_path), input_path.data());
      }
      tell_observer(job, input_path, FileOutcome::Status::kFailed, 0,
                    "Could not find input file/folder " + std::string(input_path));
      return PATH_MISSING;
    case ENTRY_FILE:
      if (!path_extension_is_txt(path_extension(input_path))) {
        tell_observer(job, input_path, FileOutcome::Status::kPassedOver, info.size, {});
        return PATH_OK;
      }
      return convert_file(job, input_path, output_path);
    default:
      if (log_enabled(LOG_ERROR)) {
        log_write(LOG_ERROR, "Input %.*s is neither a file nor a folder", text_length(input_path), input_path.data());
      }
      tell_observer(job, input_path, FileOutcome::Status::kFailed, 0,
                    "Input " + std::string(input_path) + " is neither a file nor a folder");
      return PATH_OTHER;
  }
}

uint32_t run_inputs(ConversionJob* job, const std::vector<std::string>& inputs) {
  uint32_t result = PATH_OK;
  if (inputs.empty()) return result;
  job->written_outputs.emplace_back();
  tell_inputs(job, inputs);
  for (const std::string& input : inputs) {
    std::string output = input;
    if (!job->options->no_append_root) {
      EntryInfo info{};
      if (!fs_query(job->input_fs, input.data(), input.size(), &info)) {
        if (log_enabled(LOG_FATAL)) {
          log_write(LOG_FATAL, "Could not query %.*s for information", text_length(input), input.data());
        }
        result = PATH_OTHER;
        break;
      }
      if (info.kind == ENTRY_FOLDER) output = path_with_out_suffix(input);
    }
    const uint32_t path_result = convert_path(job, input, output);
    if (path_result & kPathAbortRun) {
      result = PATH_OTHER;
      break;
    }
    result |= path_result;
  }
  job->written_outputs.pop_back();
  return result;
}
