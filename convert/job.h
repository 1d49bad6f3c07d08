// The records of a conversion run: the switches the driver reads, the paths
// of one file, and the state of the run.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "output/backend.h"

struct FileSystem;
struct LogReader;
class RunObserver;

// The switches that the conversion driver reads.
struct RunOptions {
  bool delete_converted = false;  // remove each input once everything in it is safely in its output
  bool no_append_root = false;    // no "_out" after a folder named on the command line
  bool non_interactive = false;   // no progress output
  int64_t buffer_size = -1;       // read window: 0 none, negative the whole file (capped)
};

// The per-file record: the input, and the output asked of the back end.
struct FilePaths {
  std::string input_path;  // relative to the root of input_fs
  OutputFile output;       // output_base relative to the root of output_fs
};

// An output written in this run, and the input it was written for.
struct WrittenOutput {
  std::string input_path;
  std::string output_path;
};

// The state of one run. Created by job_new; borrows everything but its own
// records.
struct ConversionJob {
  FileSystem* input_fs = nullptr;
  FileSystem* output_fs = nullptr;
  bool make_dirs = false;          // create each output file's folder first
  uint64_t frame_count = 0;        // frames handed to the back end in the whole run
  const RunOptions* options = nullptr;
  OutputBackend* writer = nullptr;  // the output back end, through its operation table
  std::string last_logger_id;      // identity of the last accepted header
  int32_t last_session_no = 0;
  int32_t last_split_no = 0;
  LogReader* log = nullptr;        // reader of the file being converted
  RunObserver* observer = nullptr;  // told what happens; may be missing

  // Output bases written in this run, each with the input it was written
  // for, so that two inputs never write the same output. Two files can only
  // share an output when they are siblings (a.txt and a.TXT), so one level is
  // kept per folder being walked (the command-line inputs form the first
  // level) and dropped when that folder is done: memory follows the width of
  // one folder times the depth, not the size of the tree.
  std::vector<std::map<std::string, WrittenOutput>> written_outputs;

  // The folders being walked, outermost first, by device and inode: a folder
  // link that leads back to one of them is not entered.
  std::vector<std::pair<uint64_t, uint64_t>> walk_path;

  // Output folders this run made whose own entry (in their parent) has not
  // been synced to stable storage yet.
  std::set<std::string> unsynced_folders;
};

// A job that borrows the two file systems, the options and the writer.
// Returns nullptr when any of them is missing or memory runs out.
ConversionJob* job_new(FileSystem* input_fs, FileSystem* output_fs, bool make_dirs, const RunOptions* options,
                       OutputBackend* writer);

// Releases the job and nothing it borrows. Accepts nullptr.
void job_free(ConversionJob* job);
