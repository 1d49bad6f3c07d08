#include "trace/trace_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/run_records.h"
#include "convert/virtual_file_system.h"
#include "log/log.h"
#include "reader/can_frame.h"
#include "tests/support/test_frames.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;

// Collects the diagnostic lines written to standard error while it lives, as
// "<level letter> <message>".
class LogCapture {
 public:
  LogCapture() : capture_(2) {}
  Lines lines() { return test_support::log_messages(capture_.text()); }

 private:
  test_support::FdCapture capture_;
};

using test_support::data_frame;

class TraceWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { log_set_level(LOG_ERROR); }
  void TearDown() override { log_set_level(LOG_NONE); }

  // A writer over vfs_ for version; the test owns it.
  OutputBackend* make_writer(int version) {
    writer_ = trace_writer_new(&vfs_, version);
    EXPECT_NE(writer_, nullptr);
    return trace_writer_backend(writer_);
  }
  ~TraceWriterTest() override { trace_writer_free(writer_); }

  FilePaths paths(const std::string& base) {
    FilePaths p;
    p.output_base = base;
    return p;
  }

  // One file through the back end: new_file and a record per frame, all of
  // which must succeed, then end_file, whose result is returned.
  bool write_file(OutputBackend* backend, FilePaths* p, const std::vector<CanFrame>& frames) {
    EXPECT_TRUE(backend->new_file(backend, p, false)) << p->output_base;
    for (const CanFrame& frame : frames) EXPECT_TRUE(backend->record(backend, &frame, 0)) << p->output_base;
    return backend->end_file(backend, p);
  }

  VirtualFileSystem vfs_;
  TraceWriter* writer_ = nullptr;
};

TEST_F(TraceWriterTest, OnlyVersionsOneAndTwo) {
  EXPECT_EQ(trace_writer_new(&vfs_, 0), nullptr);
  EXPECT_EQ(trace_writer_new(&vfs_, 3), nullptr);
  trace_writer_free(nullptr);
  OutputBackend fresh;
  output_backend_init(&fresh);
  FilePaths p;
  CanFrame frame{};
  EXPECT_FALSE(fresh.record(&fresh, &frame, 0));
  EXPECT_FALSE(fresh.new_file(&fresh, &p, false));
  EXPECT_FALSE(fresh.end_file(&fresh, &p));
}

TEST_F(TraceWriterTest, Version2FileFromHeaderToLastLine) {
  OutputBackend* backend = make_writer(2);
  vfs_.add_folder("logs_out");
  FilePaths p = paths("logs_out/a");
  ASSERT_TRUE(backend->new_file(backend, &p, false));
  EXPECT_EQ(writer_->output_path, "logs_out/a.trc");

  double start = 1700000000.0;
  CanFrame first = data_frame(0x123, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}, start);
  CanFrame second = data_frame(0x18FEF100, {0xA0, 0x0B, 0xFF}, start + 1.234567);
  second.extended = true;
  second.transmitted = true;
  second.kind = 2;
  ASSERT_TRUE(backend->record(backend, &first, 10));
  ASSERT_TRUE(backend->record(backend, &second, 11));
  ASSERT_TRUE(backend->end_file(backend, &p));
  EXPECT_EQ(vfs_.contents("logs_out/a.trc"),
            ";$FILEVERSION=2.1\n"
            ";$STARTTIME=45244.9259259259\n"
            ";$COLUMNS=N,O,T,B,I,d,L,D\n"
            "      1         0.000 DT 1     0123 Rx 8    11 22 33 44 55 66 77 88\n"
            "      2      1234.567 DT 1 18FEF100 Tx 3    A0 0B FF\n");
  EXPECT_EQ(vfs_.open_streams, 0);
  EXPECT_TRUE(vfs_.files_removed.empty());

  // The next file starts again at 1, with its own start time.
  FilePaths q = paths("b");
  ASSERT_TRUE(backend->new_file(backend, &q, true));
  CanFrame third = data_frame(0x1, {}, 0.0);
  ASSERT_TRUE(backend->record(backend, &third, 12));
  ASSERT_TRUE(backend->end_file(backend, &q));
  EXPECT_EQ(vfs_.contents("b.trc"),
            ";$FILEVERSION=2.1\n"
            ";$STARTTIME=25569.0000000000\n"
            ";$COLUMNS=N,O,T,B,I,d,L,D\n"
            "      1         0.000 DT 1     0001 Rx 0    \n");
}

TEST_F(TraceWriterTest, Version1SkipsFdFramesWithoutGaps) {
  OutputBackend* backend = make_writer(1);
  FilePaths p = paths("v1");
  ASSERT_TRUE(backend->new_file(backend, &p, false));
  // The first frame is FD: it sets the start time but gets no line.
  CanFrame fd = data_frame(0x10, {1, 2, 3}, 100.0);
  fd.fd = true;
  CanFrame a = data_frame(0x20, {0xAB}, 100.5);
  CanFrame b = data_frame(0x30, {}, 101.0);
  b.remote = true;
  b.length = 2;
  ASSERT_TRUE(backend->record(backend, &fd, 0));
  ASSERT_TRUE(backend->record(backend, &a, 1));
  ASSERT_TRUE(backend->record(backend, &fd, 2));
  ASSERT_TRUE(backend->record(backend, &b, 3));
  ASSERT_TRUE(backend->end_file(backend, &p));
  EXPECT_EQ(vfs_.contents("v1.trc"),
            ";$FILEVERSION=1.1\n"
            ";$STARTTIME=25569.0011574074\n"
            "     1)       500.0 Rx        0020 1  AB\n"
            "     2)      1000.0 Rx        0030 2  RTR\n");
}

TEST_F(TraceWriterTest, OtherKindsNeitherStartTheHeaderNorTakeANumber) {
  OutputBackend* backend = make_writer(2);
  FilePaths p = paths("k");
  ASSERT_TRUE(backend->new_file(backend, &p, false));
  CanFrame other = data_frame(0x1, {}, 5.0);
  other.kind = 0;
  ASSERT_TRUE(backend->record(backend, &other, 0));
  other.kind = 3;
  ASSERT_TRUE(backend->record(backend, &other, 1));
  EXPECT_EQ(vfs_.contents("k.trc"), "");
  CanFrame frame = data_frame(0x1, {}, 6.0);
  ASSERT_TRUE(backend->record(backend, &other, 2));
  ASSERT_TRUE(backend->record(backend, &frame, 3));
  ASSERT_TRUE(backend->end_file(backend, &p));
  std::string text = vfs_.contents("k.trc");
  EXPECT_NE(text.find(";$STARTTIME=25569.0000694444\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n      1         0.000 DT"), std::string::npos) << text;
}

TEST_F(TraceWriterTest, FilesWithoutFrameLinesAreRemoved) {
  OutputBackend* backend = make_writer(1);
  LogCapture capture;
  // No frame at all.
  FilePaths p = paths("none");
  EXPECT_TRUE(write_file(backend, &p, {}));
  // Only FD frames in version 1.1: a header, but no line.
  FilePaths q = paths("fd_only");
  ASSERT_TRUE(backend->new_file(backend, &q, false));
  CanFrame fd = data_frame(0x1, {}, 1.0);
  fd.fd = true;
  ASSERT_TRUE(backend->record(backend, &fd, 0));
  EXPECT_TRUE(writer_->header_written);
  EXPECT_EQ(writer_->message_number, 1);
  EXPECT_TRUE(backend->end_file(backend, &q));
  EXPECT_EQ(vfs_.files_removed, (Lines{"none.trc", "fd_only.trc"}));
  EXPECT_EQ(vfs_.kind("fd_only.trc"), ENTRY_MISSING);
  EXPECT_EQ(capture.lines(), Lines{});
}

TEST_F(TraceWriterTest, FailedNewFileLeavesWhatIsInTheWay) {
  OutputBackend* backend = make_writer(2);
  // A trace file of an earlier run that cannot be opened for writing (read
  // only). Folders named like the output file are checked on disk
  // (tests/cli/delete.sh).
  vfs_.add_file("old.trc", "earlier run\n");
  vfs_.inject_fault(VfsFault::kOpen, "old.trc");
  LogCapture capture;
  FilePaths p = paths("old");
  EXPECT_FALSE(backend->new_file(backend, &p, false));
  CanFrame frame = data_frame(0x1, {}, 1.0);
  EXPECT_FALSE(backend->record(backend, &frame, 0));  // no file to write to
  EXPECT_TRUE(backend->end_file(backend, &p));
  EXPECT_EQ(capture.lines(), Lines{"E Could not open output file for CAN: old.trc"});
  EXPECT_TRUE(vfs_.files_removed.empty());
  EXPECT_EQ(vfs_.contents("old.trc"), "earlier run\n");
}

TEST_F(TraceWriterTest, ShortWritesAreReportedOnlyInVersion1Lines) {
  const std::string header2 =
      ";$FILEVERSION=2.1\n;$STARTTIME=25569.0000000000\n;$COLUMNS=N,O,T,B,I,d,L,D\n";
  const std::string header1 = ";$FILEVERSION=1.1\n;$STARTTIME=25569.0000000000\n";
  CanFrame frame = data_frame(0x1, {}, 0.0);
  for (int version : {1, 2}) {
    SCOPED_TRACE(version);
    VirtualFileSystem vfs;
    TraceWriter* writer = trace_writer_new(&vfs, version);
    OutputBackend* backend = trace_writer_backend(writer);
    const std::string& header = version == 1 ? header1 : header2;

    // A header that does not fit.
    vfs.write_limit = static_cast<int64_t>(header.size()) - 1;
    FilePaths p = paths("h");
    ASSERT_TRUE(backend->new_file(backend, &p, false));
    {
      LogCapture capture;
      EXPECT_FALSE(backend->record(backend, &frame, 0));
      EXPECT_EQ(capture.lines(), Lines{"E Could not write CAN header"});
    }
    EXPECT_FALSE(writer->header_written);
    EXPECT_TRUE(backend->end_file(backend, &p));  // no header: removed
    EXPECT_EQ(vfs.kind("h.trc"), ENTRY_MISSING);

    // A line that does not fit: it still uses up its number.
    vfs.write_limit = static_cast<int64_t>(header.size()) + 5;
    FilePaths q = paths("l");
    ASSERT_TRUE(backend->new_file(backend, &q, false));
    {
      LogCapture capture;
      EXPECT_FALSE(backend->record(backend, &frame, 0));
      EXPECT_EQ(capture.lines(), version == 1 ? Lines{"E Could not write CAN data"} : Lines{});
    }
    EXPECT_TRUE(writer->header_written);
    EXPECT_EQ(writer->message_number, 2);
    EXPECT_TRUE(backend->end_file(backend, &q));  // a partial line: kept
    EXPECT_EQ(vfs.contents("l.trc").size(), header.size() + 5);
    trace_writer_free(writer);
  }
}

TEST_F(TraceWriterTest, CloseAndRemoveFailures) {
  OutputBackend* backend = make_writer(2);
  CanFrame frame = data_frame(0x1, {}, 0.0);
  vfs_.fail_stream_close = true;
  LogCapture capture;
  FilePaths p = paths("kept");
  EXPECT_FALSE(write_file(backend, &p, {frame}));
  EXPECT_EQ(vfs_.kind("kept.trc"), ENTRY_FILE);

  // A failed close of a file without lines still removes it.
  FilePaths q = paths("empty");
  EXPECT_FALSE(write_file(backend, &q, {}));
  EXPECT_EQ(vfs_.kind("empty.trc"), ENTRY_MISSING);

  vfs_.fail_stream_close = false;
  vfs_.inject_fault(VfsFault::kRemove, "stuck.trc");
  FilePaths r = paths("stuck");
  EXPECT_FALSE(write_file(backend, &r, {}));
  EXPECT_EQ(vfs_.kind("stuck.trc"), ENTRY_FILE);

  EXPECT_EQ(capture.lines(), (Lines{"E Could not close CAN file", "E Could not close CAN file",
                                     "E Could not remove CAN file"}));
  EXPECT_EQ(vfs_.open_streams, 0);
}

// A new file is synced with its folder; a file that existed before has a
// stable folder entry already. Without the request nothing is synced, and a
// file removed for want of lines has nothing to sync. end_file sets
// output_synced either way.
TEST_F(TraceWriterTest, KeptOutputIsSyncedWhenAsked) {
  OutputBackend* backend = make_writer(2);
  vfs_.add_folder("out/sub");
  vfs_.add_file("out/sub/old.trc", "earlier");
  const CanFrame frame = data_frame(0x1, {}, 0.0);
  struct Row {
    const char* base;
    bool sync, has_lines, synced;
    Lines files_synced;
  };
  const Lines both{"out/sub/new.trc", "out/sub/old.trc"};
  for (const Row& row : std::vector<Row>{{"out/sub/new", true, true, true, {"out/sub/new.trc"}},
                                         {"out/sub/old", true, true, true, both},
                                         {"plain", false, true, false, both},
                                         {"nothing", true, false, false, both}}) {
    FilePaths p = paths(row.base);
    p.sync_output = row.sync;
    p.output_synced = !row.synced;
    EXPECT_TRUE(write_file(backend, &p, row.has_lines ? std::vector<CanFrame>{frame} : std::vector<CanFrame>{}));
    EXPECT_EQ(p.output_synced, row.synced) << row.base;
    EXPECT_EQ(vfs_.files_synced, row.files_synced) << row.base;
    EXPECT_EQ(vfs_.folders_synced, Lines{"out/sub"}) << row.base;
  }
}

TEST_F(TraceWriterTest, FreeClosesAnOpenFileAndKeepsIt) {
  OutputBackend* backend = make_writer(2);
  FilePaths p = paths("open");
  ASSERT_TRUE(backend->new_file(backend, &p, false));
  EXPECT_EQ(vfs_.open_streams, 1);
  trace_writer_free(writer_);
  writer_ = nullptr;
  EXPECT_EQ(vfs_.open_streams, 0);
  EXPECT_EQ(vfs_.kind("open.trc"), ENTRY_FILE);
}

}  // namespace
