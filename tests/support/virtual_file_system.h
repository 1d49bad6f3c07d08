// An in-memory file system for tests: a FileSystem whose operation table works
// on a tree held in memory, so that code built on the file-system objects can
// be tested without the disk, with a failure injected at any step.
//
//   VirtualFileSystem vfs;                      // rooted at "/virtual/"
//   vfs.add_file("logs/a.txt", "contents");     // parent folders are made
//   vfs.inject_fault(VfsFault::kRename, "out/a.trc");
//   run_something(&vfs);                        // a FileSystem*
//   EXPECT_EQ(vfs.contents("out/b.trc"), "...");
//
// The object belongs to the test: never hand it to fs_free. Streams opened
// through it must be closed before it goes away. Paths given to the methods
// are relative to the root; paths reaching the operations are full paths,
// normalised as the operating system would ("//", "." and ".." resolved).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fs/file_system.h"

// Operations that can be made to fail for one path (errno EIO, or EACCES
// for kList). A fault on a temporary file is given by its final name.
enum class VfsFault {
  kQuery,       // stat_path, and the entry's query in its folder's listing
  kList,        // list_folder
  kOpen,        // open_file
  kRemove,      // remove_file
  kMakeFolder,  // make_folder
  kSyncFolder,  // sync_folder
  kSyncFile,    // a stream's sync
  kRename,      // rename_file, by its target
};

class VirtualFileSystem : public FileSystem {
 public:
  explicit VirtualFileSystem(std::string root = "/virtual/");
  VirtualFileSystem(const VirtualFileSystem&) = delete;
  VirtualFileSystem& operator=(const VirtualFileSystem&) = delete;

  // Building the tree. Missing parent folders are made; an existing entry of
  // the name is replaced.
  void add_file(std::string_view path, std::string_view contents = {});
  void add_folder(std::string_view path);
  void add_other(std::string_view path);  // a pipe, a device
  // A folder entry that is the folder at target (a link back up the tree).
  void add_folder_link(std::string_view path, std::string_view target);

  EntryKind kind(std::string_view path) const;       // ENTRY_MISSING when there is none
  std::string contents(std::string_view path) const;  // empty when there is no such file
  // The names of the tree's entries below path (recursively), sorted.
  std::vector<std::string> names(std::string_view path = {}) const;

  void inject_fault(VfsFault fault, std::string_view path);

  // Behaviour of the streams opened from now on: a stream accepts at most
  // write_limit bytes in all (negative: no limit); a read fails once
  // read_fail_after bytes were delivered (negative: never).
  int64_t write_limit = -1;
  int64_t read_fail_after = -1;
  std::string current_folder = "/virtual/";

  // What the operations did, in call order: "mkdir P", "create P", "sync P",
  // "sync-folder P", "rename P Q", "remove P" with relative paths; the random
  // part of a temporary name shows as "*".
  std::vector<std::string> journal;
  int open_streams = 0;

  // Internals used by the operation table.
  struct Node {
    EntryKind kind;
    std::string contents;
    std::string link;  // a folder link: the key of its target
    uint64_t id;
  };
  bool key_of(const char* path, size_t length, std::string* key) const;  // false outside the root
  Node* find(const std::string& key);                                    // follows folder links
  bool fails(VfsFault fault, const std::string& key) const;
  void record(const char* what, const std::string& key, const std::string& other = {});
  std::map<std::string, Node>& nodes() { return nodes_; }
  uint64_t next_id = 1;

 private:
  void put(std::string_view path, Node node);
  std::map<std::string, Node> nodes_;  // "" is the root folder
  std::set<std::pair<VfsFault, std::string>> faults_;
};
