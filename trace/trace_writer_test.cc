#include "trace/trace_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/run_records.h"
#include "convert/file_system.h"
#include "convert/virtual_file_system.h"
#include "log/log.h"
#include "reader/can_frame.h"
#include "tests/support/test_support.h"

namespace {

// Collects what is written to standard error while it lives.
class StderrCapture : public test_support::FdCapture {
 public:
  StderrCapture() : FdCapture(2) {}
};

int count_lines(const std::string& text, const std::string& message) {
  int count = 0;
  for (size_t at = text.find(message); at != std::string::npos; at = text.find(message, at + 1)) ++count;
  return count;
}

CanFrame frame_at(double timestamp, uint32_t id, std::initializer_list<uint8_t> bytes) {
  CanFrame frame{};
  frame.kind = 1;
  frame.channel = 1;
  frame.timestamp = timestamp;
  frame.id = id;
  for (uint8_t b : bytes) frame.data.bytes[frame.data.size++] = b;
  frame.length = frame.data.size;
  return frame;
}

class TraceWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { log_set_level(LOG_ERROR); }
  void TearDown() override { log_set_level(LOG_NONE); }

  // A writer over vfs for version; the test owns it.
  OutputBackend* make_writer(int version, FileSystem* fs = nullptr) {
    writer_ = trace_writer_new(fs != nullptr ? fs : &vfs_, version);
    EXPECT_NE(writer_, nullptr);
    return trace_writer_backend(writer_);
  }
  ~TraceWriterTest() override { trace_writer_free(writer_); }

  FilePaths paths(const std::string& base) {
    FilePaths p;
    p.output_base = base;
    return p;
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
  CanFrame first = frame_at(start, 0x123, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
  CanFrame second = frame_at(start + 1.234567, 0x18FEF100, {0xA0, 0x0B, 0xFF});
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
  CanFrame third = frame_at(0.0, 0x1, {});
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
  CanFrame fd = frame_at(100.0, 0x10, {1, 2, 3});
  fd.fd = true;
  CanFrame a = frame_at(100.5, 0x20, {0xAB});
  CanFrame b = frame_at(101.0, 0x30, {});
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
  CanFrame other = frame_at(5.0, 0x1, {});
  other.kind = 0;
  ASSERT_TRUE(backend->record(backend, &other, 0));
  other.kind = 3;
  ASSERT_TRUE(backend->record(backend, &other, 1));
  EXPECT_FALSE(writer_->header_written);
  EXPECT_TRUE(std::isnan(writer_->trace_start_time));
  EXPECT_EQ(vfs_.contents("k.trc"), "");
  CanFrame frame = frame_at(6.0, 0x1, {});
  ASSERT_TRUE(backend->record(backend, &other, 2));
  ASSERT_TRUE(backend->record(backend, &frame, 3));
  ASSERT_TRUE(backend->end_file(backend, &p));
  std::string text = vfs_.contents("k.trc");
  EXPECT_NE(text.find(";$STARTTIME=25569.0000694444\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n      1         0.000 DT"), std::string::npos) << text;
}

TEST_F(TraceWriterTest, FilesWithoutFrameLinesAreRemoved) {
  OutputBackend* backend = make_writer(1);
  StderrCapture capture;
  // No frame at all.
  FilePaths p = paths("none");
  ASSERT_TRUE(backend->new_file(backend, &p, false));
  EXPECT_TRUE(backend->end_file(backend, &p));
  // Only FD frames in version 1.1: a header, but no line.
  FilePaths q = paths("fd_only");
  ASSERT_TRUE(backend->new_file(backend, &q, false));
  CanFrame fd = frame_at(1.0, 0x1, {});
  fd.fd = true;
  ASSERT_TRUE(backend->record(backend, &fd, 0));
  EXPECT_TRUE(writer_->header_written);
  EXPECT_EQ(writer_->message_number, 1);
  EXPECT_TRUE(backend->end_file(backend, &q));
  EXPECT_EQ(vfs_.files_removed, (std::vector<std::string>{"none.trc", "fd_only.trc"}));
  EXPECT_EQ(vfs_.kind("fd_only.trc"), ENTRY_MISSING);
  EXPECT_EQ(capture.text(), "");
}

TEST_F(TraceWriterTest, FailedNewFileLeavesWhatIsInTheWay) {
  OutputBackend* backend = make_writer(2);
  // A trace file of an earlier run that cannot be opened for writing (read
  // only), and a folder named like the output file.
  vfs_.add_file("old.trc", "earlier run\n");
  vfs_.inject_fault(VfsFault::kOpen, "old.trc");
  vfs_.add_file("dir.trc/inside", "");
  vfs_.add_folder("empty.trc");
  StderrCapture capture;
  for (const char* base : {"old", "dir", "empty"}) {
    FilePaths p = paths(base);
    EXPECT_FALSE(backend->new_file(backend, &p, false)) << base;
    CanFrame frame = frame_at(1.0, 0x1, {});
    EXPECT_FALSE(backend->record(backend, &frame, 0));  // no file to write to
    EXPECT_TRUE(backend->end_file(backend, &p)) << base;
  }
  std::string text = capture.text();
  EXPECT_EQ(count_lines(text, "Could not open output file for CAN: old.trc\n"), 1) << text;
  EXPECT_EQ(count_lines(text, "Could not open output file for CAN: dir.trc\n"), 1) << text;
  EXPECT_EQ(count_lines(text, "Could not open output file for CAN: empty.trc\n"), 1) << text;
  EXPECT_EQ(count_lines(text, "\n"), 3) << text;  // nothing else
  EXPECT_TRUE(vfs_.files_removed.empty());
  EXPECT_EQ(vfs_.contents("old.trc"), "earlier run\n");
  EXPECT_EQ(vfs_.kind("empty.trc"), ENTRY_FOLDER);
}

TEST_F(TraceWriterTest, FailedNewFileOnDiskRemovesNothing) {
  char pattern[] = "/tmp/trcforge_trace_XXXXXX";
  std::string root = std::string(mkdtemp(pattern)) + "/";
  ASSERT_EQ(mkdir((root + "a.trc").c_str(), 0700), 0);  // an empty folder in the way
  FileSystemPtr fs(fs_new(root.data(), root.size()), fs_free);
  OutputBackend* backend = make_writer(2, fs.get());
  FilePaths p = paths("a");
  {
    StderrCapture capture;
    EXPECT_FALSE(backend->new_file(backend, &p, false));
    EXPECT_TRUE(backend->end_file(backend, &p));
    EXPECT_EQ(count_lines(capture.text(), "Could not"), 1);
  }
  struct stat st;
  ASSERT_EQ(stat((root + "a.trc").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  // A real file with lines goes through stdio unchanged.
  FilePaths q = paths("b");
  ASSERT_TRUE(backend->new_file(backend, &q, false));
  CanFrame frame = frame_at(1700000000.0, 0x7FF, {0xDE, 0xAD});
  ASSERT_TRUE(backend->record(backend, &frame, 0));
  ASSERT_TRUE(backend->end_file(backend, &q));
  std::ifstream in(root + "b.trc", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text,
            ";$FILEVERSION=2.1\n;$STARTTIME=45244.9259259259\n;$COLUMNS=N,O,T,B,I,d,L,D\n"
            "      1         0.000 DT 1     07FF Rx 2    DE AD\n");
  std::string command = "rm -rf '" + root + "'";
  ASSERT_EQ(system(command.c_str()), 0);
}

TEST_F(TraceWriterTest, ShortWritesAreReportedOnlyInVersion1Lines) {
  const std::string header2 =
      ";$FILEVERSION=2.1\n;$STARTTIME=25569.0000000000\n;$COLUMNS=N,O,T,B,I,d,L,D\n";
  const std::string header1 = ";$FILEVERSION=1.1\n;$STARTTIME=25569.0000000000\n";
  CanFrame frame = frame_at(0.0, 0x1, {});
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
      StderrCapture capture;
      EXPECT_FALSE(backend->record(backend, &frame, 0));
      std::string text = capture.text();
      EXPECT_EQ(count_lines(text, "Could not write CAN header\n"), 1) << text;
      EXPECT_EQ(count_lines(text, "\n"), 1) << text;
    }
    EXPECT_FALSE(writer->header_written);
    EXPECT_TRUE(backend->end_file(backend, &p));  // no header: removed
    EXPECT_EQ(vfs.kind("h.trc"), ENTRY_MISSING);

    // A line that does not fit: it still uses up its number.
    vfs.write_limit = static_cast<int64_t>(header.size()) + 5;
    FilePaths q = paths("l");
    ASSERT_TRUE(backend->new_file(backend, &q, false));
    {
      StderrCapture capture;
      EXPECT_FALSE(backend->record(backend, &frame, 0));
      std::string text = capture.text();
      EXPECT_EQ(count_lines(text, "Could not write CAN data\n"), version == 1 ? 1 : 0) << text;
      EXPECT_EQ(count_lines(text, "\n"), version == 1 ? 1 : 0) << text;
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
  CanFrame frame = frame_at(0.0, 0x1, {});
  vfs_.fail_stream_close = true;
  StderrCapture capture;
  FilePaths p = paths("kept");
  ASSERT_TRUE(backend->new_file(backend, &p, false));
  ASSERT_TRUE(backend->record(backend, &frame, 0));
  EXPECT_FALSE(backend->end_file(backend, &p));
  EXPECT_EQ(vfs_.kind("kept.trc"), ENTRY_FILE);

  // A failed close of a file without lines still removes it.
  FilePaths q = paths("empty");
  ASSERT_TRUE(backend->new_file(backend, &q, false));
  EXPECT_FALSE(backend->end_file(backend, &q));
  EXPECT_EQ(vfs_.kind("empty.trc"), ENTRY_MISSING);

  vfs_.fail_stream_close = false;
  vfs_.inject_fault(VfsFault::kRemove, "stuck.trc");
  FilePaths r = paths("stuck");
  ASSERT_TRUE(backend->new_file(backend, &r, false));
  EXPECT_FALSE(backend->end_file(backend, &r));
  EXPECT_EQ(vfs_.kind("stuck.trc"), ENTRY_FILE);

  std::string text = capture.text();
  EXPECT_EQ(count_lines(text, "Could not close CAN file\n"), 2) << text;
  EXPECT_EQ(count_lines(text, "Could not remove CAN file\n"), 1) << text;
  EXPECT_EQ(count_lines(text, "\n"), 3) << text;
  EXPECT_EQ(vfs_.open_streams, 0);
}

TEST_F(TraceWriterTest, KeptOutputIsSyncedWhenAsked) {
  OutputBackend* backend = make_writer(2);
  vfs_.add_folder("out/sub");
  vfs_.add_file("out/sub/old.trc", "earlier");
  CanFrame frame = frame_at(0.0, 0x1, {});

  // A new file: the file and its folder are synced.
  FilePaths p = paths("out/sub/new");
  p.sync_output = true;
  p.output_synced = true;  // reset by end_file
  ASSERT_TRUE(backend->new_file(backend, &p, false));
  ASSERT_TRUE(backend->record(backend, &frame, 0));
  EXPECT_TRUE(backend->end_file(backend, &p));
  EXPECT_TRUE(p.output_synced);
  EXPECT_EQ(vfs_.files_synced, std::vector<std::string>{"out/sub/new.trc"});
  EXPECT_EQ(vfs_.folders_synced, std::vector<std::string>{"out/sub"});

  // A file that existed before: its folder entry is already stable.
  FilePaths q = paths("out/sub/old");
  q.sync_output = true;
  ASSERT_TRUE(backend->new_file(backend, &q, false));
  ASSERT_TRUE(backend->record(backend, &frame, 0));
  EXPECT_TRUE(backend->end_file(backend, &q));
  EXPECT_TRUE(q.output_synced);
  EXPECT_EQ(vfs_.folders_synced.size(), 1u);

  // Not asked: nothing synced, nothing claimed.
  FilePaths r = paths("plain");
  r.output_synced = true;
  ASSERT_TRUE(backend->new_file(backend, &r, false));
  ASSERT_TRUE(backend->record(backend, &frame, 0));
  EXPECT_TRUE(backend->end_file(backend, &r));
  EXPECT_FALSE(r.output_synced);
  EXPECT_EQ(vfs_.files_synced.size(), 2u);

  // A removed file has nothing to sync.
  FilePaths s = paths("nothing");
  s.sync_output = true;
  ASSERT_TRUE(backend->new_file(backend, &s, false));
  EXPECT_TRUE(backend->end_file(backend, &s));
  EXPECT_FALSE(s.output_synced);
  EXPECT_EQ(vfs_.files_synced.size(), 2u);
}

TEST_F(TraceWriterTest, FailedSyncIsLoggedAndLeavesTheResult) {
  OutputBackend* backend = make_writer(1);
  CanFrame frame = frame_at(0.0, 0x1, {});
  StderrCapture capture;
  vfs_.fail_stream_sync = true;
  FilePaths p = paths("a");
  p.sync_output = true;
  ASSERT_TRUE(backend->new_file(backend, &p, false));
  ASSERT_TRUE(backend->record(backend, &frame, 0));
  EXPECT_TRUE(backend->end_file(backend, &p));
  EXPECT_FALSE(p.output_synced);
  EXPECT_EQ(vfs_.kind("a.trc"), ENTRY_FILE);

  vfs_.fail_stream_sync = false;
  vfs_.inject_fault(VfsFault::kSyncFolder, "");
  FilePaths q = paths("b");
  q.sync_output = true;
  ASSERT_TRUE(backend->new_file(backend, &q, false));
  ASSERT_TRUE(backend->record(backend, &frame, 0));
  EXPECT_TRUE(backend->end_file(backend, &q));
  EXPECT_FALSE(q.output_synced);

  std::string text = capture.text();
  EXPECT_EQ(count_lines(text, "Could not sync output file a.trc\n"), 1) << text;
  EXPECT_EQ(count_lines(text, "Could not sync output file b.trc\n"), 1) << text;
  EXPECT_EQ(count_lines(text, "\n"), 2) << text;
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
