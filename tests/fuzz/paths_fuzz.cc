// The path texts over arbitrary bytes: the text views, the UTF-8 extension
// test, the "_out" rule, child paths, the output base, normalising and the
// common root.
//
// Checked: every view lies inside its text and splits it as its contract
// says; the output base never reaches into the folder part of a name, so a
// trace file always lands in its input's output folder; normalising never
// leaves a backslash and keeps an absolute text absolute; a settled root
// is the beginning of every input and ends in "/".
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fs/file_system.h"
#include "convert/paths.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

bool inside(std::string_view view, std::string_view text) {
  return view.data() >= text.data() && view.data() + view.size() <= text.data() + text.size();
}

void check_views(std::string_view text) {
  std::string_view base = path_base_name(text);
  std::string_view folder = path_folder(text);
  std::string_view extension = path_extension(text);
  CHECK(inside(base, text) && inside(folder, text) && inside(extension, text));
  CHECK(path_is_absolute(text) == (!text.empty() && text[0] == '/'));

  // The folder (through the last "/") and the base name (after it) make up
  // the text.
  CHECK(base.find('/') == std::string_view::npos);
  CHECK(folder.size() + base.size() == text.size());
  CHECK(folder.data() == text.data() && base.data() == text.data() + folder.size());
  CHECK(folder.empty() || folder.back() == '/');

  // The extension ends the base name and holds no "."; it is the whole base
  // name exactly when that holds no ".".
  CHECK(extension.find('.') == std::string_view::npos);
  CHECK(extension.data() + extension.size() == base.data() + base.size());
  const bool dotted = base.find('.') != std::string_view::npos;
  CHECK(dotted ? extension.size() < base.size() && extension.data()[-1] == '.' : extension == base);

  // The output base cuts the last "." and extension off the base name, or
  // nothing; never a character of the folder part.
  std::string_view output_base = path_output_base(text);
  CHECK(output_base.data() == text.data());
  CHECK(output_base.size() >= folder.size());
  if (dotted && !extension.empty()) {
    CHECK(output_base.size() + 1 + extension.size() == text.size());
  } else {
    CHECK(output_base.size() == text.size());
  }

  // Only "txt" in some letter case is a text log's extension; an ASCII
  // extension of any other spelling is not.
  bool ascii = true;
  std::string lower;
  for (char c : extension) {
    ascii &= static_cast<unsigned char>(c) < 0x80;
    lower.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  if (ascii) CHECK(path_extension_is_txt(extension) == (lower == "txt"));

  // "_out" goes in front of the first "/", or at the end.
  std::string out = path_with_out_suffix(text);
  CHECK(out.size() == text.size() + 4);
  size_t slash = text.find('/');
  size_t at = slash == std::string_view::npos ? text.size() : slash;
  CHECK(out.compare(0, at, text.substr(0, at)) == 0);
  CHECK(out.compare(at, 4, "_out") == 0);
  CHECK(out.compare(at + 4, std::string::npos, text.substr(at)) == 0);
}

void check_child(std::string_view parent, std::string_view name) {
  std::string child = "kept";
  path_append_child(child, parent, name);
  CHECK(child.compare(0, 4, "kept") == 0);
  std::string_view added = std::string_view(child).substr(4);
  CHECK(added.substr(0, parent.size()) == parent);
  const bool slash = !parent.empty() && parent.back() != '/';
  CHECK(added.size() == parent.size() + (slash ? 1 : 0) + name.size());
  if (slash) CHECK(added[parent.size()] == '/');
  CHECK(added.substr(added.size() - name.size()) == name);
}

void check_normalize(std::string_view text) {
  // Only absolute texts: a relative one is joined to the current folder,
  // which says nothing more about the rules.
  std::string path(text);
  path.insert(path.begin(), '/');
  FileSystem host{&real_file_system_ops, "/"};
  path_normalize(&host, path);
  CHECK(path.find('\\') == std::string::npos);
  CHECK(path_is_absolute(path));
  // A text with nothing to fold changes at most by its final "/".
  std::string typed = "/" + std::string(text);
  if (typed.find('\\') == std::string::npos && typed.find("//") == std::string::npos &&
      typed.find('\0') == std::string::npos) {
    std::string bare = path;
    if (bare.size() > 1 && bare.back() == '/' && typed.back() != '/') bare.pop_back();
    if (typed.size() > 1 && typed.back() == '/' && bare.back() != '/') bare.push_back('/');
    CHECK(bare == typed);
  }
}

void check_common_root(FuzzInput& in) {
  std::vector<std::string> typed;
  for (int i = 0; i < 4 && !in.empty(); ++i) typed.emplace_back(in.take_text());
  std::string root;
  size_t culprit = 0;
  if (find_common_root(typed, &root, &culprit) == RootSearch::kFound) {
    CHECK(!root.empty() && root.back() == '/');
    for (const std::string& input : typed) CHECK(input.compare(0, root.size(), root) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  std::string_view first = in.take_text();
  std::string_view second = in.take_text();
  check_views(first);
  check_views(second);
  check_child(first, second);
  check_normalize(first);
  check_common_root(in);
  return 0;
}
