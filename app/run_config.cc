#include "app/run_config.h"

#include "app/exit_status.h"
#include "convert/paths.h"
#include "fs/file_system.h"
#include "log/log.h"

bool settle_common_root(RunConfig* config, int* status) {
  size_t culprit = 0;
  switch (find_common_root(config->inputs, &config->root, &culprit)) {
    case RootSearch::kNoParent:
      if (culprit < config->inputs.size()) {
        const std::string& input = config->inputs[culprit];
        log_fatal("Could not find root for %.*s", static_cast<int>(input.size()), input.data());
      }
      *status = kExitNoCommonRoot;
      return false;
    case RootSearch::kSeveralParents:
      log_fatal("No common root detected for all inputs");
      *status = kExitNoCommonRoot;
      return false;
    case RootSearch::kFound:
      break;
  }
  for (std::string& input : config->inputs) input.erase(0, config->root.size());

  Status opened;
  config->input_fs = FileSystem::open_root(config->root, &opened);
  if (config->input_fs == nullptr) {
    log_error("Could not open the folder of the inputs %s (%s)", config->root.c_str(),
              Status::reason(opened.error()));
    return false;
  }
  if (config->output_dirs.size() == 1) {
    const std::string& directory = config->output_dirs.front();
    config->output_dir = FileSystem::open_root(directory, &opened);
    if (config->output_dir == nullptr) {
      log_error("Invalid output path: %s", directory.c_str());
      return false;
    }
  }
  return true;
}
