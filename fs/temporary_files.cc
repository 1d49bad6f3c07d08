#include "fs/temporary_files.h"

#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

// A slot is taken (kWriting) while its path is written, then marked kListed;
// the handler reads only listed slots. One slot per converting job at the
// most (the number of jobs is bounded), and one for the report.
constexpr int kSlots = 1040;
constexpr int kFree = 0;
constexpr int kWriting = 1;
constexpr int kListed = 2;

struct Slot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};
Slot slots[kSlots];

// A stop and the threads making files meet through two counters, each
// written before the other is read (sequentially consistent): a thread that
// counted itself in before the stop was seen is waited for, one that comes
// later sees the stop.
std::atomic<bool> stopping{false};
std::atomic<int> making{0};
thread_local int making_here = 0;  // this thread's part of making (0 or 1)

void wait_while_stopping() {
  for (;;) pause();
}

}  // namespace

int temporary_file_list(const std::string& full_path) {
  making.fetch_add(1);
  making_here = 1;
  if (stopping.load()) {
    temporary_file_made();
    wait_while_stopping();
  }
  if (full_path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (slots[i].state.compare_exchange_strong(expected, kWriting, std::memory_order_acquire)) {
      memcpy(slots[i].path, full_path.c_str(), full_path.size() + 1);
      slots[i].state.store(kListed, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

void temporary_file_made() {
  if (making_here == 0) return;
  making_here = 0;
  making.fetch_sub(1);
}

void temporary_file_unlist(int* slot) {
  if (*slot >= 0) slots[*slot].state.store(kFree, std::memory_order_release);
  *slot = -1;
}

void temporary_files_remove_all() {
  stopping.store(true);
  // The thread that runs this may itself be between listing and making:
  // it makes nothing more, so only the others are waited for.
  const struct timespec step = {0, 1000000};
  for (int waited = 0; making.load() > making_here && waited < 2000; ++waited) nanosleep(&step, nullptr);
  for (Slot& slot : slots) {
    if (slot.state.load(std::memory_order_acquire) == kListed) unlink(slot.path);
  }
}
