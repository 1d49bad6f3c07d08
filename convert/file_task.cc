#include "convert/file_task.h"

#include <utility>

HeaderSlot::HeaderSlot(HeaderIdentity known) : known_(true), identity_(std::move(known)) {}

void HeaderSlot::publish(HeaderIdentity identity) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    identity_ = std::move(identity);
    known_ = true;
  }
  published_cv_.notify_all();
}

bool HeaderSlot::published() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return known_;
}

HeaderIdentity HeaderSlot::wait() const {
  std::unique_lock<std::mutex> lock(mutex_);
  published_cv_.wait(lock, [this] { return known_; });
  return identity_;
}

void FileTask::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  done_cv_.notify_all();
}

void FileTask::hand_on() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    handed_on_ = true;
  }
  done_cv_.notify_all();
}

bool FileTask::wait_settled() const {
  std::unique_lock<std::mutex> lock(mutex_);
  done_cv_.wait(lock, [this] { return done_ || handed_on_; });
  return done_;
}

void FileTask::wait_done() const {
  std::unique_lock<std::mutex> lock(mutex_);
  done_cv_.wait(lock, [this] { return done_; });
}

bool FileTask::is_done() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_;
}
