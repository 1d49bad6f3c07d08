#include "convert/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/run_records.h"
#include "convert/file_system.h"
#include "tests/support/test_support.h"

namespace {

// A temporary folder that is the current folder while the test runs.
class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    previous_ = previous;
    ASSERT_EQ(chdir(temp_.path().c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(chdir(previous_.c_str()), 0); }
  test_support::TempFolder temp_;
  std::string previous_;
};

TEST_F(PathsTest, NormalizeRules) {
  ASSERT_TRUE(temp_.make_folders("logs/sub"));
  ASSERT_TRUE(temp_.write("a.txt", ""));
  const std::string here = temp_.path();
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"logs", here + "logs/"},
      {"logs/", here + "logs/"},
      {"a.txt", here + "a.txt"},
      // The system refuses the status of a file named with a trailing "/"
      // (ENOTDIR): the text stays as it is.
      {"a.txt/", here + "a.txt/"},
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
    path_normalize(text);
    EXPECT_EQ(text, expected) << typed;
  }
  std::string current = "stale text";
  ASSERT_TRUE(current_folder(current));
  EXPECT_EQ(current, here);
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

TEST_F(PathsTest, SettleCommonRoot) {
  ASSERT_TRUE(temp_.make_folders("d/sub"));
  ASSERT_TRUE(temp_.write("d/a.txt", ""));
  const std::string d = temp_.at("d/");
  struct Row {
    std::vector<std::string> inputs;
    bool ok;
    int status;
    std::string root;
    std::vector<std::string> relative;
  };
  for (const Row& row : std::vector<Row>{
           // One parent (also for a folder and a duplicate), order kept.
           {{d + "a.txt", d + "sub/", d + "a.txt"}, true, 129, d, {"a.txt", "sub/", "a.txt"}},
           // Nothing below the file-system root has a parent. Two parents, a
           // folder with its own file and a file in "/" fail in real runs
           // (tests/cli/placement.sh).
           {{"/data/"}, false, 132, "", {}},
           {{"/"}, false, 132, "", {}},
           {{""}, false, 132, "", {}},
           {{}, false, 132, "", {}},
           // A root that is no folder keeps the default status.
           {{temp_.at("nowhere/a.txt")}, false, 129, temp_.at("nowhere/"), {"a.txt"}},
       }) {
    RunConfig config;
    config.inputs = row.inputs;
    int status = 129;
    EXPECT_EQ(settle_common_root(&config, &status), row.ok) << ::testing::PrintToString(row.inputs);
    EXPECT_EQ(status, row.status) << ::testing::PrintToString(row.inputs);
    if (!row.root.empty()) {
      EXPECT_EQ(config.root, row.root);
      EXPECT_EQ(config.inputs, row.relative);
    }
    ASSERT_EQ(config.input_fs != nullptr, row.ok);
    if (row.ok) {
      EXPECT_EQ(config.input_fs->root, row.root);
    }
    EXPECT_EQ(config.output_fs, config.input_fs);
    fs_free(config.input_fs);
  }
}

}  // namespace
