// What a conversion run is made of: the options it was asked for, and what
// every converting thread shares. Each thread adds only the queue of help it
// may give to a large log (WorkQueue).
#pragma once

#include <cstdint>

class FileSystem;
class OutputTree;
class RunObserver;
struct OutputFormat;

// The switches of a conversion run.
struct RunOptions {
  bool delete_converted = false;  // remove each input once everything in it is safely in its output
  bool no_append_root = false;    // no "_out" after a folder named on the command line
  int64_t buffer_size = -1;       // read window: 0 none, negative the whole file (capped)
  int jobs = 1;                   // files converted at the same time
  bool join_splits = false;       // a session's split logs into one output
};

// What the converting threads share; everything borrowed, and safe to use
// from several threads at once.
struct ConversionRun {
  FileSystem* input_fs = nullptr;        // the logs, below the common root of the inputs
  OutputTree* outputs = nullptr;         // the outputs, below the output root
  const OutputFormat* format = nullptr;  // what every output is written as
  RunOptions options;
  RunObserver* observer = nullptr;       // told what happens; may be missing
};
