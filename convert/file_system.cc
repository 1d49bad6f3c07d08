#include "convert/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// The operations need terminated texts; paths come as start and length.
std::string terminated(const char* path, size_t length) { return std::string(path, length); }

void real_on_release(FileSystem*) {}

bool real_stat_path(FileSystem*, const char* path, size_t length, EntryInfo* info) {
  std::string text = terminated(path, length);
  struct stat st;
  if (stat(text.c_str(), &st) != 0) {
    if (errno != ENOENT) return false;
    info->kind = ENTRY_MISSING;
    info->size = 0;
    return true;
  }
  if (S_ISREG(st.st_mode)) {
    info->kind = ENTRY_FILE;
    info->size = static_cast<int64_t>(st.st_size);
  } else if (S_ISDIR(st.st_mode)) {
    info->kind = ENTRY_FOLDER;
    info->size = 0;
  } else {
    info->kind = ENTRY_OTHER;
    info->size = 0;
  }
  return true;
}

void real_list_folder(FileSystem*, const char* path, size_t length, FolderListing* listing) {
  std::string text = terminated(path, length);
  DIR* folder = opendir(text.c_str());
  if (folder == nullptr) return;  // an unreadable folder lists as empty
  std::string entry_path;
  while (struct dirent* entry = readdir(folder)) {
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    // "%.*s/%s": a folder path ending in "/" gives a doubled "/", which the
    // operating system accepts.
    entry_path.assign(path, length);
    entry_path += '/';
    entry_path += name;
    EntryInfo info;
    if (!real_stat_path(nullptr, entry_path.data(), entry_path.size(), &info)) continue;
    if (info.kind != ENTRY_FILE && info.kind != ENTRY_FOLDER) continue;
    listing->emplace(name, info);
  }
  closedir(folder);
}

bool real_make_folder(FileSystem*, const char* path, size_t length) {
  std::string text = terminated(path, length);
  return mkdir(text.c_str(), 0700) == 0;
}

bool real_remove_file(FileSystem*, const char* path, size_t length) {
  std::string text = terminated(path, length);
  return remove(text.c_str()) == 0;
}

Stream* real_open_file(FileSystem*, const char* path, size_t length, int access) {
  int mode;
  bool read = (access & FS_READ) != 0;
  bool write = (access & FS_WRITE) != 0;
  if (read && write) {
    mode = FILE_STREAM_READ_WRITE;
  } else if (read) {
    mode = FILE_STREAM_READ;
  } else if (write) {
    mode = FILE_STREAM_WRITE;
  } else {
    return nullptr;
  }
  std::string text = terminated(path, length);
  return file_stream_open(text.c_str(), mode);
}

bool real_sync_folder(FileSystem*, const char* path, size_t length) {
  std::string text = terminated(path, length);
  int fd = open(text.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  if (close(fd) != 0) synced = false;
  return synced;
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
    real_on_release, real_stat_path,   real_list_folder, real_make_folder,
    real_remove_file, real_open_file, real_sync_folder,
};

FileSystem* fs_new(const char* root, size_t length) {
  if (root == nullptr || length == 0 || root[length - 1] != '/') return nullptr;
  auto* fs = new (std::nothrow) FileSystem{&real_file_system_ops, std::string(root, length)};
  if (fs == nullptr) return nullptr;
  EntryInfo info;
  if (!real_stat_path(nullptr, fs->root.data(), fs->root.size(), &info) ||
      info.kind != ENTRY_FOLDER) {
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
  std::string full = full_path(fs, path, length);
  return fs->ops->stat_path(fs, full.data(), full.size(), info);
}

void fs_list(FileSystem* fs, const char* path, size_t length, FolderListing* listing) {
  if (fs == nullptr || listing == nullptr || fs->ops->list_folder == nullptr) return;
  std::string full = full_path(fs, path, length);
  fs->ops->list_folder(fs, full.data(), full.size(), listing);
}

bool fs_make_folder(FileSystem* fs, const char* path, size_t length) {
  EntryInfo info;
  if (!fs_query(fs, path, length, &info)) return false;
  if (info.kind == ENTRY_FOLDER) return true;
  if (info.kind != ENTRY_MISSING) return false;
  if (fs->ops->make_folder == nullptr) return false;
  std::string full = full_path(fs, path, length);
  return fs->ops->make_folder(fs, full.data(), full.size());
}

bool fs_make_folders(FileSystem* fs, const char* path, size_t length) {
  std::string accumulated;
  size_t start = 0;
  while (start < length) {
    size_t end = start;
    while (end < length && path[end] != '/') ++end;
    if (end > start) {
      accumulated += '/';
      accumulated.append(path + start, end - start);
      if (!fs_make_folder(fs, accumulated.data(), accumulated.size())) return false;
    }
    start = end + 1;
  }
  return true;
}

bool fs_remove(FileSystem* fs, const char* path, size_t length) {
  if (fs == nullptr || fs->ops->remove_file == nullptr) return false;
  std::string full = full_path(fs, path, length);
  return fs->ops->remove_file(fs, full.data(), full.size());
}

Stream* fs_open(FileSystem* fs, const char* path, size_t length, int access) {
  if (fs == nullptr || fs->ops->open_file == nullptr) return nullptr;
  std::string full = full_path(fs, path, length);
  return fs->ops->open_file(fs, full.data(), full.size(), access);
}

void fs_resolve(FileSystem* fs, const char* path, size_t length, std::string* out) {
  if (fs == nullptr || out == nullptr) return;
  if (length == 2 && path[0] == '.' && path[1] == '.') return;
  out->append(fs->root);
  out->append(path, length);
}

bool fs_sync_folder(FileSystem* fs, const char* path, size_t length) {
  if (fs == nullptr || fs->ops->sync_folder == nullptr) return false;
  std::string full = full_path(fs, path, length);
  return fs->ops->sync_folder(fs, full.data(), full.size());
}
