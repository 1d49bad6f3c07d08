// The driver over an in-memory file system and a recording back end: what
// the real binary cannot show (the running frame count, continues_previous,
// back-end and file-system failures on request). Walk order, placements,
// statuses and messages of real runs are checked in tests/cli/.
#include "convert/driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/run_records.h"
#include "convert/virtual_file_system.h"
#include "log/log.h"
#include "reader/can_frame.h"
#include "tests/support/test_support.h"
#include "trace/backend.h"

// The buffer test asks for a window no allocator can give; under
// AddressSanitizer that must come back as a failed allocation, not an abort.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

using Lines = std::vector<std::string>;

// A log of the given identity (no "Logger ID" line for nullptr; no session
// or split line for a negative number) with the given record lines.
std::string make_log(const char* logger_id, int session, int split, const Lines& records) {
  std::string text = "# Logger type: VorlatBeta\n";
  if (logger_id != nullptr) text += std::string("# Logger ID: ") + logger_id + "\n";
  if (session >= 0) text += "# Session No.: " + std::to_string(session) + "\n";
  if (split >= 0) text += "# Split No.: " + std::to_string(split) + "\n";
  text +=
      "# Time: 20240115T093000\n# Value separator: \";\"\n# Time separator: \":\"\n"
      "# Time separator ms: \".\"\nTimestamp;Type;ID;Length;Data\n";
  for (const std::string& record : records) text += record + "\n";
  return text;
}

std::string two_frames(const char* logger_id = "L1", int session = 1, int split = 1) {
  return make_log(logger_id, session, split,
                  {"09:30:01.123;0;123;8;1122334455667788", "09:30:02.623;9;18FEF100;3;A00BFF"});
}

// A back end that records every call, fails on request, leaves an output
// file "<output base>.trc" for a file with frames (removing it when none
// came) and syncs it when asked.
struct FakeBackend {
  OutputBackend ops;  // first, so the driver's OutputBackend* is this object
  VirtualFileSystem* output_fs;
  int frames = 0;
  bool fail_new_file = false;
  int fail_record_at = 0;  // the n-th record call of a file fails (1-based)
  bool fail_end_file = false;
  Lines synced;

  struct Call {
    std::string what;  // "new", "record", "end"
    std::string output_base;
    bool continues_previous = false;
    uint64_t frame_count = 0;
    bool sync_output = false;
  };
  std::vector<Call> calls;

  static FakeBackend* self(OutputBackend* backend) {
    return reinterpret_cast<FakeBackend*>(backend);
  }
  static bool new_file(OutputBackend* backend, const FilePaths* paths, bool continues) {
    FakeBackend* b = self(backend);
    b->calls.push_back({"new", paths->output_base, continues, 0, paths->sync_output});
    b->frames = 0;
    if (b->fail_new_file) return false;
    b->output_fs->add_file(paths->output_base + ".trc");
    return true;
  }
  static bool record(OutputBackend* backend, const CanFrame*, uint64_t frame_count) {
    FakeBackend* b = self(backend);
    b->calls.push_back({"record", "", false, frame_count, false});
    ++b->frames;
    return !(b->fail_record_at > 0 && b->frames == b->fail_record_at);
  }
  static bool end_file(OutputBackend* backend, FilePaths* paths) {
    FakeBackend* b = self(backend);
    b->calls.push_back({"end", paths->output_base, false, 0, paths->sync_output});
    std::string path = paths->output_base + ".trc";
    if (b->frames == 0) {
      fs_remove(b->output_fs, path.data(), path.size());
    } else if (paths->sync_output) {
      b->synced.push_back(path);
      paths->output_synced = true;
    }
    return !b->fail_end_file;
  }

  explicit FakeBackend(VirtualFileSystem* fs) : output_fs(fs) {
    ops.record = record;
    ops.new_file = new_file;
    ops.end_file = end_file;
  }
  Lines kinds() const {
    Lines out;
    for (const Call& call : calls) out.push_back(call.what);
    return out;
  }
};

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

  // Runs the inputs; returns the result and, through log, the diagnostic
  // lines as "<letter> <message>".
  uint32_t run(const Lines& inputs, Lines* log = nullptr) {
    backend_.calls.clear();
    test_support::FdCapture capture(2);
    uint32_t result = run_inputs(&job_, inputs);
    // A sanitizer's own lines ("==pid==WARNING: ... failed to allocate")
    // are not the program's.
    Lines lines;
    for (std::string& line : test_support::log_messages(capture.text())) {
      if (line.rfind("not a diagnostic line: ==", 0) != 0) lines.push_back(std::move(line));
    }
    if (log != nullptr) *log = lines;
    return result;
  }

  VirtualFileSystem input_;
  VirtualFileSystem output_;
  RunOptions options_;
  FakeBackend backend_;
  ConversionJob job_;
  Lines log_;
};

TEST_F(DriverTest, FrameNumbersRunOnAcrossFiles) {
  input_.add_file("a.txt", two_frames("L1", 1, 1));
  input_.add_file("b.txt", two_frames("L1", 1, 2));
  EXPECT_EQ(run({"a.txt", "b.txt"}), 0u);
  EXPECT_EQ(backend_.kinds(),
            (Lines{"new", "record", "record", "end", "new", "record", "record", "end"}));
  std::vector<uint64_t> numbers;
  for (const auto& call : backend_.calls) {
    if (call.what == "record") numbers.push_back(call.frame_count);
  }
  EXPECT_EQ(numbers, (std::vector<uint64_t>{1, 2, 3, 4}));
  EXPECT_EQ(job_.frame_count, 4u);
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
  EXPECT_EQ(run({"a.txt", "a2.txt", "b.txt", "a.txt", "next.txt", "gap.txt", "other_session.txt",
                 "noid.txt", "noid2.txt"},
                &log_),
            0u);
  std::vector<bool> continues;
  for (const auto& call : backend_.calls) {
    if (call.what == "new") continues.push_back(call.continues_previous);
  }
  EXPECT_EQ(continues,
            (std::vector<bool>{false, true, false, false, true, false, false, false, true}));
  // a2 repeats a; a after b does not (only the last header is remembered).
  EXPECT_EQ(log_, (Lines{"W Repeated input file (L1, 00000001, 00000002)",
                         "W Repeated input file (LOGGERID, 00000003, 00000001)"}));
}

// Inputs that are no logs or have no usable header fail with their messages
// in real runs (tests/cli/); there an input that cannot be opened needs
// a user without privileges, and a window that no allocator can give cannot be
// asked for.
TEST_F(DriverTest, AnInputThatCannotBeOpenedOrGivenItsWindowFails) {
  input_.add_file("open.txt", two_frames());
  input_.inject_fault(VfsFault::kOpen, "open.txt");
  input_.add_file("a.txt", two_frames());
  options_.buffer_size = int64_t{1} << 60;
  EXPECT_EQ(run({"open.txt", "a.txt"}, &log_), 8u);
  EXPECT_EQ(log_, (Lines{"E Could not open input file open.txt", "E Error during conversion of open.txt",
                         "E Could not allocate buffer of size 1152921504606846976",
                         "E Error during conversion of a.txt"}));
  EXPECT_TRUE(backend_.calls.empty());
  EXPECT_EQ(input_.open_streams, 0);
}

TEST_F(DriverTest, BackEndFailuresStillEndTheFileAndKeepTheInput) {
  input_.add_file("a.txt", two_frames());
  log_set_level(LOG_ERROR);  // the same file again repeats its header
  options_.delete_converted = true;
  struct Row {
    bool fail_new;
    int fail_record_at;
    bool fail_end;
    Lines log, kinds;
  };
  const Lines whole{"new", "record", "record", "end"};
  for (const Row& row : std::vector<Row>{
           {true, 0, false, {"E Error on new file", "E Error during conversion of a.txt"}, {"new", "end"}},
           {false, 2, false, {"E Error during conversion of a.txt"}, whole},
           {false, 0, true, {"E Error during end file callback", "E Error during conversion of a.txt"}, whole},
       }) {
    backend_.fail_new_file = row.fail_new;
    backend_.fail_record_at = row.fail_record_at;
    backend_.fail_end_file = row.fail_end;
    EXPECT_EQ(run({"a.txt"}, &log_), 8u);
    EXPECT_EQ(log_, row.log);
    EXPECT_EQ(backend_.kinds(), row.kinds);
    EXPECT_EQ(input_.kind("a.txt"), ENTRY_FILE);
    EXPECT_EQ(input_.open_streams, 0);
  }
}

// A failed read at every point is checked with the real trace writer
// (tests/faults_driver_test.cc). Read without a window: a window reader whose
// inner close fails stays in place by the streams' contract, and nothing may
// close it again.
TEST_F(DriverTest, AnInputThatCannotBeClosedFailsAndIsKept) {
  input_.add_file("a.txt", two_frames());
  options_.delete_converted = true;
  options_.buffer_size = 0;
  input_.fail_stream_close = true;
  EXPECT_EQ(run({"a.txt"}, &log_), 8u);
  EXPECT_EQ(log_, (Lines{"E Could not close input file after conversion: a.txt",
                         "E Error during conversion of a.txt"}));
  EXPECT_EQ(input_.kind("a.txt"), ENTRY_FILE);
}

// Runs without the option and traces that cannot be synced are checked with
// the real trace writer (tests/faults_driver_test.cc).
TEST_F(DriverTest, ConvertedInputsAreRemovedOnlyOnceTheirTraceIsSynced) {
  input_.add_file("a.txt", two_frames("L1", 1, 1));
  input_.add_file("empty.txt", make_log("L1", 1, 2, {}));
  options_.delete_converted = true;
  EXPECT_EQ(run({"a.txt", "empty.txt"}), 0u);
  EXPECT_TRUE(backend_.calls.front().sync_output);
  EXPECT_EQ(backend_.synced, Lines{"a.trc"});
  EXPECT_EQ(input_.files_removed, (Lines{"a.txt", "empty.txt"}));  // no frames, no trace

  // An input that cannot be removed stays, and the run still succeeds.
  input_.add_file("c.txt", two_frames("L1", 1, 4));
  input_.inject_fault(VfsFault::kRemove, "c.txt");
  EXPECT_EQ(run({"c.txt"}, &log_), 0u);
  EXPECT_EQ(log_, Lines{"E Could not remove input file after conversion: c.txt"});
  EXPECT_EQ(input_.kind("c.txt"), ENTRY_FILE);
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
  EXPECT_EQ(run({"d/", "e.txt"}, &log_), 129u);
  input_.ops = &virtual_file_system_ops;
  EXPECT_EQ(log_, Lines{"F Error during stat of d/b.txt, exiting"});
  EXPECT_EQ(backend_.kinds(), (Lines{"new", "record", "record", "end"}));
  EXPECT_EQ(backend_.calls.front().output_base, "d_out/a");
}

}  // namespace
