// The back end of every output format that is written as lines of text: one
// output file per input file, under a temporary name until it is complete,
// its header written at the first frame, one line per frame, a footer at the
// end. A format is a table of its own writers (TextFormat); everything else is
// the same for all formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "fs/file_system.h"
#include "fs/pending_file.h"
#include "output/backend.h"
#include "reader/can_frame.h"
#include "stream/stream.h"

struct TextOutput;

// One output format's writers.
struct TextFormat {
  const char* extension;  // ".trc"
  // Appends the file header for the first frame (written when it comes);
  // nullptr for none.
  void (*append_header)(std::string* text, const CanFrame& first);
  // The back end's record operation: text_output_record of the format's
  // frame line writer.
  bool (*record)(OutputBackend* backend, const CanFrame* frame, uint64_t frame_count);
  // Appends the lines after the last frame; nullptr for none.
  void (*append_footer)(std::string* text);
};

struct TextOutput : OutputBackend {
  FileSystem* output_fs;     // borrowed
  const TextFormat* format;  // static
  PendingFile file;          // the output being written; file.stream is nullptr between input files
  std::string output_path;   // relative to output_fs, extension included
  bool header_written;       // the current file has its header
  double start_time;         // the first frame's timestamp
  int64_t message_number;    // number of the next frame line; 1 at new_file
  std::string line_buffer;   // reused for the header and for lines built the slow way
};

// Creates the back end of a format, writing through output_fs (borrowed).
// Returns nullptr when memory runs out.
TextOutput* text_output_new(FileSystem* output_fs, const TextFormat* format);

// Begins the current output at its first frame: sets the start time and
// writes the header. False (after logging) when no output is open or the
// write failed.
bool text_output_begin(TextOutput* output, const CanFrame& first);

// The record operation of a format whose frame line writer is kWriteFrame:
// frames of other kinds are passed over; the first frame writes the header;
// each frame is handed to kWriteFrame, which writes its line through the
// helpers below and returns false when the write came up short (a frame the
// format cannot express it may pass over, returning true without using a
// message number). Instantiated in the format's own file, so that the line
// writer is inlined into it.
template <bool (*kWriteFrame)(TextOutput* output, const CanFrame& frame)>
bool text_output_record(OutputBackend* backend, const CanFrame* frame, uint64_t) {
  TextOutput* output = static_cast<TextOutput*>(backend);
  if (!is_bus_frame(*frame)) return true;
  if (!output->header_written && !text_output_begin(output, *frame)) return false;
  return kWriteFrame(output, *frame);
}

// Writes count bytes to the current output; false (after logging "Could not
// write CAN data") when they did not all go out.
bool text_output_write(TextOutput* output, const char* bytes, size_t count);

// Writes the line buffer to the current output, as text_output_write.
bool text_output_write_buffer(TextOutput* output);

// Writes one line built by a fast writer straight into the output stream's
// buffer, or by the same writer on the stack and then copied, or, when the
// fast writer declines the values (returns nullptr), by the reference writer
// into the line buffer. kRoom is the room the fast writer needs.
template <size_t kRoom, typename Fast, typename Reference>
inline bool text_output_line(TextOutput* output, Fast fast, Reference reference) {
  if (char* space = stream_write_space(output->file.stream, kRoom)) {
    if (const char* end = fast(space)) {
      stream_commit_write(output->file.stream, static_cast<size_t>(end - space));
      return true;
    }
  } else {
    char text[kRoom];
    if (const char* end = fast(text)) return text_output_write(output, text, static_cast<size_t>(end - text));
  }
  output->line_buffer.clear();
  reference(&output->line_buffer);
  return text_output_write_buffer(output);
}
