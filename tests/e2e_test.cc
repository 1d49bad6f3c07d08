// End-to-end tests: the built trcforge binary runs in a temporary folder; its
// output files, exit status, standard output and diagnostic lines are
// compared with what a user must see.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kBinary[] = TRCFORGE_BINARY;
const char kGolden[] = TRCFORGE_GOLDEN_DIR;

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

// A good log with its own identity, so that no two are repeats.
std::string good_log(int split) {
  std::string text = kSmallLog;
  text.replace(text.find("# Split No.: 1"), 14, "# Split No.: " + std::to_string(split));
  return text;
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// One diagnostic line: its level letter and message, after checking the
// context in front of them (date, time to the millisecond, process and
// thread numbers in columns of five).
struct LogLine {
  char level;
  std::string message;
  bool operator==(const LogLine&) const = default;
};

std::ostream& operator<<(std::ostream& out, const LogLine& line) {
  return out << line.level << " " << line.message;
}

// Whether text[at, at + pattern size) matches pattern, where "9" stands for
// any digit and "_" for a blank or a digit; other characters stand for
// themselves.
bool matches(const std::string& text, size_t at, const std::string& pattern) {
  if (at + pattern.size() > text.size()) return false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = text[at + i];
    bool digit = c >= '0' && c <= '9';
    if (pattern[i] == '9' ? !digit : pattern[i] == '_' ? !(digit || c == ' ') : c != pattern[i]) {
      return false;
    }
  }
  return true;
}

// Skips blanks then digits from at; returns the position after them, or npos
// when no digit came.
size_t skip_number(const std::string& text, size_t at) {
  while (at < text.size() && text[at] == ' ') ++at;
  size_t digits = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  return at == digits ? std::string::npos : at;
}

std::vector<LogLine> log_lines(const std::string& err) {
  std::vector<LogLine> lines;
  std::istringstream in(err);
  std::string line;
  while (std::getline(in, line)) {
    // "MM-DD HH:MM:SS.mmm", then the process and thread numbers right-aligned
    // in five columns each, then the level letter.
    size_t at = std::string::npos;
    if (matches(line, 0, "99-99 99:99:99.999 ")) {
      at = skip_number(line, 19);
      if (at != std::string::npos && line[at] == ' ') at = skip_number(line, at + 1);
    }
    if (at == std::string::npos || at + 3 > line.size() || line[at] != ' ' ||
        std::string("VDIWEF").find(line[at + 1]) == std::string::npos || line[at + 2] != ' ') {
      ADD_FAILURE() << "not a diagnostic line: " << line;
      continue;
    }
    // Numbers of at most five digits make the context 33 characters long;
    // only wider numbers make it longer.
    if (at + 3 != 33) {
      EXPECT_GT(at + 3, 33u) << line;
    } else {
      EXPECT_TRUE(matches(line, 19, "____9 ____9 ")) << line;
    }
    lines.push_back({line[at + 1], line.substr(at + 3)});
  }
  return lines;
}

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/trcforge-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
  }
  void TearDown() override {
    std::string command = "chmod -R u+rwx '" + dir_ + "' 2>/dev/null; rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  // Writes a file below the test folder, making its folders.
  void write(const std::string& path, const std::string& text) {
    make_folders(path.substr(0, path.rfind('/') + 1));
    std::ofstream out(dir_ + path, std::ios::binary);
    out << text;
    ASSERT_TRUE(out.good()) << path;
  }
  void make_folders(const std::string& path) {
    std::string so_far = dir_;
    std::istringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
      if (part.empty()) continue;
      so_far += part + "/";
      mkdir(so_far.c_str(), 0700);
    }
  }
  std::string read(const std::string& path) { return read_file(dir_ + path); }
  bool has(const std::string& path) { return exists(dir_ + path); }

  // Runs trcforge with the arguments in the folder cwd (below the test
  // folder), optionally under another program (a tracer) given first.
  Outcome run(std::vector<std::string> arguments, const std::string& cwd = "",
          std::vector<std::string> wrapper = {}) {
    std::vector<std::string> words = wrapper;
    words.push_back(kBinary);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string out_path = dir_ + ".stdout";
    const std::string err_path = dir_ + ".stderr";
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
      int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int in = open("/dev/null", O_RDONLY);
      if (out < 0 || err < 0 || in < 0 || chdir((dir_ + cwd).c_str()) != 0) _exit(250);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      execvp(argv[0], argv.data());
      _exit(251);
    }
    Outcome result;
    int wait_status = 0;
    EXPECT_EQ(waitpid(child, &wait_status, 0), child);
    EXPECT_TRUE(WIFEXITED(wait_status));
    result.status = WEXITSTATUS(wait_status);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    return result;
  }

  std::string dir_;  // absolute, ends in "/"
};

using Lines = std::vector<LogLine>;

TEST_F(EndToEndTest, SmallConversionInBothVersionsByteForByte) {
  write("data/a.txt", kSmallLog);
  Outcome result = run({dir_ + "data/a.txt"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read("data/a.trc"), kSmallTrace2);

  for (const char* option : {"--trace-format=version1", "-fVERSION1"}) {
    result = run({option, "data/a.txt"});
    EXPECT_EQ(result.status, 0) << option;
    EXPECT_EQ(result.err, "") << option;
    EXPECT_EQ(read("data/a.trc"), kSmallTrace1) << option;
  }
  result = run({"-f", "Version2", "data/a.txt", "-b", "0"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read("data/a.trc"), kSmallTrace2);
}

TEST_F(EndToEndTest, EveryBufferSizeWritesTheSameTrace) {
  write("a.txt", kSmallLog);
  for (const char* buffer : {"-1", "0", "1", "7", "65536", "64KB", "0x10"}) {
    Outcome result = run({"-b", buffer, "a.txt"});
    EXPECT_EQ(result.status, 0) << buffer;
    EXPECT_EQ(read("a.trc"), kSmallTrace2) << buffer;
  }
}

TEST_F(EndToEndTest, ExitStatusesOfARun) {
  write("d/good.txt", good_log(1));
  write("d/bad.txt", kBadLog);
  write("d/notes.csv", "x");
  ASSERT_EQ(mkfifo((dir_ + "d/pipe.txt").c_str(), 0600), 0);
  EXPECT_EQ(run({"d/good.txt", "d/notes.csv"}).status, 0);
  EXPECT_EQ(run({"d/good.txt", "d/missing.txt"}).status, 1);
  EXPECT_EQ(run({"d/good.txt", "d/bad.txt"}).status, 8);
  EXPECT_EQ(run({"d/missing.txt", "d/bad.txt"}).status, 9);
  Outcome pipe = run({"d/pipe.txt", "d/good.txt"});
  EXPECT_EQ(pipe.status, 129);
  EXPECT_EQ(pipe.err, "");
  EXPECT_EQ(run({"d/pipe.txt", "d/bad.txt"}).status, 137);
  EXPECT_EQ(run({"d/pipe.txt", "d/bad.txt", "d/missing.txt"}).status, 137);
  // A folder without text logs writes nothing and succeeds.
  make_folders("empty/sub");
  write("csv/notes.csv", "x");
  EXPECT_EQ(run({"empty", "csv"}).status, 0);
  EXPECT_FALSE(has("empty_out"));
  EXPECT_FALSE(has("csv_out"));
}

TEST_F(EndToEndTest, ExitStatusesOfTheCommandLine) {
  write("d/a.txt", kSmallLog);
  struct Case {
    std::vector<std::string> arguments;
    int status;
  };
  const std::vector<Case> cases = {
      {{"d/a.txt", "--verbosity"}, 130},
      {{"-b", "abc", "d/a.txt"}, 131},
      {{"--verbosity", "6", "d/a.txt"}, 131},
      {{"--verbosity=-1", "d/a.txt"}, 131},
      {{"--foo", "d/a.txt"}, 134},
      {{"-d", "-d", "d/a.txt"}, 134},
      {{"-f", "2.1", "d/a.txt"}, 134},
      {{"--verbosity", "0", "d/a.txt", "d/sub/b.txt"}, 132},
  };
  for (const Case& c : cases) {
    Outcome result = run(c.arguments);
    EXPECT_EQ(result.status, c.status) << c.arguments[0] << " " << c.arguments[1];
    if (c.status != 134) {
      EXPECT_EQ(result.out, "") << c.arguments[0];
      EXPECT_EQ(result.err, "") << c.arguments[0];
    }
  }
  EXPECT_FALSE(has("d/a.trc"));
}

TEST_F(EndToEndTest, HelpVersionAndParseErrorsOnStandardOutput) {
  write("a.txt", kSmallLog);
  const std::string help = read_file(std::string(kGolden) + "/help.stdout");
  ASSERT_FALSE(help.empty());
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, std::vector<std::string>{"--help"}}) {
    Outcome result = run(arguments);
    EXPECT_EQ(result.status, 129);
    EXPECT_EQ(result.out, help);
    EXPECT_EQ(result.err, "");
  }
  // Help wins over version and parse errors. The syntax line shows one
  // optional path per further argument; the glossary stays.
  Outcome first = run({"--help", "-v", "--foo"});
  EXPECT_EQ(first.status, 129);
  EXPECT_EQ(first.out.rfind("Usage: trcforge [-vdXi] [--help]", 0), 0u);
  EXPECT_NE(first.out.find("file(s)/folder(s) [file(s)/folder(s)] [file(s)/folder(s)]\n\n"),
            std::string::npos);
  EXPECT_EQ(first.out.substr(first.out.find("\n\n")), help.substr(help.find("\n\n")));
  Outcome with_inputs = run({"a.txt", "--help"});
  EXPECT_EQ(with_inputs.status, 129);
  EXPECT_EQ(with_inputs.out.rfind("Usage: trcforge", 0), 0u);
  EXPECT_FALSE(has("a.trc"));

  Outcome version = run({"-v", "a.txt", "--foo", "--verbosity", "9"});
  EXPECT_EQ(version.status, 0);
  // "Version: YY.MM.DD.<8 hex>", "Build date: Mon DD YYYY HH:MM:SS" (the day
  // padded with a blank), "GIT SHA: <40 hex>".
  const std::string& v = version.out;
  ASSERT_EQ(v.size(), 27u + 33u + 50u) << v;
  EXPECT_TRUE(matches(v, 0, "Version: 99.99.99.")) << v;
  EXPECT_TRUE(matches(v, 26, "\nBuild date: ")) << v;
  EXPECT_TRUE(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(v.substr(39, 3)) % 3 == 0);
  EXPECT_TRUE(matches(v, 42, " _9 9999 99:99:99\nGIT SHA: ")) << v;
  const std::string short_revision = v.substr(18, 8);
  const std::string revision = v.substr(69, 40);
  EXPECT_EQ(revision.find_first_not_of("0123456789abcdef"), std::string::npos) << v;
  EXPECT_EQ(short_revision, revision.substr(0, 8));
  EXPECT_EQ(v.back(), '\n');
  EXPECT_FALSE(has("a.trc"));

  Outcome errors = run({"--foo", "-q", "-d", "-d", "a.txt"});
  EXPECT_EQ(errors.status, 134);
  EXPECT_EQ(errors.out, read_file(std::string(kGolden) + "/parse_errors.stdout"));
  EXPECT_EQ(errors.err, "");
  Outcome format = run({"-f", "abc", "a.txt"});
  EXPECT_EQ(format.status, 134);
  EXPECT_EQ(format.out, read_file(std::string(kGolden) + "/trace_format_error.stdout"));
  Outcome no_input = run({"-d"});
  EXPECT_EQ(no_input.status, 134);
  EXPECT_EQ(no_input.out, "trcforge: missing option file(s)/folder(s)\n");
}

TEST_F(EndToEndTest, FolderWalkVisitsEntriesInByteOrderDepthFirst) {
  // Every file fails, so the conversion errors show the order of the visits.
  for (const char* name : {"logs/B.txt", "logs/a.txt", "logs/10.txt", "logs/9.txt",
                           "logs/sub/z.txt", "logs/data.txt/d.TXT", "logs/.hidden.txt"}) {
    write(name, kBadLog);
  }
  write("logs/x.txt.bak", kBadLog);
  write("logs/README", kBadLog);
  Outcome result = run({"logs"});
  EXPECT_EQ(result.status, 8);
  Lines expected;
  for (const char* name : {".hidden.txt", "10.txt", "9.txt", "B.txt", "a.txt", "data.txt/d.TXT",
                           "sub/z.txt"}) {
    expected.push_back({'E', "Could not parse file header"});
    expected.push_back({'E', std::string("Error during conversion of logs/") + name});
  }
  EXPECT_EQ(log_lines(result.err), expected);
  // Output folders are made before a file is opened, and stay when it fails.
  EXPECT_TRUE(has("logs_out/data.txt"));
  EXPECT_TRUE(has("logs_out/sub"));
}

TEST_F(EndToEndTest, PlacementOfTheOutputFiles) {
  write("home/u/logs/a.txt", good_log(1));
  write("home/u/logs/sub/b.TXT", good_log(2));
  EXPECT_EQ(run({"logs"}, "home/u").status, 0);
  EXPECT_EQ(read("home/u/logs_out/a.trc"), kSmallTrace2);
  EXPECT_TRUE(has("home/u/logs_out/sub/b.trc"));

  EXPECT_EQ(run({"logs", "-X"}, "home/u").status, 0);
  EXPECT_TRUE(has("home/u/logs/a.trc"));
  EXPECT_TRUE(has("home/u/logs/sub/b.trc"));

  make_folders("o");
  EXPECT_EQ(run({"logs/a.txt", "-O", dir_ + "o"}, "home/u").status, 0);
  EXPECT_EQ(read("o/a.trc"), kSmallTrace2);

  write("d/x.txt", good_log(1));
  write("d/y.txt", good_log(2));
  make_folders("home/u/out");
  EXPECT_EQ(run({dir_ + "d/x.txt", dir_ + "d/y.txt", "-O", "out"}, "home/u").status, 0);
  EXPECT_TRUE(has("home/u/out/x.trc"));
  EXPECT_TRUE(has("home/u/out/y.trc"));
  EXPECT_FALSE(has("d/x.trc"));

  // A single dot is the current folder, named "." in the output tree.
  EXPECT_EQ(run({"."}, "home/u/logs").status, 0);
  EXPECT_TRUE(has("home/u/logs/._out/a.trc"));
  EXPECT_TRUE(has("home/u/logs/._out/sub/b.trc"));

  // An empty argument is the current folder by its own name.
  EXPECT_EQ(run({""}, "home/u/logs/sub").status, 0);
  EXPECT_TRUE(has("home/u/logs/sub_out/b.trc"));

  // A file named on the command line never gets "_out"; x.tar.txt keeps x.tar.
  write("t/x.tar.txt", good_log(1));
  EXPECT_EQ(run({"t/x.tar.txt"}).status, 0);
  EXPECT_TRUE(has("t/x.tar.trc"));
}

TEST_F(EndToEndTest, OutputDirectoryRules) {
  write("d/a.txt", kSmallLog);
  Outcome missing = run({"-O", "nowhere/", "d/a.txt"});
  EXPECT_EQ(missing.status, 129);
  EXPECT_EQ(log_lines(missing.err), (Lines{{'E', "Invalid output path: " + dir_ + "nowhere/"}}));
  EXPECT_FALSE(has("d/a.trc"));

  write("file", "x");
  Outcome not_folder = run({"-O", "file", "d/a.txt"});
  EXPECT_EQ(not_folder.status, 129);
  EXPECT_EQ(log_lines(not_folder.err), (Lines{{'E', "Invalid output path: " + dir_ + "file"}}));

  make_folders("out");
  EXPECT_EQ(run({"--output-directory=out", "d/a.txt"}).status, 0);
  EXPECT_EQ(read("out/a.trc"), kSmallTrace2);
  // The output directory is never created, not even its sub-folders' parent.
  EXPECT_EQ(run({"-O", "out2/sub", "d/a.txt"}).status, 129);
  EXPECT_FALSE(has("out2"));
  // Given twice it is a parse error.
  EXPECT_EQ(run({"-O", "out", "-O", "out", "d/a.txt"}).status, 134);
}

TEST_F(EndToEndTest, CommonRootFailures) {
  write("a/x.txt", kSmallLog);
  write("b/y.txt", kSmallLog);
  Outcome two = run({"a/x.txt", "b/y.txt"});
  EXPECT_EQ(two.status, 132);
  EXPECT_EQ(log_lines(two.err), (Lines{{'F', "No common root detected for all inputs"}}));

  Outcome own_file = run({"a", "a/x.txt"});
  EXPECT_EQ(own_file.status, 132);

  Outcome top = run({"/x.txt"});
  EXPECT_EQ(top.status, 132);
  EXPECT_EQ(log_lines(top.err), (Lines{{'F', "Could not find root for /x.txt"}}));

  Outcome up = run({".."}, "a");
  EXPECT_EQ(up.status, 132);
  EXPECT_EQ(log_lines(up.err), (Lines{{'F', "Could not find root for "}}));

  Outcome quiet = run({"--verbosity", "0", "a/x.txt", "b/y.txt"});
  EXPECT_EQ(quiet.status, 132);
  EXPECT_EQ(quiet.err, "");

  // A missing parent folder: no message, the default status.
  Outcome no_root = run({"nowhere/x.txt"});
  EXPECT_EQ(no_root.status, 129);
  EXPECT_EQ(no_root.err, "");
}

TEST_F(EndToEndTest, DeleteConvertedRemovesOnlyWhatWasConverted) {
  write("d/good.txt", good_log(1));
  write("d/bad.txt", kBadLog);
  write("d/empty.txt", good_log(3).substr(0, good_log(3).find("09:30:01")));
  write("d/notes.csv", "x");
  Outcome result = run({"-d", "d"});
  EXPECT_EQ(result.status, 8);
  EXPECT_FALSE(has("d/good.txt"));
  EXPECT_EQ(read("d_out/good.trc"), kSmallTrace2);
  EXPECT_TRUE(has("d/bad.txt"));
  // A log without frames gives no trace file and is removed all the same.
  EXPECT_FALSE(has("d/empty.txt"));
  EXPECT_FALSE(has("d_out/empty.trc"));
  EXPECT_TRUE(has("d/notes.csv"));

  // Without the option nothing is removed.
  write("e/good.txt", good_log(1));
  EXPECT_EQ(run({"e"}).status, 0);
  EXPECT_TRUE(has("e/good.txt"));
}

TEST_F(EndToEndTest, DeleteConvertedSyncsTheTraceBeforeRemovingTheInput) {
  if (!exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  write("d/good.txt", good_log(1));
  // A traced process cannot check itself for leaks.
  const char* sanitizer_options = std::getenv("ASAN_OPTIONS");
  const std::string saved = sanitizer_options != nullptr ? sanitizer_options : "";
  setenv("ASAN_OPTIONS", (saved + ":detect_leaks=0").c_str(), 1);
  struct Restore {
    std::string value;
    bool had;
    ~Restore() {
      if (had) {
        setenv("ASAN_OPTIONS", value.c_str(), 1);
      } else {
        unsetenv("ASAN_OPTIONS");
      }
    }
  } restore{saved, sanitizer_options != nullptr};
  Outcome result = run({"-d", "d/good.txt"}, "",
                   {"/usr/bin/strace", "-qq", "-e", "trace=fsync,fdatasync,unlink,unlinkat",
                    "-o", dir_ + "trace.log"});
  if (result.status != 0 && has("trace.log") && read("trace.log").empty()) {
    GTEST_SKIP() << "tracing is not permitted here";
  }
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_FALSE(has("d/good.txt"));
  const std::string calls = read("trace.log");
  size_t sync = calls.find("fsync(");
  size_t removal = calls.find("good.txt");
  ASSERT_NE(sync, std::string::npos) << calls;
  ASSERT_NE(removal, std::string::npos) << calls;
  EXPECT_LT(sync, removal) << calls;

  // Without the option nothing is synced.
  write("e/good.txt", good_log(1));
  result = run({"e/good.txt"}, "",
               {"/usr/bin/strace", "-qq", "-e", "trace=fsync,fdatasync", "-o", dir_ + "trace2.log"});
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(read("trace2.log").find("sync("), std::string::npos) << read("trace2.log");
}

TEST_F(EndToEndTest, VerbosityLevelsShowTheirMessages) {
  write("d/bad.txt", kBadLog);
  write("d/a.txt", good_log(1));
  write("d/a2.txt", good_log(1));
  const std::vector<std::string> inputs{"d/missing.txt", "d/bad.txt", "d/a.txt", "d/a2.txt"};
  const Lines warnings{{'W', "Could not find input file/folder missing.txt"},
                       {'E', "Could not parse file header"},
                       {'E', "Error during conversion of bad.txt"},
                       {'W', "Repeated input file (LOGGERID, 00000001, 00000001)"}};
  const Lines errors{{'E', "Could not parse file header"},
                     {'E', "Error during conversion of bad.txt"}};
  struct Case {
    std::vector<std::string> options;
    Lines expected;
  };
  for (const Case& c : std::vector<Case>{{{}, errors},
                                         {{"--verbosity", "2"}, errors},
                                         {{"--verbosity", "1"}, {}},
                                         {{"--verbosity", "0"}, {}},
                                         {{"--verbosity", "3"}, warnings},
                                         {{"--verbosity", "4"}, warnings},
                                         {{"--verbosity=5"}, warnings}}) {
    std::vector<std::string> arguments = c.options;
    arguments.insert(arguments.end(), inputs.begin(), inputs.end());
    Outcome result = run(arguments);
    EXPECT_EQ(result.status, 9);
    EXPECT_EQ(log_lines(result.err), c.expected) << (c.options.empty() ? "" : c.options.back());
  }
  // Fatal messages show from verbosity 1 on.
  write("e/x.txt", kSmallLog);
  Outcome fatal = run({"--verbosity", "1", "d/a.txt", "e/x.txt"});
  EXPECT_EQ(fatal.status, 132);
  EXPECT_EQ(log_lines(fatal.err), (Lines{{'F', "No common root detected for all inputs"}}));
}

TEST_F(EndToEndTest, AFailedStatusQueryEndsTheRun) {
  write("d/a.txt", good_log(1));
  write("d/c.txt", good_log(3));
  // A link to itself cannot be queried (too many levels of links), unlike a
  // missing file.
  ASSERT_EQ(symlink("loop.txt", (dir_ + "d/loop.txt").c_str()), 0);
  Outcome result = run({"--verbosity", "3", "d/a.txt", "d/missing.txt", "d/loop.txt", "d/c.txt"});
  EXPECT_EQ(result.status, 129);
  EXPECT_EQ(log_lines(result.err), (Lines{{'W', "Could not find input file/folder missing.txt"},
                                          {'F', "Could not query loop.txt for information"}}));
  EXPECT_TRUE(has("d/a.trc"));
  EXPECT_FALSE(has("d/c.trc"));

  // Without the "_out" rule the query happens in the walk, with its own
  // message; the run ends there all the same.
  std::remove((dir_ + "d/a.trc").c_str());
  result = run({"-X", "d/a.txt", "d/loop.txt", "d/c.txt"});
  EXPECT_EQ(result.status, 129);
  EXPECT_EQ(log_lines(result.err), (Lines{{'F', "Error during stat of loop.txt, exiting"}}));
  EXPECT_TRUE(has("d/a.trc"));
  EXPECT_FALSE(has("d/c.trc"));
}

TEST_F(EndToEndTest, TwoInputsNeverWriteOneTraceFile) {
  write("d/a.TXT", good_log(1));
  write("d/a.txt", good_log(2));
  write("d/b.txt", good_log(3));
  Outcome result = run({"-d", "d"});
  EXPECT_EQ(result.status, 8);
  EXPECT_EQ(log_lines(result.err),
            (Lines{{'E', "Output file d_out/a.trc was already written for d/a.TXT"},
                   {'E', "Error during conversion of d/a.txt"}}));
  EXPECT_FALSE(has("d/a.TXT"));
  EXPECT_TRUE(has("d/a.txt"));
  EXPECT_FALSE(has("d/b.txt"));
  EXPECT_EQ(read("d_out/a.trc"), kSmallTrace2);

  // The same input named twice is converted twice.
  write("e/x.txt", good_log(1));
  result = run({"e/x.txt", "e/x.txt"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read("e/x.trc"), kSmallTrace2);
}

TEST_F(EndToEndTest, AFileNamedTxtKeepsItsFolder) {
  write("logs/txt", good_log(1));
  write("logs/b.txt", good_log(2));
  Outcome result = run({"logs"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read("logs_out/txt.trc"), kSmallTrace2);
  EXPECT_TRUE(has("logs_out/b.trc"));
  EXPECT_FALSE(has("logs_out.trc"));
}

TEST_F(EndToEndTest, TracesBesideTheirInputsAreNotVisitedAgain) {
  write("logs/a.txt", good_log(1));
  write("logs/b.txt", good_log(2));
  Outcome result = run({"-X", "--verbosity", "3", "logs"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(has("logs/a.trc"));
  EXPECT_TRUE(has("logs/b.trc"));
}

}  // namespace
