// The status line and the summary line of an interactive run.
#include "app/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
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

// One character of a name as the status line shows it: printable ones as
// they are, other bytes escaped as in the diagnostic lines.
struct ShownCharacter {
  std::string text;
  size_t width;  // columns
};

std::vector<ShownCharacter> shown_characters(std::string_view name) {
  std::vector<ShownCharacter> characters;
  char shown[4];
  size_t consumed = 0;
  for (size_t at = 0; at < name.size(); at += consumed) {
    const size_t length = log_shown_character(name, at, shown, &consumed);
    characters.push_back({std::string(shown, length), (shown[0] & 0x80) != 0 ? 1 : length});
  }
  return characters;
}

// The name in at most `room` columns: its end, behind "...", when it is
// longer; nothing when not even that fits. An escape is never cut.
std::string shortened(std::string_view name, size_t room) {
  const std::vector<ShownCharacter> characters = shown_characters(name);
  size_t total = 0;
  for (const ShownCharacter& character : characters) total += character.width;
  size_t first = 0;
  std::string text;
  if (total > room) {
    if (room < 4) return text;
    size_t used = 0;
    first = characters.size();
    while (first > 0 && used + characters[first - 1].width <= room - 3) used += characters[--first].width;
    text = "...";
  }
  for (size_t i = first; i < characters.size(); ++i) text += characters[i].text;
  return text;
}

// Columns of a text of printable characters.
size_t columns(std::string_view text) {
  size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xc0) != 0x80 ? 1 : 0;
  return count;
}

// "m:ss", or "h:mm:ss" from an hour on.
std::string clock_text(double seconds) {
  char text[32];
  const auto whole = static_cast<unsigned long long>(seconds);
  if (whole < 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu", whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
  }
  return text;
}

// "12.3 s" under a minute, else as clock_text.
std::string duration_text(double seconds) {
  if (seconds >= 60) return clock_text(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

// "m:ss left" from the rate so far, once everything is found and there is a
// rate; nothing before.
std::string time_left_text(const ProgressCounts& counts, uint64_t found, double seconds) {
  if (!counts.all_found || seconds < 1 || counts.bytes_done == 0) return {};
  const double left = static_cast<double>(found - counts.bytes_done) * seconds / static_cast<double>(counts.bytes_done);
  return clock_text(left + 0.5) + " left";
}

// Appends the fields (empty ones left out) to line, two blanks apart, while
// each fits in room columns: the first that does not ends it, so no field is
// cut and the later ones go first. True when every field fitted.
bool append_fields(std::string& line, std::initializer_list<std::string> fields, size_t room) {
  for (const std::string& field : fields) {
    if (field.empty()) continue;
    const size_t added = (line.empty() ? 0 : 2) + columns(field);
    if (columns(line) + added > room) return false;
    if (!line.empty()) line += "  ";
    line += field;
  }
  return true;
}

// Writes text to fd whole. False, with the reason in errno, when a write
// fails.
bool write_fully(int fd, std::string_view text) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t result = write(fd, text.data() + written, text.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) {
      if (result == 0) errno = EIO;
      return false;
    }
    written += static_cast<size_t>(result);
  }
  return true;
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
  char files[64];
  char bytes[64];
  char speed[32];
  std::snprintf(files, sizeof files, "%llu/%llu%s files", static_cast<unsigned long long>(counts.files_done),
                static_cast<unsigned long long>(files_found), more);
  std::snprintf(bytes, sizeof bytes, "%.1f/%.1f%s %s", static_cast<double>(counts.bytes_done) / unit,
                static_cast<double>(bytes_found) / unit, more, giga ? "GB" : "MB");
  std::snprintf(speed, sizeof speed, "%.1f MB/s", rate);
  const size_t room = width > 1 ? static_cast<size_t>(width - 1) : 0;  // the last column stays free
  std::string line;
  if (append_fields(line, {files, bytes, speed, time_left_text(counts, bytes_found, seconds)}, room) &&
      line.size() + 2 < room) {
    append_fields(line, {shortened(current, room - line.size() - 2)}, room);  // the fields are ASCII
  }
  return line;
}

std::string summary_text(const RunTotals& totals, double seconds) {
  const double megabytes = static_cast<double>(totals.log_bytes) / kMega;
  char text[256];
  std::snprintf(text, sizeof text,
                "Done: %llu converted, %llu failed, %llu passed over, %llu inputs deleted; %llu outputs, %llu frames, "
                "%.1f MB read in %s (%.1f MB/s)\n",
                static_cast<unsigned long long>(totals.converted), static_cast<unsigned long long>(totals.failed),
                static_cast<unsigned long long>(totals.passed_over), static_cast<unsigned long long>(totals.deleted),
                static_cast<unsigned long long>(totals.outputs), static_cast<unsigned long long>(totals.frames), megabytes, duration_text(seconds).c_str(),
                seconds > 0 ? megabytes / seconds : 0.0);
  return text;
}

bool write_above_status_line(int fd, std::string_view text) {
  StatusLine* line = active_line.load();
  if (line == nullptr || isatty(fd) != 1) return write_fully(fd, text);
  return line->write_above(fd, text);
}

void StatusLine::start() {
  started_ = std::chrono::steady_clock::now();
  try {
    drawer_ = std::thread(&StatusLine::redraw_until_stopped, this);
  } catch (const std::exception&) {
    return;  // no thread to draw: the run goes on without the line
  }
  active_line.store(this);
  log_set_output(write_log_line);
}

void StatusLine::finish() {
  stop();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  std::lock_guard<std::mutex> lock(current_mutex_);
  write_fully(fd_, summary_text(totals_, seconds));
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
  write_fully(fd_, out);
}

bool StatusLine::write_above(int fd, std::string_view text) {
  std::lock_guard<std::mutex> lock(draw_mutex_);
  if (fd == fd_) {
    draw(text, nullptr);
    return true;
  }
  const std::string standing = drawn_;
  const std::string nothing;
  draw({}, &nothing);
  const bool written = write_fully(fd, text);
  draw({}, &standing);
  return written;
}

int StatusLine::width() const {
  struct winsize size = {};
  if (ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultWidth;
}
