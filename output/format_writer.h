// One output format: its name on the command line, its file extension, and
// a writer of one output file, made for each file. The writer writes through
// an OutputSink, which keeps any failure; nothing but the writer knows the
// format.
#pragma once

#include <memory>
#include <string_view>

#include "output/output_sink.h"
#include "frame/can_frame.h"

class FormatWriter {
 public:
  virtual ~FormatWriter() = default;

  // The output's first frame has come: writes the file header (if the format
  // has one). Called once, before the first write.
  virtual void begin(const CanFrame& first) = 0;
  // Writes one frame (the first one too, after begin).
  virtual void write(const CanFrame& frame) = 0;
  // After the last frame: writes what ends the file (a footer, or the final
  // values of its header). Called only when begin was.
  virtual void end() = 0;

  // An output that joins several inputs (the splits of a session) is marked
  // after each whole input: mark hands on everything written so far, so
  // that the sink's size() is the place to come back to; rollback forgets
  // every frame written since the last mark (the caller cuts the sink back
  // to that size), so that end can follow as if they had never come. Called
  // only after begin; rollback only after a mark.
  virtual void mark() = 0;
  virtual void rollback() = 0;
};

struct OutputFormat {
  std::string_view name;       // on the command line ("version2"), lower case
  std::string_view extension;  // of the output files (".trc")
  // A writer of one output file into sink (which outlives it).
  std::unique_ptr<FormatWriter> (*make_writer)(OutputSink& sink);
};
