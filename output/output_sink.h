// Where a format writer puts the bytes of one output file.
//
// A writer asks for room at the end (room), writes there, and says how much
// it wrote (commit): while the sink's window has room this is two inline
// steps, so a line costs no call. A failed write is kept: room then gives
// nullptr, every later write does nothing, and ok() and status() tell the
// writer's caller, which checks them between frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "stream/status.h"

class OutputSink {
 public:
  OutputSink() = default;
  virtual ~OutputSink() = default;
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;

  // Room for count bytes at the end (count at most kMaxRoom), or nullptr
  // once a write failed.
  char* room(size_t count) {
    if (static_cast<size_t>(limit_ - cursor_) >= count) return cursor_;
    return make_room(count);
  }
  // The window's room as it stands, no room made: *count bytes from the
  // place returned (none once a write failed). A writer may write several
  // lines there and commit them at once.
  char* window_room(size_t* count) {
    *count = static_cast<size_t>(limit_ - cursor_);
    return cursor_;
  }
  // Takes the first count bytes written at room() as appended.
  void commit(size_t count) { cursor_ += count; }

  // Appends count bytes at the end.
  void append(const void* bytes, size_t count);

  // Overwrites count bytes appended earlier, from offset on (a header whose
  // values are known only at the end).
  virtual void overwrite(uint64_t offset, const void* bytes, size_t count) = 0;
  // The bytes appended so far.
  virtual uint64_t size() const = 0;

  // False once a write failed.
  bool ok() const { return status_.ok(); }
  const Status& status() const { return status_; }

  // The most room a writer may ask for at once.
  static constexpr size_t kMaxRoom = 4096;

 protected:
  // Hands the window's bytes on and opens a window with room for count
  // bytes (cursor_ and limit_). nullptr, after keeping the failure (fail),
  // when that is not possible.
  virtual char* make_room(size_t count) = 0;

  // Forgets the failure kept (the sink is whole again; the window is closed).
  void clear_failure() { status_ = Status(); }
  // Keeps the first failure and closes the window.
  void fail(Status status) {
    if (status_.ok()) status_ = std::move(status);
    cursor_ = limit_ = nullptr;
  }

  char* cursor_ = nullptr;  // the next byte of the window
  char* limit_ = nullptr;   // the end of the window

 private:
  Status status_;
};
