// The outputs of a run below their root, and everything that keeps them
// safe: the folders made for them (mode 0700), and files that appear under
// their final names only when complete. An output is written under a hidden
// temporary name in its folder and put in place at the end; a failed or
// interrupted run leaves the final name as it was. Put in place durably (the
// input is to be removed), the file reaches stable storage first, nothing at
// its name is ever replaced, and its folder and the entry of every folder up
// to the root follow it there.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "fs/file_system.h"
#include "stream/status.h"
#include "stream/stream.h"

// An output under its temporary name.
struct PendingOutput {
  std::string final_path;    // relative to the root
  std::string temp_path;     // relative to the root, in the final path's folder
  Stream* stream = nullptr;  // owned; the temporary file, open for writing
  int slot = -1;             // in the table of temporary files
};

enum class CommitOutcome {
  kMoved,         // the file now stands under its final name
  kSameContent,   // durable: a file with the same bytes stood there already; it stays, made durable
  kOtherContent,  // durable: a file with other bytes stood there; it stays, the new one is gone
  kLink,          // durable: a link stood there (to anything); it stays, the new one is gone
  kFailed,        // a step failed; the final name is as it was
};

// The step of a commit that failed.
enum class CommitStep {
  kNone,
  kWrite,       // the last writes of the file, at its close
  kSync,        // the file to stable storage
  kRename,      // the file to its final name
  kSyncFolder,  // the folder of the file to stable storage
};

struct CommitResult {
  CommitOutcome outcome = CommitOutcome::kFailed;
  CommitStep failed_step = CommitStep::kNone;
  Status status;   // why that step failed
  // Durable, and the file in place (kMoved, kSameContent): why the file is not
  // on stable storage after all, worded as the reason to keep its input (its
  // folders could not be synced, or it lies in memory); ok when it is.
  Status folders;
};

class OutputTree {
 public:
  explicit OutputTree(FileSystem* fs) : fs_(fs) {}  // borrowed
  OutputTree(const OutputTree&) = delete;
  OutputTree& operator=(const OutputTree&) = delete;

  FileSystem& fs() const { return *fs_; }

  // Makes the folder (relative to the root) and every missing one above it.
  Status make_folders(std::string_view folder) { return fs_->make_folders(folder); }

  // Creates the temporary file of the output that is to stand at final_path
  // (a new, hidden name ".<name>.XXXXXX" in its folder) and opens it for
  // writing.
  Status create(std::string_view final_path, PendingOutput* output);

  // Ends the temporary file and puts it in place (see the top of this file).
  // Not durable: whatever stood at the final name is replaced. The temporary
  // file is gone afterwards in every case.
  CommitResult commit(PendingOutput* output, bool durable);

  // Closes and removes the temporary file; the final name stays as it was.
  Status discard(PendingOutput* output);

 private:
  CommitResult settle_taken_name(const PendingOutput& output);
  Status stable_storage(const std::string& folder);
  Status sync_folder_entries(const std::string& folder);

  FileSystem* fs_;
  // Folders whose entry in their parent, and in every folder above, reached
  // stable storage in this run: the walk up from a new output stops at the
  // first of them. Shared by every converting thread.
  std::mutex synced_mutex_;
  std::set<std::string> synced_;
};
