#include <argtable2.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "formats/formats.h"

namespace {

// A small option table like the command line's: a switch, the back end's
// options, and the end marker.
class OptionTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_.push_back(arg_lit0("v", "verbose", "more output"));
    ASSERT_TRUE(format_option_extension.add_options(&settings_, &table_));
    end_ = arg_end(20);
    table_.push_back(end_);
    ASSERT_EQ(arg_nullcheck(table_.data()), 0);
  }
  void TearDown() override { arg_freetable(table_.data(), table_.size()); }

  // Parses the arguments after the program name; returns the error count.
  int parse(std::vector<const char*> args) {
    args.insert(args.begin(), "trcforge");
    return arg_parse(static_cast<int>(args.size()), const_cast<char**>(args.data()), table_.data());
  }

  // What arg_print_errors writes for the last parse.
  std::string errors() {
    FILE* file = tmpfile();
    arg_print_errors(file, end_, "trcforge");
    std::string text(static_cast<size_t>(ftell(file)), '\0');
    rewind(file);
    size_t n = fread(text.data(), 1, text.size(), file);
    fclose(file);
    text.resize(n);
    return text;
  }

  OutputSettings settings_;
  OptionTable table_;
  struct arg_end* end_ = nullptr;
};

// The default, the names in any letter case, the help line and the message
// for "abc" show in real runs (tests/cli/convert.sh, command_line.sh).
TEST_F(OptionTableTest, OtherValuesAreRejectedWithTheirName) {
  EXPECT_EQ(parse({"--trace-format=2.1"}), 1);
  EXPECT_EQ(settings_.format, 0);
  EXPECT_EQ(errors(), "trcforge: invalid value \"2.1\" to option -f|--trace-format={version1,version2,asc,candump,csv}\n");
  EXPECT_EQ(end_->error[0], 256);
  EXPECT_EQ(parse({"-f", ""}), 1);
  EXPECT_EQ(settings_.format, 0);
}

TEST_F(OptionTableTest, ArgtableOwnErrorsKeepTheirWording) {
  EXPECT_EQ(parse({"-f", "version1", "-f", "version2"}), 1);
  EXPECT_EQ(errors(), "trcforge: excess option -f|--trace-format=version2\n");
  EXPECT_EQ(settings_.format, 0);  // checks skipped
  EXPECT_EQ(parse({"--bogus", "-f", "abc"}), 1);
  EXPECT_EQ(errors(), "trcforge: invalid option \"--bogus\"\n");
}

TEST(TraceOptionTest, AFullTableGrows) {
  OutputSettings settings;
  OptionTable table(3, nullptr);
  table.shrink_to_fit();
  ASSERT_EQ(table.capacity(), 3u);
  EXPECT_TRUE(format_option_extension.add_options(&settings, &table));
  ASSERT_EQ(table.size(), 4u);
  EXPECT_GE(table.capacity(), 8u);
  free(table[3]);  // one block, as arg_freetable releases it
}

}  // namespace
