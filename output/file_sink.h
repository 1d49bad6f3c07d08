// The sink of an output file: the file is written under a temporary name
// beside its final one (fs/output_tree.h), through a write stream whose own
// buffer is the sink's window, and put in place by commit only when
// complete.
#pragma once

#include <memory>
#include <string>

#include "fs/output_tree.h"
#include "output/output_sink.h"
#include "stream/status.h"

// What commit did with the output: the outcome of putting it in place, and
// why it failed (worded), or why its folders could not be made durable.
struct OutputCommit {
  CommitOutcome outcome = CommitOutcome::kFailed;
  Status status;
  Status folders;
};

class FileSink final : public OutputSink {
 public:
  // Creates the temporary file of the output that is to stand at final_path
  // (relative to the tree's root). nullptr, with *status telling why, when
  // it cannot be created.
  static std::unique_ptr<FileSink> create(OutputTree* tree, const std::string& final_path, Status* status);
  // Removes the temporary file unless it was committed or discarded.
  ~FileSink() override;

  void overwrite(uint64_t offset, const void* bytes, size_t count) override;
  uint64_t size() const override;

  // Cuts the file back to its first size bytes (a size it had before) and
  // goes on writing from there. After a failed write the failure is
  // forgotten too, when the file still holds those bytes whole (its writes
  // go in order); else the sink stays failed.
  void truncate(uint64_t size);
  // Hands everything appended to the file and waits until it is there, so
  // that a write that fails is known now; keeps the failure as any write.
  void flush();

  // Ends the file and puts it in place (OutputTree::commit); durable when the
  // input is to be removed. The temporary file is gone afterwards.
  OutputCommit commit(bool durable);
  // Removes the temporary file; the final name stays as it was.
  Status discard();

  // The final name, relative to the tree's root.
  const std::string& path() const { return output_.final_path; }

 protected:
  char* make_room(size_t count) override;

 private:
  explicit FileSink(OutputTree* tree) : tree_(tree) {}
  // Takes what the window holds into the stream, and closes the window.
  // False when the stream did not take it all.
  bool settle_window();
  void fail_write();

  static constexpr size_t kOwnBufferSize = size_t{1} << 16;

  OutputTree* tree_;  // borrowed
  PendingOutput output_;
  char* window_start_ = nullptr;  // where the open window began: in the stream's buffer, or own_buffer_
  std::unique_ptr<char[]> own_buffer_;  // the window of a stream that offers no room of its own
};
