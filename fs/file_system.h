// A folder of the file system and everything below it, reached by paths
// relative to it. Every operation is virtual, so that a test can make one
// fail where a real run cannot be made to (a read, a write, a sync) and
// leave the rest to the real file system.
//
// No operation here writes to the diagnostic log: each returns a Status
// that carries the system's reason, and the caller words the message.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "stream/status.h"
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
  int64_t changed_ns = 0;   // last change of the contents or the entry (which no program can set back)
  uint64_t device = 0;      // with inode: which entry this is, whatever the path to it
  uint64_t inode = 0;
  // In a folder listing: the system's reason (errno) when the status query
  // of this entry failed; its kind is then ENTRY_OTHER. 0 otherwise.
  int error = 0;
};

// One folder level: entry names (bare, no "/") to their info, in ascending
// byte order of the names.
using FolderListing = std::map<std::string, EntryInfo>;

// How open takes a file.
enum class Access {
  kRead,          // an existing file, for reading
  kReadNoLink,    // an existing file, for reading, never through a link (fails with ELOOP)
  kCreateNew,     // a new file for writing, never through a link (fails with EEXIST when the name is taken)
};

class FileSystem {
 public:
  // The file system of the folder root (ending in "/"). nullptr, with
  // *status telling why, when root is no existing folder.
  static std::unique_ptr<FileSystem> open_root(const std::string& root, Status* status);

  explicit FileSystem(std::string root) : root_(std::move(root)) {}
  virtual ~FileSystem() = default;
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;

  // The root, never empty, always ending in "/".
  const std::string& root() const { return root_; }
  // The root followed by path.
  std::string full_path(std::string_view path) const;

  // The entry at path, links followed. A missing entry is a success with
  // kind ENTRY_MISSING.
  virtual Status query(std::string_view path, EntryInfo* info);
  // As query, but a link at path is reported as ENTRY_LINK, not followed.
  virtual Status query_entry(std::string_view path, EntryInfo* info);
  // The folder's files and folders (links followed; a link to nothing is
  // left out), and the entries whose status query failed (their error set).
  virtual Status list(std::string_view folder, FolderListing* listing);
  // Makes one folder, mode 0700 (less the umask). Succeeds when a folder
  // stands there already; fails with ENOTDIR when something else does.
  virtual Status make_folder(std::string_view path);
  // Removes a file (or an empty folder).
  virtual Status remove(std::string_view path);
  // A stream of the file, or nullptr with *status telling why. The caller
  // owns the stream. A file opened to be read must be a regular file (never
  // a pipe or a device, which could keep the open waiting): anything else
  // fails without a system reason.
  virtual Stream* open(std::string_view path, Access access, Status* status);
  // Flushes the folder's entries (a file created or renamed in it) to stable
  // storage; the empty path is the root.
  virtual Status sync_folder(std::string_view path);
  // Gives the file `from` the name `to` in one step. With replace, whatever
  // file or link stood at `to` is replaced (never written through); without,
  // an existing `to` makes it fail with EEXIST and stay as it was.
  virtual Status rename(std::string_view from, std::string_view to, bool replace);

  // Why files in the folder would not survive a restart however they are
  // synced (see fs/storage_kind.h); nullptr when they would.
  virtual const char* volatile_storage(std::string_view folder);

  // Makes every missing folder along path (components split at "/", empty
  // ones skipped), outermost first; stops at the first failure.
  Status make_folders(std::string_view path);

 private:
  const std::string root_;
};

// The process's current folder, as an absolute path.
Status current_folder(std::string* out);

// The folder part of a relative path: everything before its last "/", empty
// for a name in the root.
std::string parent_folder(std::string_view path);
