#include "tests/support/virtual_file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <cctype>

namespace {

VirtualFileSystem* as_virtual(FileSystem* fs) { return static_cast<VirtualFileSystem*>(fs); }

// A normalised key: empty components and "." dropped, ".." steps back.
std::string normalise(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string key;
  for (std::string_view part : parts) {
    if (!key.empty()) key += '/';
    key.append(part);
  }
  return key;
}

std::string parent_of(const std::string& key) {
  const size_t slash = key.rfind('/');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

bool fail(int error) {
  errno = error;
  return false;
}

Stream* fail_open(int error) {
  errno = error;
  return nullptr;
}

// Where the name of a temporary file (".a.trc.Xy12Ab") begins in key, or
// npos when key names no such file.
size_t temporary_name_at(const std::string& key) {
  const size_t start = key.rfind('/') + 1;  // 0 when there is no "/"
  if (key.size() < start + 9 || key[start] != '.' || key[key.size() - 7] != '.') return std::string::npos;
  for (size_t i = key.size() - 6; i < key.size(); ++i) {
    if (!isalnum(static_cast<unsigned char>(key[i]))) return std::string::npos;
  }
  return start;
}

// The final name of a temporary file (".a.trc.Xy12Ab" in its folder gives
// "a.trc"); other names stay.
std::string final_name(const std::string& key) {
  const size_t at = temporary_name_at(key);
  if (at == std::string::npos) return key;
  return key.substr(0, at) + key.substr(at + 1, key.size() - 7 - at - 1);
}

// The key with the random part of a temporary name shown as "*".
std::string shown(const std::string& key) {
  if (temporary_name_at(key) == std::string::npos) return key;
  return key.substr(0, key.size() - 6) + "*";
}

// A stream over one file of the tree; written bytes land in the file's node
// at once, so a test sees them without closing the stream.
struct VirtualStream : Stream {
  VirtualFileSystem* vfs;
  std::string key;
  int64_t position = 0;
  int64_t read_total = 0;
  int64_t write_allowance = -1;  // negative: no limit
  int64_t read_fail_after = -1;
};

VirtualStream* as_stream(Stream* stream) { return static_cast<VirtualStream*>(stream); }

std::string* file_bytes(VirtualStream* s) {
  VirtualFileSystem::Node* node = s->vfs->find(s->key);
  return node != nullptr && node->kind == ENTRY_FILE ? &node->contents : nullptr;
}

int64_t vstream_read(Stream* stream, void* destination, int64_t count) {
  VirtualStream* s = as_stream(stream);
  if (s->read_fail_after >= 0 && s->read_total >= s->read_fail_after) {
    errno = EIO;
    return -1;
  }
  const std::string* bytes = file_bytes(s);
  if (count <= 0 || bytes == nullptr || s->position >= static_cast<int64_t>(bytes->size())) return 0;
  int64_t n = std::min(count, static_cast<int64_t>(bytes->size()) - s->position);
  if (s->read_fail_after >= 0) n = std::min(n, s->read_fail_after - s->read_total);
  memcpy(destination, bytes->data() + s->position, static_cast<size_t>(n));
  s->position += n;
  s->read_total += n;
  return n;
}

int64_t vstream_write(Stream* stream, const void* data, int64_t count) {
  VirtualStream* s = as_stream(stream);
  int64_t n = count;
  if (s->write_allowance >= 0) {
    n = std::min(n, s->write_allowance);
    s->write_allowance -= n;
  }
  if (n < count) errno = ENOSPC;
  std::string* bytes = file_bytes(s);
  if (n > 0 && bytes != nullptr) {
    if (bytes->size() < static_cast<size_t>(s->position + n)) bytes->resize(static_cast<size_t>(s->position + n));
    memcpy(bytes->data() + s->position, data, static_cast<size_t>(n));
  }
  s->position += n;
  return n;
}

int64_t vstream_tell(Stream* stream) { return as_stream(stream)->position; }

int64_t vstream_seek(Stream* stream, int64_t offset, int origin) {
  VirtualStream* s = as_stream(stream);
  const std::string* bytes = file_bytes(s);
  const int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? s->position
                                                                  : (bytes ? static_cast<int64_t>(bytes->size()) : 0);
  if (origin < SEEK_SET || origin > SEEK_END || base + offset < 0) return -1;
  s->position = base + offset;
  return s->position;
}

int vstream_close(Stream* stream) {
  VirtualStream* s = as_stream(stream);
  s->vfs->open_streams--;
  delete s;
  return 0;
}

int vstream_sync(Stream* stream) {
  VirtualStream* s = as_stream(stream);
  if (s->vfs->fails(VfsFault::kSyncFile, s->key)) {
    errno = EIO;
    return -1;
  }
  s->vfs->record("sync", s->key);
  return 0;
}

const StreamOps kReadOps = {vstream_read, nullptr, vstream_tell, vstream_seek, vstream_close, vstream_sync,
                            nullptr, nullptr};
const StreamOps kWriteOps = {nullptr, vstream_write, vstream_tell, vstream_seek, vstream_close, vstream_sync,
                             nullptr, nullptr};

void fill_info(const VirtualFileSystem::Node& node, EntryInfo* info) {
  *info = EntryInfo{};
  info->kind = node.kind;
  info->size = node.kind == ENTRY_FILE ? static_cast<int64_t>(node.contents.size()) : 0;
  info->modified_ns = static_cast<int64_t>(node.contents.size());
  info->device = 1;
  info->inode = node.id;
}

bool virtual_stat_path(FileSystem* fs, const char* path, size_t length, EntryInfo* info) {
  VirtualFileSystem* vfs = as_virtual(fs);
  std::string key;
  if (!vfs->key_of(path, length, &key)) return fail(EACCES);
  if (vfs->fails(VfsFault::kQuery, key)) return fail(EIO);
  const VirtualFileSystem::Node* node = vfs->find(key);
  if (node == nullptr) {
    *info = EntryInfo{};
  } else {
    fill_info(*node, info);
  }
  return true;
}

bool virtual_list_folder(FileSystem* fs, const char* path, size_t length, FolderListing* listing) {
  VirtualFileSystem* vfs = as_virtual(fs);
  std::string key;
  if (!vfs->key_of(path, length, &key) || vfs->fails(VfsFault::kList, key)) return fail(EACCES);
  const VirtualFileSystem::Node* folder = vfs->find(key);
  if (folder == nullptr || folder->kind != ENTRY_FOLDER) return fail(ENOTDIR);
  const std::string real = folder->link.empty() ? key : folder->link;
  const std::string prefix = real.empty() ? std::string() : real + "/";
  for (auto it = vfs->nodes().lower_bound(prefix); it != vfs->nodes().end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    const std::string name = it->first.substr(prefix.size());
    if (name.empty() || name.find('/') != std::string::npos) continue;
    EntryInfo info;
    if (vfs->fails(VfsFault::kQuery, (key.empty() ? "" : key + "/") + name)) {
      info.kind = ENTRY_OTHER;
      info.error = EIO;
    } else {
      fill_info(*vfs->find(it->first), &info);
      if (info.kind != ENTRY_FILE && info.kind != ENTRY_FOLDER) continue;
    }
    listing->emplace(name, info);
  }
  return true;
}

bool virtual_make_folder(FileSystem* fs, const char* path, size_t length) {
  VirtualFileSystem* vfs = as_virtual(fs);
  std::string key;
  if (!vfs->key_of(path, length, &key) || vfs->fails(VfsFault::kMakeFolder, key)) return fail(EACCES);
  const VirtualFileSystem::Node* parent = vfs->find(parent_of(key));
  if (parent == nullptr || parent->kind != ENTRY_FOLDER) return fail(ENOENT);
  if (vfs->find(key) != nullptr) return fail(EEXIST);
  vfs->nodes()[key] = VirtualFileSystem::Node{ENTRY_FOLDER, {}, {}, vfs->next_id++};
  vfs->record("mkdir", key);
  return true;
}

bool virtual_remove_file(FileSystem* fs, const char* path, size_t length) {
  VirtualFileSystem* vfs = as_virtual(fs);
  std::string key;
  if (!vfs->key_of(path, length, &key) || key.empty() || vfs->fails(VfsFault::kRemove, key)) return fail(EACCES);
  auto it = vfs->nodes().find(key);
  if (it == vfs->nodes().end()) return fail(ENOENT);
  if (it->second.kind == ENTRY_FOLDER) {
    auto next = std::next(it);
    if (next != vfs->nodes().end() && next->first.compare(0, key.size() + 1, key + "/") == 0) return fail(ENOTEMPTY);
  }
  vfs->nodes().erase(it);
  vfs->record("remove", key);
  return true;
}

Stream* virtual_open_file(FileSystem* fs, const char* path, size_t length, int access) {
  VirtualFileSystem* vfs = as_virtual(fs);
  const bool write = (access & FS_WRITE) != 0;
  std::string key;
  if (!vfs->key_of(path, length, &key) || key.empty()) return fail_open(EACCES);
  if (vfs->fails(VfsFault::kOpen, key)) return fail_open(EACCES);
  VirtualFileSystem::Node* node = vfs->find(key);
  const VirtualFileSystem::Node* parent = vfs->find(parent_of(key));
  if (parent == nullptr || parent->kind != ENTRY_FOLDER) return fail_open(ENOENT);
  if (node != nullptr && (access & FS_CREATE_NEW) != 0) return fail_open(EEXIST);
  if (node != nullptr && node->kind != ENTRY_FILE) return fail_open(EISDIR);
  if (node == nullptr && !write) return fail_open(ENOENT);
  auto* s = new VirtualStream();
  s->ops = write ? &kWriteOps : &kReadOps;
  s->vfs = vfs;
  s->key = key;
  s->write_allowance = vfs->write_limit;
  s->read_fail_after = vfs->read_fail_after;
  if (write) {
    vfs->nodes()[key] = VirtualFileSystem::Node{ENTRY_FILE, {}, {}, vfs->next_id++};
    vfs->record("create", key);
  }
  vfs->open_streams++;
  return s;
}

bool virtual_sync_folder(FileSystem* fs, const char* path, size_t length) {
  VirtualFileSystem* vfs = as_virtual(fs);
  std::string key;
  if (!vfs->key_of(path, length, &key) || vfs->fails(VfsFault::kSyncFolder, key)) return fail(EIO);
  const VirtualFileSystem::Node* node = vfs->find(key);
  if (node == nullptr || node->kind != ENTRY_FOLDER) return fail(ENOTDIR);
  vfs->record("sync-folder", key);
  return true;
}

bool virtual_rename_file(FileSystem* fs, const char* from, size_t from_length, const char* to, size_t to_length,
                         bool replace) {
  VirtualFileSystem* vfs = as_virtual(fs);
  std::string source;
  std::string target;
  if (!vfs->key_of(from, from_length, &source) || !vfs->key_of(to, to_length, &target)) return fail(EACCES);
  if (vfs->fails(VfsFault::kRename, target)) return fail(EIO);
  auto it = vfs->nodes().find(source);
  if (it == vfs->nodes().end()) return fail(ENOENT);
  const VirtualFileSystem::Node* existing = vfs->find(target);
  if (existing != nullptr && !replace) return fail(EEXIST);
  if (existing != nullptr && existing->kind == ENTRY_FOLDER) return fail(EISDIR);
  vfs->nodes()[target] = it->second;
  vfs->nodes().erase(source);
  vfs->record("rename", source, target);
  return true;
}

bool virtual_current_folder(FileSystem* fs, std::string* out) {
  *out = as_virtual(fs)->current_folder;
  return true;
}

const FileSystemOps kVirtualOps = {
    nullptr,           virtual_stat_path,   virtual_list_folder, virtual_make_folder,    virtual_remove_file,
    virtual_open_file, virtual_sync_folder, virtual_rename_file, virtual_current_folder,
};

}  // namespace

VirtualFileSystem::VirtualFileSystem(std::string root_text) {
  ops = &kVirtualOps;
  root = std::move(root_text);
  nodes_[""] = Node{ENTRY_FOLDER, {}, {}, next_id++};
}

bool VirtualFileSystem::key_of(const char* path, size_t length, std::string* key) const {
  const std::string_view full(path, length);
  if (full.substr(0, root.size()) != root) return false;
  *key = normalise(full.substr(root.size()));
  return true;
}

VirtualFileSystem::Node* VirtualFileSystem::find(const std::string& key) {
  std::string resolved;
  size_t start = 0;
  while (start <= key.size() && !key.empty()) {
    size_t end = key.find('/', start);
    if (end == std::string::npos) end = key.size();
    if (!resolved.empty()) resolved += '/';
    resolved.append(key, start, end - start);
    auto it = nodes_.find(resolved);
    if (it == nodes_.end() || (end < key.size() && it->second.kind != ENTRY_FOLDER)) return nullptr;
    if (!it->second.link.empty() && end < key.size()) resolved = it->second.link;
    start = end + 1;
  }
  auto it = nodes_.find(resolved);
  if (it == nodes_.end()) return nullptr;
  if (!it->second.link.empty()) return &nodes_.find(it->second.link)->second;
  return &it->second;
}

bool VirtualFileSystem::fails(VfsFault fault, const std::string& key) const {
  return faults_.count({fault, key}) != 0 || faults_.count({fault, final_name(key)}) != 0;
}

void VirtualFileSystem::record(const char* what, const std::string& key, const std::string& other) {
  std::string entry = std::string(what) + " " + shown(key);
  if (!other.empty()) entry += " " + shown(other);
  journal.push_back(entry);
}

void VirtualFileSystem::put(std::string_view path, Node node) {
  const std::string key = normalise(path);
  for (std::string parent = parent_of(key); !parent.empty(); parent = parent_of(parent)) {
    if (nodes_.count(parent) == 0) nodes_[parent] = Node{ENTRY_FOLDER, {}, {}, next_id++};
  }
  nodes_[key] = std::move(node);
}

void VirtualFileSystem::add_file(std::string_view path, std::string_view contents) {
  put(path, Node{ENTRY_FILE, std::string(contents), {}, next_id++});
}

void VirtualFileSystem::add_folder(std::string_view path) { put(path, Node{ENTRY_FOLDER, {}, {}, next_id++}); }

void VirtualFileSystem::add_other(std::string_view path) { put(path, Node{ENTRY_OTHER, {}, {}, next_id++}); }

void VirtualFileSystem::add_folder_link(std::string_view path, std::string_view target) {
  put(path, Node{ENTRY_FOLDER, {}, normalise(target), 0});
}

EntryKind VirtualFileSystem::kind(std::string_view path) const {
  auto it = nodes_.find(normalise(path));
  return it == nodes_.end() ? ENTRY_MISSING : it->second.kind;
}

std::string VirtualFileSystem::contents(std::string_view path) const {
  auto it = nodes_.find(normalise(path));
  return it == nodes_.end() || it->second.kind != ENTRY_FILE ? std::string() : it->second.contents;
}

std::vector<std::string> VirtualFileSystem::names(std::string_view path) const {
  const std::string prefix = path.empty() ? std::string() : normalise(path) + "/";
  std::vector<std::string> found;
  for (const auto& [key, node] : nodes_) {
    if (!key.empty() && key.compare(0, prefix.size(), prefix) == 0) found.push_back(key.substr(prefix.size()));
  }
  return found;
}

void VirtualFileSystem::inject_fault(VfsFault fault, std::string_view path) { faults_.insert({fault, normalise(path)}); }
