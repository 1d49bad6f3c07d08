#include "output/file_sink.h"

#include <cerrno>

namespace {

// A step of the commit that failed, in words.
Status commit_failure(const char* step, const std::string& path, int error) {
  const std::string what = step;
  if (what == "write") return Status::failure("Could not close CAN file", error);
  if (what == "sync") return Status::failure("Could not sync output file " + path, error);
  if (what == "rename") return Status::failure("Could not move output file into place: " + path, error);
  return Status::failure("Could not sync the folder of output file " + path, error);
}

}  // namespace

std::unique_ptr<FileSink> FileSink::create(FileSystem* fs, const std::string& final_path, Status* status) {
  std::unique_ptr<FileSink> sink(new FileSink);
  if (!pending_file_open(&sink->file_, fs, final_path)) {
    *status = Status::failure("Could not open output file for CAN: " + final_path, errno);
    return nullptr;
  }
  return sink;
}

FileSink::~FileSink() {
  if (file_.stream != nullptr) pending_file_discard(&file_);
}

bool FileSink::settle_window() {
  const size_t count = window_start_ != nullptr && cursor_ != nullptr ? static_cast<size_t>(cursor_ - window_start_) : 0;
  const bool own = window_start_ == own_buffer_.get() && own_buffer_ != nullptr;
  window_start_ = cursor_ = limit_ = nullptr;
  if (count == 0) return true;
  if (!own) {
    stream_commit_write(file_.stream, count);
    return true;
  }
  return stream_write(file_.stream, own_buffer_.get(), static_cast<int64_t>(count)) == static_cast<int64_t>(count);
}

char* FileSink::make_room(size_t count) {
  if (!ok() || file_.stream == nullptr) return nullptr;
  size_t available = 0;
  char* room = nullptr;
  if (settle_window()) {
    room = stream_write_room(file_.stream, count, &available);
    if (room == nullptr && !stream_offers_room(file_.stream)) {
      // A stream of another kind: the window is a buffer of the sink's own.
      if (own_buffer_ == nullptr) own_buffer_ = std::make_unique<char[]>(kOwnBufferSize);
      room = own_buffer_.get();
      available = kOwnBufferSize;
    }
  }
  if (room == nullptr) {
    fail(Status::failure("Could not write CAN data", errno != 0 ? errno : EIO));
    return nullptr;
  }
  window_start_ = cursor_ = room;
  limit_ = room + available;
  return room;
}

uint64_t FileSink::size() const {
  const int64_t position = stream_tell(file_.stream);
  const uint64_t in_window = window_start_ != nullptr ? static_cast<uint64_t>(cursor_ - window_start_) : 0;
  return (position > 0 ? static_cast<uint64_t>(position) : 0) + in_window;
}

void FileSink::overwrite(uint64_t offset, const void* bytes, size_t count) {
  if (!ok()) return;
  if (!settle_window()) {
    fail(Status::failure("Could not write CAN data", errno != 0 ? errno : EIO));
    return;
  }
  Stream* stream = file_.stream;
  const int64_t end = stream_tell(stream);
  const auto size = static_cast<int64_t>(count);
  if (end < 0 || stream_seek(stream, static_cast<int64_t>(offset), SEEK_SET) != static_cast<int64_t>(offset) ||
      stream_write(stream, bytes, size) != size || stream_seek(stream, end, SEEK_SET) != end) {
    fail(Status::failure("Could not write CAN data", errno != 0 ? errno : EIO));
  }
}

OutputCommit FileSink::commit(bool durable) {
  OutputCommit result;
  if (!settle_window()) {
    result.status = Status::failure("Could not write CAN data", errno != 0 ? errno : EIO);
    pending_file_discard(&file_);
    return result;
  }
  const CommitResult done = pending_file_commit(&file_, durable);
  result.outcome = done.outcome;
  if (done.outcome == CommitOutcome::kFailed) result.status = commit_failure(done.step, file_.final_path, done.error);
  return result;
}

Status FileSink::discard() {
  settle_window();
  if (file_.stream == nullptr) return {};
  if (pending_file_discard(&file_)) return {};
  return Status::failure("Could not remove CAN file", errno);
}
