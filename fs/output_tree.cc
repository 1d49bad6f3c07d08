#include "fs/output_tree.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "fs/temporary_files.h"

namespace {

// Six letters or digits for a temporary name, different in every call.
std::string random_suffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::minstd_rand generator(std::random_device{}() ^ static_cast<unsigned>(getpid()));
  std::string suffix(6, 'x');
  for (char& c : suffix) c = kChars[generator() % (sizeof kChars - 1)];
  return suffix;
}

// ".<name>.XXXXXX" beside final_path: hidden, and its extension is never "txt".
std::string temp_name(std::string_view final_path) {
  const size_t slash = final_path.rfind('/');
  const size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
  std::string name(final_path.substr(0, name_start));
  name += '.';
  name.append(final_path.substr(name_start));
  name += '.';
  name += random_suffix();
  return name;
}

CommitResult failed(CommitStep step, Status status) {
  CommitResult result;
  result.failed_step = step;
  result.status = std::move(status);
  return result;
}

// Compares the files at a and b (b never through a link) byte for byte.
// True when both could be read and are equal.
bool same_content(FileSystem& fs, const std::string& a, const std::string& b) {
  Status ignored;
  Stream* first = fs.open(a, Access::kRead, &ignored);
  Stream* second = fs.open(b, Access::kReadNoLink, &ignored);
  bool same = first != nullptr && second != nullptr;
  static constexpr int64_t kChunk = 1 << 16;
  char x[kChunk];
  char y[kChunk];
  while (same) {
    const int64_t got = stream_read(first, x, kChunk);
    const int64_t other = stream_read(second, y, kChunk);
    if (got != other || got < 0) same = false;
    if (!same || got == 0) break;
    same = memcmp(x, y, static_cast<size_t>(got)) == 0;
  }
  if (first != nullptr) stream_close(first);
  if (second != nullptr) stream_close(second);
  return same;
}

// Syncs the file at path (never through a link) to stable storage.
Status sync_file(FileSystem& fs, const std::string& path) {
  Status status;
  Stream* stream = fs.open(path, Access::kReadNoLink, &status);
  if (stream == nullptr) return status;
  if (stream_sync(stream) != 0) status = Status::failure("Could not sync " + path, errno);
  stream_close(stream);
  return status;
}

// Closes the temporary file, synced first when durable. The stream is gone
// afterwards whatever happened.
CommitResult close_temp(PendingOutput* output, bool durable) {
  CommitResult result;
  result.outcome = CommitOutcome::kMoved;
  if (durable && stream_sync(output->stream) != 0) {
    result = failed(CommitStep::kSync, Status::failure("Could not sync " + output->temp_path, errno));
  }
  const bool closed = stream_close(output->stream) == 0;
  const int close_error = errno;
  output->stream = nullptr;
  if (!closed && result.outcome != CommitOutcome::kFailed) {
    return failed(CommitStep::kWrite, Status::failure("Could not close " + output->temp_path, close_error));
  }
  return result;
}

}  // namespace

Status OutputTree::create(std::string_view final_path, PendingOutput* output) {
  output->final_path.assign(final_path);
  Status status;
  for (int attempt = 0; attempt < 100; ++attempt) {
    output->temp_path = temp_name(final_path);
    // Listed before it exists; a name that was taken meanwhile is never
    // removed, since its slot is given up before the next name is tried.
    output->slot = temporary_file_list(fs_->full_path(output->temp_path));
    output->stream = fs_->open(output->temp_path, Access::kCreateNew, &status);
    temporary_file_made();
    if (output->stream != nullptr) return {};
    temporary_file_unlist(&output->slot);
    if (status.error() != EEXIST) return status;
  }
  return status;
}

CommitResult OutputTree::commit(PendingOutput* output, bool durable) {
  CommitResult result = close_temp(output, durable);
  bool renamed = false;
  if (result.outcome != CommitOutcome::kFailed) {
    const Status rename = fs_->rename(output->temp_path, output->final_path, !durable);
    renamed = rename.ok();
    if (!renamed) {
      result = durable && rename.error() == EEXIST ? settle_taken_name(*output) : failed(CommitStep::kRename, rename);
    } else if (durable) {
      const Status synced = fs_->sync_folder(parent_folder(output->final_path));
      if (!synced.ok()) result = failed(CommitStep::kSyncFolder, synced);
    }
  }
  if (!renamed) fs_->remove(output->temp_path);
  temporary_file_unlist(&output->slot);
  if (durable && (result.outcome == CommitOutcome::kMoved || result.outcome == CommitOutcome::kSameContent)) {
    result.folders = stable_storage(parent_folder(output->final_path));
  }
  return result;
}

// A durable commit whose final name was taken: what stands there stays. A
// file of the same bytes counts as this output and is made as durable as a
// new one: synced, and its folder after it. A link counts as nothing,
// whatever it leads to: its target may be anywhere, or go.
CommitResult OutputTree::settle_taken_name(const PendingOutput& output) {
  CommitResult result;
  const std::string& name = output.final_path;
  EntryInfo taken;
  if (fs_->query_entry(name, &taken).ok() && taken.kind == ENTRY_LINK) {
    result.outcome = CommitOutcome::kLink;
    return result;
  }
  if (taken.kind == ENTRY_FOLDER) {
    return failed(CommitStep::kRename, Status::failure("Could not rename " + output.temp_path, EISDIR));
  }
  // A pipe, a device or a socket is never read: it is no output, and
  // opening it may wait forever.
  if (taken.kind != ENTRY_FILE || !same_content(*fs_, output.temp_path, name)) {
    result.outcome = CommitOutcome::kOtherContent;
    return result;
  }
  if (Status synced = sync_file(*fs_, name); !synced.ok()) return failed(CommitStep::kSync, synced);
  if (Status synced = fs_->sync_folder(parent_folder(name)); !synced.ok()) {
    return failed(CommitStep::kSyncFolder, synced);
  }
  result.outcome = CommitOutcome::kSameContent;
  return result;
}

// Whether an output in folder, synced, is on stable storage: its folders'
// entries synced, and none of it held in memory.
Status OutputTree::stable_storage(const std::string& folder) {
  if (const Status synced = sync_folder_entries(folder); !synced.ok()) {
    return Status::failure("its output folders could not be synced", synced.error());
  }
  if (const char* reason = fs_->volatile_storage(folder)) return Status::failure(reason);
  return {};
}

// Syncs the entry of each folder from folder up to the root into its parent,
// so that an output in it can be found after a power loss, whichever run
// made the folders. Each folder once a run: one synced stands for every
// folder above it, so the walk up stops there.
Status OutputTree::sync_folder_entries(const std::string& folder) {
  std::lock_guard<std::mutex> lock(synced_mutex_);
  std::vector<std::string> unsynced;
  for (std::string each = folder; !each.empty() && synced_.count(each) == 0; each = parent_folder(each)) {
    unsynced.push_back(each);
  }
  for (const std::string& each : unsynced) {
    if (Status synced = fs_->sync_folder(parent_folder(each)); !synced.ok()) return synced;
  }
  synced_.insert(unsynced.begin(), unsynced.end());
  return {};
}

Status OutputTree::discard(PendingOutput* output) {
  if (output->stream != nullptr) stream_close(output->stream);
  output->stream = nullptr;
  const Status removed = fs_->remove(output->temp_path);
  temporary_file_unlist(&output->slot);
  return removed;
}
