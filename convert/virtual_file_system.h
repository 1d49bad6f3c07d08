// An in-memory file system for tests: a FileSystem whose operation table works
// on a tree held in memory, so that code built on the file-system objects can
// be tested without the disk, with failures injected where the disk would
// rarely produce them.
//
//   VirtualFileSystem vfs;                      // rooted at "/virtual/"
//   vfs.add_file("logs/a.txt", "contents");     // parent folders are made
//   vfs.inject_fault(VfsFault::kOpen, "out/a.trc");
//   run_something(&vfs);                        // a FileSystem*
//   EXPECT_EQ(vfs.contents("out/b.trc"), "...");
//
// The object belongs to the test (on the stack or in a unique_ptr): never hand
// it to fs_free. Streams opened through it must be closed before it goes away.
//
// Paths given to the methods below are relative to the root. Paths reaching
// the operations are full paths; the root is cut off and the rest normalised
// as the operating system would: empty components (doubled or trailing "/")
// and "." are dropped, ".." steps back.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "convert/file_system.h"

// Operations that can be made to fail for one path.
enum class VfsFault {
  kQuery,       // stat_path reports a failure (not a missing entry)
  kOpen,        // open_file returns no stream
  kRemove,      // remove_file fails
  kMakeFolder,  // make_folder fails
  kSyncFolder,  // sync_folder fails
};

extern const FileSystemOps virtual_file_system_ops;

class VirtualFileSystem : public FileSystem {
 public:
  // root must end in "/"; it names nothing on the disk.
  explicit VirtualFileSystem(std::string root = "/virtual/");
  VirtualFileSystem(const VirtualFileSystem&) = delete;
  VirtualFileSystem& operator=(const VirtualFileSystem&) = delete;

  // Building the tree. Missing parent folders are made; an existing entry of
  // the name is replaced.
  void add_file(std::string_view path, std::string_view contents = {});
  void add_folder(std::string_view path);
  // An entry that is neither file nor folder (a pipe, a device).
  void add_other(std::string_view path);

  // The kind of the entry at path: ENTRY_MISSING when there is none.
  EntryKind kind(std::string_view path) const;
  // The contents of the file at path; empty when there is no such file.
  std::string contents(std::string_view path) const;

  // Makes the operation fail for this path (until clear_faults).
  void inject_fault(VfsFault fault, std::string_view path);
  void clear_faults();

  // Behaviour of the streams opened from now on:
  // - a stream accepts at most write_limit bytes in all; a write beyond that
  //   comes up short (negative: no limit);
  // - a read fails (returns -1) once read_fail_after bytes were delivered
  //   (negative: never);
  // - sync and close report failure (close still releases the stream).
  int64_t write_limit = -1;
  int64_t read_fail_after = -1;
  bool fail_stream_sync = false;
  bool fail_stream_close = false;

  // What the operations did, in call order, as normalised relative paths.
  std::vector<std::string> folders_made;    // by make_folder
  std::vector<std::string> files_removed;   // by remove_file
  std::vector<std::string> files_opened;    // by open_file, successful only
  std::vector<std::string> folders_synced;  // by sync_folder, successful only
  std::vector<std::string> files_synced;    // by a stream's sync, successful only
  int open_streams = 0;                     // streams opened and not yet closed

  // Internals used by the operation table.
  struct Node {
    EntryKind kind;
    std::string contents;
  };
  // Normalised relative path of a full path; false when it lies outside root.
  bool relative_key(const char* path, size_t length, std::string* key) const;
  // Walks the parents of key: false when one of them is not a folder
  // (ENOTDIR); *parent_missing tells whether one is missing.
  bool parents_ok(const std::string& key, bool* parent_missing) const;
  bool has_fault(VfsFault fault, const std::string& key) const;
  std::map<std::string, Node>& nodes() { return nodes_; }

 private:
  void make_parents(const std::string& key);
  std::string normalise(std::string_view path) const;

  std::map<std::string, Node> nodes_;  // "" is the root folder
  std::set<std::pair<VfsFault, std::string>> faults_;
};
