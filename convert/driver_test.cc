// The driver with the real output back end over in-memory trees that fail on
// request: a read, a write, every step of putting an output in place and of
// removing its input, a folder listing. Whatever fails, a file counts as
// converted only with its complete output under its final name, and with the
// delete option an input goes only when nothing of it can be lost. Walk
// order, placements, statuses and messages of real runs are checked by the
// command-line cases (tests/cli).
#include "convert/driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/job.h"
#include "formats/formats.h"
#include "log/log.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_file_system.h"

namespace {

using test_support::sample_log;
using Lines = std::vector<std::string>;

// One run of the driver with a back end of the given format on fresh
// in-memory trees; the test sets up the trees and their faults.
struct DriverRun {
  explicit DriverRun(int format = FORMAT_TRACE_V2) : writer(output_backend_new(&output, format)) {
    options.delete_converted = true;
    job.input_fs = &input;
    job.output_fs = &output;
    job.make_dirs = true;
    job.options = &options;
    job.writer = writer;
  }
  ~DriverRun() { output_backend_free(writer); }

  // Runs the inputs; the diagnostic lines down to warnings land in messages.
  uint32_t operator()(const Lines& inputs) {
    log_set_level(LOG_WARN);
    test_support::FdCapture capture(2);
    const uint32_t result = run_inputs(&job, inputs);
    messages = test_support::log_messages(capture.text());
    log_set_level(LOG_NONE);
    EXPECT_EQ(input.open_streams + output.open_streams, 0);
    return result;
  }

  // The entries of the output tree: never a temporary file left behind.
  Lines outputs() const { return output.names(); }

  VirtualFileSystem input{"/in/"};
  VirtualFileSystem output{"/out/"};
  RunOptions options;
  OutputBackend* writer;
  ConversionJob job;
  Lines messages;
};

// The output of a log when nothing fails.
std::string reference_output(const std::string& log, int format = FORMAT_TRACE_V2) {
  DriverRun run(format);
  run.options.delete_converted = false;
  run.input.add_file("a.txt", log);
  EXPECT_EQ(run({"a.txt"}), 0u);
  return run.output.contents("a.trc");
}

TEST(DriverTest, AReadErrorAnywhereFailsTheFileAndKeepsTheInput) {
  // Zero padding behind the records, as a power loss leaves it: a read that
  // fails while the padding is checked fails the file too.
  const std::string log = sample_log(6) + std::string(40, '\0');
  const std::string trace = reference_output(log);
  // Read one byte at a time, the header up to the title line is read twice,
  // then the rest once, and the end is read: a failure up to then fails the
  // file.
  const int64_t read_in_all = static_cast<int64_t>(log.size() + log.find("09:30:00.000"));
  // The log is read up to three times over (header, title, records), so the
  // failure point runs through all of them and past the end.
  for (int64_t buffer : {int64_t{0}, int64_t{16}, int64_t{-1}}) {
    int failed = 0;
    for (int64_t fail_after = 0; fail_after <= 3 * static_cast<int64_t>(log.size()) + 1; ++fail_after) {
      SCOPED_TRACE("buffer " + std::to_string(buffer) + ", read fails after " + std::to_string(fail_after));
      DriverRun run;
      run.options.buffer_size = buffer;
      run.input.add_file("a.txt", log);
      run.input.read_fail_after = fail_after;
      const uint32_t result = run({"a.txt"});
      if (buffer == 0) {
        EXPECT_EQ(result, fail_after <= read_in_all ? 8u : 0u);
      }
      if (result == 0) {
        EXPECT_EQ(run.output.contents("a.trc"), trace);
        EXPECT_EQ(run.input.kind("a.txt"), ENTRY_MISSING);
        continue;
      }
      ++failed;
      EXPECT_EQ(run.input.kind("a.txt"), ENTRY_FILE);
      EXPECT_EQ(run.outputs(), Lines{});
    }
    EXPECT_GT(failed, static_cast<int>(log.size())) << "buffer " << buffer;
  }
  // The messages, for a failure among the records.
  DriverRun run;
  run.options.buffer_size = 0;
  run.input.add_file("a.txt", log);
  run.input.read_fail_after = 2 * static_cast<int64_t>(log.find("09:30:00.003"));
  EXPECT_EQ(run({"a.txt"}), 8u);
  EXPECT_EQ(run.messages,
            (Lines{"E Could not read input file a.txt (Input/output error)", "E Error during conversion of a.txt"}));
}

TEST(DriverTest, AShortWriteAnywhereLeavesTheEarlierOutputAsItWas) {
  for (int format : {FORMAT_TRACE_V1, FORMAT_TRACE_V2}) {
    const std::string log = sample_log(5);
    const std::string trace = reference_output(log, format);
    for (int64_t limit = 0; limit <= static_cast<int64_t>(trace.size()); ++limit) {
      SCOPED_TRACE("format " + std::to_string(format) + ", writes stop after " + std::to_string(limit));
      DriverRun run(format);
      run.options.delete_converted = false;
      run.input.add_file("a.txt", log);
      run.output.add_file("a.trc", "earlier");
      run.output.write_limit = limit;
      const bool complete = limit == static_cast<int64_t>(trace.size());
      EXPECT_EQ(run({"a.txt"}), complete ? 0u : 8u);
      EXPECT_EQ(run.output.contents("a.trc"), complete ? trace : "earlier");
      EXPECT_EQ(run.outputs(), Lines{"a.trc"});
    }
  }
}

// A folder of three logs whose middle one meets a fault at one step of its
// conversion or removal: it is kept, its output's final name holds what it
// held before (nothing), the others are converted and removed.
TEST(DriverTest, EveryStepOfPuttingTheOutputInPlaceAndRemovingTheInputCanFail) {
  struct Row {
    VfsFault fault;
    const char* path;  // in the output tree, or the input tree for kOpen/kRemove of an input
    bool input_side;
    Lines messages;
  };
  for (const Row& row : std::vector<Row>{
           {VfsFault::kOpen, "d/b.txt", true, {"E Could not open input file d/b.txt (Permission denied)"}},
           {VfsFault::kOpen, "d_out/b.trc", false,
            {"E Could not open output file for CAN: d_out/b.trc (Permission denied)", "E Error on new file"}},
           {VfsFault::kSyncFile, "d_out/b.trc", false,
            {"E Could not sync output file d_out/b.trc (Input/output error)", "E Error during end file callback"}},
           {VfsFault::kRename, "d_out/b.trc", false,
            {"E Could not move output file into place: d_out/b.trc (Input/output error)",
             "E Error during end file callback"}},
           {VfsFault::kRemove, "d/b.txt", true,
            {"E Could not remove input file after conversion: d/b.txt (Permission denied)"}},
       }) {
    SCOPED_TRACE(row.path);
    DriverRun run;
    for (int split : {1, 2, 3}) run.input.add_file("d/" + std::string("abc").substr(split - 1, 1) + ".txt", sample_log(2, split));
    (row.input_side ? run.input : run.output).inject_fault(row.fault, row.path);
    EXPECT_EQ(run({"d/"}), 8u);
    Lines expected = row.messages;
    if (row.fault != VfsFault::kRemove) expected.push_back("E Error during conversion of d/b.txt");
    EXPECT_EQ(run.messages, expected);
    EXPECT_EQ(run.input.names(), (Lines{"d", "d/b.txt"}));
    const bool b_kept = row.fault == VfsFault::kRemove;
    EXPECT_EQ(run.outputs(), b_kept ? Lines({"d_out", "d_out/a.trc", "d_out/b.trc", "d_out/c.trc"})
                                    : Lines({"d_out", "d_out/a.trc", "d_out/c.trc"}));
  }
  // The folder of a new output cannot be synced after the rename: the output
  // stands, but may vanish with a power loss, so the input stays.
  DriverRun run;
  run.input.add_file("a.txt", sample_log(2));
  run.output.inject_fault(VfsFault::kSyncFolder, "");
  EXPECT_EQ(run({"a.txt"}), 8u);
  EXPECT_EQ(run.input.kind("a.txt"), ENTRY_FILE);
}

// The order of a durable conversion: the output is written under a temporary
// name, synced itself, renamed, its folder synced, and every folder made for
// it synced in its parent, all before its input is removed.
TEST(DriverTest, AnInputIsRemovedOnlyAfterItsOutputAndItsFoldersAreOnStableStorage) {
  DriverRun run;
  run.input.add_file("d/e/a.txt", sample_log(2));
  run.input.add_file("d/e/b.txt", sample_log(2, 2));
  run.output.add_folder("d_out");
  EXPECT_EQ(run({"d/"}), 0u);
  EXPECT_EQ(run.output.journal,
            (Lines{"mkdir d_out/e", "create d_out/e/.a.trc.*", "sync d_out/e/.a.trc.*",
                   "rename d_out/e/.a.trc.* d_out/e/a.trc", "sync-folder d_out/e", "sync-folder d_out",
                   "create d_out/e/.b.trc.*", "sync d_out/e/.b.trc.*",
                   "rename d_out/e/.b.trc.* d_out/e/b.trc", "sync-folder d_out/e"}));
  EXPECT_EQ(run.input.journal, (Lines{"remove d/e/a.txt", "remove d/e/b.txt"}));

  // Without the delete option nothing is synced.
  DriverRun quick;
  quick.options.delete_converted = false;
  quick.input.add_file("a.txt", sample_log(2));
  EXPECT_EQ(quick({"a.txt"}), 0u);
  EXPECT_EQ(quick.output.journal, (Lines{"create .a.trc.*", "rename .a.trc.* a.trc"}));
}

TEST(DriverTest, TheDeleteOptionKeepsEveryInputThatWasNotCarriedOverWhole) {
  const std::string log = sample_log(3);
  const std::string trace = reference_output(log);
  std::string skipped = log;
  skipped.replace(skipped.find("09:30:00.001"), 12, "09:29:59.999");
  std::string malformed = log;
  malformed.insert(malformed.find("09:30:00.001"), "09:30:00.000;0;1\x01;8;11\n");
  const std::string no_records = log.substr(0, log.find("09:30:00.000"));
  struct Row {
    std::string log;
    std::string existing;  // at the output's name before the run
    uint32_t result;
    bool input_kept;
    std::string message;
  };
  for (const Row& row : std::vector<Row>{
           {skipped, "", 8, true, "E Keeping input file a.txt: 1 record(s) skipped for a non-increasing timestamp"},
           {malformed, "", 8, true, "E Keeping input file a.txt: 1 malformed line(s)"},
           {log, "other", 8, true, "E Keeping input file a.txt: output file a.trc holds other content"},
           {log, trace, 0, false, ""},
           {no_records, "", 0, false, ""},
       }) {
    DriverRun run;
    run.input.add_file("a.txt", row.log);
    if (!row.existing.empty()) run.output.add_file("a.trc", row.existing);
    EXPECT_EQ(run({"a.txt"}), row.result) << row.message;
    EXPECT_EQ(run.input.kind("a.txt"), row.input_kept ? ENTRY_FILE : ENTRY_MISSING) << row.message;
    EXPECT_EQ(run.output.contents("a.trc"), row.existing.empty() && row.log != no_records ? reference_output(row.log)
                                                                                             : row.existing);
    EXPECT_EQ(row.message.empty() ? Lines{} : Lines{row.message},
              Lines(run.messages.end() - (row.message.empty() ? 0 : 1), run.messages.end()));
  }
}

TEST(DriverTest, AWalkPassesOverLoopsAndFailsWhatItCannotReach) {
  DriverRun run;
  run.options.delete_converted = false;
  run.input.add_file("d/a.txt", sample_log(1));
  run.input.add_file("d/sub/b.txt", sample_log(1, 2));
  run.input.add_file("d/unreadable/c.txt", sample_log(1, 3));
  run.input.add_file("d/z.txt", sample_log(1, 4));
  run.input.add_folder_link("d/sub/up", "d");
  run.input.inject_fault(VfsFault::kList, "d/unreadable");
  run.input.inject_fault(VfsFault::kQuery, "d/sub/b.txt");
  EXPECT_EQ(run({"d/"}), 8u);
  EXPECT_EQ(run.messages, (Lines{"E Could not query d/sub/b.txt (Input/output error)",
                                 "W Skipping folder d/sub/up: it leads back to a folder being walked",
                                 "E Could not list folder d/unreadable (Permission denied)"}));
  EXPECT_EQ(run.outputs(), (Lines{"d_out", "d_out/a.trc", "d_out/z.trc"}));
}

}  // namespace
