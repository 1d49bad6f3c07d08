// The folder walk: every input named on the command line, folders depth
// first in byte order of their entries' names, each "txt" file handed to the
// executor as a task linked to the files before it.
#include "convert/driver.h"

#include <algorithm>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "convert/executor.h"
#include "convert/file_task.h"
#include "convert/run.h"
#include "convert/paths.h"
#include "convert/run_events.h"
#include "convert/session_planner.h"
#include "fs/file_system.h"
#include "log/log.h"

namespace {

class Walk {
 public:
  explicit Walk(const ConversionRun& run) : run_(run), executor_(run), planner_(run) { levels_.emplace_back(); }

  // Converts every input in order, until a status query fails.
  RunResult run(const std::vector<std::string>& inputs) {
    tell_inputs(inputs);
    RunResult result;
    for (size_t i = 0; i < inputs.size(); ++i) {
      if (std::find(inputs.begin(), inputs.begin() + static_cast<ptrdiff_t>(i), inputs[i]) != inputs.begin() + i) {
        executor_.settle_all();  // a log named again is converted after the first time is over
      }
      std::string output;
      ended_early_ = !output_name_of_input(inputs[i], &output);
      if (!ended_early_) result.paths |= convert_path(inputs[i], output, next_input_log(inputs, i));
      if (ended_early_) break;
    }
    planner_.end_walk();
    result.paths |= executor_.finish();
    result.ended_early = ended_early_;
    return result;
  }

 private:
  // The output name of a command-line input: a folder gets "_out" after its
  // name unless the options say otherwise. False (after a fatal message) when
  // the input cannot be queried.
  bool output_name_of_input(const std::string& input, std::string* output) {
    *output = input;
    EntryInfo info{};
    const bool queried = run_.input_fs->query(input, &info).ok();
    if (run_.options.no_append_root) return true;
    if (!queried) {
      log_fatal("Could not query %.*s for information", log_length(input), input.data());
      return false;
    }
    if (info.kind == ENTRY_FOLDER) *output = path_with_out_suffix(input);
    return true;
  }

  // Converts one path: a folder with everything below it, a "txt" file into
  // an output; passes over other files. The result of a file comes with the
  // executor's. A failed status query ends the walk (ended_early_). next_log
  // is the log handed over after this one when it lies in the same folder
  // (for the sessions joined: empty without --join-splits).
  uint32_t convert_path(std::string_view input_path, std::string_view output_path, std::string_view next_log = {}) {
    EntryInfo info{};
    if (!run_.input_fs->query(input_path, &info).ok()) {
      log_fatal("Error during stat of %.*s, exiting", log_length(input_path), input_path.data());
      ended_early_ = true;
      return PATH_OK;
    }
    switch (info.kind) {
      case ENTRY_FOLDER:
        return convert_folder(input_path, output_path, info);
      case ENTRY_MISSING:
        report_unreachable("Could not find input file/folder ", input_path, 0);
        return PATH_MISSING;
      case ENTRY_FILE:
        if (!path_extension_is_txt(path_extension(input_path))) {
          note(input_path, FileOutcome::Status::kPassedOver, info.size, {});
        } else {
          std::shared_ptr<FileTask> task = new_task(input_path, output_path);
          if (run_.options.join_splits) planner_.plan(task.get(), next_log);
          executor_.convert(std::move(task));
        }
        return PATH_OK;
      default: {
        const std::string message = "Input " + std::string(input_path) + " is neither a file nor a folder";
        log_error("%s", message.c_str());
        note(input_path, FileOutcome::Status::kFailed, 0, message);
        return PATH_OTHER;
      }
    }
  }

  // Converts every entry of a folder. A folder reached again through a link
  // is not entered; a folder that cannot be listed, and an entry whose status
  // cannot be queried, fail.
  uint32_t convert_folder(std::string_view input_path, std::string_view output_path, const EntryInfo& folder) {
    if (on_walk_path(folder)) {
      log_warn("Skipping folder %.*s: it leads back to a folder being walked", log_length(input_path),
               input_path.data());
      tell_not_listed();
      return PATH_OK;
    }
    FolderListing listing;
    if (const Status listed = run_.input_fs->list(input_path, &listing); !listed.ok()) {
      const int error = listed.error();
      tell_not_listed();
      report_unreachable("Could not list folder ", input_path, error);
      return PATH_FAILED;
    }
    tell_found(listing);
    levels_.emplace_back();
    walk_path_.emplace_back(folder.device, folder.inode);
    const uint32_t result = convert_entries(input_path, output_path, listing);
    walk_path_.pop_back();
    levels_.pop_back();
    return result;
  }

  uint32_t convert_entries(std::string_view input_path, std::string_view output_path, const FolderListing& listing) {
    uint32_t result = PATH_OK;
    std::string child_input;
    std::string child_output;
    for (auto entry = listing.begin(); entry != listing.end(); ++entry) {
      const auto& [name, info] = *entry;
      child_input.clear();
      child_output.clear();
      path_append_child(child_input, input_path, name);
      path_append_child(child_output, output_path, name);
      if (info.error != 0) {
        report_unreachable("Could not query ", child_input, info.error);
        result |= PATH_FAILED;
        continue;
      }
      result |= convert_path(child_input, child_output, next_log_entry(input_path, listing, entry));
      if (ended_early_) break;
    }
    return result;
  }

  // The log that the walk converts after the entry when it lies in the same
  // folder: the next entry that is a "txt" file, past those converted not at
  // all (other files, entries that cannot be queried); none when a folder
  // comes first. Empty without --join-splits.
  std::string next_log_entry(std::string_view folder, const FolderListing& listing, FolderListing::const_iterator at) {
    if (!run_.options.join_splits || at->second.kind != ENTRY_FILE) return {};
    for (auto next = std::next(at); next != listing.end(); ++next) {
      const EntryInfo& info = next->second;
      if (info.error == 0 && info.kind == ENTRY_FOLDER) return {};
      if (info.error != 0 || info.kind != ENTRY_FILE || !path_extension_is_txt(path_extension(next->first))) continue;
      std::string path;
      path_append_child(path, folder, next->first);
      return path;
    }
    return {};
  }

  // The same for a file named on the command line: the next input, when it
  // is a log in the same folder.
  std::string next_input_log(const std::vector<std::string>& inputs, size_t at) {
    if (!run_.options.join_splits || at + 1 >= inputs.size()) return {};
    const std::string& next = inputs[at + 1];
    if (path_folder(next) != path_folder(inputs[at]) || !path_extension_is_txt(path_extension(next))) return {};
    EntryInfo info;
    if (!run_.input_fs->query(next, &info).ok() || info.kind != ENTRY_FILE) return {};
    return next;
  }

  // The task of a "txt" file, linked to the file before it in walk order and
  // to an earlier file of its folder level with the same output base.
  std::shared_ptr<FileTask> new_task(std::string_view input_path, std::string_view output_path) {
    auto task = std::make_shared<FileTask>();
    task->input_path.assign(input_path);
    task->output_path.assign(output_path);
    task->header_before = last_header_;
    task->header_after = std::make_shared<HeaderSlot>();
    last_header_ = task->header_after;
    std::shared_ptr<FileTask>& same_output = levels_.back()[std::string(path_output_base(output_path))];
    task->same_output_before = std::move(same_output);
    same_output = task;
    return task;
  }

  // True when the folder is one of those being walked: a link led back to it.
  bool on_walk_path(const EntryInfo& folder) const {
    for (const auto& [device, inode] : walk_path_) {
      if (device == folder.device && inode == folder.inode) return true;
    }
    return false;
  }

  // A path the walk could not reach: an error naming it and the system's
  // reason (none when error is 0), which is also the observer's.
  void report_unreachable(const char* what, std::string_view path, int error) {
    std::string message = what + std::string(path);
    if (error != 0) message += " (" + std::string(Status::reason(error)) + ")";
    log_error("%s", message.c_str());
    note(path, FileOutcome::Status::kFailed, 0, std::move(message));
  }

  // An outcome of the walk itself, for the observer.
  void note(std::string_view input_path, FileOutcome::Status status, int64_t bytes, std::string reason) {
    if (run_.observer == nullptr) return;
    FileOutcome outcome;
    outcome.input_path.assign(input_path);
    outcome.status = status;
    outcome.bytes = bytes;
    outcome.reason = std::move(reason);
    executor_.note(std::move(outcome));
  }

  // Tells the observer what a folder listing found: its files, and its
  // sub-folders still to list in place of the folder listed.
  void tell_found(const FolderListing& listing) {
    if (run_.observer == nullptr) return;
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
    run_.observer->work_found(files, bytes, folders);
  }

  // Tells the observer of a folder it was told of that is not listed.
  void tell_not_listed() {
    if (run_.observer != nullptr) run_.observer->work_found(0, 0, -1);
  }

  // Tells the observer what the inputs named on the command line are.
  void tell_inputs(const std::vector<std::string>& inputs) {
    if (run_.observer == nullptr) return;
    for (const std::string& input : inputs) {
      EntryInfo info{};
      if (!run_.input_fs->query(input, &info).ok()) continue;
      if (info.kind == ENTRY_FOLDER) {
        run_.observer->work_found(0, 0, 1);
      } else {
        run_.observer->work_found(1, static_cast<uint64_t>(info.size), 0);
      }
    }
  }

  const ConversionRun& run_;
  Executor executor_;
  // The files of each folder level being walked (the command-line inputs
  // form the first level) by output base: two files can only share an output
  // when they are siblings, so memory follows the width of one folder times
  // the depth, not the size of the tree.
  std::vector<std::map<std::string, std::shared_ptr<FileTask>>> levels_;
  // The folders being walked, outermost first, by device and inode.
  std::vector<std::pair<uint64_t, uint64_t>> walk_path_;
  SessionPlanner planner_;
  bool ended_early_ = false;  // a status query failed: nothing more is converted
  // The header identity after the last file handed over.
  std::shared_ptr<HeaderSlot> last_header_ = std::make_shared<HeaderSlot>(HeaderIdentity{});
};

}  // namespace

RunResult run_inputs(const ConversionRun& run, const std::vector<std::string>& inputs) {
  if (inputs.empty()) return {};
  Walk walk(run);
  return walk.run(inputs);
}
