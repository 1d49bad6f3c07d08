// One log as a conversion reads it: the input file, the read window in front
// of it, and the reader of its records. Each step returns why it failed,
// worded as the conversion reports it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "convert/file_task.h"
#include "fs/file_system.h"
#include "reader/log_reader.h"
#include "stream/status.h"
#include "stream/stream.h"

// The logger identifier (the default one when the header names none),
// session and split of the log at path, read from its header; an identity
// with an empty logger identifier when it is no log or its header names no
// session or split.
HeaderIdentity read_log_identity(FileSystem& fs, std::string_view path);

// The identifier of a header that names no logger.
inline constexpr char kDefaultLoggerId[] = "LOGGERID";

// How the log at path differs from when it was opened (gone, another file
// put in its place, or another size or modification time, to the
// nanosecond); nullptr when it does not.
const char* log_change(FileSystem& fs, std::string_view path, const EntryInfo& opened_as);

// The default read window (buffer_size negative) is as large as the file, but
// never larger than this: the window's size changes no byte of the output.
constexpr int64_t kDefaultWindowCap = 1024 * 1024;

class InputLog {
 public:
  // The log at path (relative to fs, which outlives this).
  InputLog(FileSystem* fs, std::string_view path) : fs_(fs), path_(path) {}
  ~InputLog();
  InputLog(const InputLog&) = delete;
  InputLog& operator=(const InputLog&) = delete;

  // Notes the log's size and modification time, opens it, and puts a read
  // window of buffer_size bytes in front of it (0: none; negative: as large
  // as the file, at most kDefaultWindowCap).
  Status open_log(int64_t buffer_size);
  // Opens the reader on it: the header and the title line.
  Status open_reader();

  // The size the log had when it was opened (0 when it could not be queried).
  int64_t size() const { return opened_as_.size; }
  const EntryInfo& opened_as() const { return opened_as_; }
  LogReader& reader() { return *reader_; }
  bool has_reader() const { return reader_ != nullptr; }

  // How the records ended, once read: ok, or why the log is not all read.
  Status read_end() const;
  // Closes the log (the reader first).
  Status close_log();

 private:
  FileSystem* fs_;
  std::string_view path_;
  EntryInfo opened_as_;
  Stream* stream_ = nullptr;
  std::unique_ptr<LogReader> reader_;
};
