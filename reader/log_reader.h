// Text log reader: the "#" header lines and the column-title line of a text
// log file, then one CanFrame per record line with absolute, non-decreasing
// timestamps.
#pragma once

#include <cstdint>
#include <memory>

#include "reader/can_frame.h"
#include "reader/record_fields.h"
#include "stream/stream.h"

// The parsed header. Text fields are stored terminated and never hold more
// than their capacity; a longer value is cut at the capacity.
struct LogHeader {
  int32_t logger_type;        // 0 VorlatAlpha, 1 VorlatBeta, 2 VorlatGamma
  char hw_rev[5];             // at most 4 characters
  char fw_rev[5];             // at most 4 characters
  char logger_id[22];         // at most 21 characters
  int32_t session_no;
  int32_t split_no;
  double start_time;          // seconds since the epoch, from local time
  char start_time_text[20];   // at most 19 characters: the "Time: " value as written
  char value_separator;       // 0 = none
  uint8_t time_format;
  char time_separator;        // 0 = none
  char time_separator_ms;     // 0 = none
  char date_separator;        // 0 = none
  char time_date_separator;   // 0 = none
  int32_t bit_rate;
  uint32_t silent_mode;       // 0 or 1
  uint32_t cyclic_mode;       // 0 or 1
};

// The six column kinds of the title line; COLUMN_NONE marks an unrecognised
// column.
enum ColumnKind : uint8_t {
  COLUMN_NONE = 0,
  COLUMN_TIMESTAMP,  // "Timestamp"
  COLUMN_LOST,       // "Lost"
  COLUMN_TYPE,       // "Type"
  COLUMN_ID,         // "ID"
  COLUMN_LENGTH,     // "Length"
  COLUMN_DATA,       // "Data"
};

constexpr int kColumnSlots = 7;

// Column orders whose record lines are split and parsed by code made for
// them; any other order takes the general path. The result is the same.
enum RecordLayout : uint8_t {
  RECORD_LAYOUT_GENERAL = 0,
  RECORD_LAYOUT_WITH_LOST,     // Timestamp, Lost, Type, ID, Length, Data
  RECORD_LAYOUT_WITHOUT_LOST,  // Timestamp, Type, ID, Length, Data
};
constexpr int kLineBufferSize = 200;

// One header key and the handler that parses its line (the line is shortened
// in place at the end of the value).
struct HeaderKey {
  const char* key;  // ends in ": "
  void (*handle)(LogHeader* header, char* line);
};
extern const HeaderKey header_keys[16];

struct LogReader {
  Stream* stream;         // borrowed: the reader never closes it
  uint32_t data_start;    // stream offset of the first record line
  LogHeader header;
  uint32_t wrap_offset;   // seconds added to every timestamp
  double last_parsed_time;
  ColumnKind column_parsers[kColumnSlots];
  double last_accepted_time;
  RecordLayout record_layout;  // chosen at open from column_parsers and the separator

  // A read of the input reported an error (not the end of the data). The
  // records read so far are all there is; the caller must treat the file as
  // failed, never as converted.
  bool read_failed;

  // The records ended at a line that begins with a zero byte, and bytes other
  // than zeros and white space follow it: records after the zero bytes
  // (blocks a logger wrote before losing power, for example) were not read.
  // The caller must treat the file as incomplete, never as converted.
  bool data_after_zero;
  bool stopped_at_zero;  // the last line read began with a zero byte

  char line[kLineBufferSize];  // the line buffer, reused for every line

  // Timestamp composition, prepared at open from the header, which does not
  // change afterwards.
  bool time_drop[256];   // characters removed from time texts
  char time_base[17];    // the 17-digit template with the start-time text written in
  DayCache day_cache;    // midnight of the last day seen in a timestamp
  TimeFieldCache time_cache;  // the last timestamp field and its numbers
};

// Reads one line into reader->line (cleared first): at most 199 bytes other
// than line feeds, a line feed stored and ending the line, carriage returns
// dropped but counted against the budget. Returns the line's length (0 when no
// line is left: end of input, or a first byte of value 0). A failed read ends
// the line and sets read_failed.
int read_log_line(LogReader* reader);

// Opens a reader on stream: parses the header and the column-title line.
// Returns nullptr, logging nothing, when the stream is missing, memory runs
// out, or the input is not a text log. On success the stream stands right
// after the title line.
LogReader* log_reader_open(Stream* stream);

// Releases the reader and nothing else; accepts nullptr.
void log_reader_free(LogReader* reader);

// Seeks the stream to data_start. Returns the result of stream_seek.
int64_t log_reader_rewind(LogReader* reader);

// Reads the next accepted record into frame. Returns false when no line is
// left. Logs "Skipping non-increasing timestamp: %f" at most once per call.
bool log_reader_next(LogReader* reader, CanFrame* frame);

// True when a read of the input failed since the reader was opened.
inline bool log_reader_failed(const LogReader* reader) { return reader->read_failed; }

// True when the records ended at a zero byte although data follows it (see
// data_after_zero). Known once log_reader_next has returned false.
inline bool log_reader_data_after_zero(const LogReader* reader) { return reader->data_after_zero; }

using LogReaderPtr = std::unique_ptr<LogReader, decltype(&log_reader_free)>;
