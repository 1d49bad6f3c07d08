// The hand-over of a joined session's output from one split's conversion to
// the next split's, which may run on another thread.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "convert/session_output.h"

class SessionLink {
 public:
  // Hands the session on; nullptr when it ended (the next split begins an
  // output of its own).
  void hand_on(std::unique_ptr<SessionOutput> session) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      session_ = std::move(session);
      handed_ = true;
    }
    handed_cv_.notify_all();
  }

  // Waits for the session of the split before.
  std::unique_ptr<SessionOutput> wait_for_session() {
    std::unique_lock<std::mutex> lock(mutex_);
    handed_cv_.wait(lock, [this] { return handed_; });
    return std::move(session_);
  }

 private:
  std::mutex mutex_;
  std::condition_variable handed_cv_;
  bool handed_ = false;
  std::unique_ptr<SessionOutput> session_;
};
