// Fault cases of the conversion driver with the real trace writer, over an
// in-memory file system that makes reads fail, writes come up short and
// syncs or closes fail at every possible point. Whatever fails and wherever,
// a file counts as converted only with its complete trace, and with the
// delete option an input goes only then.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/run_records.h"
#include "convert/driver.h"
#include "convert/virtual_file_system.h"
#include "log/log.h"
#include "tests/support/test_support.h"
#include "formats/trace_writer.h"

namespace {

using test_support::sample_log;

// Collects the diagnostic lines written to standard error while it lives,
// as "<level letter> <message>".
class LogCapture {
 public:
  LogCapture() : capture_(2) {}
  std::vector<std::string> lines() { return test_support::log_messages(capture_.text()); }

 private:
  test_support::FdCapture capture_;
};

using Lines = std::vector<std::string>;

// One run of the driver with a trace writer of the given version on fresh
// in-memory trees; the test sets up the trees and faults through the hooks.
struct DriverRun {
  explicit DriverRun(int version) : writer(trace_writer_new(&output, version)) {
    options.delete_converted = true;
    job.input_fs = &input;
    job.output_fs = &output;
    job.make_dirs = true;
    job.options = &options;
    job.writer = trace_writer_backend(writer);
  }
  ~DriverRun() { trace_writer_free(writer); }
  uint32_t operator()(const std::vector<std::string>& inputs) { return run_inputs(&job, inputs); }
  bool removed(const std::string& path) const {
    for (const std::string& removed : input.files_removed) {
      if (removed == path) return true;
    }
    return false;
  }

  VirtualFileSystem input{"/in/"};
  VirtualFileSystem output{"/out/"};
  RunOptions options;
  TraceWriter* writer;
  ConversionJob job;
};

// The trace of text when nothing fails.
std::string reference_trace(const std::string& text, int version) {
  DriverRun run(version);
  run.input.add_file("a.txt", text);
  EXPECT_EQ(run({"a.txt"}), 0u);
  return run.output.contents("a.trc");
}

TEST(FaultsDriver, AReadErrorAnywhereFailsTheFileAndKeepsTheInput) {
  const std::string log = sample_log(6);
  const std::string trace = reference_trace(log, 2);
  ASSERT_FALSE(trace.empty());
  // The log is read up to three times over (header, title, records), so the
  // failure point runs through all of them and past the end.
  for (int64_t buffer : {int64_t{0}, int64_t{16}, int64_t{-1}}) {
    int failed = 0;
    for (int64_t fail_after = 0; fail_after <= 3 * static_cast<int64_t>(log.size()) + 1; ++fail_after) {
      SCOPED_TRACE("buffer " + std::to_string(buffer) + ", read fails after " + std::to_string(fail_after));
      DriverRun run(2);
      run.options.buffer_size = buffer;
      run.input.add_file("a.txt", log);
      run.input.read_fail_after = fail_after;
      const uint32_t result = run({"a.txt"});
      if (result == 0) {
        EXPECT_EQ(run.output.contents("a.trc"), trace);
        EXPECT_TRUE(run.removed("a.txt"));
      } else {
        ++failed;
        EXPECT_EQ(result, 8u);
        EXPECT_EQ(run.input.kind("a.txt"), ENTRY_FILE);
        EXPECT_TRUE(run.input.files_removed.empty());
      }
      EXPECT_EQ(run.input.open_streams, 0);
      EXPECT_EQ(run.output.open_streams, 0);
    }
    EXPECT_GT(failed, static_cast<int>(log.size())) << "buffer " << buffer;
  }

  // The messages, for a failure among the records.
  DriverRun run(2);
  run.options.buffer_size = 0;
  run.input.add_file("a.txt", log);
  run.input.read_fail_after = 2 * static_cast<int64_t>(log.find("09:30:00.003"));
  log_set_level(LOG_WARN);
  LogCapture capture;
  EXPECT_EQ(run({"a.txt"}), 8u);
  log_set_level(LOG_NONE);
  EXPECT_EQ(capture.lines(), (Lines{"E Could not read input file a.txt", "E Error during conversion of a.txt"}));
}

TEST(FaultsDriver, AShortWriteAnywhereFailsTheFileAndKeepsTheInput) {
  for (int version : {1, 2}) {
    const std::string log = sample_log(5);
    const std::string trace = reference_trace(log, version);
    for (int64_t limit = 0; limit <= static_cast<int64_t>(trace.size()); ++limit) {
      SCOPED_TRACE("version " + std::to_string(version) + ", writes stop after " + std::to_string(limit));
      DriverRun run(version);
      run.input.add_file("a.txt", log);
      run.output.write_limit = limit;
      const uint32_t result = run({"a.txt"});
      const bool complete = limit == static_cast<int64_t>(trace.size());
      EXPECT_EQ(result, complete ? 0u : 8u);
      EXPECT_EQ(run.removed("a.txt"), complete);
      if (complete) {
        EXPECT_EQ(run.output.contents("a.trc"), trace);
      }
      EXPECT_EQ(run.output.open_streams, 0);
    }
  }
}

TEST(FaultsDriver, ATraceThatCannotBeSyncedOrClosedKeepsTheInput) {
  const std::string log = sample_log(3);
  const std::string trace = reference_trace(log, 2);
  {
    // Not synced: the trace is complete as far as the writer knows, so the
    // file counts as converted, but the input stays.
    DriverRun run(2);
    run.input.add_file("d/a.txt", log);
    run.input.add_file("d/b.txt", sample_log(3, 2));
    run.output.fail_stream_sync = true;
    log_set_level(LOG_WARN);
    LogCapture capture;
    EXPECT_EQ(run({"d/"}), 0u);
    log_set_level(LOG_NONE);
    EXPECT_EQ(capture.lines(), (Lines{"E Could not sync output file d_out/a.trc",
                                      "E Could not sync output file d_out/b.trc"}));
    EXPECT_EQ(run.output.contents("d_out/a.trc"), trace);
    EXPECT_TRUE(run.input.files_removed.empty());
  }
  {
    // The new trace's folder cannot be synced: its entry may not survive.
    DriverRun run(2);
    run.input.add_file("a.txt", log);
    run.output.inject_fault(VfsFault::kSyncFolder, "");
    EXPECT_EQ(run({"a.txt"}), 0u);
    EXPECT_TRUE(run.input.files_removed.empty());
  }
  {
    // Not closed: the trace may be cut short, so the file fails.
    DriverRun run(2);
    run.input.add_file("a.txt", log);
    run.output.fail_stream_close = true;
    EXPECT_EQ(run({"a.txt"}), 8u);
    EXPECT_TRUE(run.input.files_removed.empty());
  }
  {
    // Without the delete option nothing is synced, and a failed sync cannot
    // happen.
    DriverRun run(2);
    run.options.delete_converted = false;
    run.input.add_file("a.txt", log);
    run.output.fail_stream_sync = true;
    EXPECT_EQ(run({"a.txt"}), 0u);
    EXPECT_EQ(run.output.contents("a.trc"), trace);
    EXPECT_TRUE(run.output.files_synced.empty());
  }
}

TEST(FaultsDriver, AFailedFileAmongOthersCostsOnlyItself) {
  // In a folder of three logs the middle one cannot be opened: the others
  // are converted and removed, it stays.
  DriverRun run(1);
  run.input.add_file("d/a.txt", sample_log(2, 1));
  run.input.add_file("d/b.txt", sample_log(2, 2));
  run.input.add_file("d/c.txt", sample_log(2, 3));
  run.input.inject_fault(VfsFault::kOpen, "d/b.txt");
  EXPECT_EQ(run({"d/"}), 8u);
  EXPECT_EQ(run.input.files_removed, (Lines{"d/a.txt", "d/c.txt"}));
  EXPECT_EQ(run.input.kind("d/b.txt"), ENTRY_FILE);
  EXPECT_FALSE(run.output.contents("d_out/a.trc").empty());
  EXPECT_EQ(run.output.kind("d_out/b.trc"), ENTRY_MISSING);
  EXPECT_FALSE(run.output.contents("d_out/c.trc").empty());
}

}  // namespace
