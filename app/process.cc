#include "app/process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "app/exit_status.h"
#include "app/progress.h"
#include "fs/temporary_files.h"
#include "log/log.h"

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The line each stop signal leaves, formed before any signal can come.
char stop_messages[3][96];

void stop_on_signal(int signal_number) {
  temporary_files_remove_all();
  status_line_erase();
  for (int i = 0; i < 3; ++i) {
    if (kStopSignals[i] != signal_number || log_level == LOG_NONE) continue;
    ssize_t ignored = write(2, stop_messages[i], std::strlen(stop_messages[i]));
    (void)ignored;
  }
  _exit(128 + signal_number);
}

// An exception that nothing caught (in practice memory that ran out where
// the run cannot go on without it): the same clean end as a stop signal,
// instead of an abort that leaves the temporary files behind.
[[noreturn]] void stop_on_uncaught_exception() {
  temporary_files_remove_all();
  status_line_erase();
  const char* message = "trcforge: stopped by an internal error; temporary files removed\n";
  try {
    if (std::exception_ptr caught = std::current_exception()) std::rethrow_exception(caught);
  } catch (const std::bad_alloc&) {
    message = "trcforge: out of memory; temporary files removed\n";
  } catch (...) {
  }
  if (log_level != LOG_NONE) {
    ssize_t ignored = write(2, message, std::strlen(message));
    (void)ignored;
  }
  _exit(kExitFailure);
}

}  // namespace

void guard_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

void install_signal_handlers() {
  struct sigaction action = {};
  action.sa_handler = stop_on_signal;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) {
    std::snprintf(stop_messages[i], sizeof stop_messages[i], "trcforge: stopped by signal %d (%s); temporary files removed\n",
                  kStopSignals[i], strsignal(kStopSignals[i]));
    sigaction(kStopSignals[i], &action, nullptr);
  }
  signal(SIGXFSZ, SIG_IGN);
  std::set_terminate(stop_on_uncaught_exception);
}
