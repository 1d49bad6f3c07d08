// Which logs of a walk join the session of the log before them
// (--join-splits): a log continues the log converted just before it, in
// walk order and in the same folder, when its header names the same logger
// and session and the split number one higher. The walk asks as it hands
// each log over, naming the log it will hand over next when that lies in
// the same folder; the planner reads both headers and links the two tasks,
// so that the first hands its session's output on to the second.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "convert/file_task.h"
#include "convert/run.h"
#include "convert/session_link.h"

class SessionPlanner {
 public:
  explicit SessionPlanner(const ConversionRun& run) : run_(run) {}

  // Links task (a log about to be handed over) to the session of the log
  // before it when that one planned it, and plans its own successor:
  // next_log (relative to the input root; empty for none) is the log the
  // walk hands over next when it lies in the same folder.
  void plan(FileTask* task, std::string_view next_log);

  // The walk ends: a session handed on to a log that never came (the walk
  // ended early) is settled here.
  void end_walk();

 private:
  HeaderIdentity identity_of(std::string_view path);
  void settle_pending();

  const ConversionRun& run_;
  std::shared_ptr<SessionLink> pending_;  // the session planned to go on to pending_path_
  std::string pending_path_;
  std::string known_path_;  // the last log whose header was read, and what it said
  HeaderIdentity known_;
};
