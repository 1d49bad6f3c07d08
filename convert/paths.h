// Path texts: normalising what the user typed, settling the common root of
// all inputs, and the names of the output tree.
//
// A path is a byte string. After path_normalize the only separator is "/",
// an absolute path begins with "/", an existing folder ends in "/" and an
// existing regular file does not. Dot and dot-dot components stay as typed.
#pragma once

#include <string>
#include <string_view>

struct RunConfig;

// Rewrites path in place: backslashes become "/", one pass folds "//" into
// "/", a relative path is joined to the current folder (".." alone becomes
// the empty text), and a "/" is appended to an existing folder or removed from
// an existing file. A failed status query logs "Could not stat path %s" at
// error level and leaves the text as far as it got. No result.
void path_normalize(std::string& path);

// Replaces out with the process's current folder, ending in "/", normalised.
// False when the folder cannot be had within 2048 bytes (out is then empty).
bool current_folder(std::string& out);

// True when text is non-empty and begins with "/".
bool path_is_absolute(std::string_view text);

// The part after the last "/": the whole text without "/", empty when the
// text ends in "/". A view into text.
std::string_view path_base_name(std::string_view text);

// The part of the base name after its last "."; the whole base name when it
// holds no ".". A view into text.
std::string_view path_extension(std::string_view text);

// The text through its last "/", empty when it holds none. A view into text.
std::string_view path_folder(std::string_view text);

// True when extension, lower-cased character by character as UTF-8 (Unicode
// simple case mapping), equals "txt". Invalid UTF-8 is never "txt".
bool path_extension_is_txt(std::string_view extension);

// The output name of a folder named on the command line: "_out" inserted in
// front of the first "/" (name/ gives name_out/), or appended when the text
// holds no "/". Returns the new text.
std::string path_with_out_suffix(std::string_view folder);

// Appends to out the child path of parent and name: parent, then "/" unless
// parent is empty or already ends in "/", then name.
void path_append_child(std::string& out, std::string_view parent, std::string_view name);

// The output base of an output name: the name without its last "." and
// extension. When the base name holds no "." (or the extension is empty) the
// whole name is the base, so a file named "txt" keeps its folder. A view into
// output_name.
std::string_view path_output_base(std::string_view output_name);

// Finds the one folder that holds every input, stores it in config->root,
// makes every input relative to it, and creates config->input_fs and
// config->output_fs (the same object unless an output directory was given).
// Returns true on success. On failure it returns false having set *status to
// 132 (no input, an input without a parent: fatal "Could not find root for
// %.*s", several parents: fatal "No common root detected for all inputs"), or
// leaving *status untouched (the root is no folder; the output directory is
// refused: error "Invalid output path: %s").
bool settle_common_root(RunConfig* config, int* status);
