#include "fs/pending_file.h"

#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

namespace {

// The table of temporary files: their full paths, for a signal handler to
// remove. A slot is taken (kWriting) while its path is written, then marked
// kListed; the handler reads only listed slots.
constexpr int kSlots = 256;
constexpr int kFree = 0;
constexpr int kWriting = 1;
constexpr int kListed = 2;

struct Slot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};
Slot slots[kSlots];

// Lists full_path; -1 when the table is full or the path too long (the file
// is then not removed on a signal, the only loss).
int list_temp(const std::string& full_path) {
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

void unlist_temp(int* slot) {
  if (*slot >= 0) slots[*slot].state.store(kFree, std::memory_order_release);
  *slot = -1;
}

// Six letters or digits for a temporary name, different in every call.
std::string random_suffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::minstd_rand generator(std::random_device{}() ^ static_cast<unsigned>(getpid()));
  std::string suffix(6, 'x');
  for (char& c : suffix) c = kChars[generator() % (sizeof kChars - 1)];
  return suffix;
}

// ".<name>.XXXXXX" beside final_path: hidden, and its extension is never "txt".
std::string temp_name(std::string_view final_path) {
  const size_t slash = final_path.rfind('/');
  const size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
  std::string name(final_path.substr(0, name_start));
  name += '.';
  name.append(final_path.substr(name_start));
  name += '.';
  name += random_suffix();
  return name;
}

// Compares the files at a and b (relative to fs; b never through a link)
// byte for byte. True when both could be read and are equal.
bool same_content(FileSystem* fs, const std::string& a, const std::string& b) {
  Stream* first = fs_open(fs, a.data(), a.size(), FS_READ);
  Stream* second = fs_open(fs, b.data(), b.size(), FS_READ | FS_NO_LINK);
  bool same = first != nullptr && second != nullptr;
  static constexpr int64_t kChunk = 1 << 16;
  char x[kChunk];
  char y[kChunk];
  while (same) {
    const int64_t got = stream_read(first, x, kChunk);
    const int64_t other = stream_read(second, y, kChunk);
    if (got != other || got < 0) same = false;
    if (!same || got == 0) break;
    same = memcmp(x, y, static_cast<size_t>(got)) == 0;
  }
  stream_close(first);
  stream_close(second);
  return same;
}

// Syncs the file at path (relative to fs; never through a link) to stable
// storage.
bool sync_file(FileSystem* fs, const std::string& path) {
  Stream* stream = fs_open(fs, path.data(), path.size(), FS_READ | FS_NO_LINK);
  if (stream == nullptr) return false;
  const bool synced = stream_sync(stream) == 0;
  const int error = errno;
  stream_close(stream);
  errno = error;
  return synced;
}

CommitResult failed(const char* step, int error) {
  CommitResult result;
  result.step = step;
  result.error = error;
  return result;
}

// Closes the temporary file, synced first when durable. The stream is gone
// afterwards whatever happened.
CommitResult close_temp(PendingFile* file, bool durable) {
  CommitResult result;
  result.outcome = CommitOutcome::kMoved;
  if (durable && stream_sync(file->stream) != 0) result = failed("sync", errno);
  const int error = errno;
  const bool closed = stream_close(file->stream) == 0;
  file->stream = nullptr;
  if (!closed && result.outcome != CommitOutcome::kFailed) return failed("write", errno);
  errno = error;
  return result;
}

// Settles a durable commit whose final name was taken: what stands there
// stays. A file of the same bytes counts as this output and is made as
// durable as a new one: synced, and its folder after it. A link counts as
// nothing, whatever it leads to: its target may be anywhere, or go.
CommitResult settle_taken_name(PendingFile* file) {
  CommitResult result;
  const std::string& name = file->final_path;
  EntryInfo taken;
  if (fs_query_entry(file->fs, name.data(), name.size(), &taken) && taken.kind == ENTRY_LINK) {
    result.outcome = CommitOutcome::kLink;
    return result;
  }
  if (taken.kind == ENTRY_FOLDER) return failed("rename", EISDIR);
  if (!same_content(file->fs, file->temp_path, name)) {
    result.outcome = CommitOutcome::kOtherContent;
    return result;
  }
  if (!sync_file(file->fs, name)) return failed("sync", errno);
  const std::string folder = fs_parent_folder(name);
  if (!fs_sync_folder(file->fs, folder.data(), folder.size())) return failed("sync folder", errno);
  result.outcome = CommitOutcome::kSameContent;
  return result;
}

void remove_temp(PendingFile* file) {
  fs_remove(file->fs, file->temp_path.data(), file->temp_path.size());
  unlist_temp(&file->slot);
}

}  // namespace

bool pending_file_open(PendingFile* file, FileSystem* fs, std::string_view final_path) {
  file->fs = fs;
  file->final_path.assign(final_path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    file->temp_path = temp_name(final_path);
    // Listed before it exists, so that no moment passes with the file there
    // and unlisted; a name that was taken meanwhile is never removed, since
    // its slot is given up before the next name is tried.
    file->slot = list_temp(fs->root + file->temp_path);
    file->stream = fs_open(fs, file->temp_path.data(), file->temp_path.size(), FS_WRITE | FS_CREATE_NEW);
    if (file->stream != nullptr) return true;
    const int error = errno;
    unlist_temp(&file->slot);
    errno = error;
    if (error != EEXIST) return false;
  }
  return false;
}

CommitResult pending_file_commit(PendingFile* file, bool durable) {
  CommitResult result = close_temp(file, durable);
  if (result.outcome == CommitOutcome::kFailed) {
    remove_temp(file);
    return result;
  }
  if (!fs_rename(file->fs, file->temp_path, file->final_path, !durable)) {
    const int error = errno;
    result = durable && error == EEXIST ? settle_taken_name(file) : failed("rename", error);
    remove_temp(file);
    return result;
  }
  unlist_temp(&file->slot);
  const std::string folder = fs_parent_folder(file->final_path);
  if (durable && !fs_sync_folder(file->fs, folder.data(), folder.size())) return failed("sync folder", errno);
  return result;
}

bool pending_file_discard(PendingFile* file) {
  stream_close(file->stream);
  file->stream = nullptr;
  const bool removed = fs_remove(file->fs, file->temp_path.data(), file->temp_path.size());
  const int error = errno;
  unlist_temp(&file->slot);
  errno = error;
  return removed;
}

void pending_files_remove_all() {
  for (Slot& slot : slots) {
    if (slot.state.load(std::memory_order_acquire) == kListed) unlink(slot.path);
  }
}
