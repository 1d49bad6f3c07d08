#include "fs/storage_kind.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>

#include <fstream>
#include <sstream>
#include <string_view>

namespace {

constexpr const char* kInMemory = "its output lies on a file system held in memory";
constexpr const char* kOverlayUnknown = "its output lies on an overlay file system whose upper layer cannot be checked";

// Overlays on overlays go no deeper than this.
constexpr int kMaxLayers = 4;

// A path as /proc/self/mountinfo writes it: blanks, tabs, line feeds and
// backslashes as three octal digits after a backslash.
std::string unescaped(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The upper layer of the overlay mounted on the device dev (as the folder's
// stat gives it), from /proc/self/mountinfo; empty when not found. A mount
// line reads "ID PARENT MAJOR:MINOR ROOT POINT OPTIONS [TAGS...] - TYPE
// SOURCE SUPER-OPTIONS"; the last mount of the device counts.
std::string overlay_upper_layer(dev_t dev) {
  std::ifstream mounts("/proc/self/mountinfo");
  const std::string device = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  std::string line;
  std::string upper;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, word;
    if (!(fields >> id >> parent >> numbers) || numbers != device) continue;
    while (fields >> word && word != "-") {
    }
    std::string type, source, options;
    if (!(fields >> type >> source >> options) || type != "overlay") continue;
    upper.clear();
    std::string_view rest(options);
    while (!rest.empty()) {
      const size_t comma = rest.find(',');
      const std::string_view option = rest.substr(0, comma);
      if (option.substr(0, 9) == "upperdir=") upper = unescaped(option.substr(9));
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
  }
  return upper;
}

const char* volatile_layer(const std::string& folder, int depth) {
  struct statfs info;
  if (statfs(folder.c_str(), &info) != 0) return nullptr;
  if (info.f_type == TMPFS_MAGIC || info.f_type == RAMFS_MAGIC) return kInMemory;
  if (info.f_type != OVERLAYFS_SUPER_MAGIC) return nullptr;
  struct stat entry;
  if (depth >= kMaxLayers || stat(folder.c_str(), &entry) != 0) return kOverlayUnknown;
  const std::string upper = overlay_upper_layer(entry.st_dev);
  struct statfs upper_info;
  if (upper.empty() || statfs(upper.c_str(), &upper_info) != 0) return kOverlayUnknown;
  return volatile_layer(upper, depth + 1);
}

}  // namespace

const char* volatile_storage(const std::string& folder) { return volatile_layer(folder, 0); }
