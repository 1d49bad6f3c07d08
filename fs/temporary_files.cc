#include "fs/temporary_files.h"

#include <limits.h>
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

}  // namespace

int temporary_file_list(const std::string& full_path) {
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

void temporary_file_unlist(int* slot) {
  if (*slot >= 0) slots[*slot].state.store(kFree, std::memory_order_release);
  *slot = -1;
}

void temporary_files_remove_all() {
  for (Slot& slot : slots) {
    if (slot.state.load(std::memory_order_acquire) == kListed) unlink(slot.path);
  }
}
