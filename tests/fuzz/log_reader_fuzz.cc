// The text log reader over arbitrary bytes: the header, the title line and
// every record, read straight from memory, through read windows of several
// sizes, in chunks parsed apart and settled in order (as large logs are
// read by several threads), and through a stream whose reads start failing
// part way.
//
// Checked: every way of reading gives the same header, column layout,
// frames and counts of passed-over lines (the window has a fast path of its
// own for whole runs of a line; chunks cut lines and wraps anywhere);
// accepted timestamps never decrease; a frame never holds more than 8 data
// bytes; header texts stay terminated inside their fields; and a read that
// failed is always flagged, so the driver can never take a cut-off input for
// a converted one.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <deque>
#include <functional>

#include "convert/chunked_pass.h"
#include "convert/job.h"
#include "reader/log_reader.h"
#include "stream/stream.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// What one reading of the input gave.
struct Reading {
  bool opened = false;
  bool failed = false;  // the reader's read-error flag
  bool data_after_zero = false;  // records ended at zero bytes with data after them
  LogHeader header{};
  uint32_t data_start = 0;
  ColumnKind columns[kColumnSlots] = {};
  std::vector<CanFrame> frames;
  uint64_t counts[4] = {};  // record lines, skipped, malformed, the first malformed line
};

// Runs the chunks' work on the waiting thread.
class InlineHelpers : public HelperQueue {
 public:
  void push(std::function<void()> work) override { queue_.push_back(std::move(work)); }
  void wait_until(const std::function<bool()>& done) override {
    while (!done() && !queue_.empty()) {
      queue_.front()();
      queue_.pop_front();
    }
  }
  void notify() override {}
  int threads() const override { return 2; }

 private:
  std::deque<std::function<void()>> queue_;
};

bool same_bits(double a, double b) { return memcmp(&a, &b, sizeof a) == 0; }

bool same_frame(const CanFrame& a, const CanFrame& b) {
  return same_bits(a.timestamp, b.timestamp) && a.channel == b.channel && a.id == b.id &&
         a.data.size == b.data.size && memcmp(a.data.bytes, b.data.bytes, a.data.size) == 0 &&
         a.kind == b.kind && a.extended == b.extended && a.transmitted == b.transmitted &&
         a.fd == b.fd && a.esi == b.esi && a.brs == b.brs && a.remote == b.remote &&
         a.length == b.length;
}

bool terminated(const char* field, size_t size) { return strnlen(field, size) < size; }

bool same_header(const LogHeader& a, const LogHeader& b) {
  return a.logger_type == b.logger_type && strcmp(a.hw_rev, b.hw_rev) == 0 &&
         strcmp(a.fw_rev, b.fw_rev) == 0 && strcmp(a.logger_id, b.logger_id) == 0 &&
         a.session_no == b.session_no && a.split_no == b.split_no &&
         same_bits(a.start_time, b.start_time) &&
         strcmp(a.start_time_text, b.start_time_text) == 0 &&
         a.value_separator == b.value_separator && a.time_format == b.time_format &&
         a.time_separator == b.time_separator && a.time_separator_ms == b.time_separator_ms &&
         a.date_separator == b.date_separator && a.time_date_separator == b.time_date_separator &&
         a.bit_rate == b.bit_rate && a.silent_mode == b.silent_mode && a.cyclic_mode == b.cyclic_mode;
}

// Reads the whole input from stream as the driver does: open, rewind, then
// every record, one by one or, with chunk_bytes, in chunks of that size.
Reading read_all(Stream* stream, size_t chunk_bytes = 0) {
  Reading reading;
  LogReader* reader = log_reader_open(stream);
  if (reader == nullptr) return reading;
  reading.opened = true;
  const LogHeader& header = reader->header;
  CHECK(terminated(header.hw_rev, sizeof header.hw_rev));
  CHECK(terminated(header.fw_rev, sizeof header.fw_rev));
  CHECK(terminated(header.logger_id, sizeof header.logger_id));
  CHECK(terminated(header.start_time_text, sizeof header.start_time_text));
  reading.header = header;
  reading.data_start = reader->data_start;
  memcpy(reading.columns, reader->column_kinds, sizeof reading.columns);
  log_reader_rewind(reader);
  double last = -1e300;
  auto take = [&](const CanFrame& frame) {
    CHECK(frame.data.size <= 8);
    CHECK(frame.kind == 1 && frame.channel == 1);
    CHECK(!(frame.timestamp < last));
    last = frame.timestamp;
    reading.frames.push_back(frame);
    return true;
  };
  if (chunk_bytes > 0) {
    InlineHelpers helpers;
    pass_frames_in_chunks(reader, &helpers, take, chunk_bytes);
  } else {
    CanFrame frame;
    while (log_reader_next(reader, &frame)) take(frame);
  }
  reading.counts[0] = reader->record_lines;
  reading.counts[1] = reader->skipped_records;
  reading.counts[2] = reader->malformed_lines;
  reading.counts[3] = reader->first_malformed_line;
  reading.failed = log_reader_failed(reader);
  reading.data_after_zero = log_reader_data_after_zero(reader);
  log_reader_free(reader);
  return reading;
}

void check_same(const Reading& a, const Reading& b) {
  CHECK(a.opened == b.opened);
  if (!a.opened) return;
  CHECK(same_header(a.header, b.header));
  CHECK(a.data_start == b.data_start);
  CHECK(memcmp(a.columns, b.columns, sizeof a.columns) == 0);
  CHECK(a.frames.size() == b.frames.size());
  for (size_t i = 0; i < a.frames.size(); ++i) CHECK(same_frame(a.frames[i], b.frames[i]));
  CHECK(memcmp(a.counts, b.counts, sizeof a.counts) == 0);
  CHECK(a.data_after_zero == b.data_after_zero);
}

// A memory stream whose reads fail for good once fail_after bytes were
// delivered, as a disk that gives up part way does.
struct FailingStream : Stream {
  const unsigned char* data;
  int64_t size;
  int64_t position;
  int64_t delivered;
  int64_t fail_after;
  bool failed;  // a read reported the failure
};

int64_t failing_read(Stream* stream, void* destination, int64_t count) {
  auto* s = static_cast<FailingStream*>(stream);
  if (count <= 0) return 0;
  if (s->delivered >= s->fail_after) {
    s->failed = true;
    return -1;
  }
  if (s->position >= s->size) return 0;
  int64_t n = s->size - s->position;
  if (n > count) n = count;
  if (n > s->fail_after - s->delivered) n = s->fail_after - s->delivered;
  memcpy(destination, s->data + s->position, static_cast<size_t>(n));
  s->position += n;
  s->delivered += n;
  return n;
}
int64_t failing_tell(Stream* stream) { return static_cast<FailingStream*>(stream)->position; }
int64_t failing_seek(Stream* stream, int64_t offset, int origin) {
  auto* s = static_cast<FailingStream*>(stream);
  int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? s->position : origin == SEEK_END ? s->size : -1;
  if (base < 0 || offset < -base || offset > INT64_MAX / 2) return -1;
  s->position = base + offset;
  return s->position;
}
int failing_close(Stream*) { return 0; }  // the record belongs to the caller
const StreamOps failing_ops = {failing_read, nullptr, failing_tell, failing_seek,
                               failing_close, nullptr, nullptr,      nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Straight from memory: the reference.
  Stream* memory = memory_stream_new(data, static_cast<int64_t>(size));
  Reading reference = read_all(memory);
  stream_close(memory);
  CHECK(!reference.failed);

  // Through windows smaller than a line, around a line, and the whole input.
  for (int64_t window : {int64_t{1}, int64_t{24}, int64_t{200}, static_cast<int64_t>(size) + 1}) {
    Stream* inner = memory_stream_new(data, static_cast<int64_t>(size));
    Stream* buffered = buffered_reader_new(inner, true, window);
    CHECK(buffered != nullptr);
    Reading windowed = read_all(buffered);
    stream_close(buffered);
    CHECK(!windowed.failed);
    check_same(reference, windowed);
  }

  // The point of failure below and the chunk size are taken from the input
  // itself.
  uint64_t hash = 1469598103934665603ull;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;

  // In chunks of a few bytes up to a few lines.
  Stream* chunked_stream = memory_stream_new(data, static_cast<int64_t>(size));
  Reading chunked = read_all(chunked_stream, 1 + (hash >> 40) % 300);
  stream_close(chunked_stream);
  CHECK(!chunked.failed);
  check_same(reference, chunked);

  // Reads that fail part way, straight and through a small window.
  const int64_t fail_after = static_cast<int64_t>(hash % (3 * size + 2));
  for (int64_t window : {int64_t{0}, int64_t{16}}) {
    FailingStream failing{};
    failing.ops = &failing_ops;
    failing.data = data;
    failing.size = static_cast<int64_t>(size);
    failing.fail_after = fail_after;
    Stream* stream = &failing;
    if (window > 0) stream = buffered_reader_new(&failing, false, window);
    Reading cut = read_all(stream);
    if (window > 0) stream_close(stream);
    if (!failing.failed) {
      // The failure was never reached: exactly the reference.
      CHECK(!cut.failed);
      check_same(reference, cut);
    } else if (cut.opened) {
      // Reached: whatever was read, the reader knows it is not all. A reader
      // that had already found data behind zero bytes stops reading there;
      // that too fails the file, so the failure may stay unseen.
      CHECK(cut.failed || cut.data_after_zero);
    }
  }
  return 0;
}
