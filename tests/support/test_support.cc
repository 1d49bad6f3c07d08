#include "tests/support/test_support.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace test_support {
namespace {

// Reads all of the descriptor from its start.
std::string read_all(int fd) {
  std::string out;
  char buffer[4096];
  ssize_t n;
  lseek(fd, 0, SEEK_SET);
  while ((n = read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  return out;
}

// An unnamed temporary file open for reading and writing; -1 on failure.
int anonymous_file() {
  char name[] = "/tmp/trcforge-capture-XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) unlink(name);
  return fd;
}

// Removes path and everything below it, giving folders back the owner's
// permissions first so that they can be listed and emptied.
void remove_tree(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::is_directory(fs::symlink_status(path, error))) {
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(path, error)) entries.push_back(entry.path());
    for (const auto& entry : entries) remove_tree(entry);
  }
  fs::remove(path, error);
}

// Reads one number right-aligned in a column of five from at (a wider
// number fills its own width). Returns the position after it, or npos.
size_t skip_column(std::string_view line, size_t at) {
  size_t blanks = at;
  while (blanks < line.size() && line[blanks] == ' ') ++blanks;
  size_t end = blanks;
  while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
  size_t digits = end - blanks;
  if (digits == 0) return std::string_view::npos;
  bool aligned = digits <= 5 ? end - at == 5 : blanks == at;
  return aligned ? end : std::string_view::npos;
}

// The "<letter> <message>" of one diagnostic line, or empty when the line is
// not laid out as one.
std::string message_of(std::string_view line) {
  static constexpr std::string_view kClock = "99-99 99:99:99.999";
  if (line.size() < kClock.size()) return {};
  for (size_t i = 0; i < kClock.size(); ++i) {
    bool digit = line[i] >= '0' && line[i] <= '9';
    if (kClock[i] == '9' ? !digit : line[i] != kClock[i]) return {};
  }
  size_t at = kClock.size();
  for (int column = 0; column < 2; ++column) {
    if (at >= line.size() || line[at] != ' ') return {};
    at = skip_column(line, at + 1);
    if (at == std::string_view::npos) return {};
  }
  if (at + 3 > line.size() || line[at] != ' ' || line[at + 2] != ' ' ||
      std::string_view("VDIWEF?").find(line[at + 1]) == std::string_view::npos) {
    return {};
  }
  return std::string(line.substr(at + 1));
}

}  // namespace

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool write_file(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return out.good();
}

bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

TempFolder::TempFolder() {
  char pattern[] = "/tmp/trcforge-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  path_ = std::string(pattern) + "/";
}

TempFolder::~TempFolder() { remove_tree(path_); }

bool TempFolder::make_folders(std::string_view relative) const {
  std::string so_far = path_;
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    if (end > start) {
      so_far.append(relative.substr(start, end - start)).push_back('/');
      if (mkdir(so_far.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    start = end + 1;
  }
  return true;
}

bool TempFolder::write(std::string_view relative, std::string_view text) const {
  size_t slash = relative.rfind('/');
  if (slash != std::string_view::npos && !make_folders(relative.substr(0, slash))) return false;
  return write_file(at(relative), text);
}

FdCapture::FdCapture(int fd) : fd_(fd) {
  std::fflush(nullptr);
  file_ = anonymous_file();
  saved_ = dup(fd_);
  dup2(file_, fd_);
}

FdCapture::~FdCapture() {
  restore();
  if (file_ >= 0) close(file_);
}

std::string FdCapture::text() {
  restore();
  return read_all(file_);
}

void FdCapture::restore() {
  if (saved_ < 0) return;
  std::fflush(nullptr);
  dup2(saved_, fd_);
  close(saved_);
  saved_ = -1;
}

std::vector<std::string> log_messages(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    std::string message = message_of(line);
    lines.push_back(message.empty() ? "not a diagnostic line: " + std::string(line) : message);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

RunResult run_program(const std::vector<std::string>& argv, const std::string& cwd) {
  std::vector<std::string> words = argv;
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  RunResult result;
  int out = anonymous_file();
  int err = anonymous_file();
  std::fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || (!cwd.empty() && chdir(cwd.c_str()) != 0)) _exit(250);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execvp(pointers[0], pointers.data());
    _exit(251);
  }
  int wait_status = 0;
  if (child > 0 && waitpid(child, &wait_status, 0) == child) {
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  }
  result.out = read_all(out);
  result.err = read_all(err);
  close(out);
  close(err);
  return result;
}

std::string sample_log(int records, int split) {
  std::string text =
      "# Logger type: VorlatBeta\n"
      "# Session No.: 1\n"
      "# Split No.: " + std::to_string(split) + "\n"
      "# Time: 20240115T093000\n"
      "# Time format: 3\n"
      "# Value separator: \";\"\n"
      "# Time separator: \":\"\n"
      "# Time separator ms: \".\"\n"
      "Timestamp;Type;ID;Length;Data\n";
  for (int i = 0; i < records; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "09:%02d:%02d.%03d;0;%X;8;1122334455667788\n", 30 + i / 60000,
                  i / 1000 % 60, i % 1000, 0x100 + i % 0x600);
    text += line;
  }
  return text;
}

int64_t library_utc_seconds(const unsigned n[7]) {
  struct tm broken_down = {};
  broken_down.tm_year = static_cast<int>(n[0] - 1900);
  broken_down.tm_mon = static_cast<int>(n[1] - 1);
  broken_down.tm_mday = static_cast<int>(n[2]);
  broken_down.tm_hour = static_cast<int>(n[3]);
  broken_down.tm_min = static_cast<int>(n[4]);
  broken_down.tm_sec = static_cast<int>(n[5]);
  return static_cast<int64_t>(timegm(&broken_down));
}

}  // namespace test_support
