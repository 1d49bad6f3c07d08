// The inside of the text log reader (reader/log_reader.h): its state, and
// the steps that the reader's own files and its tests share. Nothing outside
// reader/ but tests includes this.
//
// A record line that no logger writes becomes no frame and changes no
// timestamp state: a line with control bytes other than tab and carriage
// return (DEL among them), or bytes from 0x80 up; a zero byte after the first
// byte of a line; a line longer than the line buffer (the rest of it is never
// read as a line of its own); a Timestamp field that is no time. The reader
// counts such lines.
//
// A record line that becomes a frame which says something other than the
// line is inexact (see record_parser.h); the reader counts the inexact
// records it hands out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame/can_frame.h"
#include "reader/log_header.h"
#include "reader/record_time.h"
#include "reader/take_frame.h"
#include "stream/stream.h"

// Column orders whose record lines are split and parsed by code made for
// them; any other order takes the general path. The result is the same.
enum RecordLayout : uint8_t {
  RECORD_LAYOUT_GENERAL = 0,
  RECORD_LAYOUT_WITH_LOST,     // Timestamp, Lost, Type, ID, Length, Data
  RECORD_LAYOUT_WITHOUT_LOST,  // Timestamp, Type, ID, Length, Data
};

struct ReaderState {
  Stream* stream;       // borrowed: the reader never closes it
  int64_t data_start;   // stream offset of the first record line
  LogHeader header;
  RecordClock clock;    // timestamp composition and wrap correction
  ColumnKind column_kinds[kColumnSlots];
  uint32_t title_fields;   // fields of the title line, all of them (not only the first kColumnSlots)
  std::string title_note;  // what the reader cannot take of the title line (read_log_opening); empty when nothing
  std::string name;        // the log's name in messages
  double last_accepted_time;
  RecordLayout record_layout;  // chosen at open from column_kinds and the separator

  // A read of the input reported an error (not the end of the data). The
  // records read so far are all there is; the caller must treat the file as
  // failed, never as converted.
  bool read_failed;
  int read_error;  // errno of that read
  // The records ended at a line that begins with a zero byte, and bytes other
  // than zeros and white space follow it: records after the zero bytes
  // (blocks a logger wrote before losing power, for example) were not read.
  // The caller must treat the file as incomplete, never as converted.
  bool data_after_zero;
  bool stopped_at_zero;  // the last line read began with a zero byte

  // Counts of the record lines read so far.
  uint64_t line_number;           // lines read (header, title and records)
  uint64_t data_start_line;       // line_number at data_start
  uint64_t record_lines;          // record lines (frames, skipped and malformed)
  uint64_t skipped_records;       // passed over for a timestamp before the last one or before 1970
  uint64_t early_records;         // those of them before 1970
  uint64_t first_early_line;      // line number of the first of these, 0 for none
  uint64_t malformed_lines;       // passed over as no logger writes them
  uint64_t first_malformed_line;  // line number of the first of them, 0 for none
  uint64_t inexact_records;       // frames handed out that say something other than their line
  uint64_t first_inexact_line;    // line number of the first of them, 0 for none
  bool line_malformed;            // the line just read is one of them
  bool line_timed;                // the record just parsed had a Timestamp field
  bool line_inexact;              // one of its fields is inexact (parse_record tells of the whole record)
  int16_t stated_length;          // the number its Length field states

  // The run of records skipped for a non-increasing timestamp since the last
  // frame handed out: one warning tells of it (log_reader_warn_skipped).
  uint64_t run_skipped;     // records in it, 0 for none
  uint64_t run_first_line;  // the line of its first record
  uint64_t run_last_line;   // the line of its last record
  double run_first_time;    // the timestamp of its first record

  // The bytes of the input taken but not yet consumed from the stream (see
  // stream_look): the reader consumes them in one step when it refills.
  const unsigned char* window_begin;
  const unsigned char* window_at;
  const unsigned char* window_end;
  bool window_looked;       // from stream_look (else byte_slot, read already)
  uint64_t bytes_taken;     // bytes of the input taken through windows so far (whole windows)
  unsigned char byte_slot;  // the byte of a stream without a window

  char line[kLineBufferSize + 1];  // the line buffer, reused for every line, and a terminator
};

// Reads one line into reader->line (cleared first): at most 199 bytes other
// than line feeds, a line feed stored and ending the line, carriage returns
// dropped but counted against the budget; the rest of a longer line is passed
// over (a longer line of nothing but carriage returns reads as a blank line).
// Returns the line's length up to its first zero byte (0 when no line is
// left: end of input, or a first byte of value 0). A failed read ends the
// line and sets read_failed.
int read_log_line(ReaderState* reader);

// Reads the header and the column-title line of the reader's stream. False
// when the stream cannot be positioned or the input is not a text log. On
// success the stream stands right after the title line.
bool read_log_opening(ReaderState* reader);

// Moves the stream to offset, the bytes taken into the window given back
// first. True when it landed there.
bool reader_seek(ReaderState* reader, int64_t offset);

// The stream's position, the bytes taken into the window given back first.
int64_t reader_position(ReaderState* reader);

// Seeks the stream to data_start, the line count back to the title line's.
// False when it did not land there.
bool reader_rewind(ReaderState* reader);

// Reads every record line from the stream's position on and hands each
// accepted frame to take, in order. Logs the warning of the records skipped
// for a non-increasing timestamp (reader_warn_skipped) before the next frame
// and at the end. Stops when take returns false, and returns false then.
bool reader_pass_frames(ReaderState* reader, TakeFrame take);

// Logs the warning of the run of records skipped for a non-increasing
// timestamp, when there is one ("Skipping non-increasing timestamp T at line
// L of NAME", with the count and last line of a longer run), and ends it.
void reader_warn_skipped(ReaderState* reader);

// Notes a failed read of the input: the first one's errno is kept.
void reader_note_read_failure(ReaderState* reader, int error);

// The one check of what follows the zero byte that ended the records: notes
// data_after_zero when bytes hold anything but padding (zeros and white
// space, what a logger leaves behind when it lost power after reserving the
// space of its file).
void reader_check_after_zero(ReaderState* reader, const char* bytes, size_t size);

// ---------------------------------------------------------------------------
// Records in chunks: the record lines of a large log parsed in pieces, on any
// thread, and settled in their order afterwards, with the same frames, counts
// and messages as reader_pass_frames.

// One record line of a chunk, parsed but not yet settled.
struct ParsedRecord {
  static constexpr uint8_t kExtended = 1, kTransmitted = 2, kMalformed = 4, kTimed = 8, kInexact = 16;
  double composed;  // its time before the wrap correction (record_clock_compose) when kTimed, else 0
  uint32_t id;
  uint8_t length;
  uint8_t size;  // data bytes
  uint8_t flags;
  uint8_t data[8];
};

// The record lines of a chunk, one record per line.
struct ParsedChunk {
  std::vector<ParsedRecord> records;
  uint64_t lines = 0;            // lines read, malformed ones included
  bool ended_at_zero = false;    // a line began with a zero byte: the records end there
  bool data_after_zero = false;  // and bytes other than padding follow it in the chunk
  bool only_padding = false;     // the chunk holds nothing but zeros and white space
};

// Parses the record lines in bytes[0, size), whole lines but perhaps the
// last, with the header, columns and layout of setup (an opened state, not
// changed). With line_continues the bytes begin inside a line that an
// earlier chunk began: they are passed over through its line feed. Safe to
// run on several threads at once.
void parse_chunk(const ReaderState& setup, const char* bytes, size_t size, bool line_continues, ParsedChunk* out);

// How reader_settle took a record.
enum class Settled { kAccepted, kSkipped, kMalformed };

// Settles one parsed record as reader_pass_frames would, in order: counts it
// (line_number is that of its line), corrects its time for a wrap of its
// clock, applies the rule of non-decreasing timestamps, and fills frame with
// it when it is accepted. Logs nothing: the caller calls reader_warn_skipped
// before it hands on an accepted frame, and at the end.
Settled reader_settle(ReaderState* reader, const ParsedRecord& record, uint64_t line_number, CanFrame* frame);
