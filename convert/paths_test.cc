#include "convert/paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/virtual_file_system.h"

namespace {

TEST(PathNormalizeTest, Rules) {
  VirtualFileSystem host("/");
  host.current_folder = "/home/u";
  host.add_folder("home/u/logs/sub");
  host.add_file("home/u/a.txt");
  const std::string here = "/home/u/";
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"logs", here + "logs/"},
      {"logs/", here + "logs/"},
      {"a.txt", here + "a.txt"},
      {"missing.txt", here + "missing.txt"},
      {"missing/", here + "missing/"},
      {"", here},          // the current folder itself
      {".", here + "./"},  // stays in the text
      {"logs\\\\sub\\", here + "logs/sub/"},
      // One pass folds doubled separators.
      {"/a//b", "/a/b"},
      {"/a///b", "/a//b"},
      {"/a////b", "/a//b"},
      {"..", ""},
      {"../x", here + "../x"},
  };
  for (const auto& [typed, expected] : rows) {
    std::string text = typed;
    path_normalize(&host, text);
    EXPECT_EQ(text, expected) << typed;
  }
  std::string current = "stale text";
  ASSERT_TRUE(current_folder(&host, current));
  EXPECT_EQ(current, here);
}

TEST(CommonRootTest, OneParentFolderOrWhyNot) {
  struct Row {
    std::vector<std::string> inputs;
    RootSearch result;
    std::string root;
    size_t culprit;
  };
  for (const Row& row : std::vector<Row>{
           // One parent (also for a folder and a duplicate).
           {{"/d/a.txt", "/d/sub/", "/d/a.txt"}, RootSearch::kFound, "/d/", 0},
           // Nothing below the file-system root has a parent.
           {{"/d/a.txt", "/data/"}, RootSearch::kNoParent, "", 1},
           {{"/"}, RootSearch::kNoParent, "", 0},
           {{""}, RootSearch::kNoParent, "", 0},
           {{}, RootSearch::kNoParent, "", 0},
           // A folder with its own file has two parents.
           {{"/d/logs/", "/d/logs/a.txt"}, RootSearch::kSeveralParents, "", 0},
       }) {
    std::string root;
    size_t culprit = 99;
    EXPECT_EQ(find_common_root(row.inputs, &root, &culprit), row.result) << ::testing::PrintToString(row.inputs);
    EXPECT_EQ(root, row.root);
    if (row.result == RootSearch::kNoParent) {
      EXPECT_EQ(culprit, row.culprit);
    }
  }
}

TEST(PathTextTest, ViewsOfTheText) {
  struct Row {
    std::string text, base_name, extension, folder, output_base;
  };
  for (const Row& row : std::vector<Row>{
           {"a/b/c.txt", "c.txt", "txt", "a/b/", "a/b/c"},
           {"x.tar.txt", "x.tar.txt", "txt", "", "x.tar"},
           {"day2_out/B.TXT", "B.TXT", "TXT", "day2_out/", "day2_out/B"},
           {".txt", ".txt", "txt", "", ""},
           {"dir.d/.hidden.txt", ".hidden.txt", "txt", "dir.d/", "dir.d/.hidden"},
           {"a.", "a.", "", "", "a."},
           // A base name without "." is its own extension, and the output
           // base keeps the whole name with its folder.
           {"txt", "txt", "txt", "", "txt"},
           {"logs_out/txt", "txt", "txt", "logs_out/", "logs_out/txt"},
           {"a.b/txt", "txt", "txt", "a.b/", "a.b/txt"},
           {"dir/", "", "", "dir/", "dir/"},
       }) {
    EXPECT_EQ(path_base_name(row.text), row.base_name) << row.text;
    EXPECT_EQ(path_extension(row.text), row.extension) << row.text;
    EXPECT_EQ(path_folder(row.text), row.folder) << row.text;
    EXPECT_EQ(path_output_base(row.text), row.output_base) << row.text;
  }
}

TEST(PathTextTest, TxtExtensionIgnoresLetterCaseAndNothingElse) {
  for (const char* yes : {"txt", "TXT", "tXt"}) EXPECT_TRUE(path_extension_is_txt(yes)) << yes;
  for (const char* no : {"", "tx", "txt ", "txtt", "csv",
                         "\xEF\xBC\xB4XT",  // a fullwidth T lowers to no "t"
                         "t\x80t", "tx\xC3",  // invalid UTF-8
                         "\xC1\xB4xt"}) {     // an overlong "t"
    EXPECT_FALSE(path_extension_is_txt(no)) << no;
  }
}

TEST(PathTextTest, OutputNamesOfFoldersAndChildren) {
  EXPECT_EQ(path_with_out_suffix("day2/"), "day2_out/");
  EXPECT_EQ(path_with_out_suffix("day2"), "day2_out");
  EXPECT_EQ(path_with_out_suffix("./"), "._out/");
  for (const auto& [parent, child] : std::vector<std::pair<std::string, std::string>>{
           {"logs/", "logs/a.txt"}, {"logs/sub", "logs/sub/a.txt"}, {"", "a.txt"}}) {
    std::string out;
    path_append_child(out, parent, "a.txt");
    EXPECT_EQ(out, child) << parent;
  }
}

}  // namespace
