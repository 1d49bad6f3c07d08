#include "fs/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace {

// The operations need terminated texts; paths come as start and length.
std::string terminated(const char* path, size_t length) { return std::string(path, length); }

void real_on_release(FileSystem*) {}

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
  info->device = static_cast<uint64_t>(st.st_dev);
  info->inode = static_cast<uint64_t>(st.st_ino);
}

bool real_stat_path(FileSystem*, const char* path, size_t length, EntryInfo* info) {
  const std::string text = terminated(path, length);
  struct stat st;
  if (stat(text.c_str(), &st) != 0) {
    if (errno != ENOENT) return false;
    *info = EntryInfo{};
    return true;
  }
  fill_info(st, info);
  return true;
}

bool real_stat_entry(FileSystem* fs, const char* path, size_t length, EntryInfo* info) {
  const std::string text = terminated(path, length);
  struct stat st;
  if (lstat(text.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return real_stat_path(fs, path, length, info);
  fill_info(st, info);
  info->kind = ENTRY_LINK;
  return true;
}

// Adds one entry of a folder being listed: files and folders, and entries
// whose status query failed. Links are followed; a link to nothing is left
// out like any missing entry.
void list_entry(const std::string& folder, const char* name, FolderListing* listing) {
  // "%s/%s": a folder path ending in "/" gives a doubled "/", which the
  // operating system accepts.
  const std::string entry_path = folder + '/' + name;
  EntryInfo info;
  if (!real_stat_path(nullptr, entry_path.data(), entry_path.size(), &info)) {
    info = EntryInfo{};
    info.kind = ENTRY_OTHER;
    info.error = errno;
  } else if (info.kind != ENTRY_FILE && info.kind != ENTRY_FOLDER) {
    return;
  }
  listing->emplace(name, info);
}

bool real_list_folder(FileSystem*, const char* path, size_t length, FolderListing* listing) {
  const std::string text = terminated(path, length);
  DIR* folder = opendir(text.c_str());
  if (folder == nullptr) return false;
  errno = 0;
  while (struct dirent* entry = readdir(folder)) {
    const char* name = entry->d_name;
    if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0) list_entry(text, name, listing);
    errno = 0;
  }
  const int read_error = errno;
  closedir(folder);
  errno = read_error;
  return read_error == 0;
}

bool real_make_folder(FileSystem*, const char* path, size_t length) {
  return mkdir(terminated(path, length).c_str(), 0700) == 0;
}

bool real_remove_file(FileSystem*, const char* path, size_t length) {
  return remove(terminated(path, length).c_str()) == 0;
}

// A new file, created exclusively (never through a link), for writing.
Stream* create_new_file(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  Stream* stream = file_stream_from_descriptor(fd, FILE_STREAM_WRITE);
  if (stream == nullptr) {
    const int error = errno;
    close(fd);
    unlink(path.c_str());
    errno = error;
  }
  return stream;
}

// An existing file for reading, never through a link.
Stream* open_no_link(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  Stream* stream = file_stream_from_descriptor(fd, FILE_STREAM_READ);
  if (stream == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
  }
  return stream;
}

Stream* real_open_file(FileSystem*, const char* path, size_t length, int access) {
  const bool read = (access & FS_READ) != 0;
  const bool write = (access & FS_WRITE) != 0;
  const std::string text = terminated(path, length);
  if (write && !read && (access & FS_CREATE_NEW) != 0) return create_new_file(text);
  if (read && !write && (access & FS_NO_LINK) != 0) return open_no_link(text);
  if (read && write) return file_stream_open(text.c_str(), FILE_STREAM_READ_WRITE);
  if (read) return file_stream_open(text.c_str(), FILE_STREAM_READ);
  if (write) return file_stream_open(text.c_str(), FILE_STREAM_WRITE);
  errno = EINVAL;
  return nullptr;
}

bool real_sync_folder(FileSystem*, const char* path, size_t length) {
  const std::string text = terminated(path, length);
  const int fd = open(text.empty() ? "." : text.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  const int error = errno;
  if (close(fd) != 0 && synced) return false;
  errno = error;
  return synced;
}

bool real_rename_file(FileSystem*, const char* from, size_t from_length, const char* to, size_t to_length,
                      bool replace) {
  const std::string source = terminated(from, from_length);
  const std::string target = terminated(to, to_length);
  if (replace) return rename(source.c_str(), target.c_str()) == 0;
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace rename: a hard link fails just as
  // well when the target exists, and the source name goes afterwards.
  if (link(source.c_str(), target.c_str()) != 0) return false;
  unlink(source.c_str());
  return true;
}

bool real_current_folder(FileSystem*, std::string* out) {
  char* here = getcwd(nullptr, 0);
  if (here == nullptr) return false;
  out->assign(here);
  free(here);
  return true;
}

// root followed by the relative path; the root already ends in "/".
std::string full_path(const FileSystem* fs, const char* path, size_t length) {
  std::string full;
  full.reserve(fs->root.size() + length);
  full += fs->root;
  full.append(path, length);
  return full;
}

}  // namespace

const FileSystemOps real_file_system_ops = {
    real_on_release,  real_stat_path,   real_list_folder,  real_make_folder,   real_remove_file,
    real_open_file,   real_sync_folder, real_rename_file,  real_current_folder, real_stat_entry,
};

FileSystem* fs_new(const char* root, size_t length) {
  if (root == nullptr || length == 0 || root[length - 1] != '/') return nullptr;
  auto* fs = new (std::nothrow) FileSystem{&real_file_system_ops, std::string(root, length)};
  if (fs == nullptr) return nullptr;
  EntryInfo info;
  if (!real_stat_path(nullptr, fs->root.data(), fs->root.size(), &info) || info.kind != ENTRY_FOLDER) {
    delete fs;
    return nullptr;
  }
  return fs;
}

void fs_free(FileSystem* fs) {
  if (fs == nullptr) return;
  if (fs->ops->on_release != nullptr) fs->ops->on_release(fs);
  delete fs;
}

bool fs_query(FileSystem* fs, const char* path, size_t length, EntryInfo* info) {
  if (fs == nullptr || info == nullptr || fs->ops->stat_path == nullptr) return false;
  const std::string full = full_path(fs, path, length);
  return fs->ops->stat_path(fs, full.data(), full.size(), info);
}

bool fs_query_entry(FileSystem* fs, const char* path, size_t length, EntryInfo* info) {
  if (fs == nullptr || info == nullptr || fs->ops->stat_entry == nullptr) return false;
  const std::string full = full_path(fs, path, length);
  return fs->ops->stat_entry(fs, full.data(), full.size(), info);
}

bool fs_list(FileSystem* fs, const char* path, size_t length, FolderListing* listing) {
  if (fs == nullptr || listing == nullptr || fs->ops->list_folder == nullptr) return false;
  const std::string full = full_path(fs, path, length);
  return fs->ops->list_folder(fs, full.data(), full.size(), listing);
}

bool fs_make_folder(FileSystem* fs, const char* path, size_t length) {
  EntryInfo info;
  if (!fs_query(fs, path, length, &info)) return false;
  if (info.kind == ENTRY_FOLDER) return true;
  if (info.kind != ENTRY_MISSING) {
    errno = ENOTDIR;
    return false;
  }
  if (fs->ops->make_folder == nullptr) return false;
  const std::string full = full_path(fs, path, length);
  if (!fs->ops->make_folder(fs, full.data(), full.size())) {
    // Someone else (another job, another run) made it meanwhile: as good.
    const int error = errno;
    if (error == EEXIST && fs_query(fs, path, length, &info) && info.kind == ENTRY_FOLDER) return true;
    errno = error;
    return false;
  }
  return true;
}

bool fs_make_folders(FileSystem* fs, const char* path, size_t length) {
  std::string accumulated;
  size_t start = 0;
  while (start < length) {
    size_t end = start;
    while (end < length && path[end] != '/') ++end;
    if (end > start) {
      if (!accumulated.empty()) accumulated += '/';
      accumulated.append(path + start, end - start);
      if (!fs_make_folder(fs, accumulated.data(), accumulated.size())) return false;
    }
    start = end + 1;
  }
  return true;
}

bool fs_remove(FileSystem* fs, const char* path, size_t length) {
  if (fs == nullptr || fs->ops->remove_file == nullptr) return false;
  const std::string full = full_path(fs, path, length);
  return fs->ops->remove_file(fs, full.data(), full.size());
}

Stream* fs_open(FileSystem* fs, const char* path, size_t length, int access) {
  if (fs == nullptr || fs->ops->open_file == nullptr) return nullptr;
  const std::string full = full_path(fs, path, length);
  return fs->ops->open_file(fs, full.data(), full.size(), access);
}

bool fs_rename(FileSystem* fs, const std::string& from, const std::string& to, bool replace) {
  if (fs == nullptr || fs->ops->rename_file == nullptr) return false;
  const std::string source = full_path(fs, from.data(), from.size());
  const std::string target = full_path(fs, to.data(), to.size());
  return fs->ops->rename_file(fs, source.data(), source.size(), target.data(), target.size(), replace);
}

void fs_resolve(FileSystem* fs, const char* path, size_t length, std::string* out) {
  if (fs == nullptr || out == nullptr) return;
  if (length == 2 && path[0] == '.' && path[1] == '.') return;
  out->append(fs->root);
  out->append(path, length);
}

bool fs_sync_folder(FileSystem* fs, const char* path, size_t length) {
  if (fs == nullptr || fs->ops->sync_folder == nullptr) return false;
  const std::string full = full_path(fs, path, length);
  return fs->ops->sync_folder(fs, full.data(), full.size());
}

std::string fs_parent_folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

const char* fs_reason(int error) { return strerrordesc_np(error) != nullptr ? strerrordesc_np(error) : "Unknown error"; }
