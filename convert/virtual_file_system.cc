#include "convert/virtual_file_system.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

VirtualFileSystem* as_virtual(FileSystem* fs) { return static_cast<VirtualFileSystem*>(fs); }

// Parent of a normalised key; "" for an entry directly below the root.
std::string parent_of(const std::string& key) {
  size_t slash = key.rfind('/');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

// A stream over one file of the tree. Data written goes straight into the
// file's node, so a test sees it without closing the stream; a file removed
// while open keeps taking writes that land nowhere, as an unlinked file does.
struct VirtualStream : Stream {
  VirtualFileSystem* vfs;
  std::string key;
  int64_t position;
  int64_t read_total;      // bytes delivered so far
  int64_t write_allowance; // bytes still accepted; negative: no limit
  int64_t read_fail_after;
  bool fail_sync;
  bool fail_close;
};

VirtualStream* as_stream(Stream* stream) { return static_cast<VirtualStream*>(stream); }

VirtualFileSystem::Node* stream_node(VirtualStream* s) {
  auto it = s->vfs->nodes().find(s->key);
  if (it == s->vfs->nodes().end() || it->second.kind != ENTRY_FILE) return nullptr;
  return &it->second;
}

int64_t vstream_read(Stream* stream, void* destination, int64_t count) {
  VirtualStream* s = as_stream(stream);
  if (count <= 0) return 0;
  if (s->read_fail_after >= 0 && s->read_total >= s->read_fail_after) return -1;
  VirtualFileSystem::Node* node = stream_node(s);
  if (node == nullptr) return 0;
  int64_t size = static_cast<int64_t>(node->contents.size());
  if (s->position >= size) return 0;
  int64_t n = std::min(count, size - s->position);
  if (s->read_fail_after >= 0) n = std::min(n, s->read_fail_after - s->read_total);
  memcpy(destination, node->contents.data() + s->position, static_cast<size_t>(n));
  s->position += n;
  s->read_total += n;
  return n;
}

int64_t vstream_write(Stream* stream, const void* bytes, int64_t count) {
  VirtualStream* s = as_stream(stream);
  if (count <= 0) return 0;
  int64_t n = count;
  if (s->write_allowance >= 0) {
    n = std::min(n, s->write_allowance);
    s->write_allowance -= n;
  }
  if (n == 0) return 0;
  if (VirtualFileSystem::Node* node = stream_node(s)) {
    size_t end = static_cast<size_t>(s->position + n);
    if (node->contents.size() < end) node->contents.resize(end);
    memcpy(node->contents.data() + s->position, bytes, static_cast<size_t>(n));
  }
  s->position += n;
  return n;
}

int64_t vstream_tell(Stream* stream) { return as_stream(stream)->position; }

int64_t vstream_seek(Stream* stream, int64_t offset, int origin) {
  VirtualStream* s = as_stream(stream);
  int64_t base;
  if (origin == SEEK_SET) {
    base = 0;
  } else if (origin == SEEK_CUR) {
    base = s->position;
  } else if (origin == SEEK_END) {
    VirtualFileSystem::Node* node = stream_node(s);
    base = node == nullptr ? 0 : static_cast<int64_t>(node->contents.size());
  } else {
    return -1;
  }
  if (base + offset < 0) return -1;
  s->position = base + offset;
  return s->position;
}

int vstream_close(Stream* stream) {
  VirtualStream* s = as_stream(stream);
  bool fail = s->fail_close;
  s->vfs->open_streams--;
  delete s;
  return fail ? -1 : 0;
}

int vstream_sync(Stream* stream) {
  VirtualStream* s = as_stream(stream);
  if (s->fail_sync) return -1;
  s->vfs->files_synced.push_back(s->key);
  return 0;
}

const StreamOps virtual_read_ops = {vstream_read, nullptr, vstream_tell, vstream_seek,
                                    vstream_close, vstream_sync};
const StreamOps virtual_write_ops = {nullptr, vstream_write, vstream_tell, vstream_seek,
                                     vstream_close, vstream_sync};
const StreamOps virtual_read_write_ops = {vstream_read, vstream_write, vstream_tell,
                                          vstream_seek, vstream_close, vstream_sync};

bool virtual_stat_path(FileSystem* fs, const char* path, size_t length, EntryInfo* info) {
  VirtualFileSystem* vfs = as_virtual(fs);
  std::string key;
  if (!vfs->relative_key(path, length, &key)) {
    info->kind = ENTRY_MISSING;
    info->size = 0;
    return true;
  }
  if (vfs->has_fault(VfsFault::kQuery, key)) return false;
  bool parent_missing = false;
  if (!vfs->parents_ok(key, &parent_missing)) return false;
  auto it = vfs->nodes().find(key);
  if (parent_missing || it == vfs->nodes().end()) {
    info->kind = ENTRY_MISSING;
    info->size = 0;
    return true;
  }
  info->kind = it->second.kind;
  info->size = it->second.kind == ENTRY_FILE ? static_cast<int64_t>(it->second.contents.size()) : 0;
  return true;
}

void virtual_list_folder(FileSystem* fs, const char* path, size_t length, FolderListing* listing) {
  VirtualFileSystem* vfs = as_virtual(fs);
  std::string key;
  if (!vfs->relative_key(path, length, &key)) return;
  auto it = vfs->nodes().find(key);
  if (it == vfs->nodes().end() || it->second.kind != ENTRY_FOLDER) return;
  std::string prefix = key.empty() ? std::string() : key + "/";
  for (auto child = vfs->nodes().lower_bound(prefix); child != vfs->nodes().end(); ++child) {
    const std::string& name = child->first;
    if (name.compare(0, prefix.size(), prefix) != 0) break;
    if (name.size() == prefix.size()) continue;  // the folder itself (root)
    if (name.find('/', prefix.size()) != std::string::npos) continue;  // deeper
    if (vfs->has_fault(VfsFault::kQuery, name)) continue;
    const VirtualFileSystem::Node& node = child->second;
    if (node.kind != ENTRY_FILE && node.kind != ENTRY_FOLDER) continue;
    EntryInfo info{node.kind, node.kind == ENTRY_FILE ? static_cast<int64_t>(node.contents.size()) : 0};
    listing->emplace(name.substr(prefix.size()), info);
  }
}

bool virtual_make_folder(FileSystem* fs, const char* path, size_t length) {
  VirtualFileSystem* vfs = as_virtual(fs);
  std::string key;
  if (!vfs->relative_key(path, length, &key)) return false;
  if (vfs->has_fault(VfsFault::kMakeFolder, key)) return false;
  bool parent_missing = false;
  if (!vfs->parents_ok(key, &parent_missing) || parent_missing) return false;
  if (vfs->nodes().count(key) != 0) return false;  // EEXIST
  vfs->nodes()[key] = VirtualFileSystem::Node{ENTRY_FOLDER, {}};
  vfs->folders_made.push_back(key);
  return true;
}

bool virtual_remove_file(FileSystem* fs, const char* path, size_t length) {
  VirtualFileSystem* vfs = as_virtual(fs);
  std::string key;
  if (!vfs->relative_key(path, length, &key) || key.empty()) return false;
  if (vfs->has_fault(VfsFault::kRemove, key)) return false;
  auto it = vfs->nodes().find(key);
  if (it == vfs->nodes().end()) return false;
  if (it->second.kind == ENTRY_FOLDER) {
    auto next = std::next(it);
    std::string prefix = key + "/";
    if (next != vfs->nodes().end() && next->first.compare(0, prefix.size(), prefix) == 0) {
      return false;  // a folder that is not empty
    }
  }
  vfs->nodes().erase(it);
  vfs->files_removed.push_back(key);
  return true;
}

Stream* virtual_open_file(FileSystem* fs, const char* path, size_t length, int access) {
  VirtualFileSystem* vfs = as_virtual(fs);
  bool read = (access & FS_READ) != 0;
  bool write = (access & FS_WRITE) != 0;
  if (!read && !write) return nullptr;
  std::string key;
  if (!vfs->relative_key(path, length, &key) || key.empty()) return nullptr;
  if (vfs->has_fault(VfsFault::kOpen, key)) return nullptr;
  bool parent_missing = false;
  if (!vfs->parents_ok(key, &parent_missing) || parent_missing) return nullptr;
  auto it = vfs->nodes().find(key);
  bool exists = it != vfs->nodes().end();
  if (exists && it->second.kind != ENTRY_FILE) return nullptr;
  if (!exists && !(write && !read)) return nullptr;  // only "wb" creates a file
  auto* s = new (std::nothrow) VirtualStream();
  if (s == nullptr) return nullptr;
  s->ops = read && write ? &virtual_read_write_ops : read ? &virtual_read_ops : &virtual_write_ops;
  s->vfs = vfs;
  s->key = key;
  s->position = 0;
  s->read_total = 0;
  s->write_allowance = vfs->write_limit;
  s->read_fail_after = vfs->read_fail_after;
  s->fail_sync = vfs->fail_stream_sync;
  s->fail_close = vfs->fail_stream_close;
  if (write && !read) vfs->nodes()[key] = VirtualFileSystem::Node{ENTRY_FILE, {}};  // truncates
  vfs->files_opened.push_back(key);
  vfs->open_streams++;
  return s;
}

bool virtual_sync_folder(FileSystem* fs, const char* path, size_t length) {
  VirtualFileSystem* vfs = as_virtual(fs);
  std::string key;
  if (!vfs->relative_key(path, length, &key)) return false;
  if (vfs->has_fault(VfsFault::kSyncFolder, key)) return false;
  auto it = vfs->nodes().find(key);
  if (it == vfs->nodes().end() || it->second.kind != ENTRY_FOLDER) return false;
  vfs->folders_synced.push_back(key);
  return true;
}

}  // namespace

const FileSystemOps virtual_file_system_ops = {
    nullptr,           virtual_stat_path, virtual_list_folder, virtual_make_folder,
    virtual_remove_file, virtual_open_file, virtual_sync_folder,
};

VirtualFileSystem::VirtualFileSystem(std::string root_text) {
  ops = &virtual_file_system_ops;
  root = std::move(root_text);
  nodes_[""] = Node{ENTRY_FOLDER, {}};
}

std::string VirtualFileSystem::normalise(std::string_view path) const {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
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

bool VirtualFileSystem::relative_key(const char* path, size_t length, std::string* key) const {
  std::string_view full(path, length);
  if (full.substr(0, root.size()) != root) return false;
  *key = normalise(full.substr(root.size()));
  return true;
}

bool VirtualFileSystem::parents_ok(const std::string& key, bool* parent_missing) const {
  *parent_missing = false;
  size_t slash = key.find('/');
  while (slash != std::string::npos) {
    auto it = nodes_.find(key.substr(0, slash));
    if (it == nodes_.end()) {
      *parent_missing = true;
      return true;
    }
    if (it->second.kind != ENTRY_FOLDER) return false;
    slash = key.find('/', slash + 1);
  }
  return true;
}

bool VirtualFileSystem::has_fault(VfsFault fault, const std::string& key) const {
  return faults_.count({fault, key}) != 0;
}

void VirtualFileSystem::make_parents(const std::string& key) {
  for (std::string parent = parent_of(key); !parent.empty(); parent = parent_of(parent)) {
    nodes_[parent] = Node{ENTRY_FOLDER, {}};
  }
}

void VirtualFileSystem::add_file(std::string_view path, std::string_view contents) {
  std::string key = normalise(path);
  make_parents(key);
  nodes_[key] = Node{ENTRY_FILE, std::string(contents)};
}

void VirtualFileSystem::add_folder(std::string_view path) {
  std::string key = normalise(path);
  make_parents(key);
  nodes_[key] = Node{ENTRY_FOLDER, {}};
}

void VirtualFileSystem::add_other(std::string_view path) {
  std::string key = normalise(path);
  make_parents(key);
  nodes_[key] = Node{ENTRY_OTHER, {}};
}

EntryKind VirtualFileSystem::kind(std::string_view path) const {
  auto it = nodes_.find(normalise(path));
  return it == nodes_.end() ? ENTRY_MISSING : it->second.kind;
}

std::string VirtualFileSystem::contents(std::string_view path) const {
  auto it = nodes_.find(normalise(path));
  return it == nodes_.end() || it->second.kind != ENTRY_FILE ? std::string() : it->second.contents;
}

void VirtualFileSystem::inject_fault(VfsFault fault, std::string_view path) {
  faults_.insert({fault, normalise(path)});
}

void VirtualFileSystem::clear_faults() { faults_.clear(); }
