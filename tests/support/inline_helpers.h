// A work queue that runs the queued work on the waiting thread, in the order
// it came: the chunked reading without threads, the same on every run.
#pragma once

#include <deque>
#include <functional>
#include <utility>

#include "reader/work_queue.h"

namespace test_support {

class InlineHelpers : public WorkQueue {
 public:
  // threads: as many converting threads as the pass is to plan for.
  explicit InlineHelpers(int threads = 2) : threads_(threads) {}
  void push(std::function<void()> work) override { queue_.push_back(std::move(work)); }
  void wait_until(const std::function<bool()>& done) override {
    for (; !done() && !queue_.empty(); queue_.pop_front()) queue_.front()();
  }
  void notify() override {}
  int threads() const override { return threads_; }

 private:
  int threads_;
  std::deque<std::function<void()>> queue_;
};

}  // namespace test_support
