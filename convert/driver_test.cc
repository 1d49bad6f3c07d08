#include "convert/driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/run_records.h"
#include "convert/virtual_file_system.h"
#include "log/log.h"
#include "reader/can_frame.h"
#include "stream/stream.h"
#include "trace/backend.h"

// The buffer test asks for a window no allocator can give; under
// AddressSanitizer that must come back as a failed allocation, not an abort.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

// A log of the given identity with the given record lines.
std::string make_log(const char* logger_id, int session, int split,
                     const std::vector<std::string>& records) {
  std::string text = "# Logger type: VorlatBeta\n";
  if (logger_id != nullptr) text += std::string("# Logger ID: ") + logger_id + "\n";
  if (session >= 0) text += "# Session No.: " + std::to_string(session) + "\n";
  if (split >= 0) text += "# Split No.: " + std::to_string(split) + "\n";
  text +=
      "# Time: 20240115T093000\n"
      "# Value separator: \";\"\n"
      "# Time separator: \":\"\n"
      "# Time separator ms: \".\"\n"
      "Timestamp;Type;ID;Length;Data\n";
  for (const std::string& record : records) text += record + "\n";
  return text;
}

std::string two_frames(const char* logger_id = "L1", int session = 1, int split = 1) {
  return make_log(logger_id, session, split,
                  {"09:30:01.123;0;123;8;1122334455667788", "09:30:02.623;9;18FEF100;3;A00BFF"});
}

// A back end that writes one line per frame through the output file system
// and records every call, with failures to order.
struct FakeBackend {
  OutputBackend ops;  // first, so the driver's OutputBackend* is this object
  FileSystem* output_fs = nullptr;
  Stream* stream = nullptr;
  std::string output_path;
  int lines = 0;

  bool fail_new_file = false;
  int fail_record_at = 0;  // the n-th record call of a file fails (1-based)
  bool fail_end_file = false;

  struct Call {
    std::string what;  // "new", "record", "end"
    std::string input_path;
    std::string output_base;
    bool continues_previous = false;
    uint64_t frame_count = 0;
    uint32_t id = 0;
    bool sync_output = false;
  };
  std::vector<Call> calls;

  static FakeBackend* self(OutputBackend* backend) { return reinterpret_cast<FakeBackend*>(backend); }

  static bool new_file(OutputBackend* backend, const FilePaths* paths, bool continues) {
    FakeBackend* b = self(backend);
    b->calls.push_back({"new", paths->input_path, paths->output_base, continues, 0, 0,
                        paths->sync_output});
    b->output_path = paths->output_base + ".trc";
    b->lines = 0;
    if (b->fail_new_file) return false;
    b->stream = fs_open(b->output_fs, b->output_path.data(), b->output_path.size(), FS_WRITE | 4);
    return b->stream != nullptr;
  }
  static bool record(OutputBackend* backend, const CanFrame* frame, uint64_t frame_count) {
    FakeBackend* b = self(backend);
    b->calls.push_back({"record", "", "", false, frame_count, frame->id, false});
    if (b->fail_record_at > 0 && b->lines + 1 == b->fail_record_at) return false;
    std::string line = std::to_string(frame_count) + " " + std::to_string(frame->id) + "\n";
    stream_write(b->stream, line.data(), static_cast<int64_t>(line.size()));
    ++b->lines;
    return true;
  }
  static bool end_file(OutputBackend* backend, FilePaths* paths) {
    FakeBackend* b = self(backend);
    b->calls.push_back({"end", paths->input_path, paths->output_base, false, 0, 0,
                        paths->sync_output});
    if (b->stream == nullptr) return !b->fail_end_file;
    bool synced = paths->sync_output && b->lines > 0 && stream_sync(b->stream) == 0;
    stream_close(b->stream);
    b->stream = nullptr;
    if (b->lines == 0) {
      fs_remove(b->output_fs, b->output_path.data(), b->output_path.size());
    } else if (paths->sync_output) {
      if (!synced && log_enabled(LOG_ERROR)) {
        log_write(LOG_ERROR, "Could not sync output file %s", b->output_path.c_str());
      }
      paths->output_synced = synced;
    }
    return !b->fail_end_file;
  }

  explicit FakeBackend(FileSystem* fs) : output_fs(fs) {
    ops.record = record;
    ops.new_file = new_file;
    ops.end_file = end_file;
  }

  std::vector<std::string> bases() const {
    std::vector<std::string> out;
    for (const Call& call : calls) {
      if (call.what == "new") out.push_back(call.output_base);
    }
    return out;
  }
  std::vector<std::string> kinds() const {
    std::vector<std::string> out;
    for (const Call& call : calls) out.push_back(call.what);
    return out;
  }
};

// Collects what the diagnostic log writes to standard error while it lives.
// Each line is returned as its level letter, a blank and the message, the
// context of date, time, process and thread numbers cut off.
class LogCapture {
 public:
  LogCapture() {
    std::fflush(stderr);
    saved_ = dup(2);
    file_ = std::tmpfile();
    dup2(fileno(file_), 2);
  }
  ~LogCapture() {
    restore();
    std::fclose(file_);
  }
  std::vector<std::string> lines() {
    restore();
    std::vector<std::string> out;
    std::rewind(file_);
    char buffer[1024];
    while (std::fgets(buffer, sizeof buffer, file_) != nullptr) {
      std::string line(buffer);
      if (!line.empty() && line.back() == '\n') line.pop_back();
      // Only the log's lines ("MM-DD HH:..."); a sanitizer may add its own.
      if (line.size() < 20 || line[2] != '-' || line[5] != ' ') continue;
      // "MM-DD HH:MM:SS.mmm " then the two numbers, each right-aligned in 5
      // columns, then the level letter.
      size_t at = 19;
      for (int field = 0; field < 2; ++field) {
        while (at < line.size() && line[at] == ' ') ++at;
        while (at < line.size() && line[at] != ' ') ++at;
      }
      out.push_back(at + 1 < line.size() ? line.substr(at + 1) : line);
    }
    return out;
  }

 private:
  void restore() {
    if (saved_ >= 0) {
      dup2(saved_, 2);
      close(saved_);
      saved_ = -1;
    }
  }
  int saved_ = -1;
  FILE* file_ = nullptr;
};

using Lines = std::vector<std::string>;

class DriverTest : public ::testing::Test {
 protected:
  DriverTest() : input_("/in/"), output_("/out/"), backend_(&output_) {
    job_.input_fs = &input_;
    job_.output_fs = &output_;
    job_.make_dirs = true;
    job_.options = &options_;
    job_.writer = &backend_.ops;
    log_set_level(LOG_WARN);
  }
  ~DriverTest() override { log_set_level(LOG_NONE); }

  uint32_t run(const std::vector<std::string>& inputs) { return run_inputs(&job_, inputs); }

  VirtualFileSystem input_;
  VirtualFileSystem output_;
  RunOptions options_;
  FakeBackend backend_;
  ConversionJob job_;
};

TEST_F(DriverTest, FolderIsWalkedDepthFirstInByteOrderWithOutSuffix) {
  int split = 1;
  for (const char* name : {"day2/B.txt", "day2/a.txt", "day2/10.txt", "day2/9.txt",
                           "day2/sub/c.TXT", "day2/data.txt/d.txt", "day2/.hidden.txt"}) {
    input_.add_file(name, two_frames("L1", 1, split));
    split += 2;
  }
  input_.add_file("day2/notes.csv", "x");
  input_.add_file("day2/x.txt.bak", two_frames());
  input_.add_file("day2/x.trc", two_frames());
  input_.add_file("day2/README", two_frames());
  input_.add_folder("day2/empty");
  input_.add_folder("day2/only-csv");
  input_.add_file("day2/only-csv/n.csv", "x");
  LogCapture log;
  EXPECT_EQ(run({"day2/"}), 0u);
  EXPECT_EQ(backend_.bases(),
            (Lines{"day2_out/.hidden", "day2_out/10", "day2_out/9", "day2_out/B", "day2_out/a",
                   "day2_out/data.txt/d", "day2_out/sub/c"}));
  EXPECT_EQ(backend_.calls.front().input_path, "day2/.hidden.txt");
  EXPECT_EQ(output_.kind("day2_out/sub/c.trc"), ENTRY_FILE);
  // Folders without text logs get no output folder.
  EXPECT_EQ(output_.kind("day2_out/empty"), ENTRY_MISSING);
  EXPECT_EQ(output_.kind("day2_out/only-csv"), ENTRY_MISSING);
  EXPECT_EQ(output_.folders_made, (Lines{"day2_out", "day2_out/data.txt", "day2_out/sub"}));
  EXPECT_EQ(log.lines(), Lines{});
}

TEST_F(DriverTest, NoAppendRootKeepsFolderNamesAndFilesNeverGetOutSuffix) {
  input_.add_file("day2/a.txt", two_frames("L1", 1, 1));
  input_.add_file("x.tar.txt", two_frames("L1", 1, 3));
  options_.no_append_root = true;
  EXPECT_EQ(run({"day2/", "x.tar.txt"}), 0u);
  EXPECT_EQ(backend_.bases(), (Lines{"day2/a", "x.tar"}));

  options_.no_append_root = false;
  backend_.calls.clear();
  EXPECT_EQ(run({"x.tar.txt", "day2/"}), 0u);
  EXPECT_EQ(backend_.bases(), (Lines{"x.tar", "day2_out/a"}));
}

TEST_F(DriverTest, AFileNamedTxtKeepsItsFolderInTheOutputBase) {
  input_.add_file("logs/txt", two_frames("L1", 1, 1));
  input_.add_file("logs/a.txt", two_frames("L1", 1, 3));
  EXPECT_EQ(run({"logs/"}), 0u);
  EXPECT_EQ(backend_.bases(), (Lines{"logs_out/a", "logs_out/txt"}));
  EXPECT_EQ(output_.kind("logs_out/txt.trc"), ENTRY_FILE);
  EXPECT_EQ(output_.kind("logs_out.trc"), ENTRY_MISSING);
}

TEST_F(DriverTest, PathResultsCombineByOr) {
  input_.add_file("good.txt", two_frames("L1", 1, 1));
  input_.add_file("bad.txt", make_log("L2", 1, 0, {"09:30:01.123;0;123;8;11"}));
  input_.add_other("pipe.txt");
  {
    LogCapture log;
    EXPECT_EQ(run({"missing.txt", "bad.txt"}), 9u);
    EXPECT_EQ(log.lines(), (Lines{"W Could not find input file/folder missing.txt",
                                  "E Could not parse file header",
                                  "E Error during conversion of bad.txt"}));
  }
  {
    LogCapture log;
    EXPECT_EQ(run({"pipe.txt", "good.txt"}), 129u);
    EXPECT_EQ(log.lines(), Lines{});
  }
  EXPECT_EQ(run({"pipe.txt", "bad.txt"}), 137u);
  EXPECT_EQ(run({"missing.txt"}), 1u);
  EXPECT_EQ(run({}), 0u);
}

TEST_F(DriverTest, AFailedFileDoesNotStopTheOthers) {
  input_.add_file("d/a.txt", make_log("L1", 1, -1, {"09:30:01.123;0;123;8;11"}));
  input_.add_file("d/b.txt", two_frames("L1", 1, 1));
  EXPECT_EQ(run({"d/"}), 8u);
  EXPECT_EQ(backend_.bases(), (Lines{"d_out/b"}));
}

TEST_F(DriverTest, FrameNumbersRunOnAcrossFiles) {
  input_.add_file("a.txt", two_frames("L1", 1, 1));
  input_.add_file("b.txt", two_frames("L1", 1, 2));
  EXPECT_EQ(run({"a.txt", "b.txt"}), 0u);
  std::vector<uint64_t> numbers;
  for (const auto& call : backend_.calls) {
    if (call.what == "record") numbers.push_back(call.frame_count);
  }
  EXPECT_EQ(numbers, (std::vector<uint64_t>{1, 2, 3, 4}));
  EXPECT_EQ(job_.frame_count, 4u);
  EXPECT_EQ(output_.contents("b.trc"), "3 291\n4 419361024\n");
  EXPECT_EQ(backend_.kinds(),
            (Lines{"new", "record", "record", "end", "new", "record", "record", "end"}));
}

TEST_F(DriverTest, RepeatedInputsAreConvertedWithAWarningAndContinueTheLastFile) {
  input_.add_file("a.txt", two_frames("L1", 1, 2));
  input_.add_file("a2.txt", two_frames("L1", 1, 2));
  input_.add_file("b.txt", two_frames("L2", 1, 2));
  input_.add_file("next.txt", two_frames("L1", 1, 3));
  input_.add_file("gap.txt", two_frames("L1", 1, 5));
  input_.add_file("other_session.txt", two_frames("L1", 2, 5));
  input_.add_file("noid.txt", two_frames(nullptr, 3, 1));
  input_.add_file("noid2.txt", two_frames(nullptr, 3, 1));

  LogCapture log;
  EXPECT_EQ(run({"a.txt", "a2.txt", "b.txt", "a.txt", "next.txt", "gap.txt",
                 "other_session.txt", "noid.txt", "noid2.txt"}),
            0u);
  std::vector<bool> continues;
  for (const auto& call : backend_.calls) {
    if (call.what == "new") continues.push_back(call.continues_previous);
  }
  EXPECT_EQ(continues,
            (std::vector<bool>{false, true, false, false, true, false, false, false, true}));
  // a2 repeats a; a after b does not (only the last header is remembered).
  EXPECT_EQ(log.lines(), (Lines{"W Repeated input file (L1, 00000001, 00000002)",
                                "W Repeated input file (LOGGERID, 00000003, 00000001)"}));
  EXPECT_EQ(job_.last_logger_id, "LOGGERID");
  EXPECT_EQ(job_.last_session_no, 3);
  EXPECT_EQ(job_.last_split_no, 1);
}

TEST_F(DriverTest, TheSameInputNamedTwiceIsConvertedTwice) {
  input_.add_file("a.txt", two_frames());
  input_.add_folder("d");
  input_.add_file("d/b.txt", two_frames("L1", 1, 4));
  EXPECT_EQ(run({"a.txt", "a.txt", "d/", "d/"}), 0u);
  EXPECT_EQ(backend_.bases(), (Lines{"a", "a", "d_out/b", "d_out/b"}));
}

TEST_F(DriverTest, SiblingsWithOneOutputNameNeverOverwriteEachOther) {
  input_.add_file("d/a.TXT", two_frames("L1", 1, 1));
  input_.add_file("d/a.txt", make_log("L1", 1, 2, {"09:30:05.000;0;7FF;1;01"}));
  options_.delete_converted = true;
  LogCapture log;
  EXPECT_EQ(run({"d/"}), 8u);
  EXPECT_EQ(log.lines(), (Lines{"E Output file d_out/a.trc was already written for d/a.TXT",
                                "E Error during conversion of d/a.txt"}));
  EXPECT_EQ(backend_.bases(), (Lines{"d_out/a"}));
  EXPECT_EQ(output_.contents("d_out/a.trc"), "1 291\n2 419361024\n");
  EXPECT_EQ(input_.kind("d/a.TXT"), ENTRY_MISSING);
  EXPECT_EQ(input_.kind("d/a.txt"), ENTRY_FILE);
}

TEST_F(DriverTest, CommandLineSiblingsWithOneOutputNameNeverOverwriteEachOther) {
  input_.add_file("x.txt", two_frames("L1", 1, 1));
  input_.add_file("x.Txt", two_frames("L1", 1, 3));
  LogCapture log;
  EXPECT_EQ(run({"x.txt", "x.Txt", "x.txt"}), 8u);
  EXPECT_EQ(log.lines(), (Lines{"E Output file x.trc was already written for x.txt",
                                "E Error during conversion of x.Txt",
                                "W Repeated input file (L1, 00000001, 00000001)"}));
  EXPECT_EQ(backend_.bases(), (Lines{"x", "x"}));
}

TEST_F(DriverTest, ASiblingWhoseTraceWasRemovedLeavesTheNameFree) {
  input_.add_file("d/a.TXT", make_log("L1", 1, 1, {}));
  input_.add_file("d/a.txt", two_frames("L1", 1, 2));
  EXPECT_EQ(run({"d/"}), 0u);
  EXPECT_EQ(backend_.bases(), (Lines{"d_out/a", "d_out/a"}));
  EXPECT_EQ(output_.contents("d_out/a.trc"), "1 291\n2 419361024\n");
}

TEST_F(DriverTest, EachFileStepFailureIsReportedInOrder) {
  input_.add_file("open.txt", two_frames());
  input_.inject_fault(VfsFault::kOpen, "open.txt");
  input_.add_file("notlog.txt", "Timestamp;Type\n1;2\n");
  input_.add_file("nosession.txt", two_frames("L1", 0, 1));
  LogCapture log;
  EXPECT_EQ(run({"open.txt", "notlog.txt", "nosession.txt"}), 8u);
  EXPECT_EQ(log.lines(),
            (Lines{"E Could not open input file open.txt", "E Error during conversion of open.txt",
                   "E Could not open log", "E Error during conversion of notlog.txt",
                   "E Could not parse file header", "E Error during conversion of nosession.txt"}));
  EXPECT_TRUE(backend_.calls.empty());
  EXPECT_EQ(input_.open_streams, 0);
}

TEST_F(DriverTest, BackEndFailuresStillEndTheFile) {
  input_.add_file("a.txt", two_frames());
  log_set_level(LOG_ERROR);  // the same file three times repeats its header
  options_.delete_converted = true;
  {
    backend_.fail_new_file = true;
    LogCapture log;
    EXPECT_EQ(run({"a.txt"}), 8u);
    EXPECT_EQ(log.lines(),
              (Lines{"E Error on new file", "E Error during conversion of a.txt"}));
    EXPECT_EQ(backend_.kinds(), (Lines{"new", "end"}));
    backend_.fail_new_file = false;
  }
  {
    backend_.calls.clear();
    backend_.fail_record_at = 2;
    LogCapture log;
    EXPECT_EQ(run({"a.txt"}), 8u);
    EXPECT_EQ(log.lines(), (Lines{"E Error during conversion of a.txt"}));
    EXPECT_EQ(backend_.kinds(), (Lines{"new", "record", "record", "end"}));
    backend_.fail_record_at = 0;
  }
  {
    backend_.calls.clear();
    backend_.fail_end_file = true;
    LogCapture log;
    EXPECT_EQ(run({"a.txt"}), 8u);
    EXPECT_EQ(log.lines(), (Lines{"E Error during end file callback",
                                  "E Error during conversion of a.txt"}));
    backend_.fail_end_file = false;
  }
  // A failed file is never deleted.
  EXPECT_EQ(input_.kind("a.txt"), ENTRY_FILE);
  EXPECT_EQ(input_.open_streams, 0);
  EXPECT_EQ(job_.log, nullptr);
}

TEST_F(DriverTest, AnInputThatCannotBeClosedFails) {
  input_.add_file("a.txt", two_frames());
  input_.fail_stream_close = true;
  options_.delete_converted = true;
  // Read without a window: a window reader whose inner close fails stays in
  // place by the streams' contract, and nothing may close it again.
  options_.buffer_size = 0;
  LogCapture log;
  EXPECT_EQ(run({"a.txt"}), 8u);
  EXPECT_EQ(log.lines(), (Lines{"E Could not close input file after conversion: a.txt",
                                "E Error during conversion of a.txt"}));
  EXPECT_EQ(input_.kind("a.txt"), ENTRY_FILE);
}

TEST_F(DriverTest, AReadErrorFailsTheFileAndKeepsTheInput) {
  std::string text = two_frames();
  input_.add_file("a.txt", text);
  // The header and title line are read twice when the log opens, straight
  // from the file without a window, once into a window; the read fails right
  // after the first record.
  const int64_t title_end = static_cast<int64_t>(text.find("09:30:01"));
  const int64_t first_record = static_cast<int64_t>(text.find("09:30:02")) - title_end;
  options_.delete_converted = true;
  log_set_level(LOG_ERROR);  // the same file twice repeats its header
  for (auto [buffer, fail_after] :
       {std::pair<int64_t, int64_t>{0, 2 * title_end + first_record},
        std::pair<int64_t, int64_t>{-1, title_end + first_record}}) {
    input_.read_fail_after = fail_after;
    backend_.calls.clear();
    options_.buffer_size = buffer;
    LogCapture log;
    EXPECT_EQ(run({"a.txt"}), 8u) << buffer;
    EXPECT_EQ(log.lines(), (Lines{"E Could not read input file a.txt",
                                  "E Error during conversion of a.txt"}))
        << buffer;
    EXPECT_EQ(backend_.kinds(), (Lines{"new", "record", "end"})) << buffer;
    EXPECT_EQ(input_.kind("a.txt"), ENTRY_FILE);
  }
}

TEST_F(DriverTest, ConvertedInputsAreRemovedOnlyOnceTheirTraceIsSynced) {
  input_.add_file("a.txt", two_frames("L1", 1, 1));
  input_.add_file("empty.txt", make_log("L1", 1, 2, {}));
  options_.delete_converted = true;
  EXPECT_EQ(run({"a.txt", "empty.txt"}), 0u);
  EXPECT_EQ(input_.files_removed, (Lines{"a.txt", "empty.txt"}));
  EXPECT_EQ(output_.files_synced, Lines{"a.trc"});
  for (const auto& call : backend_.calls) {
    if (call.what != "record") {
      EXPECT_TRUE(call.sync_output);
    }
  }

  // The trace cannot be synced: the input stays, the run still succeeds.
  input_.add_file("b.txt", two_frames("L1", 1, 3));
  output_.fail_stream_sync = true;
  LogCapture log;
  EXPECT_EQ(run({"b.txt"}), 0u);
  EXPECT_EQ(log.lines(), Lines{"E Could not sync output file b.trc"});
  EXPECT_EQ(input_.kind("b.txt"), ENTRY_FILE);
}

TEST_F(DriverTest, WithoutTheDeleteOptionNothingIsSyncedOrRemoved) {
  input_.add_file("a.txt", two_frames());
  EXPECT_EQ(run({"a.txt"}), 0u);
  EXPECT_FALSE(backend_.calls.front().sync_output);
  EXPECT_TRUE(input_.files_removed.empty());
  EXPECT_TRUE(output_.files_synced.empty());
}

TEST_F(DriverTest, AFailedRemovalIsReportedButTheFileCountsAsConverted) {
  input_.add_file("a.txt", two_frames());
  input_.inject_fault(VfsFault::kRemove, "a.txt");
  options_.delete_converted = true;
  LogCapture log;
  EXPECT_EQ(run({"a.txt"}), 0u);
  EXPECT_EQ(log.lines(), Lines{"E Could not remove input file after conversion: a.txt"});
}

TEST_F(DriverTest, AFailedQueryEndsTheRun) {
  input_.add_file("a.txt", two_frames("L1", 1, 1));
  input_.add_file("b.txt", two_frames("L1", 1, 2));
  input_.add_file("c.txt", two_frames("L1", 1, 3));
  input_.inject_fault(VfsFault::kQuery, "b.txt");
  {
    LogCapture log;
    EXPECT_EQ(run({"missing.txt", "b.txt", "c.txt"}), 129u);
    EXPECT_EQ(log.lines(), (Lines{"W Could not find input file/folder missing.txt",
                                  "F Could not query b.txt for information"}));
    EXPECT_TRUE(backend_.calls.empty());
  }
  {
    // Without the "_out" rule the input is first queried inside the walk.
    options_.no_append_root = true;
    LogCapture log;
    EXPECT_EQ(run({"missing.txt", "b.txt", "c.txt"}), 129u);
    EXPECT_EQ(log.lines(), (Lines{"W Could not find input file/folder missing.txt",
                                  "F Error during stat of b.txt, exiting"}));
    EXPECT_TRUE(backend_.calls.empty());
  }
}

// Lists a folder, then makes the query of d/b.txt fail: the entry went out
// of reach between the listing and its visit.
void list_then_lose_b(FileSystem* fs, const char* path, size_t length, FolderListing* listing) {
  virtual_file_system_ops.list_folder(fs, path, length, listing);
  static_cast<VirtualFileSystem*>(fs)->inject_fault(VfsFault::kQuery, "d/b.txt");
}

TEST_F(DriverTest, AFailedQueryInsideAFolderEndsTheRun) {
  input_.add_file("d/a.txt", two_frames("L1", 1, 1));
  input_.add_file("d/b.txt", two_frames("L1", 1, 2));
  input_.add_file("d/c.txt", two_frames("L1", 1, 3));
  input_.add_file("e.txt", two_frames("L1", 1, 4));
  FileSystemOps ops = virtual_file_system_ops;
  ops.list_folder = list_then_lose_b;
  input_.ops = &ops;
  LogCapture log;
  EXPECT_EQ(run({"d/", "e.txt"}), 129u);
  EXPECT_EQ(log.lines(), Lines{"F Error during stat of d/b.txt, exiting"});
  EXPECT_EQ(backend_.bases(), Lines{"d_out/a"});
  EXPECT_TRUE(job_.written_outputs.empty());
  input_.ops = &virtual_file_system_ops;
}

TEST_F(DriverTest, ConvertPathReportsAFailedQueryAsTheEndOfTheRun) {
  input_.inject_fault(VfsFault::kQuery, "x.txt");
  EXPECT_NE(convert_path(&job_, "x.txt", "x.txt") & kPathAbortRun, 0u);
  input_.add_file("y.txt", two_frames());
  EXPECT_EQ(convert_path(&job_, "y.txt", "out/y.txt"), 0u);
  EXPECT_EQ(backend_.bases(), Lines{"out/y"});
}

TEST_F(DriverTest, EveryBufferSizeReadsTheSameFrames) {
  input_.add_file("a.txt", two_frames());
  std::string expected;
  for (int64_t buffer : {int64_t{-1}, int64_t{0}, int64_t{1}, int64_t{8}, int64_t{65536}}) {
    options_.buffer_size = buffer;
    job_.frame_count = 0;
    EXPECT_EQ(run({"a.txt"}), 0u) << buffer;
    if (expected.empty()) expected = output_.contents("a.trc");
    EXPECT_EQ(output_.contents("a.trc"), expected) << buffer;
  }
  EXPECT_EQ(expected, "1 291\n2 419361024\n");
}

TEST_F(DriverTest, ABufferThatCannotBeAllocatedFailsTheFile) {
  input_.add_file("a.txt", two_frames());
  options_.buffer_size = int64_t{1} << 60;
  LogCapture log;
  EXPECT_EQ(run({"a.txt"}), 8u);
  EXPECT_EQ(log.lines(), (Lines{"E Could not allocate buffer of size 1152921504606846976",
                                "E Error during conversion of a.txt"}));
  EXPECT_EQ(input_.open_streams, 0);
}

TEST_F(DriverTest, MessagesBelowTheLevelAreNotWritten) {
  input_.add_file("bad.txt", two_frames("L1", 0, 1));
  log_set_level(LOG_FATAL);
  LogCapture log;
  EXPECT_EQ(run({"missing.txt", "bad.txt"}), 9u);
  EXPECT_EQ(log.lines(), Lines{});
}

}  // namespace
