#include "convert/executor.h"

#include <exception>
#include <new>
#include <utility>

#include "convert/convert_file.h"
#include "convert/run_events.h"

namespace {

// Files in flight per converting thread: enough to keep every thread busy
// while a slow file holds the ones after it back, few enough that what they
// hold (their messages) stays small.
constexpr size_t kEntriesPerThread = 4;

}  // namespace

Executor::Executor(const ConversionRun& run) : run_(run) {
  const int jobs = run.options.jobs;
  if (jobs > 1) start_workers(jobs);
  if (!parallel_) return;
  window_ = kEntriesPerThread * workers_.size();
  walk_capture_.hold = true;
  log_capture_begin(&walk_capture_);
}

Executor::~Executor() { finish(); }

void Executor::start_workers(int count) {
  try {
    workers_.reserve(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    count = 0;
  }
  for (int i = 0; i < count; ++i) {
    try {
      workers_.emplace_back(&Executor::work, this);
    } catch (const std::exception&) {  // no thread to be had, or no memory for one: fewer jobs
      break;
    }
  }
  parallel_ = workers_.size() > 1;
  if (!parallel_) finish();  // one thread is no better than this one
}

// A converting thread: helps with the chunks of large logs first, else
// converts the next file.
void Executor::work() {
  for (;;) {
    std::shared_ptr<FileTask> task;
    std::function<void()> help;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !queued_.empty() || !help_.empty(); });
      if (!help_.empty()) {
        help = std::move(help_.front());
        help_.pop_front();
      } else if (!queued_.empty()) {
        task = std::move(queued_.front());
        queued_.pop_front();
      } else {
        return;
      }
    }
    if (help) {
      help();
      notify();
      continue;
    }
    convert_file(run_, this, task.get(), true);
  }
}

void Executor::push(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    help_.push_back(std::move(work));
  }
  changed_.notify_all();
}

void Executor::wait_until(const std::function<bool()>& done) {
  for (;;) {
    std::function<void()> help;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return done() || !help_.empty(); });
      if (done()) return;
      help = std::move(help_.front());
      help_.pop_front();
    }
    help();
    notify();
  }
}

void Executor::notify() {
  { std::lock_guard<std::mutex> lock(mutex_); }
  changed_.notify_all();
}

void Executor::convert(std::shared_ptr<FileTask> task) {
  if (!parallel_) {
    // On this thread: its outcome comes in turn, after the files before it
    // whose session it may settle.
    open_entry().task = task;
    convert_file(run_, nullptr, task.get(), false);
    retire(Wait::kNone);
    return;
  }
  retire(entries_.size() >= window_ ? Wait::kSettled : Wait::kNone);
  open_entry().task = task;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_.push_back(std::move(task));
  }
  changed_.notify_all();
}

void Executor::note(FileOutcome outcome) {
  walk_notes_.push_back(std::move(outcome));
  if (parallel_) return;
  open_entry();
  retire(Wait::kNone);
}

void Executor::settle_all() {
  for (Entry& entry : entries_) {
    if (entry.task != nullptr) entry.task->wait_settled();
  }
  retire(Wait::kNone);
}

uint32_t Executor::finish() {
  open_entry();
  retire(Wait::kDone);
  if (parallel_) {
    log_capture_end();
    parallel_ = false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  return result_;
}

Executor::Entry& Executor::open_entry() {
  Entry& entry = entries_.emplace_back();
  entry.walk_lines = std::move(walk_capture_.lines);
  walk_capture_.lines.clear();
  entry.notes = std::move(walk_notes_);
  walk_notes_.clear();
  return entry;
}

void Executor::retire(Wait wait) {
  while (!entries_.empty()) {
    const std::shared_ptr<FileTask>& task = entries_.front().task;
    if (task != nullptr && !task->is_done()) {
      if (wait == Wait::kNone) return;
      if (wait == Wait::kDone) {
        task->wait_done();
      } else if (!task->wait_settled()) {
        return;  // handed on: a split after it, not yet handed over, settles it
      }
    }
    deliver(entries_.front());
    entries_.pop_front();
    if (wait == Wait::kSettled) wait = Wait::kNone;
  }
}

void Executor::deliver(Entry& entry) {
  log_write_held(entry.walk_lines);
  if (run_.observer != nullptr) {
    for (const FileOutcome& outcome : entry.notes) run_.observer->file_finished(outcome);
  }
  if (entry.task == nullptr) return;
  log_write_held(entry.task->capture.lines);
  result_ |= entry.task->result;
  if (run_.observer != nullptr) run_.observer->file_finished(entry.task->outcome);
}
