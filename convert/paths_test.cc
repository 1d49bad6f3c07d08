#include "convert/paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/run_records.h"
#include "convert/file_system.h"

namespace {

// A temporary folder that is the current folder while the test runs.
class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/trcforge-paths-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    folder_ += "/";
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    previous_ = previous;
    ASSERT_EQ(chdir(folder_.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(previous_.c_str()), 0);
    std::string command = "rm -rf '" + folder_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  void make_folder(const std::string& name) {
    ASSERT_EQ(mkdir((folder_ + name).c_str(), 0700), 0);
  }
  void make_file(const std::string& name) {
    FILE* file = std::fopen((folder_ + name).c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
  }
  std::string folder_;  // absolute, ends in "/"
  std::string previous_;
};

using PathNormalizeTest = TempFolderTest;

std::string normalized(std::string text) {
  path_normalize(text);
  return text;
}

TEST_F(PathNormalizeTest, RelativePathsAreJoinedToTheCurrentFolderAndFoldersEndInSlash) {
  make_folder("logs");
  make_file("a.txt");
  EXPECT_EQ(normalized("logs"), folder_ + "logs/");
  EXPECT_EQ(normalized("logs/"), folder_ + "logs/");
  // The system refuses the status of a file named with a trailing "/"
  // (ENOTDIR): the text stays as it is.
  EXPECT_EQ(normalized("a.txt/"), folder_ + "a.txt/");
  EXPECT_EQ(normalized("missing.txt"), folder_ + "missing.txt");
  EXPECT_EQ(normalized("missing/"), folder_ + "missing/");
  // An empty argument is the current folder itself.
  EXPECT_EQ(normalized(""), folder_);
  // A single dot stays in the text; it names the current folder.
  EXPECT_EQ(normalized("."), folder_ + "./");
}

TEST_F(PathNormalizeTest, BackslashesAreSeparatorsAndDoubledSeparatorsFoldInOnePass) {
  make_folder("logs");
  make_folder("logs/sub");
  EXPECT_EQ(normalized("logs\\\\sub\\"), folder_ + "logs/sub/");
  EXPECT_EQ(normalized("/a///b"), "/a//b");
  EXPECT_EQ(normalized("/a////b"), "/a//b");
  EXPECT_EQ(normalized("/a//b"), "/a/b");
}

TEST_F(PathNormalizeTest, DotDotAloneBecomesEmptyAndLongerDotDotPathsStayAsTyped) {
  EXPECT_EQ(normalized(".."), "");
  EXPECT_EQ(normalized("../x"), folder_ + "../x");
}

TEST_F(PathNormalizeTest, CurrentFolderEndsInSlash) {
  std::string here = "stale text";
  ASSERT_TRUE(current_folder(here));
  EXPECT_EQ(here, folder_);
}

TEST(PathTextTest, BaseNameExtensionAndFolderAreViewsOfTheText) {
  EXPECT_EQ(path_base_name("a/b/c.txt"), "c.txt");
  EXPECT_EQ(path_base_name("c.txt"), "c.txt");
  EXPECT_EQ(path_base_name("dir/"), "");

  EXPECT_EQ(path_extension("a.txt"), "txt");
  EXPECT_EQ(path_extension("a.b.TXT"), "TXT");
  EXPECT_EQ(path_extension(".txt"), "txt");
  EXPECT_EQ(path_extension("a."), "");
  EXPECT_EQ(path_extension("txt"), "txt");
  EXPECT_EQ(path_extension("dir/"), "");
  EXPECT_EQ(path_extension("x.d/name"), "name");

  EXPECT_EQ(path_folder("a/b/c"), "a/b/");
  EXPECT_EQ(path_folder("a/"), "a/");
  EXPECT_EQ(path_folder("abc"), "");

  EXPECT_TRUE(path_is_absolute("/x"));
  EXPECT_FALSE(path_is_absolute("x/"));
  EXPECT_FALSE(path_is_absolute(""));
}

TEST(PathTextTest, TxtExtensionIgnoresLetterCaseAndNothingElse) {
  EXPECT_TRUE(path_extension_is_txt("txt"));
  EXPECT_TRUE(path_extension_is_txt("TXT"));
  EXPECT_TRUE(path_extension_is_txt("tXt"));
  EXPECT_FALSE(path_extension_is_txt(""));
  EXPECT_FALSE(path_extension_is_txt("tx"));
  EXPECT_FALSE(path_extension_is_txt("txt "));
  EXPECT_FALSE(path_extension_is_txt("txtt"));
  EXPECT_FALSE(path_extension_is_txt("csv"));
  // Non-ASCII letters lower to non-ASCII letters: a fullwidth T is no "t".
  EXPECT_FALSE(path_extension_is_txt("\xEF\xBC\xB4XT"));
  // Invalid UTF-8 (a lone continuation byte, a truncated sequence) is no "txt".
  EXPECT_FALSE(path_extension_is_txt("t\x80t"));
  EXPECT_FALSE(path_extension_is_txt("tx\xC3"));
  // An overlong encoding of "t" is not "t".
  EXPECT_FALSE(path_extension_is_txt("\xC1\xB4xt"));
}

TEST(PathTextTest, OutSuffixGoesBeforeTheFirstSlash) {
  EXPECT_EQ(path_with_out_suffix("day2/"), "day2_out/");
  EXPECT_EQ(path_with_out_suffix("day2"), "day2_out");
  EXPECT_EQ(path_with_out_suffix("./"), "._out/");
  EXPECT_EQ(path_with_out_suffix("u/"), "u_out/");
}

TEST(PathTextTest, ChildPathsGetOneSeparator) {
  std::string out;
  path_append_child(out, "logs/", "a.txt");
  EXPECT_EQ(out, "logs/a.txt");
  out.clear();
  path_append_child(out, "logs/sub", "b.txt");
  EXPECT_EQ(out, "logs/sub/b.txt");
  out.clear();
  path_append_child(out, "", "a.txt");
  EXPECT_EQ(out, "a.txt");
}

TEST(PathTextTest, OutputBaseCutsTheLastExtensionOnly) {
  EXPECT_EQ(path_output_base("x.txt"), "x");
  EXPECT_EQ(path_output_base("x.tar.txt"), "x.tar");
  EXPECT_EQ(path_output_base("day2_out/B.TXT"), "day2_out/B");
  EXPECT_EQ(path_output_base(".txt"), "");
  EXPECT_EQ(path_output_base("dir.d/.hidden.txt"), "dir.d/.hidden");
  // An empty extension keeps the whole name.
  EXPECT_EQ(path_output_base("a."), "a.");
  // A base name without "." keeps its folder and its whole name.
  EXPECT_EQ(path_output_base("logs_out/txt"), "logs_out/txt");
  EXPECT_EQ(path_output_base("txt"), "txt");
  EXPECT_EQ(path_output_base("a.b/txt"), "a.b/txt");
}

class SettleCommonRootTest : public TempFolderTest {
 protected:
  void TearDown() override {
    if (config_.output_fs != config_.input_fs) fs_free(config_.output_fs);
    fs_free(config_.input_fs);
    TempFolderTest::TearDown();
  }
  RunConfig config_;
  int status_ = 129;
};

TEST_F(SettleCommonRootTest, InputsBecomeRelativeToTheirOneParent) {
  make_folder("d");
  make_folder("d/sub");
  make_file("d/a.txt");
  config_.inputs = {folder_ + "d/a.txt", folder_ + "d/sub/", folder_ + "d/a.txt"};
  ASSERT_TRUE(settle_common_root(&config_, &status_));
  EXPECT_EQ(status_, 129);
  EXPECT_EQ(config_.root, folder_ + "d/");
  EXPECT_EQ(config_.inputs, (std::vector<std::string>{"a.txt", "sub/", "a.txt"}));
  ASSERT_NE(config_.input_fs, nullptr);
  EXPECT_EQ(config_.input_fs->root, folder_ + "d/");
  EXPECT_EQ(config_.output_fs, config_.input_fs);
}

TEST_F(SettleCommonRootTest, InputsInTwoFoldersHaveNoCommonRoot) {
  make_folder("d");
  make_folder("d/sub");
  config_.inputs = {folder_ + "d/a.txt", folder_ + "d/sub/b.txt"};
  EXPECT_FALSE(settle_common_root(&config_, &status_));
  EXPECT_EQ(status_, 132);
  EXPECT_EQ(config_.input_fs, nullptr);
}

TEST_F(SettleCommonRootTest, AFolderAndItsOwnFileHaveTwoParents) {
  make_folder("logs");
  config_.inputs = {folder_ + "logs/", folder_ + "logs/a.txt"};
  EXPECT_FALSE(settle_common_root(&config_, &status_));
  EXPECT_EQ(status_, 132);
}

TEST_F(SettleCommonRootTest, InputsDirectlyBelowTheFileSystemRootHaveNoParent) {
  for (const char* input : {"/a.txt", "/data/", "/", ""}) {
    RunConfig config;
    int status = 129;
    config.inputs = {input};
    EXPECT_FALSE(settle_common_root(&config, &status)) << input;
    EXPECT_EQ(status, 132) << input;
  }
  RunConfig empty;
  int status = 129;
  EXPECT_FALSE(settle_common_root(&empty, &status));
  EXPECT_EQ(status, 132);
}

TEST_F(SettleCommonRootTest, AMissingRootFolderKeepsTheDefaultStatus) {
  config_.inputs = {folder_ + "nowhere/a.txt"};
  EXPECT_FALSE(settle_common_root(&config_, &status_));
  EXPECT_EQ(status_, 129);
  EXPECT_EQ(config_.root, folder_ + "nowhere/");
  EXPECT_EQ(config_.inputs.front(), "a.txt");
}

TEST_F(SettleCommonRootTest, TheOutputDirectoryMustBeAnExistingFolder) {
  make_folder("d");
  make_folder("out");
  config_.inputs = {folder_ + "d/a.txt"};
  config_.output_dirs = {folder_ + "out/"};
  ASSERT_TRUE(settle_common_root(&config_, &status_));
  ASSERT_NE(config_.output_fs, nullptr);
  EXPECT_NE(config_.output_fs, config_.input_fs);
  EXPECT_EQ(config_.output_fs->root, folder_ + "out/");

  RunConfig missing;
  int status = 129;
  missing.inputs = {folder_ + "d/a.txt"};
  missing.output_dirs = {folder_ + "none/"};
  EXPECT_FALSE(settle_common_root(&missing, &status));
  EXPECT_EQ(status, 129);
  // The input file system was made before the output directory was refused;
  // it belongs to the configuration, which releases it.
  EXPECT_EQ(missing.output_fs, missing.input_fs);
  fs_free(missing.input_fs);
}

}  // namespace
