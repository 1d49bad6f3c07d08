#include "app/process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "fs/pending_file.h"

namespace {

void stop_on_signal(int signal_number) {
  pending_files_remove_all();
  _exit(128 + signal_number);
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
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
  signal(SIGXFSZ, SIG_IGN);
}
