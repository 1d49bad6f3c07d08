// The status line and the summary line of an interactive run.
#include "app/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log/log.h"

namespace {

constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);
constexpr int kDefaultWidth = 80;
constexpr double kMega = 1e6;
constexpr double kGiga = 1e9;

// The status line that diagnostic lines are written above; nullptr while
// none is drawn.
std::atomic<StatusLine*> active_line{nullptr};

// The terminal and the columns of the status line standing on it, for
// status_line_erase.
std::atomic<int> drawn_fd{-1};
std::atomic<int> drawn_columns{0};

// The length of the UTF-8 sequence at text[i] when it is a valid one of a
// printable character, 0 otherwise (a control character, a stray or
// overlong byte, a surrogate, beyond U+10FFFF).
size_t printable_sequence(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return lead >= 0x20 && lead != 0x7f ? 1 : 0;
  size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
  if (length == 0 || lead > 0xf4 || i + length > text.size()) return 0;
  uint32_t code = lead & (0x7f >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xc0) != 0x80) return 0;
    code = code << 6 | (byte(i + k) & 0x3f);
  }
  const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return code >= 0x80 && code < 0xa0 ? 0 : length;  // C1 control characters
}

// The name as characters a terminal shows as they are: one text per column.
std::vector<std::string_view> printable_characters(std::string_view name) {
  std::vector<std::string_view> characters;
  for (size_t i = 0; i < name.size();) {
    const size_t length = printable_sequence(name, i);
    characters.push_back(length == 0 ? std::string_view("?") : name.substr(i, length));
    i += length == 0 ? 1 : length;
  }
  return characters;
}

// The name in at most `room` columns: its end, behind "...", when it is
// longer; nothing when not even that fits.
std::string shortened(std::string_view name, size_t room) {
  const std::vector<std::string_view> characters = printable_characters(name);
  size_t first = 0;
  std::string text;
  if (characters.size() > room) {
    if (room < 4) return text;
    first = characters.size() - (room - 3);
    text = "...";
  }
  for (size_t i = first; i < characters.size(); ++i) text.append(characters[i]);
  return text;
}

// Columns of a text of printable characters.
size_t columns(std::string_view text) {
  size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xc0) != 0x80 ? 1 : 0;
  return count;
}

// "12.3 s" under a minute, else "m:ss" or "h:mm:ss".
std::string duration_text(double seconds) {
  char text[32];
  if (seconds < 60) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
  }
  const auto whole = static_cast<unsigned long long>(seconds);
  if (whole < 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu", whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
  }
  return text;
}

// "m:ss left" from the rate so far; "--:-- left" before there is one.
std::string time_left_text(uint64_t done, uint64_t found, double seconds) {
  if (seconds < 1 || done == 0) return "--:-- left";
  const double left = static_cast<double>(found - done) * seconds / static_cast<double>(done);
  if (left < 60) return std::to_string(static_cast<int>(left + 0.5)) + " s left";
  return duration_text(left) + " left";
}

}  // namespace

void status_line_erase() {
  static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");
  const int fd = drawn_fd.load();
  const int count = drawn_columns.load();
  if (fd < 0 || count <= 0) return;
  char blanks[512];
  const int length = count + 2 < static_cast<int>(sizeof blanks) ? count + 2 : static_cast<int>(sizeof blanks);
  std::memset(blanks, ' ', sizeof blanks);
  blanks[0] = '\r';
  blanks[length - 1] = '\r';
  ssize_t ignored = write(fd, blanks, static_cast<size_t>(length));
  (void)ignored;
}

bool progress_wanted(bool non_interactive) {
  return !non_interactive && log_level != LOG_NONE && isatty(2) == 1;
}

std::string status_text(const ProgressCounts& counts, double seconds, std::string_view current, int width) {
  const uint64_t files_found = counts.files_found > counts.files_done ? counts.files_found : counts.files_done;
  const uint64_t bytes_found = counts.bytes_found > counts.bytes_done ? counts.bytes_found : counts.bytes_done;
  const bool giga = bytes_found >= 10 * kGiga;
  const double unit = giga ? kGiga : kMega;
  const double rate = seconds > 0 ? static_cast<double>(counts.bytes_done) / seconds / kMega : 0.0;
  const char* more = counts.all_found ? "" : "+";
  const std::string left = counts.all_found ? "  " + time_left_text(counts.bytes_done, bytes_found, seconds) : "";
  char text[160];
  std::snprintf(text, sizeof text, "%llu/%llu%s files  %.1f/%.1f%s %s  %.1f MB/s%s",
                static_cast<unsigned long long>(counts.files_done), static_cast<unsigned long long>(files_found), more,
                static_cast<double>(counts.bytes_done) / unit, static_cast<double>(bytes_found) / unit, more,
                giga ? "GB" : "MB", rate, left.c_str());
  std::string line(text);
  const size_t room = width > 1 ? static_cast<size_t>(width - 1) : 0;  // the last column stays free
  if (line.size() >= room) {
    line.resize(room);
    return line;
  }
  if (line.size() + 2 >= room) return line;
  std::string name = shortened(current, room - line.size() - 2);
  if (!name.empty()) line += "  " + name;
  return line;
}

std::string summary_text(const RunTotals& totals, double seconds) {
  const double megabytes = static_cast<double>(totals.log_bytes) / kMega;
  char text[256];
  std::snprintf(text, sizeof text,
                "Done: %llu converted, %llu failed, %llu passed over, %llu inputs deleted; %llu frames, "
                "%.1f MB read in %s (%.1f MB/s)\n",
                static_cast<unsigned long long>(totals.converted), static_cast<unsigned long long>(totals.failed),
                static_cast<unsigned long long>(totals.passed_over), static_cast<unsigned long long>(totals.deleted),
                static_cast<unsigned long long>(totals.frames), megabytes, duration_text(seconds).c_str(),
                seconds > 0 ? megabytes / seconds : 0.0);
  return text;
}

void StatusLine::start() {
  started_ = std::chrono::steady_clock::now();
  active_line.store(this);
  log_set_output(write_log_line);
  drawer_ = std::thread(&StatusLine::redraw_until_stopped, this);
}

void StatusLine::finish() {
  stop();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  std::lock_guard<std::mutex> lock(current_mutex_);
  write_all(summary_text(totals_, seconds));
}

void StatusLine::stop() {
  if (!drawer_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(draw_mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  drawer_.join();
  log_set_output(nullptr);
  active_line.store(nullptr);
  std::lock_guard<std::mutex> lock(draw_mutex_);
  const std::string nothing;
  if (!drawn_.empty()) draw({}, &nothing);
}

void StatusLine::work_found(uint64_t files, uint64_t bytes, int64_t folders) {
  files_found_.fetch_add(files, std::memory_order_relaxed);
  bytes_found_.fetch_add(bytes, std::memory_order_relaxed);
  folders_to_list_.fetch_add(folders, std::memory_order_relaxed);
}

void StatusLine::file_started(std::string_view input_path, int64_t) {
  std::lock_guard<std::mutex> lock(current_mutex_);
  current_.assign(input_path);
}

void StatusLine::bytes_read(uint64_t bytes) { bytes_read_.fetch_add(bytes, std::memory_order_relaxed); }

void StatusLine::file_finished(const FileOutcome& outcome) {
  finished_bytes_.fetch_add(outcome.bytes > 0 ? static_cast<uint64_t>(outcome.bytes) : 0, std::memory_order_relaxed);
  finished_told_.fetch_add(outcome.bytes_told, std::memory_order_relaxed);
  files_done_.fetch_add(1, std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(current_mutex_);
  totals_.add(outcome);
}

ProgressCounts StatusLine::counts() const {
  ProgressCounts counts;
  counts.files_done = files_done_.load(std::memory_order_relaxed);
  counts.files_found = files_found_.load(std::memory_order_relaxed);
  const uint64_t told = finished_told_.load(std::memory_order_relaxed);
  const uint64_t done = bytes_read_.load(std::memory_order_relaxed) + finished_bytes_.load(std::memory_order_relaxed);
  counts.bytes_done = done > told ? done - told : 0;
  counts.bytes_found = bytes_found_.load(std::memory_order_relaxed);
  counts.all_found = folders_to_list_.load(std::memory_order_relaxed) <= 0;
  return counts;
}

void StatusLine::write_log_line(const char* text, size_t length) {
  StatusLine* line = active_line.load();
  if (line == nullptr) {
    ssize_t ignored = write(2, text, length);
    (void)ignored;
    return;
  }
  std::lock_guard<std::mutex> lock(line->draw_mutex_);
  line->draw(std::string_view(text, length), nullptr);
}

void StatusLine::redraw_until_stopped() {
  std::unique_lock<std::mutex> lock(draw_mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, kRedrawPeriod);
    if (stopping_) break;
    lock.unlock();
    std::string current;
    {
      std::lock_guard<std::mutex> name_lock(current_mutex_);
      current = current_;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const std::string line = status_text(counts(), seconds, current, width());
    lock.lock();
    if (!stopping_ && line != drawn_) draw({}, &line);
  }
}

void StatusLine::draw(std::string_view above, const std::string* line) {
  std::string out = "\r";
  out.append(columns(drawn_), ' ');
  out += '\r';
  out.append(above);
  if (line != nullptr) drawn_ = *line;
  out += drawn_;
  drawn_fd.store(fd_);
  drawn_columns.store(static_cast<int>(columns(drawn_)));
  write_all(out);
}

void StatusLine::write_all(const std::string& bytes) const {
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t result = write(fd_, bytes.data() + written, bytes.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) return;
    written += static_cast<size_t>(result);
  }
}

int StatusLine::width() const {
  struct winsize size = {};
  if (ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultWidth;
}
