// The output back end's two operation tables: OutputBackend, through which
// the conversion driver hands over files and frames, and OptionExtension,
// through which the option parser lets the back end add its own options.
// Nothing else in the system knows the output format.
#pragma once

#include <cstdint>
#include <vector>

struct CanFrame;
struct FilePaths;
struct RunConfig;

// A back end object begins with these three slots. A fresh object holds
// do-nothing operations that return false; a real back end installs its own.
struct OutputBackend {
  // Hands one frame over; frame_count is the run's running frame number.
  // False stops the conversion of the current input file.
  bool (*record)(OutputBackend* backend, const CanFrame* frame, uint64_t frame_count);
  // Begins the output for one input file.
  bool (*new_file)(OutputBackend* backend, const FilePaths* paths, bool continues_previous);
  // Finishes the output for one input file; called after every new_file,
  // also a failed one.
  bool (*end_file)(OutputBackend* backend, FilePaths* paths);
};

// Installs the do-nothing operations, each of which returns false.
void output_backend_init(OutputBackend* backend);

// The option table being built: argtable descriptors, in table order.
using OptionTable = std::vector<void*>;

// Command-line extension of a back end; any slot may be empty (nullptr) and
// callers skip an empty slot.
struct OptionExtension {
  // Appends the back end's options to the table. False ends parsing.
  bool (*add_options)(RunConfig* config, OptionTable* table);
  // Called after the command line is parsed and validated; its result becomes
  // the result of parsing.
  bool (*after_parse)(RunConfig* config);
  // Called when the configuration is released.
  void (*release)(RunConfig* config);
};
