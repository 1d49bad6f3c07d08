// Helpers that several test programs share: temporary folders, whole files,
// a captured file descriptor, diagnostic lines without their context, a run
// of a built program with its standard output, standard error and exit
// status collected, a sample log, and the C library's UTC conversion. Needs
// nothing of the project's own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

// The whole contents of the file at path; empty when it cannot be read.
std::string read_file(const std::string& path);
// Writes text as the whole file at path. Returns true when all was written.
bool write_file(const std::string& path, std::string_view text);
// True when something (also a dangling link) is at path.
bool exists(const std::string& path);

// A fresh folder below /tmp, removed with all it holds (also entries whose
// permissions a test took away) when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Absolute, ending in "/".
  const std::string& path() const { return path_; }
  std::string at(std::string_view relative) const { return path_ + std::string(relative); }
  // Makes every missing folder along relative. Returns true when all exist.
  bool make_folders(std::string_view relative) const;
  // Writes a file below the folder, making its folders first. Returns true
  // when all was written.
  bool write(std::string_view relative, std::string_view text) const;
  std::string read(std::string_view relative) const { return read_file(at(relative)); }
  bool has(std::string_view relative) const { return exists(at(relative)); }

 private:
  std::string path_;
};

// Sends file descriptor fd (1 or 2) into a temporary file from construction
// until text() or destruction, whichever comes first.
class FdCapture {
 public:
  explicit FdCapture(int fd);
  ~FdCapture();
  FdCapture(const FdCapture&) = delete;
  FdCapture& operator=(const FdCapture&) = delete;
  // Ends the capture and returns all that was written meanwhile.
  std::string text();

 private:
  void restore();
  int fd_;
  int saved_ = -1;
  int file_ = -1;
};

// The diagnostic lines of text as "<level letter> <message>", the context in
// front of them (month-day, time to the millisecond, process and thread
// numbers right-aligned in five columns, 33 characters while both numbers
// have at most five digits) checked and cut off. A line not laid out so is
// returned whole behind "not a diagnostic line: ", so that it fails any
// comparison and shows.
std::vector<std::string> log_messages(std::string_view text);

struct RunResult {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs argv[0] (looked up in PATH when it holds no "/") with argv in the
// folder cwd (empty: the current one), standard input from /dev/null, and
// waits for it.
RunResult run_program(const std::vector<std::string>& argv, const std::string& cwd = "");

// A text log of the given split number with `records` frames, a millisecond
// apart from 09:30:00.000 on, with eight data bytes each (columns Timestamp,
// Type, ID, Length, Data; time format 3).
std::string sample_log(int records, int split = 1);

// timegm of year, month (1 to 12), day, hour, minute and second (n[0] to
// n[5]) converted to int as a broken-down time holds them, every other member
// 0: the library's answer that the reader's own conversion must match.
int64_t library_utc_seconds(const unsigned n[7]);

}  // namespace test_support
