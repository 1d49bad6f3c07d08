#include "convert/session_planner.h"

#include "convert/input_log.h"
#include "log/log.h"

void SessionPlanner::plan(FileTask* task, std::string_view next_log) {
  if (pending_ != nullptr && pending_path_ != task->input_path) settle_pending();
  task->session_before = std::move(pending_);
  pending_.reset();
  if (next_log.empty()) return;
  const HeaderIdentity own = identity_of(task->input_path);
  if (own.logger_id.empty() || !own.continued_by(identity_of(next_log))) return;
  task->session_after = std::make_shared<SessionLink>();
  pending_ = task->session_after;
  pending_path_.assign(next_log);
}

void SessionPlanner::end_walk() {
  if (pending_ != nullptr) settle_pending();
}

HeaderIdentity SessionPlanner::identity_of(std::string_view path) {
  if (path != known_path_) {
    known_ = read_log_identity(*run_.input_fs, path);
    known_path_.assign(path);
  }
  return known_;
}

// The log the session was to go on to did not come: the session ends with
// the splits it has.
void SessionPlanner::settle_pending() {
  std::unique_ptr<SessionOutput> session = pending_->wait_for_session();
  pending_.reset();
  if (session == nullptr) return;
  Status failure;
  if (!session->put_in_place(run_, &failure)) log_error("%s", failure.message().c_str());
  session->settle_splits(run_, failure, nullptr);
}
