// Parsing one record line into a frame: the line split into fields, each
// field given to the parser of its column. Used by the log reader's record
// loop only; everything here is inlined into it.
//
// The parse also tells whether the record is inexact, that is whether the
// frame says something other than the line: fewer or more fields than the
// title line; an ID, Length or Data field with a character that is no digit
// of its base (after an optional "0x" for ID), or none; a Data field of odd
// length or over 16 digits; a Length that differs from the number of data
// bytes; a Type other than 0, 1, 8 and 9; an identifier beyond the frame's
// range (0x7FF standard, 0x1FFFFFFF extended). The frame is the same either
// way. On a well-formed line the test costs a few compares: each field's
// own parser notes it where it leaves its fast path.
#pragma once

#include <algorithm>
#include <cstring>

#include "reader/line_scan.h"
#include "reader/reader_state.h"
#include "reader/record_fields.h"
#include "reader/record_time.h"

namespace record_parser {

// The text of one record line in the line buffer.
struct RecordText {
  const char* begin;
  const char* end;       // the end of its text (its line feed not counted)
  const char* readable;  // the bytes from begin are readable up to here
  // The separators of a text of at most 64 bytes, one bit per byte, the
  // first byte lowest; unused for a longer one.
  uint64_t separators;
};

// Every field of the frame 0, false or empty. The data bytes beyond the
// (empty) byte string are left as they are: they are no part of it.
inline void reset_frame(CanFrame* frame) {
  frame->timestamp = 0.0;
  frame->id = 0;
  frame->size = 0;
  frame->extended = false;
  frame->transmitted = false;
  frame->length = 0;
}

// The Timestamp column: the composed time, before the wrap correction, which
// the caller applies once the whole line is known to be well formed. A field
// that is no time marks the line malformed, one whose time is not what it
// says inexact.
[[gnu::always_inline]] inline void parse_timestamp(ReaderState* reader, const RecordText& text, const char* begin,
                                                   const char* end, CanFrame* frame) {
  double composed;
  bool exact;
  if (!record_clock_compose(&reader->clock, begin, end, text.readable, &composed, &exact)) {
    reader->line_malformed = true;
    return;
  }
  if (!exact) reader->line_inexact = true;
  frame->timestamp = composed;
  reader->line_timed = true;
}

// Gives the field [begin, end) of the given column kind to its parser.
// A field found inexact sets line_inexact (a branch rarely taken); the
// Length field's number goes to stated_length.
[[gnu::always_inline]] inline void parse_field(ReaderState* reader, const RecordText& text, ColumnKind kind,
                                               const char* begin, const char* end, CanFrame* frame) {
  switch (kind) {
    case COLUMN_TIMESTAMP:
      parse_timestamp(reader, text, begin, end, frame);
      break;
    case COLUMN_TYPE:
      if (!parse_type(begin, end, frame)) reader->line_inexact = true;
      break;
    case COLUMN_ID:
      // "%x" of a field of five to eight digits, read at once; a shorter
      // field (a standard identifier) digit by digit.
      if (end - begin < 5 || end - begin > 8 || end - text.begin < 8 ||
          !hex_text::read_field(end, static_cast<size_t>(end - begin), &frame->id)) {
        if (!scan_id_field(begin, end, &frame->id)) reader->line_inexact = true;
      }
      break;
    case COLUMN_LENGTH:
      // "%hhu" of a single digit, or by the general reader.
      if (end - begin == 1 && *begin >= '0' && *begin <= '9') {
        frame->length = static_cast<uint8_t>(*begin - '0');
        reader->stated_length = frame->length;
      } else {
        scan_dec_u8(begin, end, &frame->length);
        reader->stated_length = static_cast<int16_t>(length_field_value(begin, end));
        if (reader->stated_length < 0) reader->line_inexact = true;
      }
      break;
    case COLUMN_DATA:
      if (!parse_data(begin, end, text.readable, frame)) reader->line_inexact = true;
      break;
    case COLUMN_LOST:
    case COLUMN_NONE:
      break;
  }
}

// Parses the record text whose columns are kKinds, in this order, with
// nothing behind them, also in the title line. Returns false, having parsed
// nothing, when the text is longer than 64 bytes or has fewer fields than
// columns; the general path then takes it. Otherwise each field goes to the
// parser of its column as split_fields would give it: a field runs to the
// next separator, the last one to the next separator or the end of the text,
// and fields beyond the columns are not parsed (but make the line inexact).
template <ColumnKind... kKinds>
[[gnu::always_inline]] inline bool parse_record_as(ReaderState* reader, const RecordText& text, CanFrame* frame) {
  if (text.end - text.begin > 64) return false;
  uint64_t marks = text.separators;
  constexpr size_t kFields = sizeof...(kKinds);
  const char* ends[kFields];
  for (size_t i = 0; i + 1 < kFields; ++i) {
    if (marks == 0) return false;
    ends[i] = text.begin + __builtin_ctzll(marks);
    marks &= marks - 1;
  }
  ends[kFields - 1] = marks != 0 ? text.begin + __builtin_ctzll(marks) : text.end;
  reader->line_inexact = marks != 0;
  const char* begin = text.begin;
  size_t i = 0;
  auto field = [&](ColumnKind kind) __attribute__((always_inline)) {
    parse_field(reader, text, kind, begin, ends[i], frame);
    begin = ends[i++] + 1;
  };
  (field(kKinds), ...);
  return true;
}

// The fields of the line's text (length bytes of line, its line feed not
// counted), all of them.
inline uint32_t count_fields(const char* line, int length, char separator) {
  const char* text_end = line + length;
  if (length > 0 && text_end[-1] == '\n') --text_end;
  return separator == '\0' ? 1 : 1 + static_cast<uint32_t>(std::count(line, text_end, separator));
}

// The general path of parse_record: any column order, any count of fields,
// on the text of the line buffer (length bytes of reader->line).
inline void parse_record_in_general(ReaderState* reader, int length, CanFrame* frame) {
  const RecordText text{reader->line, reader->line + length, reader->line + sizeof reader->line, 0};
  reader->line_inexact = count_fields(reader->line, length, reader->header.value_separator) != reader->title_fields;
  reader->stated_length = -1;
  line_scan::split_fields(reader->line, length, reader->header.value_separator,
                          [reader, frame, &text](int column, const char* begin, const char* end)
                              __attribute__((always_inline)) {
                                parse_field(reader, text, reader->column_kinds[column], begin, end, frame);
                              });
  // No Length field, or none that is a number (and so inexact already).
  if (reader->stated_length < 0) reader->stated_length = frame->size;
}

// The text of the record line in the line buffer (length bytes of
// reader->line, its line feed included), with its separators when it is
// short enough for parse_record_as.
inline RecordText line_buffer_text(ReaderState* reader, int length) {
  static_assert(kLineBufferSize >= 64, "separator_marks reads 64 bytes of the line buffer");
  const char* line = reader->line;
  const char* text_end = line + length;
  if (length > 0 && text_end[-1] == '\n') --text_end;
  const size_t size = static_cast<size_t>(text_end - line);
  const uint64_t marks = size <= 64 ? line_scan::separator_marks(line, size, reader->header.value_separator) : 0;
  return RecordText{line, text_end, line + sizeof reader->line, marks};
}

// Parses the fields of the record line (length bytes of reader->line, its
// line feed included) into frame, each by the parser of its column; the
// timestamp is left as composed (line_timed tells whether the line had
// one). Returns whether the record is inexact: whether the frame says
// something other than the line.
[[gnu::always_inline]] inline bool parse_record(ReaderState* reader, int length, CanFrame* frame) {
  reader->line_timed = false;
  const RecordText text = line_buffer_text(reader, length);
  bool parsed = false;
  switch (reader->record_layout) {
    case RECORD_LAYOUT_WITH_LOST:
      parsed = parse_record_as<COLUMN_TIMESTAMP, COLUMN_LOST, COLUMN_TYPE, COLUMN_ID, COLUMN_LENGTH, COLUMN_DATA>(
          reader, text, frame);
      break;
    case RECORD_LAYOUT_WITHOUT_LOST:
      parsed = parse_record_as<COLUMN_TIMESTAMP, COLUMN_TYPE, COLUMN_ID, COLUMN_LENGTH, COLUMN_DATA>(reader, text,
                                                                                                   frame);
      break;
    case RECORD_LAYOUT_GENERAL:
      break;
  }
  if (!parsed) parse_record_in_general(reader, length, frame);
  // What the frame as a whole says: an identifier in its range, and as many
  // data bytes as the Length field states.
  const uint32_t id_limit = frame->extended ? 0x1FFFFFFFu : 0x7FFu;
  return reader->line_inexact | (frame->id > id_limit) | (reader->stated_length != frame->size);
}

}  // namespace record_parser
