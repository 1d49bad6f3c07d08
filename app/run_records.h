// The records shared by the command line, the entry point, the conversion
// driver and the output back end. This header sits below all of them and
// includes nothing of the project's own.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct FileSystem;
struct LogReader;
struct OptionExtension;
struct OutputBackend;

// The switches that the conversion driver reads.
struct RunOptions {
  bool delete_converted = false;  // remove each input after it was converted
  bool no_append_root = false;    // no "_out" after a folder named on the command line
  bool non_interactive = false;   // recorded; nothing reads it
  int64_t buffer_size = -1;       // read window: 0 none, negative the whole file (capped)
};

// The configuration from the command line. Created by config_new, released by
// config_free; owns the file systems, the paths and the options.
struct RunConfig {
  const OptionExtension* hooks = nullptr;  // the output back end's extension
  RunOptions options;
  std::string root;                      // common root of all inputs, ends in "/"
  std::vector<std::string> inputs;       // relative to root once settled
  std::vector<std::string> output_dirs;  // zero or one element
  FileSystem* input_fs = nullptr;        // rooted at root; owned
  FileSystem* output_fs = nullptr;       // input_fs itself, or owned separately
  int trace_version = 0;                 // 1: version 1.1, 2: version 2.1
};

// The per-file record handed to the back end's new_file and end_file.
struct FilePaths {
  std::string input_path;   // relative to the root of input_fs
  std::string output_base;  // relative to the root of output_fs, no extension

  // Asked by the driver when the input will be deleted: end_file flushes the
  // kept output file (and its folder when the file is new) to stable storage.
  bool sync_output = false;
  // Set by end_file when the output file it kept has reached stable storage.
  bool output_synced = false;
};

// The state of one run. Created by job_new; borrows everything but its own
// string.
struct ConversionJob {
  FileSystem* input_fs = nullptr;
  FileSystem* output_fs = nullptr;
  bool make_dirs = false;         // create each output file's folder first
  uint64_t frame_count = 0;       // frames handed to the back end in the whole run
  const RunOptions* options = nullptr;
  OutputBackend* writer = nullptr;  // the trace writer, through its operation table
  std::string last_logger_id;     // identity of the last accepted header
  int32_t last_session_no = 0;
  int32_t last_split_no = 0;
  LogReader* log = nullptr;       // reader of the file being converted

  // Output bases written in this run, each with the input it was written
  // for, so that two inputs never write the same trace file. Two files can
  // only share an output when they are siblings (a.txt and a.TXT), so one
  // level is kept per folder being walked (the command-line inputs form the
  // first level) and dropped when that folder is done: memory follows the
  // width of one folder times the depth, not the size of the tree.
  std::vector<std::map<std::string, std::string>> written_outputs;
};
