// The output back end's two operation tables: OutputBackend, through which
// the conversion driver hands over files and frames, and OptionExtension,
// through which the option parser lets the output formats add their option.
// The driver knows the output only through these; it knows no format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CanFrame;

// One output file: what the driver asks for, and what the back end tells it.
struct OutputFile {
  // Asked by the driver before new_file.
  std::string output_base;       // relative to the output root, without extension
  bool durable = false;          // the input will be removed: see end_file
  bool continues_previous = false;
  // Asked by the driver before end_file: the input failed part-way, so what
  // was written is not the whole of it and must not take the final name.
  bool abandon = false;

  // Set by new_file: the output's name, relative to the output root, with the
  // format's extension.
  std::string output_path;

  // Set by end_file.
  bool kept = false;            // a complete output stands at output_path
  bool other_content = false;   // durable only: another file stood at output_path and was kept
  bool link_at_name = false;    // durable only: a link stood at output_path and was kept
  uint64_t frames = 0;          // frame lines written
};

// A back end object begins with these slots. A fresh object holds do-nothing
// operations that return false; a real back end installs its own.
struct OutputBackend {
  // Hands one frame over; frame_count is the run's running frame number.
  // False stops the conversion of the current input file.
  bool (*record)(OutputBackend* backend, const CanFrame* frame, uint64_t frame_count);
  // Begins the output for one input file; the output is written under a
  // temporary name until end_file.
  bool (*new_file)(OutputBackend* backend, OutputFile* file);
  // Finishes the output for one input file; called after every new_file,
  // also a failed one. An output with frames is moved to output_path; one
  // without, or one abandoned, leaves nothing. Durable: the output reaches stable storage before
  // it is moved and its folder after, and nothing already at output_path is
  // ever replaced (a file with the same bytes counts as this output, made as
  // durable; a link never does).
  bool (*end_file)(OutputBackend* backend, OutputFile* file);
  // Releases the back end (closing an output still open, which then leaves
  // nothing behind).
  void (*release)(OutputBackend* backend);
};

// Installs the do-nothing operations, each of which returns false.
void output_backend_init(OutputBackend* backend);

// Releases a back end through its release slot; accepts nullptr.
void output_backend_free(OutputBackend* backend);

// The output chosen on the command line: its format's number, 0 until the
// format option has settled it.
struct OutputSettings {
  int format = 0;
};

// The option table being built: argtable descriptors, in table order.
using OptionTable = std::vector<void*>;

// Command-line extension of the output formats; any slot may be empty
// (nullptr) and callers skip an empty slot.
struct OptionExtension {
  // Appends the option(s) to the table; they fill settings while the command
  // line is parsed. False ends parsing.
  bool (*add_options)(OutputSettings* settings, OptionTable* table);
  // Called after the command line is parsed and validated; its result becomes
  // the result of parsing.
  bool (*after_parse)(OutputSettings* settings);
  // Called when the configuration is released.
  void (*release)(OutputSettings* settings);
};
