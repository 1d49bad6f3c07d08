// The record loop of the text log reader: the lines of the input, the
// records read one by one or parsed in chunks, and the rules they are
// settled by.
#include "reader/reader_state.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "log/log.h"
#include "reader/line_scan.h"
#include "reader/plain_records.h"
#include "reader/record_parser.h"

// The record loop is built twice, for processors of the x86-64-v3 level (with
// the fused multiply-add of the timestamps in one instruction) and for the
// rest; the loader picks one.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define RECORD_LOOP_CLONES __attribute__((target_clones("default", "arch=x86-64-v3")))
#else
#define RECORD_LOOP_CLONES
#endif

namespace {

// ---------------------------------------------------------------------------
// The window of input bytes


// Hands the bytes taken from the window back to the stream as consumed and
// empties the window. Called before any other operation on the stream.
void settle_window(ReaderState* reader) {
  reader->bytes_taken += static_cast<uint64_t>(reader->window_at - reader->window_begin);
  if (reader->window_looked && reader->window_at != reader->window_begin) {
    stream_consume(reader->stream, reader->window_at - reader->window_begin);
  }
  reader->window_begin = reader->window_at = reader->window_end = nullptr;
  reader->window_looked = false;
}

// Fills the empty window with the next bytes of the input: what the stream
// offers at once, or one byte read from a stream without a window of its own.
// False at the end of the input or when the read failed (read_failed set).
bool refill_window(ReaderState* reader) {
  settle_window(reader);
  const unsigned char* bytes = nullptr;
  int64_t count = stream_look(reader->stream, &bytes);
  if (count == -2) {
    count = stream_read(reader->stream, &reader->byte_slot, 1);
    bytes = &reader->byte_slot;
  } else {
    reader->window_looked = count > 0;
  }
  if (count <= 0) {
    if (count < 0) reader_note_read_failure(reader, errno);
    return false;
  }
  reader->window_begin = reader->window_at = bytes;
  reader->window_end = bytes + count;
  return true;
}

// Passes over the rest of a line too long for the line buffer, through its
// line feed. Returns false when the input ended first.
bool skip_rest_of_line(ReaderState* reader) {
  for (;;) {
    if (reader->window_at == reader->window_end && !refill_window(reader)) return false;
    const size_t available = static_cast<size_t>(reader->window_end - reader->window_at);
    const void* feed = memchr(reader->window_at, '\n', available);
    if (feed != nullptr) {
      reader->window_at = static_cast<const unsigned char*>(feed) + 1;
      return true;
    }
    reader->window_at = reader->window_end;
  }
}

// Passes over the carriage returns that go on a line of nothing else, and
// its line feed. Returns 1 when the line feed came (a blank line), 0 when the
// input ended first, -1 when another byte came (the window stands at it).
[[gnu::noinline, gnu::cold]] int rest_of_blank_line(ReaderState* reader) {
  for (;;) {
    if (reader->window_at == reader->window_end && !refill_window(reader)) return 0;
    while (reader->window_at < reader->window_end && *reader->window_at == '\r') ++reader->window_at;
    if (reader->window_at == reader->window_end) continue;
    if (*reader->window_at != '\n') return -1;
    ++reader->window_at;
    return 1;
  }
}

// True when the bytes hold nothing but zeros and white space: what a logger
// leaves behind when it lost power after reserving the space of its file.
bool only_padding(const char* bytes, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    switch (bytes[i]) {
      case '\0': case '\n': case '\r': case ' ': case '\t':
        break;
      default:
        return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Lines

// read_log_line, inlined into the record loop. Same contract; also sets
// line_malformed and counts the line.
[[gnu::always_inline]] inline int read_line(ReaderState* reader) {
  char* line = reader->line;
  int stored = 0;
  int first_zero = -1;               // a stored zero byte ends the line's text
  int budget = kLineBufferSize - 1;  // bytes other than line feeds
  bool unusual = false;              // a control byte or one from 0x80 up
  bool too_long = false;
  for (;;) {
    if (reader->window_at == reader->window_end && !refill_window(reader)) break;
    if (budget == 0) {
      // The buffer is full: the line ends here if its line feed follows. A
      // line of nothing but carriage returns so far reads as it would if it
      // were shorter: blank, or no line at the end of the input.
      int blank;
      if (*reader->window_at == '\n') {
        ++reader->window_at;
        line[stored++] = '\n';
      } else if (stored == 0 && (blank = rest_of_blank_line(reader)) >= 0) {
        if (blank == 1) line[stored++] = '\n';
      } else {
        too_long = true;
        skip_rest_of_line(reader);
      }
      break;
    }
    // Copy the run of ordinary text at once.
    const size_t available = static_cast<size_t>(reader->window_end - reader->window_at);
    const size_t scan = available < static_cast<size_t>(budget) ? available : static_cast<size_t>(budget);
    const size_t run = line_scan::copy_plain_run(reinterpret_cast<const char*>(reader->window_at), scan, line + stored);
    stored += static_cast<int>(run);
    budget -= static_cast<int>(run);
    reader->window_at += run;
    if (run == scan) continue;  // the window or the budget is used up
    const unsigned char byte = *reader->window_at++;
    if (byte == '\n') {
      line[stored++] = '\n';
      break;
    }
    --budget;
    if (byte == '\r') continue;
    if (byte == 0) {
      // A line that begins with a zero byte ends the input: what follows is
      // looked at only to tell padding from lost data.
      if (stored == 0) {
        reader->stopped_at_zero = true;
        line[0] = '\0';
        return 0;
      }
      if (first_zero < 0) first_zero = stored;
    } else {
      unusual = true;
    }
    line[stored++] = static_cast<char>(byte);
  }
  // A line too long for the budget is a line even when nothing of it was
  // stored (only carriage returns): a malformed one, never the end of input.
  if (too_long && stored == 0) line[stored++] = '\r';
  line[stored] = '\0';
  if (stored > 0) ++reader->line_number;
  reader->stopped_at_zero = false;
  reader->line_malformed = unusual || too_long || first_zero >= 0;
  return first_zero >= 0 ? first_zero : stored;
}

// Reads the rest of the input after the zero byte that began a line and
// ended the records, and notes whether anything but padding follows. This
// runs once per file, and only when the records ended at a zero byte.
void check_rest_after_zero(ReaderState* reader) {
  settle_window(reader);
  char chunk[4096];
  while (!reader->data_after_zero) {
    const int64_t got = stream_read(reader->stream, chunk, sizeof chunk);
    if (got < 0) reader_note_read_failure(reader, errno);
    if (got <= 0) return;
    reader_check_after_zero(reader, chunk, static_cast<size_t>(got));
  }
}


// Counts a record line passed over as malformed.
void note_malformed(ReaderState* reader) {
  if (reader->malformed_lines++ == 0) reader->first_malformed_line = reader->line_number;
}

// Skips the settled frame of the current line (not before 1970, not before
// the last frame accepted), or accepts it and counts it when it is inexact
// (its line said so, or its time is beyond what outputs keep exactly).
// Shared by the record loop and the settling of parsed chunks.
[[gnu::always_inline]] inline Settled accept_or_skip(ReaderState* reader, double timestamp, bool inexact) {
  if (timestamp < reader->last_accepted_time) {
    ++reader->skipped_records;
    if (timestamp < 0) {
      if (reader->early_records++ == 0) reader->first_early_line = reader->line_number;
    } else {
      if (reader->run_skipped++ == 0) {
        reader->run_first_line = reader->line_number;
        reader->run_first_time = timestamp;
      }
      reader->run_last_line = reader->line_number;
    }
    return Settled::kSkipped;
  }
  reader->last_accepted_time = timestamp;
  inexact |= timestamp >= kExactTimeLimit;
  if (inexact && reader->inexact_records++ == 0) reader->first_inexact_line = reader->line_number;
  return Settled::kAccepted;
}

}  // namespace

int read_log_line(ReaderState* reader) { return read_line(reader); }

bool reader_seek(ReaderState* reader, int64_t offset) {
  settle_window(reader);
  return stream_seek(reader->stream, offset, SEEK_SET) == offset;
}

int64_t reader_position(ReaderState* reader) {
  settle_window(reader);
  return stream_tell(reader->stream);
}

bool reader_rewind(ReaderState* reader) {
  reader->line_number = reader->data_start_line;
  return reader_seek(reader, reader->data_start);
}

void reader_note_read_failure(ReaderState* reader, int error) {
  if (!reader->read_failed) reader->read_error = error;
  reader->read_failed = true;
}

void reader_check_after_zero(ReaderState* reader, const char* bytes, size_t size) {
  if (!only_padding(bytes, static_cast<int64_t>(size))) reader->data_after_zero = true;
}

namespace {

// What one record line gave.
enum class LineOutcome { kNoLine, kPassedOver, kFrame };

// Reads the next record line by itself, through the line buffer, and
// settles it: a frame in frame when it is accepted.
[[gnu::always_inline]] inline LineOutcome read_record_line(ReaderState* reader, CanFrame* frame) {
  const int length = read_line(reader);
  if (length == 0) return LineOutcome::kNoLine;
  ++reader->record_lines;
  bool inexact = false;
  if (!reader->line_malformed) {
    record_parser::reset_frame(frame);
    inexact = record_parser::parse_record(reader, length, frame);
  }
  if (reader->line_malformed) {
    note_malformed(reader);
    return LineOutcome::kPassedOver;
  }
  if (reader->line_timed) frame->timestamp = record_clock_settle(&reader->clock, frame->timestamp);
  if (accept_or_skip(reader, frame->timestamp, inexact) == Settled::kSkipped) return LineOutcome::kPassedOver;
  return LineOutcome::kFrame;
}

// The parsed record of a frame, with flags beyond those the frame tells.
ParsedRecord parsed_record(const CanFrame& frame, uint8_t flags) {
  ParsedRecord record{};
  record.composed = frame.timestamp;
  record.id = frame.id;
  record.length = frame.length;
  record.size = frame.size <= 8 ? frame.size : 8;
  record.flags = flags | (frame.extended ? ParsedRecord::kExtended : 0) |
                 (frame.transmitted ? ParsedRecord::kTransmitted : 0);
  memcpy(record.data, frame.data, 8);
  return record;
}

// Parses a batch of the plainest record lines from the window's position on
// (plain_records.h); none for a layout without a parser of its own.
[[gnu::always_inline]] inline void parse_batch(ReaderState* reader, plain_records::Batch* batch) {
  switch (reader->record_layout) {
    case RECORD_LAYOUT_WITH_LOST:
      plain_records::parse<6>(reader, batch);
      return;
    case RECORD_LAYOUT_WITHOUT_LOST:
      plain_records::parse<5>(reader, batch);
      return;
    case RECORD_LAYOUT_GENERAL:
      batch->count = 0;
      return;
  }
}

// Hands the accepted frames [begin, end) of the batch to take, in one call.
// False when take refused one: the counts then end with its line, the
// batch's first line being first_line + 1 and its first record first_record + 1.
[[gnu::always_inline]] inline bool pass_run(ReaderState* reader, plain_records::Batch* batch, int begin, int end,
                                           uint64_t first_line, uint64_t first_record, TakeFrame take) {
  if (begin == end) return true;
  const size_t count = static_cast<size_t>(end - begin);
  const size_t taken = take(batch->frames + begin, count);
  if (taken == count) return true;
  const uint64_t refused = static_cast<uint64_t>(begin) + taken + 1;
  reader->line_number = first_line + refused;
  reader->record_lines = first_record + refused;
  return false;
}

// Settles the batch's records in order, as read_record_line settles a
// line, and hands the accepted frames to take, as many at a time as come
// one after the other and change no count. False when take refused one (the
// counts then end with its line).
[[gnu::always_inline]] inline bool settle_batch(ReaderState* reader, plain_records::Batch* batch, TakeFrame take) {
  const uint64_t first_line = reader->line_number;
  const uint64_t first_record = reader->record_lines;
  int waiting = 0;  // the first accepted frame not yet handed on
  for (int i = 0; i < batch->count; ++i) {
    CanFrame& frame = batch->frames[i];
    frame.timestamp = record_clock_settle(&reader->clock, frame.timestamp);
    // Accepted, exact and after no skipped record: what accept_or_skip
    // does then is this one step.
    if (frame.timestamp >= reader->last_accepted_time && frame.timestamp < kExactTimeLimit && !batch->inexact[i] &&
        reader->run_skipped == 0) {
      reader->last_accepted_time = frame.timestamp;
      continue;
    }
    // Any other record is settled at its line, after the frames before it
    // are handed on.
    if (!pass_run(reader, batch, waiting, i, first_line, first_record, take)) return false;
    reader->line_number = first_line + static_cast<uint64_t>(i) + 1;
    reader->record_lines = first_record + static_cast<uint64_t>(i) + 1;
    if (accept_or_skip(reader, frame.timestamp, batch->inexact[i]) == Settled::kSkipped) {
      waiting = i + 1;
      continue;
    }
    if (reader->run_skipped > 0) reader_warn_skipped(reader);
    waiting = i;
  }
  reader->line_number = first_line + static_cast<uint64_t>(batch->count);
  reader->record_lines = first_record + static_cast<uint64_t>(batch->count);
  return pass_run(reader, batch, waiting, batch->count, first_line, first_record, take);
}

}  // namespace

RECORD_LOOP_CLONES bool reader_pass_frames(ReaderState* reader, TakeFrame take) {
  // Zeroed once: the data bytes beyond a frame's byte string are left as
  // they were, and the line writers read all eight of a classic frame's
  // bytes at once.
  plain_records::Batch batch{};
  CanFrame frame{};
  for (;;) {
    parse_batch(reader, &batch);
    if (batch.count > 0) {
      if (!settle_batch(reader, &batch, take)) return false;
      continue;
    }
    const LineOutcome outcome = read_record_line(reader, &frame);
    if (outcome == LineOutcome::kNoLine) break;
    if (outcome == LineOutcome::kPassedOver) continue;
    if (reader->run_skipped > 0) reader_warn_skipped(reader);
    if (!take(frame)) return false;
  }
  if (reader->stopped_at_zero) check_rest_after_zero(reader);
  reader_warn_skipped(reader);
  return true;
}

void reader_warn_skipped(ReaderState* reader) {
  if (reader->run_skipped == 0) return;
  const int name_length = static_cast<int>(reader->name.size());
  const auto first = static_cast<unsigned long long>(reader->run_first_line);
  if (reader->run_skipped == 1) {
    log_warn("Skipping non-increasing timestamp %f at line %llu of %.*s", reader->run_first_time, first, name_length,
             reader->name.data());
  } else {
    log_warn("Skipping non-increasing timestamp %f at line %llu of %.*s, and %llu later record(s) to line %llu",
             reader->run_first_time, first, name_length, reader->name.data(),
             static_cast<unsigned long long>(reader->run_skipped - 1),
             static_cast<unsigned long long>(reader->run_last_line));
  }
  reader->run_skipped = 0;
}

void parse_chunk(const ReaderState& setup, const char* bytes, size_t size, bool line_continues, ParsedChunk* out) {
  out->records.clear();
  out->only_padding = only_padding(bytes, static_cast<int64_t>(size));
  if (line_continues) {
    const void* feed = memchr(bytes, '\n', size);
    const size_t skipped = feed == nullptr ? size : static_cast<size_t>(static_cast<const char*>(feed) - bytes) + 1;
    bytes += skipped;
    size -= skipped;
  }
  Stream* stream = memory_stream_new(bytes, static_cast<int64_t>(size));
  auto reader = std::make_unique<ReaderState>(setup);
  reader->stream = stream;
  reader->window_begin = reader->window_at = reader->window_end = nullptr;
  reader->window_looked = false;
  reader->line_number = 0;
  plain_records::Batch batch{};
  CanFrame frame{};
  for (;;) {
    parse_batch(reader.get(), &batch);
    for (int i = 0; i < batch.count; ++i) {
      const uint8_t inexact = batch.inexact[i] ? ParsedRecord::kInexact : 0;
      out->records.push_back(parsed_record(batch.frames[i], ParsedRecord::kTimed | inexact));
    }
    if (batch.count > 0) {
      reader->line_number += static_cast<uint64_t>(batch.count);
      continue;
    }
    const int length = read_line(reader.get());
    if (length == 0) break;
    bool inexact = false;
    if (!reader->line_malformed) {
      record_parser::reset_frame(&frame);
      inexact = record_parser::parse_record(reader.get(), length, &frame);
    }
    if (reader->line_malformed) {
      out->records.push_back(ParsedRecord{0.0, 0, 0, 0, ParsedRecord::kMalformed, {}});
      continue;
    }
    const uint8_t flags = (reader->line_timed ? ParsedRecord::kTimed : 0) | (inexact ? ParsedRecord::kInexact : 0);
    out->records.push_back(parsed_record(frame, flags));
  }
  out->lines = reader->line_number;
  out->ended_at_zero = reader->stopped_at_zero;
  if (out->ended_at_zero) {
    // A memory stream offers all of its bytes at once: the window holds the
    // whole rest of the chunk.
    const int64_t rest = reader->window_end - reader->window_at;
    out->data_after_zero = !only_padding(reinterpret_cast<const char*>(reader->window_at), rest);
  }
  stream_close(stream);
}

Settled reader_settle(ReaderState* reader, const ParsedRecord& record, uint64_t line_number, CanFrame* frame) {
  ++reader->record_lines;
  reader->line_number = line_number;
  if (record.flags & ParsedRecord::kMalformed) {
    note_malformed(reader);
    return Settled::kMalformed;
  }
  record_parser::reset_frame(frame);
  frame->timestamp =
      (record.flags & ParsedRecord::kTimed) ? record_clock_settle(&reader->clock, record.composed) : record.composed;
  frame->id = record.id;
  frame->length = record.length;
  frame->size = record.size;
  memcpy(frame->data, record.data, 8);
  frame->extended = (record.flags & ParsedRecord::kExtended) != 0;
  frame->transmitted = (record.flags & ParsedRecord::kTransmitted) != 0;
  return accept_or_skip(reader, frame->timestamp, (record.flags & ParsedRecord::kInexact) != 0);
}
