// An output file that appears under its final name only when complete: it is
// written under a hidden temporary name in the same folder and renamed over
// the final name at the end. A failed or interrupted run leaves the final name
// as it was; a link standing there is replaced, never written through.
//
// The temporary files of the process are also listed in a fixed table that a
// signal handler can empty (pending_files_remove_all), so that a run stopped
// by SIGINT, SIGTERM or SIGHUP leaves none behind.
#pragma once

#include <string>
#include <string_view>

#include "fs/file_system.h"
#include "stream/stream.h"

struct PendingFile {
  FileSystem* fs = nullptr;  // borrowed
  std::string final_path;    // relative to the root of fs
  std::string temp_path;     // relative to the root of fs, in the final path's folder
  Stream* stream = nullptr;  // owned; the temporary file, open for writing
  int slot = -1;             // entry in the table of temporary files
};

// Creates the temporary file for final_path (a new, hidden name ".<name>.XXXXXX"
// in its folder) and opens it for writing. False, with the reason in errno,
// when it cannot be created.
bool pending_file_open(PendingFile* file, FileSystem* fs, std::string_view final_path);

enum class CommitOutcome {
  kMoved,         // the file now stands under its final name
  kSameContent,   // durable: a file with the same bytes stood there already; it stays, on stable storage
  kOtherContent,  // durable: a file with other bytes stood there; it stays, the new one is discarded
  kLink,          // durable: a link stood there (to anything); it stays, the new one is discarded
  kFailed,        // a step failed (see CommitResult); the final name is as it was
};

struct CommitResult {
  CommitOutcome outcome = CommitOutcome::kFailed;
  const char* step = "";  // the step that failed: "write", "sync", "rename", "sync folder"
  int error = 0;          // its errno
};

// Ends the temporary file and moves it to its final name. Durable: the file
// is synced first, nothing at the final name is ever replaced (see
// CommitOutcome), and the folder is synced after the rename, or after the
// sync of an existing file of the same bytes. Not durable: the
// rename replaces whatever stood at the final name. The temporary file is gone
// afterwards in every case.
CommitResult pending_file_commit(PendingFile* file, bool durable);

// Closes and removes the temporary file, leaving the final name as it was.
// False, with the reason in errno, when the removal failed.
bool pending_file_discard(PendingFile* file);

// Removes every temporary file still open in the process. Only calls that
// are safe in a signal handler.
void pending_files_remove_all();
