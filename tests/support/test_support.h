// Helpers that several test programs share: a temporary folder, whole files,
// a captured file descriptor, diagnostic lines without their context, a run
// of a built program, a sample log, and the C library's UTC conversion.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace test_support {

inline std::string read_file(const std::string& path) {  // empty when it cannot be read
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// A fresh folder below /var/tmp (path() ends in "/"), removed with all it
// holds: on disk, where -d takes an output as safe (/tmp may be in memory).
class TempFolder {
 public:
  TempFolder() : path_("/var/tmp/trcforge-test-XXXXXX") { path_ = std::string(mkdtemp(path_.data())) + "/"; }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }
  std::string at(const std::string& relative) const { return path_ + relative; }
  // Writes a file below the folder, making its folders first.
  bool write(const std::string& relative, const std::string& text) const {
    std::filesystem::create_directories(std::filesystem::path(at(relative)).parent_path());
    return static_cast<bool>(std::ofstream(at(relative), std::ios::binary) << text);
  }

 private:
  std::string path_;
};

// Sends file descriptor fd into a temporary file until text() is called.
class FdCapture {
 public:
  explicit FdCapture(int fd) : fd_(fd), saved_(dup(fd)), file_(fileno(tmpfile_)) { fflush(nullptr), dup2(file_, fd_); }
  ~FdCapture() { text(), fclose(tmpfile_); }
  std::string text() {  // ends the capture; everything written meanwhile
    if (saved_ >= 0) fflush(nullptr), dup2(saved_, fd_), close(saved_), saved_ = -1;
    std::string out(static_cast<size_t>(lseek(file_, 0, SEEK_END)), '\0');
    return out.resize(static_cast<size_t>(pread(file_, out.data(), out.size(), 0))), out;
  }

 private:
  FILE* tmpfile_ = tmpfile();
  int fd_, saved_, file_;
};

// The message of a diagnostic line ("MM-DD HH:MM:SS.mmm  PID  TID L text")
// as "L text"; a line without that context stays whole, so that it fails any
// comparison.
inline std::string log_message(const std::string& line) {
  static const char kDate[] = "00-00 00:00:00.000";
  size_t at = 0;
  auto digit = [&line](size_t i) { return i < line.size() && line[i] >= '0' && line[i] <= '9'; };
  for (; kDate[at] != '\0'; ++at) {
    if (kDate[at] == '0' ? !digit(at) : (at >= line.size() || line[at] != kDate[at])) return line;
  }
  for (int field = 0; field < 2; ++field) {  // the process and the thread, each after blanks
    const size_t blanks = at;
    while (at < line.size() && line[at] == ' ') ++at;
    const size_t digits = at;
    while (digit(at)) ++at;
    if (digits == blanks || at == digits) return line;
  }
  // One blank, the level letter, one blank.
  const std::string levels = "VDIWEF";
  if (at + 2 >= line.size() || line[at] != ' ' || line[at + 2] != ' ' || levels.find(line[at + 1]) == std::string::npos) {
    return line;
  }
  return line.substr(at + 1);
}

// The diagnostic lines of text, each as log_message gives it.
inline std::vector<std::string> log_messages(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(log_message(line));
  return lines;
}

// Runs the shell command with no input; its exit status, its standard error
// in *err.
inline int run_program(const std::string& command, std::string* err) {
  TempFolder folder;
  const int status = system((command + " </dev/null 2>" + folder.at("err")).c_str());
  *err = read_file(folder.at("err"));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A log of the given split number with `records` frames a millisecond apart
// from 09:30:00.000 on (time format 3).
inline std::string sample_log(int records, int split = 1) {
  std::string text = "# Logger type: VorlatBeta\n# Session No.: 1\n# Split No.: " + std::to_string(split) +
                     "\n# Time: 20240115T093000\n# Time format: 3\n# Value separator: \";\"\n"
                     "# Time separator: \":\"\n# Time separator ms: \".\"\nTimestamp;Type;ID;Length;Data\n";
  for (int i = 0; i < records; ++i) {
    char line[64];
    snprintf(line, sizeof line, "09:%02d:%02d.%03d;0;%X;8;1122334455667788\n", 30 + i / 60000, i / 1000 % 60, i % 1000,
             0x100 + i % 0x600);
    text += line;
  }
  return text;
}

// timegm of year, month (1 to 12), day, hour, minute and second in n[0..5].
inline int64_t library_utc_seconds(const unsigned n[7]) {
  struct tm t = {};
  t.tm_year = static_cast<int>(n[0] - 1900), t.tm_mon = static_cast<int>(n[1] - 1), t.tm_mday = static_cast<int>(n[2]);
  t.tm_hour = static_cast<int>(n[3]), t.tm_min = static_cast<int>(n[4]), t.tm_sec = static_cast<int>(n[5]);
  return static_cast<int64_t>(timegm(&t));
}

}  // namespace test_support
