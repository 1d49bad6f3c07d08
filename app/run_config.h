// The configuration of a run: what the command line asked for, and the file
// systems it names.
#pragma once

#include <string>
#include <vector>

#include "convert/job.h"

struct FileSystem;
struct OutputFormat;

// The configuration from the command line. Created by config_new, released by
// config_free; owns the file systems, the paths and the options.
struct RunConfig {
  RunOptions options;
  std::string root;                      // common root of all inputs, ends in "/"
  std::vector<std::string> inputs;       // relative to root once settled
  std::vector<std::string> output_dirs;  // zero or one element
  FileSystem* input_fs = nullptr;        // rooted at root; owned
  FileSystem* output_fs = nullptr;       // input_fs itself, or owned separately
  const OutputFormat* format = nullptr;   // the output format, once parsed
  bool report = false;                   // --report was given
  std::string report_path;               // its value: a file, or "-" for standard output
  // The file system that typed paths name things on, for normalising them:
  // the real one, or a test's double (borrowed).
  FileSystem* host_fs = nullptr;
};

// A fresh configuration: no paths, no file systems but the host, buffer_size
// -1, no format yet. Returns nullptr when memory runs out.
RunConfig* config_new();

// Releases the file systems (output_fs only when it is not input_fs) and the
// record. Accepts nullptr.
void config_free(RunConfig* config);

// Finds the one folder that holds every input, stores it in config->root,
// makes every input relative to it, and creates config->input_fs and
// config->output_fs (the same object unless an output directory was given).
// Returns true on success. On failure it returns false having set *status to
// 132 (no input, an input without a parent: fatal "Could not find root for
// %.*s", several parents: fatal "No common root detected for all inputs"), or
// leaving *status untouched (the root is no folder: error "Could not open the
// folder of the inputs %s (%s)"; the output directory is refused: error
// "Invalid output path: %s").
bool settle_common_root(RunConfig* config, int* status);
