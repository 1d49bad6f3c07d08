// One output format: a writer of one output file, made for each file by the
// format's entry in the registry of formats. It writes through an
// OutputSink, which keeps any failure.
#pragma once

#include "reader/can_frame.h"

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
};
