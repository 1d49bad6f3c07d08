// Runs the files of a walk: one after the other on the calling thread, or
// several at a time on threads of its own (RunOptions::jobs). Either way what
// the run prints and tells its observer comes out in walk order: a file's
// messages and outcome are held until every file before it has given its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "convert/file_task.h"
#include "convert/run.h"
#include "reader/work_queue.h"
#include "log/log.h"

class Executor : public WorkQueue {
 public:
  // Converts with run (borrowed): on this thread when run.options.jobs is
  // 1, else on that many threads (or as many as could be started).
  explicit Executor(const ConversionRun& run);
  ~Executor();
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  // Converts the file, now or on a thread of its own.
  void convert(std::shared_ptr<FileTask> task);
  // An outcome of the walk itself (a file passed over, a path that could not
  // be reached), in its place in walk order.
  void note(FileOutcome outcome);
  // Waits until every file so far is converted (done, or handed on to a
  // later split of its session), as on one thread: for an input named again,
  // which must find its log as the conversion before it left it.
  void settle_all();
  // Waits for every file. Returns the OR of their results.
  uint32_t finish();

  // The helper queue of the converting threads.
  void push(std::function<void()> work) override;
  void wait_until(const std::function<bool()>& done) override;
  void notify() override;
  int threads() const override { return static_cast<int>(workers_.size()); }

 private:
  // What comes out at one place of the walk: the walk's own messages and
  // outcomes before it, then the file's.
  struct Entry {
    std::string walk_lines;
    std::vector<FileOutcome> notes;
    std::shared_ptr<FileTask> task;  // none for the walk's last words
  };

  void start_workers(int count);
  void work();
  // Moves what the walk said since the last entry into a new entry.
  Entry& open_entry();
  // How retire waits for the file at the front.
  enum class Wait {
    kNone,     // not at all
    kSettled,  // until it is done, or handed on to a later split of its session
    kDone,     // until it is done (every file is handed over)
  };
  // Writes out and hands over every entry at the front whose file is done,
  // after waiting for the front one as told.
  void retire(Wait wait);
  void deliver(Entry& entry);

  const ConversionRun& run_;
  uint32_t result_ = 0;
  bool parallel_ = false;
  size_t window_ = 1;  // entries in flight at most

  std::mutex mutex_;
  std::condition_variable changed_;  // a task or help was queued, help was done, or work ends
  std::deque<std::shared_ptr<FileTask>> queued_;
  std::deque<std::function<void()>> help_;
  bool stopping_ = false;
  std::deque<Entry> entries_;
  std::vector<std::thread> workers_;
  LogCapture walk_capture_;  // the walking thread's messages, held
  std::vector<FileOutcome> walk_notes_;
};
