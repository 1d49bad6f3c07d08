// Path texts: normalising what the user typed, settling the common root of
// all inputs, and the names of the output tree.
//
// A path is a byte string. After path_normalize the only separator is "/",
// an absolute path begins with "/", an existing folder ends in "/" and an
// existing regular file does not. Dot and dot-dot components stay as typed.
#pragma once

#include <string>
#include <string_view>
#include <vector>


// Rewrites path in place: backslashes become "/", one pass folds "//" into
// "/", a relative path is joined to the current folder (".." alone becomes
// the empty text), and a "/" is appended to an existing folder or removed from
// an existing file. A failed status query logs "Could not stat path %s" at
// error level and leaves the text as far as it got. No result.
void path_normalize(std::string& path);

// Replaces out with the process's current folder, ending in "/",
// normalised. False when the folder cannot be had (out is then empty).
bool path_current_folder(std::string& out);

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

// How the inputs' common root was found.
enum class RootSearch {
  kFound,           // *root holds it
  kNoParent,        // the input at *culprit has no parent folder
  kSeveralParents,  // the inputs lie in more than one folder
};

// Finds the one folder that holds every input (normalised paths): the text of
// each input through the "/" before its last component. An empty input list
// has no parent.
RootSearch find_common_root(const std::vector<std::string>& inputs, std::string* root, size_t* culprit);
