// The driver with the real output back end over a file system that fails
// where a real run cannot be made to: the reads of an input part way, and
// the syncs that make an output durable. A file counts as converted only
// with its complete output under its final name, and an input goes only
// when nothing of it can be lost. Everything else about real runs is checked
// by the command-line cases (tests/cli).
#include "convert/driver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/run.h"
#include "formats/registry.h"
#include "fs/file_system.h"
#include "fs/output_tree.h"
#include "stream/stream.h"
#include "log/log.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;

// A stream that passes every operation on to its inner stream but reads,
// writes and syncs that fail as told.
struct FaultyStream : Stream {
  Stream* inner;
  int64_t read_left;  // negative: no failure
  bool fail_sync;
  int64_t write_left;  // negative: no failure
};
FaultyStream* as_faulty(Stream* s) { return static_cast<FaultyStream*>(s); }
// Passes count bytes on through transfer until *left bytes (when not
// negative) have gone through; then fails with error. The transfer that
// crosses the limit comes up short.
template <typename Transfer>
int64_t within_limit(int64_t* left, int64_t count, int error, Transfer transfer) {
  if (*left == 0) return errno = error, -1;
  if (*left > 0 && count > *left) count = *left;
  const int64_t done = transfer(count);
  if (*left > 0 && done > 0) *left -= done;
  return done;
}
int64_t faulty_read(Stream* s, void* to, int64_t count) {
  FaultyStream* f = as_faulty(s);
  return within_limit(&f->read_left, count, EIO, [&](int64_t n) { return stream_read(f->inner, to, n); });
}
int64_t faulty_write(Stream* s, const void* bytes, int64_t count) {
  FaultyStream* f = as_faulty(s);
  return within_limit(&f->write_left, count, ENOSPC, [&](int64_t n) { return stream_write(f->inner, bytes, n); });
}
int64_t faulty_tell(Stream* s) { return stream_tell(as_faulty(s)->inner); }
int64_t faulty_seek(Stream* s, int64_t offset, int origin) { return stream_seek(as_faulty(s)->inner, offset, origin); }
int faulty_sync(Stream* s) { return as_faulty(s)->fail_sync ? (errno = EIO, -1) : stream_sync(as_faulty(s)->inner); }
int faulty_close(Stream* s) {
  const int result = stream_close(as_faulty(s)->inner);
  delete as_faulty(s);
  return result;
}
const StreamOps faulty_stream_ops = {faulty_read, faulty_write, faulty_tell, faulty_seek, faulty_close, faulty_sync, nullptr, nullptr};

// The real file system below a temporary folder, but for two operations.
// The sync of sync_fails (a folder, or the temporary file of an output of
// that name) fails with EIO; the reads of a file opened for reading fail
// once read_fail_after bytes were delivered, the writes of a new file once
// write_fail_after bytes were taken (the write that crosses the limit is
// short, as on a full disk).
class FaultyFs : public FileSystem {
 public:
  explicit FaultyFs(std::string root) : FileSystem(std::move(root)) {}
  std::string sync_fails;
  int64_t read_fail_after = -1;
  int64_t write_fail_after = -1;

  Stream* open(std::string_view path, Access access, Status* status) override {
    Stream* inner = FileSystem::open(path, access, status);
    if (inner == nullptr) return nullptr;
    const bool reading = access != Access::kCreateNew;
    return new FaultyStream{{&faulty_stream_ops}, inner, reading ? read_fail_after : -1, fails(path),
                            reading ? -1 : write_fail_after};
  }
  Status sync_folder(std::string_view path) override {
    return fails(path) ? Status::failure("sync", EIO) : FileSystem::sync_folder(path);
  }

 private:
  bool fails(std::string_view name) const {
    return name == sync_fails || ("/" + std::string(name)).find("/." + sync_fails + ".") != std::string::npos;
  }
};

// One run of the driver over the folder, with the delete option unless told
// otherwise; the error lines land in messages.
struct DriverRun {
  explicit DriverRun(bool delete_converted = true) : fs(folder.path()) {
    options.delete_converted = delete_converted;
  }
  uint32_t operator()(const Lines& inputs) {
    OutputTree outputs(&fs);
    ConversionRun run;
    run.input_fs = &fs;
    run.outputs = &outputs;
    run.format = &default_format();
    run.options = options;
    log_set_level(LOG_ERROR);
    test_support::FdCapture capture(2);
    const RunResult run_result = run_inputs(run, inputs);
    const uint32_t result = run_result.ended_early ? PATH_OTHER : run_result.paths;
    messages = test_support::log_messages(capture.text());
    log_set_level(LOG_NONE);
    return result;
  }
  // The files below the folder, sorted: never a temporary file left behind.
  Lines files() const {
    Lines names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path())) {
      if (entry.is_regular_file()) names.push_back(entry.path().string().substr(folder.path().size()));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  test_support::TempFolder folder;
  FaultyFs fs;
  RunOptions options;
  Lines messages;
};

// The trace of the log converted by a run without faults; empty when that
// run failed.
std::string clean_trace(const std::string& log) {
  DriverRun clean(false);
  clean.folder.write("a.txt", log);
  return clean({"a.txt"}) == 0 ? test_support::read_file(clean.folder.at("a.trc")) : "";
}

TEST(DriverTest, AReadErrorAnywhereFailsTheFile) {
  // Zero padding behind the records, as a power loss leaves it: a read that
  // fails while the padding is checked fails the file too.
  const std::string log = test_support::sample_log(6) + std::string(40, '\0');
  const std::string trace = clean_trace(log);
  ASSERT_FALSE(trace.empty());
  // The log is read up to three times over (header, title, records). Read
  // one byte at a time, the header up to the title line is read twice, then
  // the rest once: a failure up to the end fails the file.
  const int64_t read_in_all = static_cast<int64_t>(log.size() + log.find("09:30:00.000"));
  for (int64_t buffer : {int64_t{0}, int64_t{16}, int64_t{-1}}) {
    for (int64_t fail_after = 0; fail_after <= 3 * static_cast<int64_t>(log.size()) + 1; ++fail_after) {
      DriverRun run(false);
      run.options.buffer_size = buffer;
      run.fs.read_fail_after = fail_after;
      run.folder.write("a.txt", log);
      const uint32_t result = run({"a.txt"});
      if (buffer == 0) {
        EXPECT_EQ(result, fail_after <= read_in_all ? 8u : 0u) << fail_after;
      }
      ASSERT_EQ(run.files(), result == 0 ? Lines({"a.trc", "a.txt"}) : Lines{"a.txt"}) << buffer << " " << fail_after;
      if (result == 0) {
        ASSERT_EQ(test_support::read_file(run.folder.at("a.trc")), trace) << buffer << " " << fail_after;
      }
    }
  }
  DriverRun run(false);
  run.options.buffer_size = 0;
  run.fs.read_fail_after = 2 * static_cast<int64_t>(log.find("09:30:00.003"));
  run.folder.write("a.txt", log);
  EXPECT_EQ(run({"a.txt"}), 8u);
  EXPECT_EQ(run.messages, (Lines{"E Could not read input file a.txt (Input/output error)", "E Error during conversion of a.txt"}));
}

// A write that falls short anywhere in the output (a full disk) fails the
// file and leaves the earlier output of that name as it was.
TEST(DriverTest, AShortWriteAnywhereLeavesTheEarlierOutputAsItWas) {
  const std::string log = test_support::sample_log(6);
  const std::string trace = clean_trace(log);
  ASSERT_FALSE(trace.empty());
  for (int64_t fail_after = 0;; fail_after += 7) {
    DriverRun run(false);
    run.folder.write("a.txt", log);
    run.folder.write("a.trc", "earlier");
    run.fs.write_fail_after = fail_after;
    const uint32_t result = run({"a.txt"});
    ASSERT_EQ(run.files(), Lines({"a.trc", "a.txt"})) << fail_after;
    if (result == 0) {  // the limit lies beyond the whole output
      EXPECT_EQ(test_support::read_file(run.folder.at("a.trc")), trace) << fail_after;
      EXPECT_GE(fail_after, static_cast<int64_t>(trace.size()));
      break;
    }
    ASSERT_EQ(result, 8u) << fail_after;
    ASSERT_EQ(test_support::read_file(run.folder.at("a.trc")), "earlier") << fail_after;
  }
}

// An output that cannot be synced, or whose folder cannot: the input stays,
// the other logs are converted and go.
TEST(DriverTest, AnInputStaysWhenItsOutputCannotBeSynced) {
  struct Row {
    std::string sync_fails;
    Lines files;
    std::string message;
  };
  for (const Row& row : std::vector<Row>{
           {"b.trc", {"d/b.txt", "d_out/a.trc", "d_out/c.trc"}, "E Could not sync output file d_out/b.trc (Input/output error)"},
           {"d_out", {"d/a.txt", "d/b.txt", "d/c.txt", "d_out/a.trc", "d_out/b.trc", "d_out/c.trc"},
            "E Could not sync the folder of output file d_out/a.trc (Input/output error)"},
       }) {
    DriverRun run;
    for (const char* name : {"a", "b", "c"}) run.folder.write("d/" + std::string(name) + ".txt", test_support::sample_log(2, *name - 'a' + 1));
    run.fs.sync_fails = row.sync_fails;
    EXPECT_EQ(run({"d/"}), 8u);
    EXPECT_EQ(run.files(), row.files);
    EXPECT_EQ(run.messages.at(0), row.message);
  }
}

}  // namespace
