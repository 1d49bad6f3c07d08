#include "convert/paths.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <set>

#include "fs/file_system.h"
#include "log/log.h"

namespace {

// The locale whose case mapping lowers extensions, or (locale_t)0 when the
// C library has no UTF-8 locale; then only ASCII letters are lowered.
locale_t utf8_locale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

// Decodes one UTF-8 character at text[*at], advancing *at. Returns the code
// point, or -1 for an invalid, overlong or truncated sequence.
int32_t next_code_point(std::string_view text, size_t* at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char first = byte(*at);
  if (first < 0x80) {
    ++*at;
    return first;
  }
  int extra;
  int32_t value;
  int32_t minimum;
  if ((first & 0xE0) == 0xC0) {
    extra = 1, value = first & 0x1F, minimum = 0x80;
  } else if ((first & 0xF0) == 0xE0) {
    extra = 2, value = first & 0x0F, minimum = 0x800;
  } else if ((first & 0xF8) == 0xF0) {
    extra = 3, value = first & 0x07, minimum = 0x10000;
  } else {
    return -1;
  }
  if (*at + extra >= text.size()) return -1;
  for (int i = 1; i <= extra; ++i) {
    unsigned char next = byte(*at + i);
    if ((next & 0xC0) != 0x80) return -1;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return -1;
  *at += extra + 1;
  return value;
}

int32_t lower_code_point(int32_t code_point) {
  if (code_point < 0x80) {
    return (code_point >= 'A' && code_point <= 'Z') ? code_point + ('a' - 'A') : code_point;
  }
  locale_t locale = utf8_locale();
  if (locale == static_cast<locale_t>(0)) return code_point;
  return static_cast<int32_t>(towlower_l(static_cast<wint_t>(code_point), locale));
}

// Position of the parent's final "/" for a typed input, or npos when it has
// none. Position 0 is never examined, so the leading "/" of an absolute path
// does not count.
size_t parent_end(std::string_view input) {
  size_t length = input.size();
  if (length == 0) return std::string_view::npos;
  size_t start;
  if (input[length - 1] == '/') {
    if (length == 1) return std::string_view::npos;
    start = length - 2;
  } else {
    start = length - 1;
  }
  for (size_t i = start; i >= 1; --i) {
    if (input[i] == '/') return i;
  }
  return std::string_view::npos;
}

}  // namespace

void path_normalize(std::string& path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  // One pass: each "//" found becomes "/" and the scan goes on after the two
  // characters it replaced, so "a///b" keeps one doubled separator.
  std::string folded;
  folded.reserve(path.size());
  for (size_t i = 0; i < path.size();) {
    if (path[i] == '/' && i + 1 < path.size() && path[i + 1] == '/') {
      folded.push_back('/');
      i += 2;
    } else {
      folded.push_back(path[i]);
      ++i;
    }
  }
  path.swap(folded);

  if (!path_is_absolute(path)) {
    std::string here;
    if (!path_current_folder(here)) return;
    // ".." alone resolves to nothing, as a file system rooted at the current
    // folder resolves it.
    if (path == "..") {
      path.clear();
    } else {
      path.insert(0, here);
    }
  }

  if (path.empty()) return;  // names nothing
  // The whole file system: an absolute path below its root "/".
  static FileSystem host("/");
  EntryInfo info{};
  if (!host.query(std::string_view(path).substr(path_is_absolute(path) ? 1 : 0), &info).ok()) {
    log_error("Could not stat path %s", path.c_str());
    return;
  }
  if (info.kind == ENTRY_FOLDER) {
    if (path.empty() || path.back() != '/') path.push_back('/');
  } else if (info.kind == ENTRY_FILE) {
    if (!path.empty() && path.back() == '/') path.pop_back();
  }
}

bool path_current_folder(std::string& out) {
  out.clear();
  if (!current_folder(&out).ok() || out.empty()) {
    out.clear();
    return false;
  }
  if (out.back() != '/') out.push_back('/');
  path_normalize(out);
  return true;
}

bool path_is_absolute(std::string_view text) { return !text.empty() && text.front() == '/'; }

std::string_view path_base_name(std::string_view text) {
  size_t slash = text.rfind('/');
  if (slash == std::string_view::npos) return text;
  return text.substr(slash + 1);
}

std::string_view path_extension(std::string_view text) {
  std::string_view base = path_base_name(text);
  size_t dot = base.rfind('.');
  if (dot == std::string_view::npos) return base;
  return base.substr(dot + 1);
}

std::string_view path_folder(std::string_view text) {
  size_t slash = text.rfind('/');
  if (slash == std::string_view::npos) return text.substr(0, 0);
  return text.substr(0, slash + 1);
}

bool path_extension_is_txt(std::string_view extension) {
  static constexpr char kTxt[] = "txt";
  size_t at = 0;
  size_t matched = 0;
  while (at < extension.size()) {
    int32_t code_point = next_code_point(extension, &at);
    if (code_point < 0) return false;
    if (matched == 3 || lower_code_point(code_point) != kTxt[matched]) return false;
    ++matched;
  }
  return matched == 3;
}

std::string path_with_out_suffix(std::string_view folder) {
  std::string name(folder);
  size_t slash = name.find('/');
  if (slash == std::string::npos) {
    name.append("_out");
  } else {
    name.insert(slash, "_out");
  }
  return name;
}

void path_append_child(std::string& out, std::string_view parent, std::string_view name) {
  out.append(parent);
  if (!parent.empty() && parent.back() != '/') out.push_back('/');
  out.append(name);
}

std::string_view path_output_base(std::string_view output_name) {
  std::string_view base_name = path_base_name(output_name);
  if (base_name.find('.') == std::string_view::npos) return output_name;
  std::string_view extension = path_extension(output_name);
  if (extension.empty()) return output_name;
  // The extension and its "." lie inside the base name, so the cut never
  // reaches into the folder part.
  return output_name.substr(0, output_name.size() - extension.size() - 1);
}

RootSearch find_common_root(const std::vector<std::string>& inputs, std::string* root, size_t* culprit) {
  std::set<std::string_view> parents;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const size_t end = parent_end(inputs[i]);
    if (end == std::string_view::npos) {
      *culprit = i;
      return RootSearch::kNoParent;
    }
    parents.insert(std::string_view(inputs[i]).substr(0, end + 1));
  }
  if (parents.size() != 1) {
    *culprit = 0;
    return parents.empty() ? RootSearch::kNoParent : RootSearch::kSeveralParents;
  }
  root->assign(*parents.begin());
  return RootSearch::kFound;
}
