#include "app/command_line.h"

#include <argtable2.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/run_records.h"
#include "convert/file_system.h"
#include "log/log.h"
#include "trace/backend.h"

namespace {

// Collects what is written to standard output while it lives.
class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    saved_ = dup(1);
    file_ = std::tmpfile();
    dup2(fileno(file_), 1);
  }
  ~StdoutCapture() {
    restore();
    std::fclose(file_);
  }
  std::string text() {
    restore();
    std::string out;
    std::rewind(file_);
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) out.append(buffer, n);
    return out;
  }

 private:
  void restore() {
    if (saved_ >= 0) {
      std::fflush(stdout);
      dup2(saved_, 1);
      close(saved_);
      saved_ = -1;
    }
  }
  int saved_ = -1;
  FILE* file_ = nullptr;
};

// A back-end extension for these tests: adds nothing, counts its calls and
// answers as told.
struct TestExtension {
  static inline int added = 0;
  static inline int after = 0;
  static inline bool add_result = true;
  static inline bool after_result = true;
  static bool add_options(RunConfig*, OptionTable*) {
    ++added;
    return add_result;
  }
  static bool after_parse(RunConfig*) {
    ++after;
    return after_result;
  }
};
const OptionExtension kTestExtension{TestExtension::add_options, TestExtension::after_parse,
                                     nullptr};

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/trcforge-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = std::string(pattern) + "/";
    ASSERT_EQ(mkdir((folder_ + "out").c_str(), 0700), 0);
    FILE* file = std::fopen((folder_ + "a.txt").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    TestExtension::added = TestExtension::after = 0;
    TestExtension::add_result = TestExtension::after_result = true;
    config_.hooks = &kTestExtension;
    log_set_level(LOG_NONE);
  }
  void TearDown() override {
    if (config_.output_fs != config_.input_fs) fs_free(config_.output_fs);
    fs_free(config_.input_fs);
    log_set_level(LOG_NONE);
    ASSERT_EQ(std::system(("rm -rf '" + folder_ + "'").c_str()), 0);
  }

  // Parses the arguments after the program name; returns the result.
  bool parse(std::initializer_list<std::string> arguments) {
    storage_.assign(1, "trcforge");
    storage_.insert(storage_.end(), arguments.begin(), arguments.end());
    argv_.clear();
    for (std::string& argument : storage_) argv_.push_back(argument.data());
    argv_.push_back(nullptr);
    return parse_command_line(&config_, static_cast<int>(storage_.size()), argv_.data(), &status_);
  }

  std::string folder_;
  RunConfig config_;
  int status_ = 129;
  std::vector<std::string> storage_;
  std::vector<char*> argv_;
};

TEST_F(CommandLineTest, ValidInputsSettleTheRootAndTheSwitches) {
  ASSERT_TRUE(parse({"-d", "-X", "--non-interactive", "-b", "64KB", "-O", folder_ + "out",
                     folder_ + "a.txt", folder_ + "missing.txt", folder_ + "a.txt"}));
  EXPECT_EQ(status_, 129);
  EXPECT_EQ(config_.root, folder_);
  EXPECT_EQ(config_.inputs, (std::vector<std::string>{"a.txt", "missing.txt", "a.txt"}));
  EXPECT_EQ(config_.output_dirs, std::vector<std::string>{folder_ + "out/"});
  ASSERT_NE(config_.output_fs, nullptr);
  EXPECT_EQ(config_.output_fs->root, folder_ + "out/");
  EXPECT_TRUE(config_.options.delete_converted);
  EXPECT_TRUE(config_.options.no_append_root);
  EXPECT_TRUE(config_.options.non_interactive);
  EXPECT_EQ(config_.options.buffer_size, 65536);
  EXPECT_EQ(log_level, LOG_ERROR);
  EXPECT_EQ(TestExtension::added, 1);
  EXPECT_EQ(TestExtension::after, 1);
}

TEST_F(CommandLineTest, DefaultsWithoutOptions) {
  ASSERT_TRUE(parse({folder_ + "a.txt"}));
  EXPECT_FALSE(config_.options.delete_converted);
  EXPECT_FALSE(config_.options.no_append_root);
  EXPECT_FALSE(config_.options.non_interactive);
  EXPECT_EQ(config_.options.buffer_size, -1);
  EXPECT_EQ(config_.output_fs, config_.input_fs);
  EXPECT_TRUE(config_.output_dirs.empty());
}

TEST_F(CommandLineTest, BufferValuesInArgtableIntegerSyntax) {
  for (const auto& [text, value] : std::vector<std::pair<std::string, int64_t>>{
           {"0", 0}, {"-1", -1}, {"65536", 65536}, {"0x100", 256}, {"2MB", 2097152}}) {
    RunConfig config;
    config.hooks = &kTestExtension;
    std::vector<std::string> storage{"trcforge", "--buffer=" + text, folder_ + "a.txt"};
    std::vector<char*> argv;
    for (std::string& argument : storage) argv.push_back(argument.data());
    int status = 129;
    ASSERT_TRUE(parse_command_line(&config, 3, argv.data(), &status)) << text;
    EXPECT_EQ(config.options.buffer_size, value) << text;
    fs_free(config.input_fs);
  }
}

TEST_F(CommandLineTest, VerbositySetsTheLogLevel) {
  const std::pair<int, int32_t> table[] = {
      {0, LOG_NONE}, {1, LOG_FATAL}, {2, LOG_ERROR}, {3, LOG_WARN}, {4, LOG_INFO}, {5, LOG_INFO}};
  for (const auto& [verbosity, level] : table) {
    RunConfig config;
    std::vector<std::string> storage{"trcforge", "--verbosity", std::to_string(verbosity),
                                     folder_ + "a.txt"};
    std::vector<char*> argv;
    for (std::string& argument : storage) argv.push_back(argument.data());
    int status = 129;
    log_set_level(77);
    ASSERT_TRUE(parse_command_line(&config, 4, argv.data(), &status)) << verbosity;
    EXPECT_EQ(log_level, level) << verbosity;
    fs_free(config.input_fs);
  }
}

TEST_F(CommandLineTest, VerbosityOutOfRangeExits131Silently) {
  for (const char* value : {"6", "-1"}) {
    RunConfig config;
    std::vector<std::string> storage{"trcforge", "--verbosity", value, folder_ + "a.txt"};
    std::vector<char*> argv;
    for (std::string& argument : storage) argv.push_back(argument.data());
    int status = 129;
    StdoutCapture out;
    EXPECT_FALSE(parse_command_line(&config, 4, argv.data(), &status));
    EXPECT_EQ(status, 131) << value;
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(log_level, LOG_NONE);
  }
}

TEST_F(CommandLineTest, ParseErrorsMapToStatuses) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string output;
  };
  const std::string a = folder_ + "a.txt";
  const std::vector<Case> cases = {
      {{a, "--verbosity"}, 130, ""},
      {{"-b", "abc", a}, 131, ""},
      {{"--verbosity=x", a}, 131, ""},
      {{"--foo", a}, 134, "trcforge: invalid option \"--foo\"\n"},
      {{"-d", "-d", a}, 134, "trcforge: extraneous option -d|--delete-converted\n"},
      {{"-d"}, 134, "trcforge: missing option file(s)/folder(s)\n"},
  };
  for (const Case& c : cases) {
    RunConfig config;
    config.hooks = &kTestExtension;
    std::vector<std::string> storage{"trcforge"};
    storage.insert(storage.end(), c.arguments.begin(), c.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : storage) argv.push_back(argument.data());
    int status = 129;
    StdoutCapture out;
    EXPECT_FALSE(parse_command_line(&config, static_cast<int>(argv.size()), argv.data(), &status));
    EXPECT_EQ(status, c.status) << storage[1];
    EXPECT_EQ(out.text(), c.output) << storage[1];
    // Checks, and so the collectors, do not run after an error.
    EXPECT_TRUE(config.inputs.empty()) << storage[1];
    EXPECT_EQ(TestExtension::after, 0);
  }
}

TEST_F(CommandLineTest, HelpWinsOverVersionAndVersionOverErrors) {
  {
    StdoutCapture out;
    EXPECT_FALSE(parse({"-v", "--help", "--foo"}));
    EXPECT_EQ(status_, 129);
    EXPECT_EQ(out.text().rfind("Usage: trcforge [-vdXi] [--help]", 0), 0u);
  }
  {
    StdoutCapture out;
    EXPECT_FALSE(parse({"--foo", "-v", "-v"}));
    EXPECT_EQ(status_, 0);
    std::string text = out.text();
    EXPECT_EQ(text.rfind("Version: ", 0), 0u);
    EXPECT_NE(text.find("\nBuild date: "), std::string::npos);
    EXPECT_NE(text.find("\nGIT SHA: "), std::string::npos);
  }
  EXPECT_TRUE(config_.inputs.empty());
  EXPECT_EQ(config_.input_fs, nullptr);
}

TEST_F(CommandLineTest, NoArgumentsPrintsHelp) {
  StdoutCapture out;
  std::vector<char*> argv{const_cast<char*>("trcforge"), nullptr};
  EXPECT_FALSE(parse_command_line(&config_, 1, argv.data(), &status_));
  EXPECT_EQ(status_, 129);
  std::string text = out.text();
  EXPECT_EQ(text.rfind("Usage: trcforge", 0), 0u);
  EXPECT_NE(text.find("\n\n  --help "), std::string::npos);
  EXPECT_NE(text.find("  -i, --input-files=<file(s)/folder(s)>    paths to input files/folders "
                      "(must have common root)\n"),
            std::string::npos);
}

TEST_F(CommandLineTest, RootFailures) {
  ASSERT_EQ(mkdir((folder_ + "sub").c_str(), 0700), 0);
  {
    log_set_level(LOG_NONE);
    EXPECT_FALSE(parse({folder_ + "a.txt", folder_ + "sub/b.txt"}));
    EXPECT_EQ(status_, 132);
  }
  {
    RunConfig config;
    std::vector<std::string> storage{"trcforge", "/x.txt"};
    std::vector<char*> argv{storage[0].data(), storage[1].data()};
    int status = 129;
    EXPECT_FALSE(parse_command_line(&config, 2, argv.data(), &status));
    EXPECT_EQ(status, 132);
  }
  {
    RunConfig config;
    std::vector<std::string> storage{"trcforge", "-O", folder_ + "none", folder_ + "a.txt"};
    std::vector<char*> argv;
    for (std::string& argument : storage) argv.push_back(argument.data());
    int status = 129;
    EXPECT_FALSE(parse_command_line(&config, 4, argv.data(), &status));
    EXPECT_EQ(status, 129);
    fs_free(config.input_fs);
  }
}

TEST_F(CommandLineTest, BackEndHooksDecide) {
  TestExtension::add_result = false;
  EXPECT_FALSE(parse({folder_ + "a.txt"}));
  EXPECT_EQ(status_, 129);
  EXPECT_TRUE(config_.inputs.empty());

  TestExtension::add_result = true;
  TestExtension::after_result = false;
  EXPECT_FALSE(parse({folder_ + "a.txt"}));
  EXPECT_EQ(status_, 129);
  EXPECT_EQ(TestExtension::after, 1);
}

TEST(PathOptionTest, CollectsNormalisedValuesAndWordsItsOwnErrors) {
  std::vector<std::string> target;
  arg_file* option = path_option_new(arg_filen(nullptr, nullptr, "<p>", 1, 3, nullptr), &target);
  ASSERT_NE(option, nullptr);
  struct arg_end* end = arg_end(5);
  void* table[] = {option, end};
  char program[] = "trcforge";
  char first[] = "/tmp//x\\y";
  char second[] = "/";
  char* argv[] = {program, first, second, nullptr};
  ASSERT_EQ(arg_parse(3, argv, table), 0);
  EXPECT_EQ(target, (std::vector<std::string>{"/tmp/x/y", "/"}));

  // The collector's failure code is worded by the option's error function;
  // argtable's own codes keep their stock wording.
  FILE* file = std::tmpfile();
  option->hdr.errorfn(option->hdr.parent, file, 3 << 8, nullptr, "trcforge");
  std::fputc('|', file);
  option->hdr.errorfn(option->hdr.parent, file, 1, nullptr, "trcforge");
  std::rewind(file);
  char text[256] = {};
  ASSERT_GT(std::fread(text, 1, sizeof text - 1, file), 0u);
  std::fclose(file);
  EXPECT_STREQ(text,
               "trcforge: internal error, could not allocate memory|"
               "trcforge: missing option <p>\n");
  arg_freetable(table, 2);
}

TEST(PathOptionTest, TheStockCheckRunsFirst) {
  std::vector<std::string> target;
  arg_file* option = path_option_new(arg_filen(nullptr, nullptr, "<p>", 1, 1, nullptr), &target);
  ASSERT_NE(option, nullptr);
  struct arg_end* end = arg_end(5);
  void* table[] = {option, end};
  char program[] = "trcforge";
  char* argv[] = {program, nullptr};
  EXPECT_EQ(arg_parse(1, argv, table), 1);
  EXPECT_EQ(end->error[0], 1);  // too few values: the stock minimum count
  EXPECT_TRUE(target.empty());
  arg_freetable(table, 2);
}

TEST(ReportPathErrorTest, OnlyReasonThreeHasAText) {
  FILE* file = std::tmpfile();
  report_path_error(file, 3);
  report_path_error(file, 1);
  report_path_error(file, 0);
  std::rewind(file);
  char text[128] = {};
  ASSERT_GT(std::fread(text, 1, sizeof text - 1, file), 0u);
  std::fclose(file);
  EXPECT_STREQ(text, "internal error, could not allocate memory");
}

}  // namespace
