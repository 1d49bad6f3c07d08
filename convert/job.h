// The records of a conversion run: the switches the driver reads, the paths
// of one file, and the state of the run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>


struct FileSystem;
struct OutputFormat;
class RunObserver;

// The switches that the conversion driver reads.
struct RunOptions {
  bool delete_converted = false;  // remove each input once everything in it is safely in its output
  bool no_append_root = false;    // no "_out" after a folder named on the command line
  bool non_interactive = false;   // no progress output
  int64_t buffer_size = -1;       // read window: 0 none, negative the whole file (capped)
  int jobs = 1;                   // files converted at the same time
};

// Work that any converting thread may take on while it waits: the chunks of
// a large log, parsed by every thread at once.
class HelperQueue {
 public:
  virtual ~HelperQueue() = default;
  // Queues work for whichever thread comes first.
  virtual void push(std::function<void()> work) = 0;
  // Waits until done() holds, running queued work meanwhile. done() is
  // looked at whenever notify() was called.
  virtual void wait_until(const std::function<bool()>& done) = 0;
  // Wakes the waiters, to look at their conditions again.
  virtual void notify() = 0;
  // Threads that take queued work.
  virtual int threads() const = 0;
};

// Output folders whose own entry (in their parent) this run has synced to
// stable storage, and with it the entry of every folder above them up to the
// output root; shared by everyone converting. Held while syncing, so that no
// folder is synced twice.
struct OutputFolders {
  std::mutex mutex;
  std::set<std::string> synced;
};

// The state of one run, as one converting thread sees it. Created by job_new;
// borrows everything but its own records. A thread that converts beside the
// first one works with a copy.
struct ConversionJob {
  FileSystem* input_fs = nullptr;
  FileSystem* output_fs = nullptr;
  bool make_dirs = false;           // create each output file's folder first
  const RunOptions* options = nullptr;
  const OutputFormat* format = nullptr;  // what every output is written as
  RunObserver* observer = nullptr;  // told what happens; may be missing
  // The threads converting beside this one, to share the work of a large
  // log with; none when this thread converts alone.
  HelperQueue* helpers = nullptr;
  std::shared_ptr<OutputFolders> folders = std::make_shared<OutputFolders>();
};
// A job that borrows the two file systems, the options and the format.
// Returns nullptr when any of them is missing or memory runs out.
ConversionJob* job_new(FileSystem* input_fs, FileSystem* output_fs, bool make_dirs, const RunOptions* options,
                       const OutputFormat* format);

// Releases the job and nothing it borrows. Accepts nullptr.
void job_free(ConversionJob* job);
