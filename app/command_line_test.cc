// What parsing stores in the configuration. Statuses, help, version and the
// printed parse errors are checked on the real binary (tests/cli/command_line.sh).
#include "app/command_line.h"

#include <argtable2.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/run_config.h"
#include "fs/file_system.h"
#include "log/log.h"
#include "tests/support/test_support.h"
#include "output/backend.h"

namespace {

// A back-end extension that adds nothing, counts its calls and answers as
// told.
struct TestExtension {
  static inline int after = 0;
  static inline bool add_result = true;
  static inline bool after_result = true;
  static bool add_options(OutputSettings*, OptionTable*) { return add_result; }
  static bool after_parse(OutputSettings*) {
    ++after;
    return after_result;
  }
};
const OptionExtension kTestExtension{TestExtension::add_options, TestExtension::after_parse,
                                     nullptr};

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.make_folders("out"));
    ASSERT_TRUE(temp_.write("a.txt", ""));
    TestExtension::after = 0;
    TestExtension::add_result = TestExtension::after_result = true;
    log_set_level(LOG_NONE);
  }
  void TearDown() override {
    release();
    log_set_level(LOG_NONE);
  }
  void release() {
    if (config_.output_fs != config_.input_fs) fs_free(config_.output_fs);
    fs_free(config_.input_fs);
    config_ = RunConfig{};
    config_.host_fs = &host_;
  }

  // Parses the arguments after the program name into a fresh configuration.
  bool parse(std::vector<std::string> arguments) {
    release();
    config_.hooks = &kTestExtension;
    status_ = 129;
    arguments.insert(arguments.begin(), "trcforge");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return parse_command_line(&config_, static_cast<int>(arguments.size()), argv.data(), &status_);
  }

  test_support::TempFolder temp_;
  FileSystem host_{&real_file_system_ops, "/"};
  RunConfig config_;
  int status_ = 129;
};

TEST_F(CommandLineTest, SwitchesAndPathsAreStored) {
  const std::string a = temp_.at("a.txt");
  ASSERT_TRUE(parse({"-d", "-X", "--non-interactive", "-b", "64KB", "-O", temp_.at("out"), a,
                     temp_.at("missing.txt"), a}));
  EXPECT_EQ(status_, 129);
  EXPECT_EQ(config_.root, temp_.path());
  EXPECT_EQ(config_.inputs, (std::vector<std::string>{"a.txt", "missing.txt", "a.txt"}));
  ASSERT_NE(config_.output_fs, nullptr);
  EXPECT_EQ(config_.output_fs->root, temp_.at("out/"));
  EXPECT_TRUE(config_.options.delete_converted);
  EXPECT_TRUE(config_.options.no_append_root);
  EXPECT_TRUE(config_.options.non_interactive);
  EXPECT_EQ(config_.options.buffer_size, 65536);
  EXPECT_EQ(TestExtension::after, 1);
}

TEST_F(CommandLineTest, BufferValuesInIntegerSyntax) {
  for (const auto& [text, value] : std::vector<std::pair<std::string, int64_t>>{
           {"0", 0}, {"-1", -1}, {"65536", 65536}, {"0x100", 256}, {"2MB", 2097152}}) {
    ASSERT_TRUE(parse({"--buffer=" + text, temp_.at("a.txt")})) << text;
    EXPECT_EQ(config_.options.buffer_size, value) << text;
  }
}

// The levels 0 to 3, the default and the refused values show in the lines
// of real runs; 4 and 5 differ from 3 only in a level nothing logs at.
TEST_F(CommandLineTest, HighestVerbositiesSelectInfo) {
  for (const char* verbosity : {"3", "4", "5"}) {
    log_set_level(77);
    ASSERT_TRUE(parse({"--verbosity", verbosity, temp_.at("a.txt")})) << verbosity;
    EXPECT_EQ(log_level, verbosity[0] == '3' ? LOG_WARN : LOG_INFO) << verbosity;
  }
}

TEST_F(CommandLineTest, BackEndHooksDecide) {
  TestExtension::add_result = false;
  EXPECT_FALSE(parse({temp_.at("a.txt")}));
  EXPECT_EQ(status_, 129);
  EXPECT_TRUE(config_.inputs.empty());
  EXPECT_EQ(TestExtension::after, 0);

  TestExtension::add_result = true;
  TestExtension::after_result = false;
  EXPECT_FALSE(parse({temp_.at("a.txt")}));
  EXPECT_EQ(status_, 129);
  EXPECT_EQ(TestExtension::after, 1);
}

// The collector's memory failure cannot be provoked through the binary.
TEST(PathOptionTest, CollectsNormalisedValuesAndWordsItsOwnErrors) {
  std::vector<std::string> target;
  FileSystem host{&real_file_system_ops, "/"};
  arg_file* option = path_option_new(arg_filen(nullptr, nullptr, "<p>", 1, 3, nullptr), &host, &target);
  ASSERT_NE(option, nullptr);
  struct arg_end* end = arg_end(5);
  void* table[] = {option, end};
  char program[] = "trcforge";
  char first[] = "/tmp//x\\y";
  char second[] = "/";
  char* argv[] = {program, first, second, nullptr};
  ASSERT_EQ(arg_parse(3, argv, table), 0);
  EXPECT_EQ(target, (std::vector<std::string>{"/tmp/x/y", "/"}));

  // Reason 3, shifted into the option's own codes, has a text; argtable's
  // own codes keep their stock wording, and other reasons add nothing.
  FILE* file = std::tmpfile();
  option->hdr.errorfn(option->hdr.parent, file, 3 << 8, nullptr, "trcforge");
  std::fputc('|', file);
  option->hdr.errorfn(option->hdr.parent, file, 1, nullptr, "trcforge");
  report_path_error(file, 1);
  report_path_error(file, 0);
  std::rewind(file);
  char text[256] = {};
  ASSERT_GT(std::fread(text, 1, sizeof text - 1, file), 0u);
  std::fclose(file);
  EXPECT_STREQ(text,
               "trcforge: internal error, could not allocate memory|"
               "trcforge: missing option <p>\n");
  arg_freetable(table, 2);
}

}  // namespace
