// A failure as a value: what went wrong, in words, and the system's reason
// (errno) when there is one. Handed up from the step that failed to the one
// that words the message, so that no errno is carried across layers and no
// message is recovered from the log.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <utility>

class Status {
 public:
  // Success.
  Status() = default;

  // A failure: what failed ("Could not write CAN data"), and errno when the
  // system gave a reason (0 when not).
  static Status failure(std::string what, int error = 0) {
    Status status;
    status.failure_ = std::make_shared<const Failure>(Failure{std::move(what), error});
    return status;
  }

  bool ok() const { return failure_ == nullptr; }
  explicit operator bool() const { return ok(); }

  // What failed, without the reason; empty for success.
  const std::string& what() const { return ok() ? empty() : failure_->what; }
  // errno of the failure, 0 for success or a failure without one.
  int error() const { return ok() ? 0 : failure_->error; }
  // The whole message: what failed, then the system's reason in brackets
  // when there is one ("Could not write CAN data (No space left on device)").
  std::string message() const {
    if (ok()) return {};
    if (failure_->error == 0) return failure_->what;
    return failure_->what + " (" + reason(failure_->error) + ")";
  }

  // The system's words for an errno value ("Permission denied").
  static const char* reason(int error) {
    const char* text = strerrordesc_np(error);
    return text != nullptr ? text : "Unknown error";
  }

 private:
  struct Failure {
    std::string what;
    int error;
  };
  static const std::string& empty() {
    static const std::string kEmpty;
    return kEmpty;
  }
  std::shared_ptr<const Failure> failure_;  // none for success; shared, so a copy is cheap
};
