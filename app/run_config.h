// The configuration of a run: what the command line asked for, and the file
// systems it names.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "convert/run.h"
#include "fs/file_system.h"

struct OutputFormat;

// The configuration from the command line. Created by config_new, released by
// config_free; owns the file systems, the paths and the options.
struct RunConfig {
  RunOptions options;
  bool non_interactive = false;          // no status line and no summary
  std::string root;                      // common root of all inputs, ends in "/"
  std::vector<std::string> inputs;       // relative to root once settled
  std::vector<std::string> output_dirs;  // zero or one element
  std::unique_ptr<FileSystem> input_fs;   // rooted at root
  std::unique_ptr<FileSystem> output_dir;  // rooted at the output directory, when one was given
  const OutputFormat* format = nullptr;   // the output format, once parsed
  bool report = false;                   // --report was given
  std::string report_path;               // its value: a file, or "-" for standard output

  // The file system the outputs are written to: the output directory's, or
  // the inputs' own.
  FileSystem* output_fs() const { return output_dir != nullptr ? output_dir.get() : input_fs.get(); }
};

// Finds the one folder that holds every input, stores it in config->root,
// makes every input relative to it, and opens config->input_fs and, when an
// output directory was given, config->output_dir.
// Returns true on success. On failure it returns false having set *status to
// 132 (no input, an input without a parent: fatal "Could not find root for
// %.*s", several parents: fatal "No common root detected for all inputs"), or
// leaving *status untouched (the root is no folder: error "Could not open the
// folder of the inputs %s (%s)"; the output directory is refused: error
// "Invalid output path: %s").
bool settle_common_root(RunConfig* config, int* status);
