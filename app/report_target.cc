#include "app/report_target.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "app/run_config.h"
#include "convert/paths.h"
#include "output/format_writer.h"
#include "fs/file_system.h"
#include "log/log.h"

namespace {

// The real path of a folder ("" for the current one), without a final "/"
// unless it is "/"; empty when it cannot be resolved.
std::string real_folder(const std::string& path) {
  char* real = realpath(path.empty() ? "." : path.c_str(), nullptr);
  if (real == nullptr) return {};
  std::string result(real);
  std::free(real);
  return result;
}

// Whether folder is top or lies below it (both real paths); *rest is then the
// path from top to folder, ending in "/" unless empty.
bool below(const std::string& folder, const std::string& top, std::string* rest) {
  if (top.empty()) return false;
  if (folder == top) {
    rest->clear();
    return true;
  }
  const std::string prefix = top.back() == '/' ? top : top + "/";
  if (folder.compare(0, prefix.size(), prefix) != 0) return false;
  *rest = folder.substr(prefix.size()) + "/";
  return true;
}

bool is_log_name(std::string_view name) { return path_extension_is_txt(path_extension(name)); }

// A regular file (through links) with a "txt" extension: a log the walk converts.
bool is_log(const std::string& path) {
  struct stat info;
  return is_log_name(path) && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The search for what the report would replace: its real folder and name
// against each input of the run.
class TargetSearch {
 public:
  TargetSearch(const RunConfig& config, std::string folder, std::string_view name)
      : config_(config), folder_(std::move(folder)), name_(name) {
    extension_ = config.format != nullptr ? config.format->extension : "";
  }

  // True when the report would replace a log or an output of the input;
  // *what ("log" or "output") and *path then say which.
  bool clashes(const std::string& input, const char** what, std::string* path) {
    const std::string whole = config_.root + input;
    struct stat info;
    if (stat(whole.c_str(), &info) != 0) return false;
    if (S_ISREG(info.st_mode)) return file_clashes(input, whole, what, path);
    return S_ISDIR(info.st_mode) && folder_clashes(input, whole, what, path);
  }

 private:
  bool is_target(const std::string& path) const {
    return path_base_name(path) == name_ && real_folder(std::string(path_folder(path))) == folder_;
  }

  std::string output_root() const { return config_.output_fs()->root(); }

  // A log named on the command line, and its output.
  bool file_clashes(const std::string& input, const std::string& whole, const char** what, std::string* path) {
    if (!is_log_name(input)) return false;
    *what = "log";
    *path = whole;
    if (is_target(whole)) return true;
    *what = "output";
    *path = output_root() + std::string(path_output_base(input)) + extension_;
    return is_target(*path);
  }

  // A folder named on the command line: the log at the report's name when
  // the report lies in the folder's tree; the logs of the one input folder
  // whose outputs go where the report lies.
  bool folder_clashes(const std::string& input, const std::string& whole, const char** what, std::string* path) {
    std::string rest;
    *what = "log";
    *path = whole;
    if (below(folder_, real_folder(whole), &rest) && is_log(path->append(rest).append(name_))) return true;
    const std::string outputs =
        output_root() + (config_.options.no_append_root ? input : path_with_out_suffix(input));
    if (!below(folder_, real_folder(outputs), &rest)) return false;
    const std::string logs = input + rest;
    FolderListing listing;
    if (!config_.input_fs->list(logs, &listing).ok()) return false;
    for (const auto& [name, entry] : listing) {
      if (entry.kind == ENTRY_FILE && is_log_name(name) && std::string(path_output_base(name)) + extension_ == name_) {
        *what = "output";
        *path = outputs + rest + name_;
        return true;
      }
    }
    return false;
  }

  const RunConfig& config_;
  const std::string folder_;
  const std::string name_;
  std::string extension_;
};

}  // namespace

bool report_target_allowed(const RunConfig& config) {
  const std::string& report = config.report_path;
  if (!config.report || report == "-") return true;
  std::string folder = real_folder(std::string(path_folder(report)));
  const std::string_view name = path_base_name(report);
  if (folder.empty() || name.empty()) return true;
  TargetSearch search(config, std::move(folder), name);
  const char* what = nullptr;
  std::string path;
  for (const std::string& input : config.inputs) {
    if (!search.clashes(input, &what, &path)) continue;
    const bool log = std::string_view(what) == "log";
    log_error("Report file %s would replace the %s %s that this run %s", report.c_str(), what, path.c_str(),
              log ? "converts" : "writes");
    return false;
  }
  return true;
}
