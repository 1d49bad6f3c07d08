// Fault cases end to end: the built trcforge binary on real files in a
// temporary folder, under a file-size limit, as an unprivileged user, on
// trees with loops, pipes and paths too long, and on logs cut off or padded
// after a power loss. Every case checks the diagnostic lines, the exit
// status and what stays on disk, and that with the delete option no input
// goes unless its complete trace file is there.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

const char kBinary[] = TRCFORGE_BINARY;
constexpr uid_t kNobody = 65534;

using test_support::sample_log;

struct Outcome {
  int status = -1;
  std::vector<std::string> lines;  // "<level letter> <message>" per diagnostic line
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Whether line[at, at + pattern size) matches pattern, "9" standing for any
// digit.
bool matches(const std::string& line, size_t at, const char* pattern) {
  for (size_t i = 0; pattern[i] != '\0'; ++i, ++at) {
    if (at >= line.size()) return false;
    const char c = line[at];
    if (pattern[i] == '9' ? !(c >= '0' && c <= '9') : c != pattern[i]) return false;
  }
  return true;
}

// The diagnostic lines without their context ("MM-DD HH:MM:SS.mmm", then
// the process and thread numbers right-aligned in five columns each); a line
// of any other shape is kept whole, so that it shows in a failed comparison.
std::vector<std::string> diagnostic_lines(const std::string& err) {
  std::vector<std::string> lines;
  std::istringstream in(err);
  std::string line;
  while (std::getline(in, line)) {
    size_t at = 19;
    bool ok = matches(line, 0, "99-99 99:99:99.999 ");
    for (int number = 0; ok && number < 2; ++number) {
      while (at < line.size() && line[at] == ' ') ++at;
      size_t digits = at;
      while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
      ok = at > digits && at < line.size() && line[at] == ' ';
      ++at;
    }
    ok = ok && at + 1 < line.size() && std::string("VDIWEF").find(line[at]) != std::string::npos &&
         line[at + 1] == ' ';
    lines.push_back(ok ? line.substr(at) : line);
  }
  return lines;
}

using Lines = std::vector<std::string>;

// How to run the binary.
struct RunAs {
  bool unprivileged = false;               // as user and group 65534 when running as root
  rlim_t file_size_limit = RLIM_INFINITY;  // bytes; SIGXFSZ ignored, so writes fail with EFBIG
};
const RunAs kUnprivileged{true, RLIM_INFINITY};
RunAs file_size_limit(rlim_t bytes) { return RunAs{false, bytes}; }

class FaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/trcforge-faults-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    // The unprivileged user must reach the test folder.
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  }
  void TearDown() override {
    std::string command = "chmod -R u+rwx '" + dir_ + "' 2>/dev/null; rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

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
      mkdir(so_far.c_str(), 0755);
    }
  }
  std::string read(const std::string& path) { return read_file(dir_ + path); }
  bool has(const std::string& path) {
    struct stat info;
    return lstat((dir_ + path).c_str(), &info) == 0;
  }

  // Permission cases: as root, permission bits count only for another user,
  // so the tree is handed to user 65534 and the binary runs as that user.
  // Returns false (the caller skips) when that cannot be done.
  bool prepare_unprivileged() {
    if (geteuid() != 0) return true;  // the bits apply to us already
    pid_t probe = fork();
    if (probe == 0) _exit(setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0 ? 0 : 1);
    int status = 0;
    waitpid(probe, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    std::string command = "chown -R 65534:65534 '" + dir_ + "'";
    return std::system(command.c_str()) == 0;
  }

  // The trace a conversion of text gives when nothing goes wrong.
  std::string reference_trace(const std::string& text, const std::vector<std::string>& options = {}) {
    write("reference/r.txt", text);
    std::vector<std::string> arguments = options;
    arguments.push_back("reference/r.txt");
    Outcome outcome = run(arguments);
    EXPECT_EQ(outcome.status, 0);
    std::string trace = read("reference/r.trc");
    std::remove((dir_ + "reference/r.trc").c_str());
    std::remove((dir_ + "reference/r.txt").c_str());
    return trace;
  }

  // Runs trcforge at verbosity 3 (warnings and above); a run that takes more
  // than a minute (blocked on a pipe, walking a loop forever) is killed and
  // fails the test.
  Outcome run(std::vector<std::string> arguments, const RunAs& how = {}) {
    arguments.insert(arguments.begin(), {kBinary, "--verbosity", "3"});
    std::vector<char*> argv;
    for (std::string& word : arguments) argv.push_back(word.data());
    argv.push_back(nullptr);
    char err_pattern[] = "/tmp/trcforge-faults-err-XXXXXX";
    int err = mkstemp(err_pattern);
    EXPECT_GE(err, 0);
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
      int in = open("/dev/null", O_RDWR);
      if (in < 0 || chdir(dir_.c_str()) != 0) _exit(250);
      dup2(in, 0);
      dup2(in, 1);
      dup2(err, 2);
      if (how.unprivileged && geteuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(252);
      }
      if (how.file_size_limit != RLIM_INFINITY) {
        signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec
        struct rlimit limit = {how.file_size_limit, how.file_size_limit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(253);
      }
      alarm(60);
      execv(argv[0], argv.data());
      _exit(251);
    }
    Outcome outcome;
    int wait_status = 0;
    EXPECT_EQ(waitpid(child, &wait_status, 0), child);
    EXPECT_TRUE(WIFEXITED(wait_status)) << "ended by signal " << WTERMSIG(wait_status);
    if (WIFEXITED(wait_status)) outcome.status = WEXITSTATUS(wait_status);
    close(err);
    outcome.lines = diagnostic_lines(read_file(err_pattern));
    unlink(err_pattern);
    return outcome;
  }

  std::string dir_;  // absolute, ends in "/"
};

// ---------------------------------------------------------------------------
// The output side

// The diagnostic lines of d/<name>.txt whose trace lost bytes to a failed
// write: the close reports them lost and, with -d, the sync reports that they
// never reached the disk.
Lines failed_trace_lines(const std::string& name, bool delete_converted) {
  Lines lines{"E Could not close CAN file"};
  if (delete_converted) lines.push_back("E Could not sync output file d_out/" + name + ".trc");
  lines.push_back("E Error during end file callback");
  lines.push_back("E Error during conversion of d/" + name + ".txt");
  return lines;
}

TEST_F(FaultsTest, AnOutputThatCannotBeWrittenPartWayFailsAndKeepsTheInput) {
  // A file-size limit makes every write beyond it fail (EFBIG). The big log's
  // trace outgrows the writer's 64 KiB buffer, so a frame line fails while
  // the file is written; the middle one's fits the buffer and fails only when
  // it is flushed; the small one's fits under the limit.
  const std::string big = sample_log(3000), middle = sample_log(400, 2), small = sample_log(2, 3);
  const rlim_t limit = 16384;
  ASSERT_GT(reference_trace(middle).size(), limit);
  ASSERT_LT(reference_trace(middle).size(), 65536u);
  const std::string small_trace = reference_trace(small);
  ASSERT_LT(small_trace.size(), limit);

  for (bool delete_converted : {false, true}) {
    SCOPED_TRACE(delete_converted ? "with -d" : "without -d");
    write("d/big.txt", big);
    write("d/middle.txt", middle);
    write("d/small.txt", small);
    std::vector<std::string> arguments{"d"};
    if (delete_converted) arguments.insert(arguments.begin(), "-d");
    Outcome outcome = run(arguments, file_size_limit(limit));
    EXPECT_EQ(outcome.status, 8);
    // A version 2.1 line that cannot be written fails the file without a
    // message of its own. The flush of a trace kept in the buffer fails only
    // when it is synced (with -d) or closed; the messages are the same.
    Lines expected = failed_trace_lines("big", delete_converted);
    Lines middle_lines = failed_trace_lines("middle", delete_converted);
    expected.insert(expected.end(), middle_lines.begin(), middle_lines.end());
    EXPECT_EQ(outcome.lines, expected);
    // The failed inputs stay whatever the option; a cut-off trace is never
    // mistaken for a converted one.
    EXPECT_EQ(read("d/big.txt"), big);
    EXPECT_EQ(read("d/middle.txt"), middle);
    EXPECT_LE(read("d_out/big.trc").size(), limit);
    EXPECT_EQ(read("d_out/small.trc"), small_trace);
    EXPECT_EQ(has("d/small.txt"), !delete_converted);
  }
}

TEST_F(FaultsTest, ALargeTraceThatHitsTheLimitWhileWrittenBehindFailsAndKeepsTheInput) {
  // A trace of several MiB is written by the writer's own thread, a full
  // buffer at a time, while the next one fills: the write that hits the limit
  // happens there, and must still fail the file, with or without -d.
  const std::string big = sample_log(80000);
  const rlim_t limit = 2 << 20;
  const std::string big_trace = reference_trace(big);
  ASSERT_GT(big_trace.size(), limit + (2u << 20));
  for (bool delete_converted : {false, true}) {
    SCOPED_TRACE(delete_converted ? "with -d" : "without -d");
    write("d/big.txt", big);
    std::vector<std::string> arguments{"d"};
    if (delete_converted) arguments.insert(arguments.begin(), "-d");
    Outcome outcome = run(arguments, file_size_limit(limit));
    EXPECT_EQ(outcome.status, 8);
    EXPECT_EQ(outcome.lines, failed_trace_lines("big", delete_converted));
    EXPECT_EQ(read("d/big.txt"), big);
    // What reached the file is the trace's beginning, up to the limit.
    const std::string written = read("d_out/big.trc");
    EXPECT_EQ(written.size(), limit);
    EXPECT_TRUE(big_trace.compare(0, written.size(), written) == 0);
  }
}

TEST_F(FaultsTest, AReadOnlyOutputFolderFailsEveryFileAndKeepsTheInputs) {
  write("d/a.txt", sample_log(2));
  write("d/sub/b.txt", sample_log(2, 2));
  make_folders("out");
  if (!prepare_unprivileged()) GTEST_SKIP() << "cannot run as an unprivileged user here";
  ASSERT_EQ(chmod((dir_ + "out").c_str(), 0555), 0);
  Outcome outcome = run({"-d", "-O", dir_ + "out", "d"}, kUnprivileged);
  EXPECT_EQ(outcome.status, 8);
  EXPECT_EQ(outcome.lines, (Lines{"E Could not open output file for CAN: d_out/a.trc", "E Error on new file",
                                  "E Error during conversion of d/a.txt",
                                  "E Could not open output file for CAN: d_out/sub/b.trc",
                                  "E Error on new file", "E Error during conversion of d/sub/b.txt"}));
  EXPECT_TRUE(has("d/a.txt"));
  EXPECT_TRUE(has("d/sub/b.txt"));
  EXPECT_FALSE(has("out/d_out"));
}

TEST_F(FaultsTest, ATraceNameTakenByAReadOnlyFileIsLeftAsItWas) {
  write("d/a.txt", sample_log(2));
  write("d/a.trc", "someone else's trace\n");
  if (!prepare_unprivileged()) GTEST_SKIP() << "cannot run as an unprivileged user here";
  ASSERT_EQ(chmod((dir_ + "d/a.trc").c_str(), 0444), 0);
  Outcome outcome = run({"-d", "d/a.txt"}, kUnprivileged);
  EXPECT_EQ(outcome.status, 8);
  EXPECT_EQ(outcome.lines, (Lines{"E Could not open output file for CAN: a.trc", "E Error on new file",
                                  "E Error during conversion of a.txt"}));
  EXPECT_EQ(read("d/a.trc"), "someone else's trace\n");
  EXPECT_TRUE(has("d/a.txt"));
}

TEST_F(FaultsTest, ATraceNameTakenByAFolderIsLeftAsItWas) {
  // An empty folder would go with a careless removal of the failed output.
  write("d/a.txt", sample_log(2));
  make_folders("d/a.trc");
  write("d/b.txt", sample_log(2, 2));
  write("d/b.trc/keep", "x");
  Outcome outcome = run({"-d", "d/a.txt", "d/b.txt"});
  EXPECT_EQ(outcome.status, 8);
  EXPECT_EQ(outcome.lines, (Lines{"E Could not open output file for CAN: a.trc", "E Error on new file",
                                  "E Error during conversion of a.txt",
                                  "E Could not open output file for CAN: b.trc", "E Error on new file",
                                  "E Error during conversion of b.txt"}));
  struct stat info;
  ASSERT_EQ(stat((dir_ + "d/a.trc").c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(read("d/b.trc/keep"), "x");
  EXPECT_TRUE(has("d/a.txt"));
  EXPECT_TRUE(has("d/b.txt"));
}

// ---------------------------------------------------------------------------
// The input tree

TEST_F(FaultsTest, UnreadableInputsAreNeverRemovedAndTheRestIsConverted) {
  const std::string log = sample_log(2);
  write("d/a.txt", log);
  write("d/locked.txt", sample_log(2, 2));
  write("d/closed/b.txt", sample_log(2, 3));   // a folder that cannot be listed
  write("d/opaque/c.txt", sample_log(2, 4));   // a folder whose entries cannot be queried
  if (!prepare_unprivileged()) GTEST_SKIP() << "cannot run as an unprivileged user here";
  const std::string trace = reference_trace(log);
  ASSERT_EQ(chmod((dir_ + "d/locked.txt").c_str(), 0), 0);
  ASSERT_EQ(chmod((dir_ + "d/closed").c_str(), 0), 0);
  ASSERT_EQ(chmod((dir_ + "d/opaque").c_str(), 0444), 0);
  Outcome outcome = run({"-d", "d"}, kUnprivileged);
  // The walk takes a folder it cannot list for an empty one and leaves out
  // entries it cannot query, without a message; only the file that was
  // found and could not be opened fails the run.
  EXPECT_EQ(outcome.status, 8);
  EXPECT_EQ(outcome.lines, (Lines{"E Could not open input file d/locked.txt",
                                  "E Error during conversion of d/locked.txt"}));
  EXPECT_EQ(read("d_out/a.trc"), trace);
  EXPECT_FALSE(has("d/a.txt"));
  ASSERT_EQ(std::system(("chmod -R u+rwx '" + dir_ + "d'").c_str()), 0);
  for (const char* kept : {"d/locked.txt", "d/closed/b.txt", "d/opaque/c.txt"}) EXPECT_TRUE(has(kept)) << kept;
  EXPECT_FALSE(has("d_out/locked.trc"));
  EXPECT_FALSE(has("d_out/closed"));
  EXPECT_FALSE(has("d_out/opaque"));
}

TEST_F(FaultsTest, ALinkLoopInTheTreeEndsWhereTheLinksCannotBeFollowed) {
  const std::string log = sample_log(2);
  const std::string trace = reference_trace(log);
  write("d/a.txt", log);
  ASSERT_EQ(symlink(".", (dir_ + "d/self").c_str()), 0);          // a folder loop
  ASSERT_EQ(symlink("loop.txt", (dir_ + "d/loop.txt").c_str()), 0);  // a link to itself
  Outcome outcome = run({"d"});
  EXPECT_EQ(outcome.status, 0);
  // The loop is walked as deep as the system follows links, each level a
  // copy of the folder; then the link can no longer be queried and the walk
  // ends.
  std::string level = "d_out/";
  int depth = 0;
  while (has(level + "a.trc") && depth < 100) {
    EXPECT_EQ(read(level + "a.trc"), trace) << level;
    level += "self/";
    ++depth;
  }
  EXPECT_GT(depth, 1);
  EXPECT_LT(depth, 100);
  // Each copy after the first repeats the header of the one before.
  EXPECT_EQ(outcome.lines, Lines(depth - 1, "W Repeated input file (LOGGERID, 00000001, 00000001)"));
  EXPECT_FALSE(has("d_out/loop.trc"));

  // With the delete option the input goes after its first, complete trace;
  // the levels below then find nothing to convert.
  ASSERT_EQ(std::system(("rm -rf '" + dir_ + "d_out'").c_str()), 0);
  outcome = run({"-d", "d"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.lines, Lines{});
  EXPECT_FALSE(has("d/a.txt"));
  EXPECT_EQ(read("d_out/a.trc"), trace);
  EXPECT_FALSE(has("d_out/self"));
}

TEST_F(FaultsTest, AnOutputPathTooLongToResolveFailsTheFileAndKeepsTheInput) {
  // A log whose own path just fits the system's limit, while the path of its
  // trace, four characters longer for "_out", does not.
  const std::string log = sample_log(2, 2);
  write("d/a.txt", sample_log(2));
  const size_t limit = 4095;  // PATH_MAX without the terminating zero
  std::string relative = "d";
  const std::string file = "/deep.txt";
  int folder = open((dir_ + "d").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  while (dir_.size() + relative.size() + file.size() < limit) {
    size_t room = limit - dir_.size() - relative.size() - file.size() - 1;
    std::string name(std::min<size_t>(room, 200), 'n');
    if (room > 200 && room < 202) name.resize(100);  // leave room for one more level
    ASSERT_EQ(mkdirat(folder, name.c_str(), 0755), 0);
    int next = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(next, 0);
    close(folder);
    folder = next;
    relative += "/" + name;
  }
  ASSERT_EQ(dir_.size() + relative.size() + file.size(), limit);
  int fd = openat(folder, "deep.txt", O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, log.data(), log.size()), static_cast<ssize_t>(log.size()));
  close(fd);
  close(folder);

  Outcome outcome = run({"-d", "d"});
  EXPECT_EQ(outcome.status, 8);
  ASSERT_EQ(outcome.lines.size(), 3u) << ::testing::PrintToString(outcome.lines);
  // Diagnostic lines are cut at 510 characters, so only their beginnings
  // are compared.
  EXPECT_EQ(outcome.lines[0].rfind("E Could not open output file for CAN: d_out/nnn", 0), 0u) << outcome.lines[0];
  EXPECT_EQ(outcome.lines[1], "E Error on new file");
  EXPECT_EQ(outcome.lines[2].rfind("E Error during conversion of d/nnn", 0), 0u) << outcome.lines[2];
  EXPECT_FALSE(has("d/a.txt"));
  EXPECT_TRUE(has("d_out/a.trc"));
  // The deep input is still there (looked up from its folder, as its path
  // is at the limit).
  EXPECT_EQ(faccessat(AT_FDCWD, (dir_ + relative + file).c_str(), F_OK, 0), 0);
}

TEST_F(FaultsTest, NamedPipesAreNeverOpened) {
  const std::string log = sample_log(2);
  const std::string trace = reference_trace(log);
  write("d/a.txt", log);
  ASSERT_EQ(mkfifo((dir_ + "d/pipe.txt").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((dir_ + "pipe.txt").c_str(), 0644), 0);
  write("b.txt", sample_log(2, 2));

  // In a folder the pipe is not listed at all.
  Outcome outcome = run({"-d", "d"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.lines, Lines{});
  EXPECT_EQ(read("d_out/a.trc"), trace);
  EXPECT_FALSE(has("d_out/pipe.trc"));

  // Named on the command line it gives 129 without a message, with or
  // without the "_out" rule, and the other input is converted.
  for (const char* option : {"-d", "-X"}) {  // the second with -d too
    write("b.txt", sample_log(2, 2));
    std::vector<std::string> arguments{"-d", "pipe.txt", "b.txt"};
    if (option[1] == 'X') arguments.insert(arguments.begin(), option);
    outcome = run(arguments);
    EXPECT_EQ(outcome.status, 129) << option;
    EXPECT_EQ(outcome.lines, Lines{}) << option;
    EXPECT_TRUE(has("b.trc")) << option;
    EXPECT_FALSE(has("b.txt")) << option;
    EXPECT_FALSE(has("pipe.trc")) << option;
  }
  EXPECT_TRUE(has("d/pipe.txt"));
  EXPECT_TRUE(has("pipe.txt"));
}

// ---------------------------------------------------------------------------
// Logs damaged by a power loss

TEST_F(FaultsTest, ALogCutOffInALineKeepsEveryWholeRecord) {
  const std::string whole = sample_log(3);
  const size_t last_line = whole.rfind("09:30:00.002");
  const std::string two_records = whole.substr(0, last_line);
  const std::string two_trace = reference_trace(two_records);
  const size_t title = whole.find("Timestamp;");

  struct Case {
    size_t cut;        // bytes kept
    int status;
    Lines lines;
    bool trace;        // a trace file is written
  };
  const std::vector<Case> cases = {
      // In the header: the title line is missing, so it is no log.
      {title - 9, 8, {"E Could not open log", "E Error during conversion of c.txt"}, false},
      // In the title line: a log without records, so no trace and nothing
      // to lose.
      {title + 12, 0, {}, false},
      // In the last record: the whole records come out as they would without
      // it, and the cut one adds at most one line.
      {last_line + 5, 0, {}, true},
      {last_line + 20, 0, {}, true},
      {whole.size() - 1, 0, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("cut at " + std::to_string(c.cut));
    const std::string cut = whole.substr(0, c.cut);
    write("d/c.txt", cut);
    Outcome outcome = run({"-d", "d/c.txt"});
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.lines, c.lines);
    EXPECT_EQ(has("d/c.trc"), c.trace);
    if (c.trace) {
      const std::string trace = read("d/c.trc");
      EXPECT_EQ(trace.compare(0, two_trace.size(), two_trace), 0) << trace;
      EXPECT_LE(std::count(trace.begin(), trace.end(), '\n'),
                std::count(two_trace.begin(), two_trace.end(), '\n') + 1);
    }
    // The input goes only when it was converted.
    EXPECT_EQ(has("d/c.txt"), c.status != 0);
    std::remove((dir_ + "d/c.trc").c_str());
  }
}

TEST_F(FaultsTest, NulPaddingAfterAPowerLossEndsTheRecords) {
  const std::string log = sample_log(50);
  const std::string trace = reference_trace(log);
  for (const char* buffer : {"-1", "0", "64"}) {
    SCOPED_TRACE(std::string("buffer ") + buffer);
    // The file system kept the file's length but not its last blocks.
    write("d/p.txt", log + std::string(65536, '\0'));
    Outcome outcome = run({"-d", "-b", buffer, "d/p.txt"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.lines, Lines{});
    EXPECT_EQ(read("d/p.trc"), trace);
    EXPECT_FALSE(has("d/p.txt"));
  }
}

TEST_F(FaultsTest, ZeroBytesInTheMiddleOfALogFailItAndKeepTheInput) {
  // The file system kept later blocks but not an earlier one: records follow
  // the zeros. The trace holds the records before them, and the log stays.
  const std::string log = sample_log(50);
  const size_t cut = log.find("09:30:00.020");
  const std::string before = log.substr(0, cut);
  const std::string after = log.substr(cut);
  for (const char* buffer : {"-1", "0", "64"}) {
    SCOPED_TRACE(std::string("buffer ") + buffer);
    write("d/m.txt", before + std::string(4096, '\0') + after);
    Outcome outcome = run({"-d", "-b", buffer, "d/m.txt"});
    EXPECT_EQ(outcome.status, 8);
    EXPECT_EQ(outcome.lines,
              (Lines{"E Input file m.txt holds data after zero bytes that end its records",
                     "E Error during conversion of m.txt"}));
    EXPECT_EQ(read("d/m.trc"), reference_trace(before));
    EXPECT_TRUE(has("d/m.txt"));
  }
}

}  // namespace
