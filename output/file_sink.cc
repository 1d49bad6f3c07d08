#include "output/file_sink.h"

#include <cerrno>

namespace {

// The failed step of a commit, in words.
Status commit_failure(const CommitResult& result, const std::string& path) {
  const int error = result.status.error();
  switch (result.failed_step) {
    case CommitStep::kWrite: return Status::failure("Could not close CAN file", error);
    case CommitStep::kSync: return Status::failure("Could not sync output file " + path, error);
    case CommitStep::kRename: return Status::failure("Could not move output file into place: " + path, error);
    case CommitStep::kSyncFolder:
    case CommitStep::kNone: break;
  }
  return Status::failure("Could not sync the folder of output file " + path, error);
}

}  // namespace

std::unique_ptr<FileSink> FileSink::create(OutputTree* tree, const std::string& final_path, Status* status) {
  std::unique_ptr<FileSink> sink(new FileSink(tree));
  const Status created = tree->create(final_path, &sink->output_);
  if (!created.ok()) {
    *status = Status::failure("Could not open output file for CAN: " + final_path, created.error());
    return nullptr;
  }
  return sink;
}

FileSink::~FileSink() {
  if (output_.stream != nullptr) tree_->discard(&output_);
}

void FileSink::fail_write() { fail(Status::failure("Could not write CAN data", errno != 0 ? errno : EIO)); }

bool FileSink::settle_window() {
  const size_t count = window_start_ != nullptr && cursor_ != nullptr ? static_cast<size_t>(cursor_ - window_start_) : 0;
  const bool own = own_buffer_ != nullptr && window_start_ == own_buffer_.get();
  window_start_ = cursor_ = limit_ = nullptr;
  if (count == 0) return true;
  if (!own) {
    stream_commit_write(output_.stream, count);
    return true;
  }
  return stream_write(output_.stream, own_buffer_.get(), static_cast<int64_t>(count)) == static_cast<int64_t>(count);
}

char* FileSink::make_room(size_t count) {
  if (!ok() || output_.stream == nullptr) return nullptr;
  size_t available = 0;
  char* room = nullptr;
  if (settle_window()) {
    room = stream_write_room(output_.stream, count, &available);
    if (room == nullptr && !stream_offers_room(output_.stream)) {
      // A stream of another kind: the window is a buffer of the sink's own.
      if (own_buffer_ == nullptr) own_buffer_ = std::make_unique<char[]>(kOwnBufferSize);
      room = own_buffer_.get();
      available = kOwnBufferSize;
    }
  }
  if (room == nullptr) {
    fail_write();
    return nullptr;
  }
  window_start_ = cursor_ = room;
  limit_ = room + available;
  return room;
}

uint64_t FileSink::size() const {
  const int64_t position = stream_tell(output_.stream);
  const uint64_t in_window = window_start_ != nullptr ? static_cast<uint64_t>(cursor_ - window_start_) : 0;
  return (position > 0 ? static_cast<uint64_t>(position) : 0) + in_window;
}

void FileSink::overwrite(uint64_t offset, const void* bytes, size_t count) {
  if (!ok()) return;
  if (!settle_window()) {
    fail_write();
    return;
  }
  Stream* stream = output_.stream;
  const int64_t end = stream_tell(stream);
  const auto size = static_cast<int64_t>(count);
  if (end < 0 || stream_seek(stream, static_cast<int64_t>(offset), SEEK_SET) != static_cast<int64_t>(offset) ||
      stream_write(stream, bytes, size) != size || stream_seek(stream, end, SEEK_SET) != end) {
    fail_write();
  }
}

void FileSink::truncate(uint64_t size) {
  if (ok()) {
    if (!settle_window() || stream_truncate(output_.stream, static_cast<int64_t>(size)) != 0) fail_write();
    return;
  }
  window_start_ = cursor_ = limit_ = nullptr;  // what the window held is dropped
  if (output_.stream != nullptr && stream_truncate_after_failure(output_.stream, static_cast<int64_t>(size)) == 0) {
    clear_failure();
  }
}

void FileSink::flush() {
  if (!ok()) return;
  // A stream of another kind (-2) writes through at once.
  if (!settle_window() || stream_flush(output_.stream) == -1) fail_write();
}

OutputCommit FileSink::commit(bool durable) {
  OutputCommit result;
  if (!settle_window()) {
    result.status = Status::failure("Could not write CAN data", errno != 0 ? errno : EIO);
    tree_->discard(&output_);
    return result;
  }
  const CommitResult done = tree_->commit(&output_, durable);
  result.outcome = done.outcome;
  result.folders = done.folders;
  if (done.outcome == CommitOutcome::kFailed) result.status = commit_failure(done, output_.final_path);
  return result;
}

Status FileSink::discard() {
  settle_window();
  if (output_.stream == nullptr) return {};
  const Status removed = tree_->discard(&output_);
  if (removed.ok()) return {};
  return Status::failure("Could not remove CAN file", removed.error());
}
