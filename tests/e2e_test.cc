// End-to-end tests: the built trcforge binary runs in a temporary folder; its
// output files, exit status, standard output and diagnostic lines are
// compared with what a user must see.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;
using Arguments = std::vector<std::string>;
using test_support::log_messages;
using test_support::RunResult;

const char kBinary[] = TRCFORGE_BINARY;
const std::string kGolden = TRCFORGE_GOLDEN_DIR;

// The log of the small complete conversion: two frames, standard and
// extended identifiers, received and sent.
const char kSmallLog[] =
    "# Logger type: VorlatBeta\n"
    "# Session No.: 1\n"
    "# Split No.: 1\n"
    "# Time: 20240115T093000\n"
    "# Value separator: \";\"\n"
    "# Time separator: \":\"\n"
    "# Time separator ms: \".\"\n"
    "Timestamp;Type;ID;Length;Data\n"
    "09:30:01.123;0;123;8;1122334455667788\n"
    "09:30:02.623;9;18FEF100;3;A00BFF\n";

const char kSmallTrace2[] =
    ";$FILEVERSION=2.1\n"
    ";$STARTTIME=45306.3958463310\n"
    ";$COLUMNS=N,O,T,B,I,d,L,D\n"
    "      1         0.000 DT 1     0123 Rx 8    11 22 33 44 55 66 77 88\n"
    "      2      1500.000 DT 1 18FEF100 Tx 3    A0 0B FF\n";

const char kSmallTrace1[] =
    ";$FILEVERSION=1.1\n"
    ";$STARTTIME=45306.3958463310\n"
    "     1)         0.0 Rx        0123 8  11 22 33 44 55 66 77 88\n"
    "     2)      1500.0 Tx    18FEF100 3  A0 0B FF\n";

// A log whose header has no split number: it always fails to convert.
const char kBadLog[] =
    "# Logger type: VorlatBeta\n"
    "# Session No.: 1\n"
    "# Value separator: \";\"\n"
    "Timestamp;Type;ID;Length;Data\n"
    "09:30:01.123;0;123;8;11\n";

// The small log with another split number, so that no two are repeats.
std::string good_log(int split) {
  std::string text = kSmallLog;
  text.replace(text.find("# Split No.: 1"), 14, "# Split No.: " + std::to_string(split));
  return text;
}

// The good log without its frames.
std::string empty_log(int split) {
  std::string text = good_log(split);
  return text.substr(0, text.find("09:30:01"));
}

class EndToEndTest : public ::testing::Test {
 protected:
  // Runs trcforge with the arguments in the folder cwd below the test
  // folder, behind the words of wrapper (a tracer) if any.
  RunResult run(const Arguments& arguments, const std::string& cwd = "", Arguments wrapper = {}) {
    wrapper.push_back(kBinary);
    wrapper.insert(wrapper.end(), arguments.begin(), arguments.end());
    return test_support::run_program(wrapper, temp_.at(cwd));
  }
  void write(const std::string& path, const std::string& text) {
    ASSERT_TRUE(temp_.write(path, text)) << path;
  }
  std::string read(const std::string& path) const { return temp_.read(path); }
  bool has(const std::string& path) const { return temp_.has(path); }
  void remove(const std::string& path) const { std::remove(temp_.at(path).c_str()); }

  test_support::TempFolder temp_;
  const std::string& dir_ = temp_.path();  // absolute, ends in "/"
};

TEST_F(EndToEndTest, SmallConversionInBothVersionsAndEveryBufferByteForByte) {
  write("data/a.txt", kSmallLog);
  struct Row {
    Arguments arguments;
    const char* trace;
  };
  for (const Row& row : std::vector<Row>{
           {{dir_ + "data/a.txt"}, kSmallTrace2},
           {{"--trace-format=version1", "data/a.txt"}, kSmallTrace1},
           {{"-fVERSION1", "data/a.txt"}, kSmallTrace1},
           {{"-f", "Version2", "data/a.txt", "-b", "0"}, kSmallTrace2},
           {{"-b", "-1", "data/a.txt"}, kSmallTrace2},
           {{"-b", "1", "data/a.txt"}, kSmallTrace2},
           {{"-b", "7", "data/a.txt"}, kSmallTrace2},
           {{"-b", "64KB", "data/a.txt"}, kSmallTrace2},
           {{"-b", "0x10", "data/a.txt", "-f", "version1"}, kSmallTrace1},
       }) {
    remove("data/a.trc");
    RunResult result = run(row.arguments);
    const std::string name = ::testing::PrintToString(row.arguments);
    EXPECT_EQ(result.status, 0) << name;
    EXPECT_EQ(result.out, "") << name;
    EXPECT_EQ(result.err, "") << name;
    EXPECT_EQ(read("data/a.trc"), row.trace) << name;
  }
}

TEST_F(EndToEndTest, ExitStatuses) {
  write("d/good.txt", good_log(1));
  write("d/bad.txt", kBadLog);
  write("d/notes.csv", "x");
  ASSERT_EQ(mkfifo(temp_.at("d/pipe.txt").c_str(), 0600), 0);
  ASSERT_TRUE(temp_.make_folders("empty/sub"));
  write("csv/notes.csv", "x");
  struct Row {
    Arguments arguments;
    int status;
    bool silent;  // nothing on standard output or standard error
  };
  for (const Row& row : std::vector<Row>{
           {{"d/good.txt", "d/notes.csv"}, 0, true},
           {{"empty", "csv"}, 0, true},  // nothing to convert: no output folder either
           {{"d/good.txt", "d/missing.txt"}, 1, false},
           {{"d/good.txt", "d/bad.txt"}, 8, false},
           {{"d/missing.txt", "d/bad.txt"}, 9, false},
           {{"d/pipe.txt", "d/good.txt"}, 129, true},
           {{"d/pipe.txt", "d/bad.txt"}, 137, false},
           {{"d/pipe.txt", "d/bad.txt", "d/missing.txt"}, 137, false},
           // The command line refuses these before anything is converted.
           {{"d/good.txt", "--verbosity"}, 130, true},
           {{"-b", "abc", "d/good.txt"}, 131, true},
           {{"--verbosity", "6", "d/good.txt"}, 131, true},
           {{"--verbosity=-1", "d/good.txt"}, 131, true},
           {{"--verbosity", "0", "d/good.txt", "d/sub/b.txt"}, 132, true},
           {{"--foo", "d/good.txt"}, 134, false},
           {{"-d", "-d", "d/good.txt"}, 134, false},
           {{"-f", "2.1", "d/good.txt"}, 134, false},
       }) {
    remove("d/good.trc");
    RunResult result = run(row.arguments);
    const std::string name = ::testing::PrintToString(row.arguments);
    EXPECT_EQ(result.status, row.status) << name;
    if (row.silent) {
      EXPECT_EQ(result.out + result.err, "") << name;
    }
    if (row.status >= 130) {
      EXPECT_FALSE(has("d/good.trc")) << name;
    }
  }
  EXPECT_FALSE(has("empty_out"));
  EXPECT_FALSE(has("csv_out"));
}

TEST_F(EndToEndTest, HelpVersionAndParseErrorsOnStandardOutput) {
  write("a.txt", kSmallLog);
  const std::string help = test_support::read_file(kGolden + "/help.stdout");
  ASSERT_FALSE(help.empty());
  for (const Arguments& arguments : {Arguments{}, Arguments{"--help"}}) {
    RunResult result = run(arguments);
    EXPECT_EQ(result.status, 129);
    EXPECT_EQ(result.out, help);
    EXPECT_EQ(result.err, "");
  }
  // Help wins over version and parse errors. The syntax line shows one
  // optional path per further argument; the glossary stays.
  RunResult first = run({"--help", "-v", "--foo"});
  EXPECT_EQ(first.status, 129);
  EXPECT_EQ(first.out.rfind("Usage: trcforge [-vdXi] [--help]", 0), 0u);
  EXPECT_NE(first.out.find("file(s)/folder(s) [file(s)/folder(s)] [file(s)/folder(s)]\n\n"),
            std::string::npos);
  EXPECT_EQ(first.out.substr(first.out.find("\n\n")), help.substr(help.find("\n\n")));
  RunResult with_inputs = run({"a.txt", "--help"});
  EXPECT_EQ(with_inputs.status, 129);
  EXPECT_EQ(with_inputs.out.rfind("Usage: trcforge", 0), 0u);
  EXPECT_FALSE(has("a.trc"));

  // Version wins over parse errors. The values' rules are unit-tested
  // (app/version_test.cc); here the three lines and their widths.
  RunResult version = run({"-v", "a.txt", "--foo", "--verbosity", "9"});
  EXPECT_EQ(version.status, 0);
  const std::string& v = version.out;
  ASSERT_EQ(v.size(), 27u + 33u + 50u) << v;
  EXPECT_EQ(v.substr(0, 9) + v.substr(26, 13) + v.substr(59, 10) + v.back(),
            "Version: \nBuild date: \nGIT SHA: \n")
      << v;
  const std::string revision = v.substr(69, 40);
  EXPECT_EQ(revision.find_first_not_of("0123456789abcdef"), std::string::npos) << v;
  EXPECT_EQ(v.substr(18, 8), revision.substr(0, 8));
  EXPECT_FALSE(has("a.trc"));

  struct Row {
    Arguments arguments;
    std::string out;
  };
  for (const Row& row : std::vector<Row>{
           {{"--foo", "-q", "-d", "-d", "a.txt"},
            test_support::read_file(kGolden + "/parse_errors.stdout")},
           {{"-f", "abc", "a.txt"},
            test_support::read_file(kGolden + "/trace_format_error.stdout")},
           {{"-d"}, "trcforge: missing option file(s)/folder(s)\n"},
       }) {
    RunResult errors = run(row.arguments);
    EXPECT_EQ(errors.status, 134);
    EXPECT_EQ(errors.out, row.out);
    EXPECT_EQ(errors.err, "");
  }
}

TEST_F(EndToEndTest, FolderWalkVisitsEntriesInByteOrderDepthFirst) {
  // Every file fails, so the conversion errors show the order of the visits.
  for (const char* name : {"logs/B.txt", "logs/a.txt", "logs/10.txt", "logs/9.txt",
                           "logs/sub/z.txt", "logs/data.txt/d.TXT", "logs/.hidden.txt",
                           "logs/x.txt.bak", "logs/README", "logs/only-csv/n.csv"}) {
    write(name, kBadLog);
  }
  ASSERT_TRUE(temp_.make_folders("logs/empty"));
  RunResult result = run({"logs"});
  EXPECT_EQ(result.status, 8);
  Lines expected;
  for (const char* name :
       {".hidden.txt", "10.txt", "9.txt", "B.txt", "a.txt", "data.txt/d.TXT", "sub/z.txt"}) {
    expected.push_back("E Could not parse file header");
    expected.push_back(std::string("E Error during conversion of logs/") + name);
  }
  EXPECT_EQ(log_messages(result.err), expected);
  // Output folders are made before a file is opened, and stay when it
  // fails; folders without text logs get none.
  EXPECT_TRUE(has("logs_out/data.txt"));
  EXPECT_TRUE(has("logs_out/sub"));
  EXPECT_FALSE(has("logs_out/only-csv"));
  EXPECT_FALSE(has("logs_out/empty"));
}

TEST_F(EndToEndTest, PlacementOfTheOutputFiles) {
  write("home/u/logs/a.txt", good_log(1));
  write("home/u/logs/sub/b.TXT", good_log(2));
  // A base name without "." keeps its folder: logs_out/txt.trc, not
  // logs_out.trc.
  write("home/u/logs/txt", good_log(3));
  EXPECT_EQ(run({"logs"}, "home/u").status, 0);
  EXPECT_EQ(read("home/u/logs_out/a.trc"), kSmallTrace2);
  EXPECT_TRUE(has("home/u/logs_out/sub/b.trc"));
  EXPECT_TRUE(has("home/u/logs_out/txt.trc"));
  EXPECT_FALSE(has("home/u/logs_out.trc"));

  RunResult beside = run({"logs", "-X", "--verbosity", "3"}, "home/u");
  EXPECT_EQ(beside.status, 0);
  EXPECT_EQ(beside.err, "");
  EXPECT_TRUE(has("home/u/logs/a.trc"));
  EXPECT_TRUE(has("home/u/logs/sub/b.trc"));

  ASSERT_TRUE(temp_.make_folders("o"));
  EXPECT_EQ(run({"logs/a.txt", "-O", dir_ + "o"}, "home/u").status, 0);
  EXPECT_EQ(read("o/a.trc"), kSmallTrace2);

  write("d/x.txt", good_log(1));
  write("d/y.txt", good_log(2));
  ASSERT_TRUE(temp_.make_folders("home/u/out"));
  EXPECT_EQ(run({dir_ + "d/x.txt", dir_ + "d/y.txt", "-O", "out"}, "home/u").status, 0);
  EXPECT_TRUE(has("home/u/out/x.trc"));
  EXPECT_TRUE(has("home/u/out/y.trc"));
  EXPECT_FALSE(has("d/x.trc"));

  // A single dot is the current folder, named "." in the output tree; an
  // empty argument is the current folder by its own name.
  EXPECT_EQ(run({"."}, "home/u/logs").status, 0);
  EXPECT_TRUE(has("home/u/logs/._out/a.trc"));
  EXPECT_TRUE(has("home/u/logs/._out/sub/b.trc"));
  EXPECT_EQ(run({""}, "home/u/logs/sub").status, 0);
  EXPECT_TRUE(has("home/u/logs/sub_out/b.trc"));

  // A file named on the command line never gets "_out"; x.tar.txt keeps x.tar.
  write("t/x.tar.txt", good_log(1));
  EXPECT_EQ(run({"t/x.tar.txt"}).status, 0);
  EXPECT_TRUE(has("t/x.tar.trc"));
}

TEST_F(EndToEndTest, OutputDirectoryRules) {
  write("d/a.txt", kSmallLog);
  write("file", "x");
  for (const char* refused : {"nowhere/", "file"}) {
    RunResult result = run({"-O", refused, "d/a.txt"});
    EXPECT_EQ(result.status, 129);
    EXPECT_EQ(log_messages(result.err), Lines{"E Invalid output path: " + dir_ + refused});
  }
  EXPECT_FALSE(has("d/a.trc"));

  ASSERT_TRUE(temp_.make_folders("out"));
  EXPECT_EQ(run({"--output-directory=out", "d/a.txt"}).status, 0);
  EXPECT_EQ(read("out/a.trc"), kSmallTrace2);
  // The output directory is never created, not even its parent.
  EXPECT_EQ(run({"-O", "out2/sub", "d/a.txt"}).status, 129);
  EXPECT_FALSE(has("out2"));
  EXPECT_EQ(run({"-O", "out", "-O", "out", "d/a.txt"}).status, 134);  // given twice
}

TEST_F(EndToEndTest, CommonRootFailures) {
  write("a/x.txt", kSmallLog);
  write("b/y.txt", kSmallLog);
  struct Row {
    Arguments arguments;
    std::string cwd;
    int status;
    Lines messages;
  };
  for (const Row& row : std::vector<Row>{
           {{"a/x.txt", "b/y.txt"}, "", 132, {"F No common root detected for all inputs"}},
           {{"a", "a/x.txt"}, "", 132, {"F No common root detected for all inputs"}},
           {{"/x.txt"}, "", 132, {"F Could not find root for /x.txt"}},
           {{".."}, "a", 132, {"F Could not find root for "}},
           {{"--verbosity", "0", "a/x.txt", "b/y.txt"}, "", 132, {}},
           // A missing parent folder: no message, the default status.
           {{"nowhere/x.txt"}, "", 129, {}},
       }) {
    RunResult result = run(row.arguments, row.cwd);
    const std::string name = ::testing::PrintToString(row.arguments);
    EXPECT_EQ(result.status, row.status) << name;
    EXPECT_EQ(log_messages(result.err), row.messages) << name;
  }
}

TEST_F(EndToEndTest, DeleteConvertedRemovesOnlyWhatWasConverted) {
  write("d/good.txt", good_log(1));
  write("d/bad.txt", kBadLog);
  write("d/empty.txt", empty_log(3));
  write("d/notes.csv", "x");
  write("e/good.txt", good_log(1));
  EXPECT_EQ(run({"e"}).status, 0);  // without the option nothing is removed
  EXPECT_TRUE(has("e/good.txt"));

  EXPECT_EQ(run({"-d", "d"}).status, 8);
  EXPECT_FALSE(has("d/good.txt"));
  EXPECT_EQ(read("d_out/good.trc"), kSmallTrace2);
  EXPECT_TRUE(has("d/bad.txt"));
  // A log without frames gives no trace file and is removed all the same.
  EXPECT_FALSE(has("d/empty.txt"));
  EXPECT_FALSE(has("d_out/empty.trc"));
  EXPECT_TRUE(has("d/notes.csv"));
}

// Whether nothing is synced without the option is checked on the driver.
TEST_F(EndToEndTest, DeleteConvertedSyncsTheTraceBeforeRemovingTheInput) {
  if (!test_support::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  write("d/good.txt", good_log(1));
  // A traced process cannot check itself for leaks.
  const char* options = std::getenv("ASAN_OPTIONS");
  const std::string saved = options != nullptr ? options : "";
  setenv("ASAN_OPTIONS", (saved + ":detect_leaks=0").c_str(), 1);
  RunResult result = run({"-d", "d/good.txt"}, "",
                         {"/usr/bin/strace", "-qq", "-e", "trace=fsync,fdatasync,unlink,unlinkat",
                          "-o", dir_ + "trace.log"});
  if (options != nullptr) {
    setenv("ASAN_OPTIONS", saved.c_str(), 1);
  } else {
    unsetenv("ASAN_OPTIONS");
  }
  if (result.status != 0 && read("trace.log").empty()) GTEST_SKIP() << "tracing is not permitted";
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_FALSE(has("d/good.txt"));
  const std::string calls = read("trace.log");
  size_t sync = calls.find("fsync(");
  size_t removal = calls.find("good.txt");
  ASSERT_NE(sync, std::string::npos) << calls;
  ASSERT_NE(removal, std::string::npos) << calls;
  EXPECT_LT(sync, removal) << calls;
}

TEST_F(EndToEndTest, VerbosityLevelsShowTheirMessages) {
  write("d/bad.txt", kBadLog);
  write("d/a.txt", good_log(1));
  write("d/a2.txt", good_log(1));
  const Arguments inputs{"d/missing.txt", "d/bad.txt", "d/a.txt", "d/a2.txt"};
  const Lines errors{"E Could not parse file header", "E Error during conversion of bad.txt"};
  const Lines warnings{"W Could not find input file/folder missing.txt", errors[0], errors[1],
                       "W Repeated input file (LOGGERID, 00000001, 00000001)"};
  struct Row {
    Arguments options;
    Lines expected;
  };
  for (const Row& row : std::vector<Row>{{{}, errors},
                                         {{"--verbosity", "2"}, errors},
                                         {{"--verbosity", "1"}, {}},
                                         {{"--verbosity", "0"}, {}},
                                         {{"--verbosity", "3"}, warnings},
                                         {{"--verbosity", "4"}, warnings},
                                         {{"--verbosity=5"}, warnings}}) {
    Arguments arguments = row.options;
    arguments.insert(arguments.end(), inputs.begin(), inputs.end());
    RunResult result = run(arguments);
    EXPECT_EQ(result.status, 9);
    EXPECT_EQ(log_messages(result.err), row.expected) << ::testing::PrintToString(row.options);
  }
  // Fatal messages show from verbosity 1 on.
  write("e/x.txt", kSmallLog);
  RunResult fatal = run({"--verbosity", "1", "d/a.txt", "e/x.txt"});
  EXPECT_EQ(fatal.status, 132);
  EXPECT_EQ(log_messages(fatal.err), Lines{"F No common root detected for all inputs"});
}

TEST_F(EndToEndTest, AFailedStatusQueryEndsTheRun) {
  write("d/a.txt", good_log(1));
  write("d/c.txt", good_log(3));
  // A link to itself cannot be queried (too many levels of links), unlike a
  // missing file.
  ASSERT_EQ(symlink("loop.txt", temp_.at("d/loop.txt").c_str()), 0);
  RunResult result = run({"--verbosity", "3", "d/a.txt", "d/missing.txt", "d/loop.txt", "d/c.txt"});
  EXPECT_EQ(result.status, 129);
  EXPECT_EQ(log_messages(result.err), (Lines{"W Could not find input file/folder missing.txt",
                                             "F Could not query loop.txt for information"}));
  EXPECT_TRUE(has("d/a.trc"));
  EXPECT_FALSE(has("d/c.trc"));

  // Without the "_out" rule the query happens in the walk, with its own
  // message; the run ends there all the same.
  remove("d/a.trc");
  result = run({"-X", "d/a.txt", "d/loop.txt", "d/c.txt"});
  EXPECT_EQ(result.status, 129);
  EXPECT_EQ(log_messages(result.err), Lines{"F Error during stat of loop.txt, exiting"});
  EXPECT_TRUE(has("d/a.trc"));
  EXPECT_FALSE(has("d/c.trc"));
}

TEST_F(EndToEndTest, TwoInputsNeverWriteOneTraceFile) {
  write("d/a.TXT", good_log(1));
  write("d/a.txt", good_log(2));
  write("d/b.txt", good_log(3));
  RunResult result = run({"-d", "d"});
  EXPECT_EQ(result.status, 8);
  EXPECT_EQ(log_messages(result.err),
            (Lines{"E Output file d_out/a.trc was already written for d/a.TXT",
                   "E Error during conversion of d/a.txt"}));
  EXPECT_FALSE(has("d/a.TXT"));
  EXPECT_TRUE(has("d/a.txt"));  // kept: it was not converted
  EXPECT_FALSE(has("d/b.txt"));
  EXPECT_EQ(read("d_out/a.trc"), kSmallTrace2);

  // On the command line too; the same input named again is converted again.
  write("e/x.txt", good_log(1));
  write("e/x.Txt", empty_log(2) + "09:30:05.000;0;7FF;1;01\n");
  result = run({"e/x.txt", "e/x.Txt", "e/x.txt"});
  EXPECT_EQ(result.status, 8);
  EXPECT_EQ(log_messages(result.err), (Lines{"E Output file x.trc was already written for x.txt",
                                             "E Error during conversion of x.Txt"}));
  EXPECT_EQ(read("e/x.trc"), kSmallTrace2);

  // A trace removed for want of frames leaves its name free.
  write("f/a.TXT", empty_log(1));
  write("f/a.txt", good_log(2));
  EXPECT_EQ(run({"f"}).status, 0);
  EXPECT_EQ(read("f_out/a.trc"), kSmallTrace2);
}

}  // namespace
