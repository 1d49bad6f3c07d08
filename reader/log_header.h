// The header of a text log: the "#" lines with their keys and values, and the
// column kinds that the column-title line names.
#pragma once

#include <cstdint>

// The parsed header. Text fields are stored terminated and never hold more
// than their capacity; a longer value is cut at the capacity.
struct LogHeader {
  int32_t logger_type;       // 0 VorlatAlpha, 1 VorlatBeta, 2 VorlatGamma
  char hw_rev[5];            // at most 4 characters
  char fw_rev[5];            // at most 4 characters
  char logger_id[22];        // at most 21 characters
  int32_t session_no;
  int32_t split_no;
  double start_time;         // seconds since the epoch, from local time
  char start_time_text[20];  // at most 19 characters: the "Time: " value as written
  char value_separator;      // 0 = none
  uint8_t time_format;
  char time_separator;       // 0 = none
  char time_separator_ms;    // 0 = none
  char date_separator;       // 0 = none
  char time_date_separator;  // 0 = none
  int32_t bit_rate;
  uint32_t silent_mode;      // 0 or 1
  uint32_t cyclic_mode;      // 0 or 1
};

// One header key and the handler that parses its line (the line is shortened
// in place at the end of the value).
struct HeaderKey {
  const char* key;  // ends in ": "
  void (*handle)(LogHeader* header, char* line);
};
extern const HeaderKey header_keys[16];

// Calls the handler of every key that occurs in the "#" line, in table order.
void parse_header_line(LogHeader* header, char* line);

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

// Columns of a line that are looked at; anything after the seventh is ignored.
constexpr int kColumnSlots = 7;

// The column kind a title-line name stands for.
ColumnKind column_kind(const char* begin, const char* end);
