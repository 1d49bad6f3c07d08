// One file of the walk to convert, with what it depends on from the files
// before it in walk order, and what it leaves for the files after it. Files
// may be converted at the same time; these links keep every decision that
// depends on the walk order the same as if they were converted one by one.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "convert/run_events.h"
#include "log/log.h"

// The identity of a log header: the last one accepted before a file, in
// walk order, and the session a split continues.
struct HeaderIdentity {
  std::string logger_id;  // empty before the first accepted header of the run
  int32_t session_no = 0;
  int32_t split_no = 0;
  std::string input_path;  // the log it came from, relative to the input root

  // True when next is the split after this one: the same logger and
  // session, the split number one higher.
  bool continued_by(const HeaderIdentity& next) const {
    return !logger_id.empty() && logger_id == next.logger_id && session_no == next.session_no &&
           static_cast<int64_t>(next.split_no) == static_cast<int64_t>(split_no) + 1;
  }
};

class SessionLink;

// A header identity that becomes known once: each file publishes the
// identity after it (its own header if accepted, else the one before it).
class HeaderSlot {
 public:
  HeaderSlot() = default;
  explicit HeaderSlot(HeaderIdentity known);
  void publish(HeaderIdentity identity);
  bool published() const;
  // Waits until the identity is published.
  HeaderIdentity wait() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable published_cv_;
  bool known_ = false;
  HeaderIdentity identity_;
};

struct FileTask {
  std::string input_path;   // relative to the input root
  std::string output_path;  // relative to the output root, the input's extension still on
  std::shared_ptr<HeaderSlot> header_before;  // the identity after the file before it
  std::shared_ptr<HeaderSlot> header_after;   // its own, for the file after it
  // The last earlier file of the same folder level with the same output base
  // (a.txt before a.TXT), or none: this one may not write an output that an
  // earlier one kept.
  std::shared_ptr<FileTask> same_output_before;
  // Joined sessions: the split before this one hands the session's output
  // on through session_before, and this one to the split after it through
  // session_after; none where the file begins, or ends, a session.
  std::shared_ptr<SessionLink> session_before;
  std::shared_ptr<SessionLink> session_after;

  // Set by the conversion.
  uint32_t result = 0;      // the path result (PATH_OK or PATH_FAILED)
  bool kept = false;        // an output was kept under output_name
  std::string output_name;  // the output's name, extension included
  FileOutcome outcome;      // for the observer
  LogCapture capture;       // the file's messages, held when it runs beside others

  // Marks the task done and wakes whoever waits for it.
  void finish();
  // Its conversion is over, but its outcome waits for a later split of its
  // session, which finishes it.
  void hand_on();
  // Waits until the task is done.
  void wait_done() const;
  // Waits until the task is done or handed on; true when done.
  bool wait_settled() const;
  bool is_done() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable done_cv_;
  bool done_ = false;
  bool handed_on_ = false;
};
