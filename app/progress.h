// The status line of an interactive run and the summary line at its end, on
// standard error.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "app/run_totals.h"
#include "convert/run_events.h"

// True when a run shows the status line and the summary: standard error is
// a terminal, --non-interactive was not given and the diagnostic log is not
// switched off (verbosity 0).
bool progress_wanted(bool non_interactive);

// What the status line shows, as counted so far.
struct ProgressCounts {
  uint64_t files_done = 0;
  uint64_t files_found = 0;
  uint64_t bytes_done = 0;
  uint64_t bytes_found = 0;
  bool all_found = false;  // the walk has listed every folder: nothing more will be found
};

// The text of the status line for the counts after `seconds`, in fewer than
// `width` columns: the files, the bytes, the rate, the time left and the
// name of the current file, two blanks apart. A field that does not fit is
// left out with every field after it, never cut; only the name is shortened,
// from the front. The name shows as diagnostic lines show it (log_shown).
// While more may be found, the totals carry a "+"; the time left ("m:ss
// left") shows once everything is found and a rate is known.
std::string status_text(const ProgressCounts& counts, double seconds, std::string_view current, int width);

// Erases the status line standing on the terminal, if any, with one write;
// safe in a signal handler.
void status_line_erase();

// Writes text to fd whole. When fd is a terminal and a status line stands
// (perhaps on the same terminal), the line is cleared first and drawn again
// after, so that nothing written joins it. False, with the reason in errno,
// when a write fails.
bool write_above_status_line(int fd, std::string_view text);

// The summary line (with its line end) for the totals of a run of `seconds`.
std::string summary_text(const RunTotals& totals, double seconds);

// Draws the status line on a terminal: a thread redraws it at most ten times
// a second while the run goes on, and every diagnostic line is written above
// it (the line is cleared, the diagnostic written, the line drawn again, in
// one write). Counting is lock-free, so the converting threads never wait.
class StatusLine : public RunObserver {
 public:
  explicit StatusLine(int fd) : fd_(fd) {}
  ~StatusLine() override { stop(); }
  StatusLine(const StatusLine&) = delete;
  StatusLine& operator=(const StatusLine&) = delete;

  // Takes over the diagnostic log's output and starts drawing; does
  // nothing when no thread can be started to draw.
  void start();
  // Stops drawing, clears the line and gives the log its output back; then
  // writes the summary line.
  void finish();

  void work_found(uint64_t files, uint64_t bytes, int64_t folders) override;
  void file_started(std::string_view input_path, int64_t bytes) override;
  void bytes_read(uint64_t bytes) override;
  void file_finished(const FileOutcome& outcome) override;

  // write_above_status_line while this line stands.
  bool write_above(int fd, std::string_view text);

 private:
  static void write_log_line(const char* text, size_t length);
  void stop();
  void redraw_until_stopped();
  ProgressCounts counts() const;
  // Clears the status line, writes `above` (whole lines, may be empty) and
  // draws `line` (nullptr: the line drawn before), in one write. The caller
  // holds draw_mutex_.
  void draw(std::string_view above, const std::string* line);
  int width() const;

  const int fd_;
  std::chrono::steady_clock::time_point started_;
  std::atomic<uint64_t> files_found_{0};
  std::atomic<uint64_t> bytes_found_{0};
  std::atomic<int64_t> folders_to_list_{0};
  std::atomic<uint64_t> files_done_{0};
  std::atomic<uint64_t> bytes_read_{0};      // told by bytes_read
  std::atomic<uint64_t> finished_bytes_{0};  // the sizes of the files that ended
  std::atomic<uint64_t> finished_told_{0};   // what bytes_read was told of them

  std::mutex current_mutex_;
  std::string current_;  // the file being converted
  RunTotals totals_;     // guarded by current_mutex_

  std::mutex draw_mutex_;
  std::string drawn_;  // what stands on the terminal now
  std::condition_variable wake_;
  bool stopping_ = false;  // guarded by draw_mutex_
  std::thread drawer_;
};
