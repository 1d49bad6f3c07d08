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
  // Appends the file header for the first frame (written when it comes).
  void (*append_header)(std::string* text, const CanFrame& first);
  // Writes one frame line through the helpers below; false when the write
  // came up short. A frame that the format cannot express may be passed
  // over: it then returns true without using a message number.
  bool (*write_frame)(TextOutput* output, const CanFrame& frame);
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
