// One output format: its name on the command line, its file extension, and
// a writer of one output file, made for each file. The writer writes through
// an OutputSink, which keeps any failure; nothing but the writer knows the
// format.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "output/output_sink.h"
#include "frame/can_frame.h"

// write_frames by writer.write, which a writer of a final class calls
// without looking it up.
template <typename Writer>
inline size_t write_each(Writer& writer, const CanFrame* frames, size_t count, const OutputSink& sink) {
  for (size_t i = 0; i < count; ++i) {
    writer.write(frames[i]);
    if (!sink.ok()) return i + 1;
  }
  return count;
}

class FormatWriter {
 public:
  virtual ~FormatWriter() = default;

  // The output's first frame has come: writes the file header (if the format
  // has one). Called once, before the first write.
  virtual void begin(const CanFrame& first) = 0;
  // Writes one frame (the first one too, after begin).
  virtual void write(const CanFrame& frame) = 0;
  // Writes frames[0, count) one after the other until sink (the writer's)
  // fails; returns how many were written, the one during which it failed
  // included.
  virtual size_t write_frames(const CanFrame* frames, size_t count, const OutputSink& sink) {
    return write_each(*this, frames, count, sink);
  }
  // After the last frame: writes what ends the file (a footer, or the final
  // values of its header). Called only when begin was.
  virtual void end() = 0;

  // An output that joins several inputs (the splits of a session) is marked
  // after each whole input: write_held first writes what the writer keeps
  // back (a format that holds frames before it writes them), so that the
  // sink's size() is the place to come back to; mark then remembers the
  // writer's state there, unless the sink failed on the way (then the mark
  // before stays). rollback forgets every frame written since the last mark
  // (the caller cuts the sink back to that size), so that end can follow as
  // if they had never come. Called only after begin; rollback only after a
  // mark.
  virtual void write_held() {}
  virtual void mark() = 0;
  virtual void rollback() = 0;
};

struct OutputFormat {
  std::string_view name;       // on the command line ("version2"), lower case
  std::string_view extension;  // of the output files (".trc")
  // A writer of one output file into sink (which outlives it).
  std::unique_ptr<FormatWriter> (*make_writer)(OutputSink& sink);
};
