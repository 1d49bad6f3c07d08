#include "convert/input_log.h"

#include <cerrno>

namespace {

std::string input_message(const char* what, std::string_view path) {
  return std::string(what) + std::string(path);
}

}  // namespace

InputLog::~InputLog() {
  reader_.reset();
  if (stream_ != nullptr) stream_close(stream_);
}

Status InputLog::open_log(int64_t buffer_size) {
  if (!fs_->query(path_, &opened_as_).ok()) opened_as_ = EntryInfo{};
  Status opened;
  stream_ = fs_->open(path_, Access::kRead, &opened);
  if (stream_ == nullptr && opened.error() == 0) {
    return Status::failure(input_message("Input ", path_) + " is neither a file nor a folder");
  }
  if (stream_ == nullptr) return Status::failure(input_message("Could not open input file ", path_), opened.error());
  int64_t size = buffer_size;
  if (size < 0) {
    // The window holds the whole file, so the rewind to the first record
    // costs no read; a large file is read through a window of the cap.
    size = stream_size(stream_);
    if (size > kDefaultWindowCap) size = kDefaultWindowCap;
  }
  if (size <= 0) return {};
  Stream* buffered = buffered_reader_new(stream_, true, size);
  if (buffered == nullptr) return Status::failure("Could not allocate buffer of size " + std::to_string(size));
  stream_ = buffered;
  return {};
}

Status InputLog::open_reader() {
  reader_ = LogReader::open(stream_, std::string(path_));
  if (reader_ == nullptr) return Status::failure("Could not open log");
  return {};
}

Status InputLog::read_end() const {
  switch (reader_->end()) {
    case ReadEnd::kComplete:
      break;
    case ReadEnd::kReadFailed: {
      const int error = reader_->read_error();
      return Status::failure(input_message("Could not read input file ", path_), error != 0 ? error : EIO);
    }
    case ReadEnd::kDataAfterZero:
      return Status::failure(input_message("Input file ", path_) + " holds data after zero bytes that end its records");
  }
  return {};
}

Status InputLog::close_log() {
  reader_.reset();
  Stream* stream = stream_;
  stream_ = nullptr;
  if (stream_close(stream) == 0) return {};
  return Status::failure(input_message("Could not close input file after conversion: ", path_), errno);
}

HeaderIdentity read_log_identity(FileSystem& fs, std::string_view path) {
  constexpr int64_t kHeaderWindow = 64 * 1024;
  InputLog log(&fs, path);
  HeaderIdentity identity;
  if (log.open_log(kHeaderWindow).ok() && log.open_reader().ok()) {
    const LogHeader& header = log.reader().header();
    if (header.session_no != 0 && header.split_no != 0) {
      identity = HeaderIdentity{header.logger_id[0] != '\0' ? header.logger_id : kDefaultLoggerId, header.session_no,
                                header.split_no, std::string(path)};
    }
  }
  log.close_log();
  return identity;
}

const char* log_change(FileSystem& fs, std::string_view path, const EntryInfo& opened_as) {
  EntryInfo now;
  if (fs.query(path, &now).ok() && now.kind == ENTRY_MISSING) return "it disappeared during the conversion";
  if (now.kind == ENTRY_FILE && now.size == opened_as.size && now.modified_ns == opened_as.modified_ns &&
      now.changed_ns == opened_as.changed_ns && now.device == opened_as.device && now.inode == opened_as.inode) {
    return nullptr;
  }
  return "it changed during the conversion";
}
