// The text log reader over arbitrary bytes: the header, the title line and
// every record, read straight from memory, through read windows of several
// sizes, in chunks parsed apart and settled in order (as large logs are read
// by several threads), and through a stream whose reads start failing.
//
// Checked: every way of reading gives the same header, columns, frames and
// counts (inexact records and their first line among them); accepted
// timestamps never decrease; a frame never holds more than 8 data bytes;
// header texts stay terminated inside their fields; and a read that failed
// is always flagged, so that the driver can never take a cut-off input for a
// converted one.
#include <cstdarg>
#include <deque>
#include <functional>
#include <string>

#include "reader/log_reader.h"
#include "stream/stream.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/inline_helpers.h"

namespace {

void append(std::string* text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void append(std::string* text, const char* format, ...) {
  char part[256];
  va_list args;
  va_start(args, format);
  vsnprintf(part, sizeof part, format, args);
  va_end(args);
  *text += part;
}

// What reading the whole stream as the driver does gives (open, rewind,
// every record one by one or in chunks of chunk_bytes), as text; "" when it
// is no log. *failed tells whether a read failed. The refuse_at-th frame (from
// 1; 0: none) is refused, as by an output that failed.
std::string read_all(Stream* stream, size_t chunk_bytes, bool* failed, uint64_t refuse_at = 0) {
  std::unique_ptr<LogReader> reader = LogReader::open(stream, "log.txt");
  *failed = false;
  if (reader == nullptr) return "";
  const LogHeader& h = reader->header();
  CHECK(strnlen(h.hw_rev, sizeof h.hw_rev) < sizeof h.hw_rev && strnlen(h.fw_rev, sizeof h.fw_rev) < sizeof h.fw_rev &&
        strnlen(h.logger_id, sizeof h.logger_id) < sizeof h.logger_id &&
        strnlen(h.start_time_text, sizeof h.start_time_text) < sizeof h.start_time_text);
  std::string text;
  append(&text, "%d %s %s %s %d %d %a %s %d %d %d %d %d %d %d %u %u %lld|", h.logger_type, h.hw_rev, h.fw_rev, h.logger_id,
         h.session_no, h.split_no, h.start_time, h.start_time_text, h.value_separator, h.time_format, h.time_separator,
         h.time_separator_ms, h.date_separator, h.time_date_separator, h.bit_rate, h.silent_mode, h.cyclic_mode,
         static_cast<long long>(reader->data_start()));
  for (int i = 0; i < kColumnSlots; ++i) append(&text, "%d ", reader->columns()[i]);
  double last = -1e300;
  uint64_t frames = 0;
  auto take = [&](const CanFrame& f) {
    if (++frames == refuse_at) return false;
    CHECK(f.size <= 8 && !(f.timestamp < last));
    last = f.timestamp;
    append(&text, "\n%a %X %d%d %u:", f.timestamp, f.id, f.extended, f.transmitted, f.length);
    for (int i = 0; i < f.size; ++i) append(&text, "%02X", f.data[i]);
    return true;
  };
  test_support::InlineHelpers helpers;
  if (chunk_bytes > 0) {
    reader->read_frames(take, &helpers, chunk_bytes);
  } else {
    reader->read_frames(take);
  }
  append(&text, "\n%s|", reader->title_note().c_str());
  const ReadCounts c = reader->counts();
  for (uint64_t count : {c.record_lines, c.skipped_records, c.malformed_lines, c.first_malformed_line, c.early_records,
                         c.first_early_line, c.inexact_records, c.first_inexact_line}) {
    append(&text, "%llu ", static_cast<unsigned long long>(count));
  }
  append(&text, "%d", reader->end() == ReadEnd::kDataAfterZero);
  *failed = reader->end() == ReadEnd::kReadFailed;
  return text;
}

// A memory stream whose reads fail for good once fail_after bytes were
// delivered, as a disk that gives up part way does.
struct FailingStream : Stream {
  Stream* inner;
  int64_t left;
  bool failed;
};
int64_t failing_read(Stream* stream, void* to, int64_t count) {
  auto* s = static_cast<FailingStream*>(stream);
  if (count > 0 && s->left == 0) return s->failed = true, -1;
  const int64_t got = stream_read(s->inner, to, count < s->left ? count : s->left);
  s->left -= got > 0 ? got : 0;
  return got;
}
int64_t failing_tell(Stream* stream) { return stream_tell(static_cast<FailingStream*>(stream)->inner); }
int64_t failing_seek(Stream* stream, int64_t offset, int origin) {
  return stream_seek(static_cast<FailingStream*>(stream)->inner, offset, origin);
}
const StreamOps failing_ops = {failing_read, nullptr, failing_tell, failing_seek, nullptr, nullptr, nullptr, nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int64_t length = static_cast<int64_t>(size);
  bool failed;
  Stream* memory = memory_stream_new(data, length);
  const std::string reference = read_all(memory, 0, &failed);
  CHECK(!failed);
  // Through windows smaller than a line, around a line, and the whole input.
  for (int64_t window : {int64_t{1}, int64_t{24}, int64_t{200}, length + 1}) {
    Stream* buffered = buffered_reader_new(memory_stream_new(data, length), true, window);
    CHECK(read_all(buffered, 0, &failed) == reference && !failed);
    stream_close(buffered);
  }
  // The chunk size and the point of failure come from the input itself.
  uint64_t hash = 1469598103934665603ull;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
  stream_seek(memory, 0, SEEK_SET);
  CHECK(read_all(memory, 1 + (hash >> 40) % 300, &failed) == reference && !failed);
  // A frame refused part way: the counts end with its line however the
  // records were read (line by line through the smallest window, in batches
  // from memory, in chunks).
  const uint64_t refuse_at = 1 + (hash >> 8) % 48;
  Stream* by_line = buffered_reader_new(memory_stream_new(data, length), true, 1);
  const std::string refused = read_all(by_line, 0, &failed, refuse_at);
  stream_close(by_line);
  stream_seek(memory, 0, SEEK_SET);
  CHECK(read_all(memory, 0, &failed, refuse_at) == refused);
  stream_seek(memory, 0, SEEK_SET);
  CHECK(read_all(memory, 1 + (hash >> 40) % 300, &failed, refuse_at) == refused);
  // Reads that fail part way, straight and through a small window: whatever
  // was read, the reader knows it is not all (a reader that found data behind
  // zero bytes stops there, which fails the file as well).
  for (int64_t window : {int64_t{0}, int64_t{16}}) {
    stream_seek(memory, 0, SEEK_SET);
    FailingStream failing{{&failing_ops}, memory, static_cast<int64_t>(hash % (3 * size + 2)), false};
    Stream* stream = window > 0 ? buffered_reader_new(&failing, false, window) : &failing;
    const std::string cut = read_all(stream, 0, &failed);
    if (window > 0) stream_close(stream);
    if (!failing.failed) CHECK(cut == reference && !failed);
    if (failing.failed && !cut.empty()) CHECK(failed || cut.back() == '1');
  }
  stream_close(memory);
  return 0;
}
