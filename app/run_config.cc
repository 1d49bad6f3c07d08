#include "app/run_config.h"

#include <cerrno>
#include <new>

#include "app/exit_status.h"
#include "convert/paths.h"
#include "fs/file_system.h"
#include "log/log.h"

namespace {

// The whole real file system: typed paths are whole paths.
FileSystem host_file_system{&real_file_system_ops, "/"};

}  // namespace

RunConfig* config_new() {
  auto* config = new (std::nothrow) RunConfig;
  if (config == nullptr) return nullptr;
  config->host_fs = &host_file_system;
  return config;
}

void config_free(RunConfig* config) {
  if (config == nullptr) return;
  if (config->output_fs != config->input_fs) fs_free(config->output_fs);
  fs_free(config->input_fs);
  delete config;
}

bool settle_common_root(RunConfig* config, int* status) {
  size_t culprit = 0;
  switch (find_common_root(config->inputs, &config->root, &culprit)) {
    case RootSearch::kNoParent:
      if (log_enabled(LOG_FATAL) && culprit < config->inputs.size()) {
        const std::string& input = config->inputs[culprit];
        log_write(LOG_FATAL, "Could not find root for %.*s", static_cast<int>(input.size()), input.data());
      }
      *status = kExitNoCommonRoot;
      return false;
    case RootSearch::kSeveralParents:
      if (log_enabled(LOG_FATAL)) log_write(LOG_FATAL, "No common root detected for all inputs");
      *status = kExitNoCommonRoot;
      return false;
    case RootSearch::kFound:
      break;
  }
  for (std::string& input : config->inputs) input.erase(0, config->root.size());

  errno = 0;
  config->input_fs = fs_new(config->root.data(), config->root.size());
  if (config->input_fs == nullptr) {
    const int error = errno != 0 ? errno : ENOTDIR;
    if (log_enabled(LOG_ERROR)) {
      log_write(LOG_ERROR, "Could not open the folder of the inputs %s (%s)", config->root.c_str(), fs_reason(error));
    }
    return false;
  }
  config->output_fs = config->input_fs;
  if (config->output_dirs.size() == 1) {
    const std::string& directory = config->output_dirs.front();
    FileSystem* output_fs = fs_new(directory.data(), directory.size());
    if (output_fs == nullptr) {
      if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Invalid output path: %s", directory.c_str());
      return false;
    }
    config->output_fs = output_fs;
  }
  return true;
}
