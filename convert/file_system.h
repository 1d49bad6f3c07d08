// File-system objects: a root folder plus a table of operations. Callers name
// files and folders by paths relative to the root, given as start and length;
// the object prepends the root and hands the full path to the table.
//
// No operation here writes to the diagnostic log: each reports by its result
// and the caller words the message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "stream/stream.h"

enum EntryKind : int32_t {
  ENTRY_OTHER = 0,    // exists, but neither a regular file nor a folder
  ENTRY_FILE = 1,     // regular file
  ENTRY_FOLDER = 2,   // folder
  ENTRY_MISSING = 3,  // no such entry (ENOENT)
};

struct EntryInfo {
  EntryKind kind;
  int64_t size;  // bytes for a file, 0 for every other kind
};

// One folder level: entry names (bare, no "/") to their info, in ascending
// byte order of the names.
using FolderListing = std::map<std::string, EntryInfo>;

// Access flags of open_file. The value 4 is set by callers and ignored here.
enum FsAccess : int {
  FS_READ = 1,
  FS_WRITE = 2,
};

struct FileSystem;

// Operation table; a slot may be empty. Paths are full paths (root included)
// given as start and length, not terminated.
struct FileSystemOps {
  void (*on_release)(FileSystem* fs);
  // True on success with *info written; a missing entry is a success with
  // kind ENTRY_MISSING. False for any other failure, *info untouched.
  bool (*stat_path)(FileSystem* fs, const char* path, size_t length, EntryInfo* info);
  // Fills listing with the folder's files and folders; a folder that cannot
  // be opened leaves it empty.
  void (*list_folder)(FileSystem* fs, const char* path, size_t length, FolderListing* listing);
  bool (*make_folder)(FileSystem* fs, const char* path, size_t length);
  bool (*remove_file)(FileSystem* fs, const char* path, size_t length);
  // A stream, or nullptr.
  Stream* (*open_file)(FileSystem* fs, const char* path, size_t length, int access);
  // Flushes the folder's entries (a file just created in it) to stable storage.
  bool (*sync_folder)(FileSystem* fs, const char* path, size_t length);
};

// The table of operations on the real file system (POSIX calls). Its
// operations do not use their fs argument, so they may be called with nullptr.
extern const FileSystemOps real_file_system_ops;

struct FileSystem {
  const FileSystemOps* ops;  // shared, static
  std::string root;          // never empty, always ends in "/"
};

// Creates a file system rooted at root. Returns nullptr when the text is empty,
// does not end in "/", or is not an existing folder.
FileSystem* fs_new(const char* root, size_t length);

// Releases fs (calling on_release first); accepts nullptr.
void fs_free(FileSystem* fs);

// Queries the path below the root. False when fs or info is missing or the
// query fails; a missing entry succeeds with kind ENTRY_MISSING.
bool fs_query(FileSystem* fs, const char* path, size_t length, EntryInfo* info);

// Lists the folder below the root into listing (empty on entry).
void fs_list(FileSystem* fs, const char* path, size_t length, FolderListing* listing);

// Makes one folder: true when it exists as a folder already or was created;
// false when the query fails, the name is taken by anything else, or mkdir
// fails.
bool fs_make_folder(FileSystem* fs, const char* path, size_t length);

// Creates every missing folder along path (components split at "/", empty
// ones skipped). Stops at the first failure and returns false.
bool fs_make_folders(FileSystem* fs, const char* path, size_t length);

// Removes a file (or an empty folder). False when fs is missing, the slot is
// empty, or the removal fails.
bool fs_remove(FileSystem* fs, const char* path, size_t length);

// Opens a file with access flags (FS_READ, FS_WRITE). Returns nullptr when fs
// is missing, the slot is empty, or the open fails. The caller owns the stream.
Stream* fs_open(FileSystem* fs, const char* path, size_t length, int access);

// Appends root and then path to out; appends nothing when out is missing or
// path is exactly "..".
void fs_resolve(FileSystem* fs, const char* path, size_t length, std::string* out);

// Flushes a folder to stable storage, so that a file created in it stays
// after a power loss. False when fs is missing, the slot is empty, or the
// sync fails.
bool fs_sync_folder(FileSystem* fs, const char* path, size_t length);

using FileSystemPtr = std::unique_ptr<FileSystem, decltype(&fs_free)>;
