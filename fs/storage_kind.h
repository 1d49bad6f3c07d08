// Whether a folder's files outlive a restart: a file system held in memory
// (tmpfs, ramfs) keeps nothing, however it is synced, and neither does an
// overlay whose upper layer, where its writes go, is held in memory.
#pragma once

#include <string>

// Nullptr when files written in the folder (a whole path) are kept on a
// device; otherwise why they are not: "its output lies on a file system held
// in memory", or, for an overlay whose upper layer cannot be found or
// queried, "its output lies on an overlay file system whose upper layer
// cannot be checked". A folder whose file system cannot be queried at all
// counts as kept on a device: syncing it fails first.
const char* volatile_storage(const std::string& folder);
