// The sink of an output file: the file is written under a temporary name
// beside its final one, through a write stream whose own buffer is the
// sink's window, and put in place by commit only when complete.
#pragma once

#include <memory>
#include <string>

#include "fs/file_system.h"
#include "fs/pending_file.h"
#include "output/output_sink.h"
#include "stream/status.h"

// What commit did with the output (see CommitOutcome), and why it failed.
struct OutputCommit {
  CommitOutcome outcome = CommitOutcome::kFailed;
  Status status;
};

class FileSink final : public OutputSink {
 public:
  // Creates the temporary file of the output that is to stand at final_path
  // (relative to fs). nullptr, with *status telling why, when it cannot be
  // created.
  static std::unique_ptr<FileSink> create(FileSystem* fs, const std::string& final_path, Status* status);
  // Removes the temporary file unless it was committed or discarded.
  ~FileSink() override;

  void overwrite(uint64_t offset, const void* bytes, size_t count) override;
  uint64_t size() const override;

  // Ends the file and puts it in place. Durable: the file is synced first,
  // a file standing at the final name is never replaced (see CommitOutcome),
  // and the folder is synced after the rename. Not durable: whatever stood at
  // the final name is replaced. The temporary file is gone afterwards.
  OutputCommit commit(bool durable);
  // Removes the temporary file; the final name stays as it was.
  Status discard();

  // The final name, relative to the file system.
  const std::string& path() const { return file_.final_path; }

 protected:
  char* make_room(size_t count) override;

 private:
  FileSink() = default;
  // Takes what the window holds into the stream, and closes the window.
  // False when the stream did not take it all.
  bool settle_window();

  static constexpr size_t kOwnBufferSize = size_t{1} << 16;

  PendingFile file_;
  char* window_start_ = nullptr;  // where the open window began: in the stream's buffer, or own_buffer_
  std::unique_ptr<char[]> own_buffer_;  // the window of a stream that offers no room of its own
};
