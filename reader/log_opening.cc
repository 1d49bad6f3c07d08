// Opening a text log: the header pass, the title pass, and the column
// layout the record lines are read by.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "reader/reader_state.h"

namespace {

// The header pass: every key found in a "#" line has its handler called.
void read_header(ReaderState* reader) {
  while (read_log_line(reader) > 0 && reader->line[0] == '#') parse_header_line(&reader->header, reader->line);
}

// The title pass: the first line that is not a "#" line, after at least one
// "#" line. Returns its length, or 0 when there is none.
int read_title(ReaderState* reader) {
  reader->line_number = 0;
  bool header_seen = false;
  int length;
  while ((length = read_log_line(reader)) > 0 && reader->line[0] == '#') header_seen = true;
  return header_seen ? length : 0;
}

// Notes in the reader's title note what it cannot take of the title line:
// the titles it does not know (or does not reach, after the seventh), the
// titles given again (only one of the columns is read), and a missing
// Timestamp, ID or Data column.
void note_title_problems(ReaderState* reader, const std::string& unknown, const std::string& repeated) {
  std::string& note = reader->title_note;
  if (!unknown.empty()) note = "unknown column title(s) " + unknown;
  if (!repeated.empty()) note += (note.empty() ? "" : "; ") + ("repeated column title(s) " + repeated);
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
bool read_columns(ReaderState* reader, int length) {
  const char* text = reader->line;
  const char* text_end = text + length;
  if (length > 0 && text_end[-1] == '\n') --text_end;
  const char separator = reader->header.value_separator;
  bool recognised = false;
  std::string unknown;
  std::string repeated;
  uint32_t column = 0;
  for (const char* begin = text;; ++column) {
    const void* found = separator == '\0' ? nullptr : memchr(begin, separator, static_cast<size_t>(text_end - begin));
    const char* end = found != nullptr ? static_cast<const char*>(found) : text_end;
    const ColumnKind kind = column < kColumnSlots ? column_kind(begin, end) : COLUMN_NONE;
    const ColumnKind* kinds = reader->column_kinds;
    const bool again = kind != COLUMN_NONE && std::find(kinds, kinds + column, kind) != kinds + column;
    if (column < kColumnSlots) reader->column_kinds[column] = kind;
    recognised |= kind != COLUMN_NONE;
    if (kind == COLUMN_NONE) unknown += (unknown.empty() ? "\"" : ", \"") + std::string(begin, end) + "\"";
    if (again) repeated += (repeated.empty() ? "\"" : ", \"") + std::string(begin, end) + "\"";
    if (found == nullptr) break;
    begin = end + 1;
  }
  reader->title_fields = column + 1;
  if (recognised) note_title_problems(reader, unknown, repeated);
  return recognised;
}

// The layout whose own parser takes the record lines of the reader's
// columns and separator.
RecordLayout record_layout_of(const ReaderState* reader) {
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

}  // namespace

bool read_log_opening(ReaderState* reader) {
  if (!reader_seek(reader, 0)) return false;
  read_header(reader);
  if (!reader_seek(reader, 0)) return false;
  const int length = read_title(reader);
  if (length == 0) return false;
  reader->data_start = reader_position(reader);
  reader->data_start_line = reader->line_number;
  if (reader->data_start < 0 || !read_columns(reader, length)) return false;
  reader->record_layout = record_layout_of(reader);
  record_clock_init(&reader->clock, reader->header);
  return true;
}

