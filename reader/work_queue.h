// Work that any converting thread may take on while it waits: the chunks of
// a large log, parsed by every thread at once while the log's own thread
// settles them in order.
#pragma once

#include <functional>

class WorkQueue {
 public:
  virtual ~WorkQueue() = default;
  // Queues work for whichever thread comes first.
  virtual void push(std::function<void()> work) = 0;
  // Waits until done() holds, running queued work meanwhile. done() is
  // looked at whenever notify() was called.
  virtual void wait_until(const std::function<bool()>& done) = 0;
  // Wakes the waiters, to look at their conditions again.
  virtual void notify() = 0;
  // Threads that take queued work.
  virtual int threads() const = 0;
};
