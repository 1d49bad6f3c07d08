// File-system objects: a root folder plus a table of operations. Callers name
// files and folders by paths relative to the root, given as start and length;
// the object prepends the root and hands the full path to the table.
//
// No operation here writes to the diagnostic log: each reports by its result,
// leaves the system's reason in errno, and the caller words the message.
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
  ENTRY_LINK = 4,     // a symbolic link, reported only by the query that does not follow links
};

struct EntryInfo {
  EntryKind kind = ENTRY_MISSING;
  int64_t size = 0;         // bytes for a file, 0 for every other kind
  int64_t modified_ns = 0;  // last change of the contents, nanoseconds since the epoch
  uint64_t device = 0;      // with inode: which entry this is, whatever the path to it
  uint64_t inode = 0;
  // In a folder listing: the system's reason (errno) when the status query
  // of this entry failed; its kind is then ENTRY_OTHER. 0 otherwise.
  int error = 0;
};

// One folder level: entry names (bare, no "/") to their info, in ascending
// byte order of the names.
using FolderListing = std::map<std::string, EntryInfo>;

// Access flags of open_file.
enum FsAccess : int {
  FS_READ = 1,
  FS_WRITE = 2,       // creates the file or truncates it
  FS_CREATE_NEW = 8,  // with FS_WRITE: a new file only, never through a link (EEXIST otherwise)
  FS_NO_LINK = 16,    // with FS_READ alone: never through a link (ELOOP when a link stands there)
};

struct FileSystem;

// Operation table; a slot may be empty. Paths are full paths (root included)
// given as start and length, not terminated. Every failure leaves its reason
// in errno.
struct FileSystemOps {
  void (*on_release)(FileSystem* fs);
  // True on success with *info written; a missing entry is a success with
  // kind ENTRY_MISSING. False for any other failure, *info untouched.
  bool (*stat_path)(FileSystem* fs, const char* path, size_t length, EntryInfo* info);
  // Fills listing with the folder's files and folders, and with the entries
  // whose status query failed (their error set). False when the folder cannot
  // be opened or read.
  bool (*list_folder)(FileSystem* fs, const char* path, size_t length, FolderListing* listing);
  bool (*make_folder)(FileSystem* fs, const char* path, size_t length);
  bool (*remove_file)(FileSystem* fs, const char* path, size_t length);
  // A stream, or nullptr.
  Stream* (*open_file)(FileSystem* fs, const char* path, size_t length, int access);
  // Flushes the folder's entries (a file created or renamed in it) to stable storage.
  bool (*sync_folder)(FileSystem* fs, const char* path, size_t length);
  // Gives the file `from` the name `to` in one step. With replace, whatever
  // file or link stood at `to` is replaced (never written through); without,
  // an existing `to` makes it fail with EEXIST and stay as it was.
  bool (*rename_file)(FileSystem* fs, const char* from, size_t from_length, const char* to, size_t to_length,
                      bool replace);
  // The process's current folder, as an absolute path.
  bool (*current_folder)(FileSystem* fs, std::string* out);
  // As stat_path, but a link at path is not followed: it is ENTRY_LINK.
  bool (*stat_entry)(FileSystem* fs, const char* path, size_t length, EntryInfo* info);
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

// As fs_query, but a link at the path is reported as ENTRY_LINK, not followed.
bool fs_query_entry(FileSystem* fs, const char* path, size_t length, EntryInfo* info);

// Lists the folder below the root into listing (empty on entry). False when
// it cannot be listed.
bool fs_list(FileSystem* fs, const char* path, size_t length, FolderListing* listing);

// Makes one folder (mode 0700, less the umask): true when it exists as a
// folder already or was created; false when the query fails, the name is
// taken by anything else (ENOTDIR), or mkdir fails.
bool fs_make_folder(FileSystem* fs, const char* path, size_t length);

// Creates every missing folder along path (components split at "/", empty
// ones skipped). Stops at the first failure and returns false.
bool fs_make_folders(FileSystem* fs, const char* path, size_t length);

// Removes a file (or an empty folder). False when fs is missing, the slot is
// empty, or the removal fails.
bool fs_remove(FileSystem* fs, const char* path, size_t length);

// Opens a file with access flags (FsAccess). Returns nullptr when fs is
// missing, the slot is empty, or the open fails. The caller owns the stream.
Stream* fs_open(FileSystem* fs, const char* path, size_t length, int access);

// Renames a file below the root (see rename_file). False when fs is missing,
// the slot is empty, or the rename fails.
bool fs_rename(FileSystem* fs, const std::string& from, const std::string& to, bool replace);

// Appends root and then path to out; appends nothing when out is missing or
// path is exactly "..".
void fs_resolve(FileSystem* fs, const char* path, size_t length, std::string* out);

// Flushes a folder to stable storage, so that a file created in it stays
// after a power loss. False when fs is missing, the slot is empty, or the
// sync fails.
bool fs_sync_folder(FileSystem* fs, const char* path, size_t length);

// The folder part of a relative path: everything before its last "/", empty
// for a name in the root.
std::string fs_parent_folder(const std::string& path);

// The system's words for errno value error ("Permission denied").
const char* fs_reason(int error);

using FileSystemPtr = std::unique_ptr<FileSystem, decltype(&fs_free)>;
