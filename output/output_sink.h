// Where a format writer puts the bytes of one output file. A failed write is
// kept: every later write does nothing, and ok() and status() tell the
// writer's caller, which checks them between frames.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/status.h"

class OutputSink {
 public:
  virtual ~OutputSink() = default;

  // Appends count bytes at the end.
  virtual void append(const void* bytes, size_t count) = 0;
  // Overwrites count bytes appended earlier, from offset on (a header whose
  // values are known only at the end).
  virtual void overwrite(uint64_t offset, const void* bytes, size_t count) = 0;
  // The bytes appended so far.
  virtual uint64_t size() const = 0;

  // False once a write failed.
  bool ok() const { return status_.ok(); }
  const Status& status() const { return status_; }

 protected:
  // Keeps the first failure.
  void fail(Status status) {
    if (status_.ok()) status_ = std::move(status);
  }

 private:
  Status status_;
};
