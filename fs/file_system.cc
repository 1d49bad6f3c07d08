#include "fs/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fs/storage_kind.h"

namespace {

// A failure of an operation on a path, with the system's reason.
Status failed(const char* what, const std::string& path, int error) {
  return Status::failure(std::string("Could not ") + what + " " + path, error);
}

void fill_info(const struct stat& st, EntryInfo* info) {
  *info = EntryInfo{};
  if (S_ISREG(st.st_mode)) {
    info->kind = ENTRY_FILE;
    info->size = static_cast<int64_t>(st.st_size);
  } else if (S_ISDIR(st.st_mode)) {
    info->kind = ENTRY_FOLDER;
  } else {
    info->kind = ENTRY_OTHER;
  }
  info->modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  info->changed_ns = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  info->device = static_cast<uint64_t>(st.st_dev);
  info->inode = static_cast<uint64_t>(st.st_ino);
}

// stat(2) of a whole path; a missing entry is a success.
Status stat_path(const std::string& path, EntryInfo* info) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return failed("query", path, errno);
    *info = EntryInfo{};
    return {};
  }
  fill_info(st, info);
  return {};
}

// Adds one entry of a folder being listed: files and folders, and entries
// whose status query failed. Links are followed; a link to nothing is left
// out like any missing entry.
void list_entry(const std::string& folder, const char* name, FolderListing* listing) {
  // A folder path ending in "/" gives a doubled "/", which the operating
  // system accepts.
  EntryInfo info;
  const Status queried = stat_path(folder + '/' + name, &info);
  if (!queried.ok()) {
    info = EntryInfo{};
    info.kind = ENTRY_OTHER;
    info.error = queried.error();
  } else if (info.kind != ENTRY_FILE && info.kind != ENTRY_FOLDER) {
    return;
  }
  listing->emplace(name, info);
}

// A stream over a descriptor just opened; nullptr (the descriptor closed)
// when the stream cannot be made.
Stream* stream_of(int fd, int mode, const std::string& path, Status* status) {
  Stream* stream = file_stream_from_descriptor(fd, mode);
  if (stream == nullptr) {
    *status = failed("open", path, errno);
    close(fd);
  }
  return stream;
}

// Opens a file to read, never waiting: what was a file when it was listed
// may be a pipe or a device by now, and opening one of those can wait for a
// writer forever or act on the device. -1 with *status set when it fails
// (without errno for anything but a regular file).
int open_regular(const std::string& full, int flags, Status* status) {
  const int fd = ::open(full.c_str(), flags | O_NONBLOCK);
  if (fd < 0) {
    *status = failed("open", full, errno);
    return -1;
  }
  struct stat st;
  const bool queried = fstat(fd, &st) == 0;
  if (!queried || !S_ISREG(st.st_mode)) {
    *status = queried ? Status::failure(full + " is no regular file") : failed("open", full, errno);
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

std::unique_ptr<FileSystem> FileSystem::open_root(const std::string& root, Status* status) {
  EntryInfo info;
  if (root.empty() || root.back() != '/') {
    *status = failed("open the folder", root, ENOTDIR);
    return nullptr;
  }
  *status = stat_path(root, &info);
  if (!status->ok()) return nullptr;
  if (info.kind != ENTRY_FOLDER) {
    *status = failed("open the folder", root, info.kind == ENTRY_MISSING ? ENOENT : ENOTDIR);
    return nullptr;
  }
  return std::make_unique<FileSystem>(root);
}

std::string FileSystem::full_path(std::string_view path) const {
  std::string full;
  full.reserve(root_.size() + path.size());
  full += root_;
  full += path;
  return full;
}

Status FileSystem::query(std::string_view path, EntryInfo* info) { return stat_path(full_path(path), info); }

Status FileSystem::query_entry(std::string_view path, EntryInfo* info) {
  const std::string full = full_path(path);
  struct stat st;
  if (lstat(full.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return stat_path(full, info);
  fill_info(st, info);
  info->kind = ENTRY_LINK;
  return {};
}

Status FileSystem::list(std::string_view folder, FolderListing* listing) {
  const std::string full = full_path(folder);
  DIR* dir = opendir(full.c_str());
  if (dir == nullptr) return failed("list", full, errno);
  errno = 0;
  while (struct dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0) list_entry(full, name, listing);
    errno = 0;
  }
  const int read_error = errno;
  closedir(dir);
  return read_error == 0 ? Status() : failed("list", full, read_error);
}

Status FileSystem::make_folder(std::string_view path) {
  EntryInfo info;
  if (Status queried = query(path, &info); !queried.ok()) return queried;
  if (info.kind == ENTRY_FOLDER) return {};
  const std::string full = full_path(path);
  if (info.kind != ENTRY_MISSING) return failed("make folder", full, ENOTDIR);
  if (mkdir(full.c_str(), 0700) == 0) return {};
  // Someone else (another job, another run) made it meanwhile: as good.
  const int error = errno;
  if (error == EEXIST && query(path, &info).ok() && info.kind == ENTRY_FOLDER) return {};
  return failed("make folder", full, error);
}

Status FileSystem::remove(std::string_view path) {
  const std::string full = full_path(path);
  return ::remove(full.c_str()) == 0 ? Status() : failed("remove", full, errno);
}

Stream* FileSystem::open(std::string_view path, Access access, Status* status) {
  const std::string full = full_path(path);
  int fd = -1;
  int mode = FILE_STREAM_READ;
  switch (access) {
    case Access::kRead:
      fd = open_regular(full, O_RDONLY | O_CLOEXEC, status);
      break;
    case Access::kReadNoLink:
      fd = open_regular(full, O_RDONLY | O_NOFOLLOW | O_CLOEXEC, status);
      break;
    case Access::kCreateNew:
      fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0) *status = failed("open", full, errno);
      mode = FILE_STREAM_WRITE;
      break;
  }
  if (fd < 0) return nullptr;
  Stream* stream = stream_of(fd, mode, full, status);
  if (stream == nullptr && access == Access::kCreateNew) unlink(full.c_str());
  return stream;
}

Status FileSystem::sync_folder(std::string_view path) {
  const std::string full = full_path(path);
  const int fd = ::open(full.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return failed("sync", full, errno);
  const bool synced = fsync(fd) == 0;
  const int error = errno;
  const bool closed = close(fd) == 0;
  if (!synced) return failed("sync", full, error);
  return closed ? Status() : failed("sync", full, errno);
}

Status FileSystem::rename(std::string_view from, std::string_view to, bool replace) {
  const std::string source = full_path(from);
  const std::string target = full_path(to);
  if (replace) return ::rename(source.c_str(), target.c_str()) == 0 ? Status() : failed("rename", source, errno);
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return {};
  if (errno != EINVAL && errno != ENOSYS) return failed("rename", source, errno);
  // A file system without the no-replace rename: a hard link fails just as
  // well when the target exists, and the source name goes afterwards.
  if (link(source.c_str(), target.c_str()) != 0) return failed("rename", source, errno);
  unlink(source.c_str());
  return {};
}

const char* FileSystem::volatile_storage(std::string_view folder) { return ::volatile_storage(full_path(folder)); }

Status FileSystem::make_folders(std::string_view path) {
  std::string accumulated;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      if (!accumulated.empty()) accumulated += '/';
      accumulated.append(path.substr(start, end - start));
      if (Status made = make_folder(accumulated); !made.ok()) return made;
    }
    start = end + 1;
  }
  return {};
}

Status current_folder(std::string* out) {
  char* here = getcwd(nullptr, 0);
  if (here == nullptr) return Status::failure("Could not find the current folder", errno);
  out->assign(here);
  free(here);
  return {};
}

std::string parent_folder(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}
