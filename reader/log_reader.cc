// Text log reader: the lines of the input, the header and title passes of
// opening, and the record loop.
#include "reader/log_reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "log/log.h"
#include "reader/line_scan.h"
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

void note_read_failure(LogReader* reader) {
  if (!reader->read_failed) reader->read_error = errno;
  reader->read_failed = true;
}

// Hands the bytes taken from the window back to the stream as consumed and
// empties the window. Called before any other operation on the stream.
void settle_window(LogReader* reader) {
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
bool refill_window(LogReader* reader) {
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
    if (count < 0) note_read_failure(reader);
    return false;
  }
  reader->window_begin = reader->window_at = bytes;
  reader->window_end = bytes + count;
  return true;
}

// Passes over the rest of a line too long for the line buffer, through its
// line feed. Returns false when the input ended first.
bool skip_rest_of_line(LogReader* reader) {
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
[[gnu::noinline, gnu::cold]] int rest_of_blank_line(LogReader* reader) {
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
[[gnu::always_inline]] inline int read_line(LogReader* reader) {
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
void check_rest_after_zero(LogReader* reader) {
  settle_window(reader);
  char chunk[4096];
  while (!reader->data_after_zero) {
    const int64_t got = stream_read(reader->stream, chunk, sizeof chunk);
    if (got < 0) note_read_failure(reader);
    if (got <= 0) return;
    reader->data_after_zero = !only_padding(chunk, got);
  }
}

// Moves the stream to offset, the window emptied first. True when it landed there.
bool reposition(LogReader* reader, int64_t offset) {
  settle_window(reader);
  return stream_seek(reader->stream, offset, SEEK_SET) == offset;
}

// ---------------------------------------------------------------------------
// Opening

// The header pass: every key found in a "#" line has its handler called.
void read_header(LogReader* reader) {
  while (read_line(reader) > 0 && reader->line[0] == '#') parse_header_line(&reader->header, reader->line);
}

// The title pass: the first line that is not a "#" line, after at least one
// "#" line. Returns its length, or 0 when there is none.
int read_title(LogReader* reader) {
  reader->line_number = 0;
  bool header_seen = false;
  int length;
  while ((length = read_line(reader)) > 0 && reader->line[0] == '#') header_seen = true;
  return header_seen ? length : 0;
}

// Notes in the reader's title note what it cannot take of the title line:
// the titles it does not know (or does not reach, after the seventh), and a
// missing Timestamp, ID or Data column.
void note_title_problems(LogReader* reader, const std::string& unknown) {
  std::string& note = reader->title_note;
  if (!unknown.empty()) note = "unknown column title(s) " + unknown;
  std::vector<const char*> missing;
  const ColumnKind* kinds = reader->column_kinds;
  const ColumnKind* kinds_end = kinds + kColumnSlots;
  if (std::find(kinds, kinds_end, COLUMN_TIMESTAMP) == kinds_end) missing.push_back("Timestamp");
  if (std::find(kinds, kinds_end, COLUMN_ID) == kinds_end) missing.push_back("ID");
  if (std::find(kinds, kinds_end, COLUMN_DATA) == kinds_end) missing.push_back("Data");
  if (missing.empty()) return;
  if (!note.empty()) note += "; ";
  note += "no ";
  for (size_t i = 0; i < missing.size(); ++i) {
    note += i == 0 ? "" : i + 1 < missing.size() ? ", " : " or ";
    note += missing[i];
  }
  note += " column";
}

// Fills column_kinds and title_fields from the title line, and notes what
// the reader cannot take of it. False when it names no column.
bool read_columns(LogReader* reader, int length) {
  const char* text = reader->line;
  const char* text_end = text + length;
  if (length > 0 && text_end[-1] == '\n') --text_end;
  const char separator = reader->header.value_separator;
  bool recognised = false;
  std::string unknown;
  uint32_t column = 0;
  for (const char* begin = text;; ++column) {
    const void* found = separator == '\0' ? nullptr : memchr(begin, separator, static_cast<size_t>(text_end - begin));
    const char* end = found != nullptr ? static_cast<const char*>(found) : text_end;
    const ColumnKind kind = column < kColumnSlots ? column_kind(begin, end) : COLUMN_NONE;
    if (column < kColumnSlots) reader->column_kinds[column] = kind;
    recognised |= kind != COLUMN_NONE;
    if (kind == COLUMN_NONE) unknown += (unknown.empty() ? "\"" : ", \"") + std::string(begin, end) + "\"";
    if (found == nullptr) break;
    begin = end + 1;
  }
  reader->title_fields = column + 1;
  if (recognised) note_title_problems(reader, unknown);
  return recognised;
}

// The layout whose own parser takes the record lines of the reader's
// columns and separator.
RecordLayout record_layout_of(const LogReader* reader) {
  if (reader->header.value_separator == '\0') return RECORD_LAYOUT_GENERAL;
  static constexpr ColumnKind kWithLost[kColumnSlots] = {COLUMN_TIMESTAMP, COLUMN_LOST, COLUMN_TYPE, COLUMN_ID,
                                                         COLUMN_LENGTH,    COLUMN_DATA, COLUMN_NONE};
  static constexpr ColumnKind kWithoutLost[kColumnSlots] = {COLUMN_TIMESTAMP, COLUMN_TYPE, COLUMN_ID,  COLUMN_LENGTH,
                                                            COLUMN_DATA,      COLUMN_NONE, COLUMN_NONE};
  if (reader->title_fields == 6 && memcmp(reader->column_kinds, kWithLost, sizeof kWithLost) == 0) {
    return RECORD_LAYOUT_WITH_LOST;
  }
  if (reader->title_fields == 5 && memcmp(reader->column_kinds, kWithoutLost, sizeof kWithoutLost) == 0) {
    return RECORD_LAYOUT_WITHOUT_LOST;
  }
  return RECORD_LAYOUT_GENERAL;
}

// Opens the reader on its stream; false when the input is no text log.
bool open_log(LogReader* reader) {
  if (!reposition(reader, 0)) return false;
  read_header(reader);
  if (!reposition(reader, 0)) return false;
  const int length = read_title(reader);
  if (length == 0) return false;
  settle_window(reader);
  reader->data_start = stream_tell(reader->stream);
  reader->data_start_line = reader->line_number;
  if (reader->data_start < 0 || !read_columns(reader, length)) return false;
  reader->record_layout = record_layout_of(reader);
  record_clock_init(&reader->clock, reader->header);
  return true;
}

// Counts a record line passed over as malformed.
void note_malformed(LogReader* reader) {
  if (reader->malformed_lines++ == 0) reader->first_malformed_line = reader->line_number;
}

// Skips the settled frame of the current line (not before 1970, not before
// the last frame accepted), or accepts it and counts it when it is inexact.
// Shared by the record loop and the settling of parsed chunks.
[[gnu::always_inline]] inline Settled accept_or_skip(LogReader* reader, double timestamp, bool inexact) {
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
  if (inexact && reader->inexact_records++ == 0) reader->first_inexact_line = reader->line_number;
  return Settled::kAccepted;
}

}  // namespace

int read_log_line(LogReader* reader) { return read_line(reader); }

LogReader* log_reader_open(Stream* stream) {
  if (stream == nullptr) return nullptr;
  LogReader* reader = new (std::nothrow) LogReader{};
  if (reader == nullptr) return nullptr;
  reader->stream = stream;
  if (!open_log(reader)) {
    log_reader_free(reader);
    return nullptr;
  }
  return reader;
}

void log_reader_free(LogReader* reader) { delete reader; }

int64_t log_reader_rewind(LogReader* reader) {
  settle_window(reader);
  reader->line_number = reader->data_start_line;
  return stream_seek(reader->stream, reader->data_start, SEEK_SET);
}

RECORD_LOOP_CLONES bool log_reader_next(LogReader* reader, CanFrame* frame) {
  bool result = false;
  int length;
  while ((length = read_line(reader)) > 0) {
    ++reader->record_lines;
    bool inexact = false;
    if (!reader->line_malformed) {
      record_parser::reset_frame(frame);
      inexact = record_parser::parse_record(reader, length, frame);
    }
    if (reader->line_malformed) {
      note_malformed(reader);
      continue;
    }
    if (reader->line_timed) frame->timestamp = record_clock_settle(&reader->clock, frame->timestamp);
    frame->kind = RECORD_KIND_FRAME;
    if (accept_or_skip(reader, frame->timestamp, inexact) == Settled::kSkipped) continue;
    result = true;
    break;
  }
  if (!result && reader->stopped_at_zero) check_rest_after_zero(reader);
  if (reader->run_skipped > 0) log_reader_warn_skipped(reader);
  return result;
}

void log_reader_warn_skipped(LogReader* reader) {
  if (reader->run_skipped == 0) return;
  if (log_enabled(LOG_WARN)) {
    const int name_length = static_cast<int>(reader->name.size());
    const auto first = static_cast<unsigned long long>(reader->run_first_line);
    if (reader->run_skipped == 1) {
      log_write(LOG_WARN, "Skipping non-increasing timestamp %f at line %llu of %.*s", reader->run_first_time, first,
                name_length, reader->name.data());
    } else {
      log_write(LOG_WARN, "Skipping non-increasing timestamp %f at line %llu of %.*s, and %llu later record(s) to line %llu",
                reader->run_first_time, first, name_length, reader->name.data(),
                static_cast<unsigned long long>(reader->run_skipped - 1),
                static_cast<unsigned long long>(reader->run_last_line));
    }
  }
  reader->run_skipped = 0;
}

bool log_bytes_are_padding(const char* bytes, size_t size) {
  return only_padding(bytes, static_cast<int64_t>(size));
}

void parse_chunk(const LogReader& setup, const char* bytes, size_t size, bool line_continues, ParsedChunk* out) {
  out->records.clear();
  out->only_padding = only_padding(bytes, static_cast<int64_t>(size));
  if (line_continues) {
    const void* feed = memchr(bytes, '\n', size);
    const size_t skipped = feed == nullptr ? size : static_cast<size_t>(static_cast<const char*>(feed) - bytes) + 1;
    bytes += skipped;
    size -= skipped;
  }
  Stream* stream = memory_stream_new(bytes, static_cast<int64_t>(size));
  auto reader = std::make_unique<LogReader>(setup);
  reader->stream = stream;
  reader->window_begin = reader->window_at = reader->window_end = nullptr;
  reader->window_looked = false;
  reader->line_number = 0;
  CanFrame frame{};
  int length;
  while ((length = read_line(reader.get())) > 0) {
    ParsedRecord& record = out->records.emplace_back();
    record = ParsedRecord{};
    bool inexact = false;
    if (!reader->line_malformed) {
      record_parser::reset_frame(&frame);
      inexact = record_parser::parse_record(reader.get(), length, &frame);
    }
    if (reader->line_malformed) {
      record.flags = ParsedRecord::kMalformed;
      continue;
    }
    record.composed = frame.timestamp;
    record.id = frame.id;
    record.length = frame.length;
    record.size = frame.data.size <= 8 ? frame.data.size : 8;
    record.flags = (frame.extended ? ParsedRecord::kExtended : 0) | (frame.transmitted ? ParsedRecord::kTransmitted : 0) |
                   (reader->line_timed ? ParsedRecord::kTimed : 0) | (inexact ? ParsedRecord::kInexact : 0);
    memcpy(record.data, frame.data.bytes, 8);
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

Settled log_reader_settle(LogReader* reader, const ParsedRecord& record, uint64_t line_number, CanFrame* frame) {
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
  frame->data.size = record.size;
  memcpy(frame->data.bytes, record.data, 8);
  frame->extended = (record.flags & ParsedRecord::kExtended) != 0;
  frame->transmitted = (record.flags & ParsedRecord::kTransmitted) != 0;
  frame->kind = RECORD_KIND_FRAME;
  return accept_or_skip(reader, frame->timestamp, (record.flags & ParsedRecord::kInexact) != 0);
}
