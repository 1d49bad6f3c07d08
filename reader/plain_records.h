// The record lines of the two column orders that have parsers of their own
// (RECORD_LAYOUT_WITH_LOST and RECORD_LAYOUT_WITHOUT_LOST), parsed many at a
// time where they stand in the read window. Used by the record loop only;
// everything here is inlined into it.
//
// A line is taken here only in its plainest shape: it lies whole in the
// window, it is plain (line_scan::plain_line), it has as many fields as the
// title line, and its fields read as they stand: a Timestamp that composes,
// one of the Type digits 0, 1, 8 and 9, an ID of one to eight hexadecimal
// digits, a Length of one decimal digit, a Data field of up to eight pairs
// of hexadecimal digits. Its frame is then the one record_parser.h gives the
// line, and the record is inexact exactly when its identifier lies beyond
// its range, its Length is not its count of data bytes or its time is not
// what its Timestamp says. The parse stops
// before the first line of any other shape, which the line-by-line path then
// reads; it changes nothing but caches before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "reader/line_scan.h"
#include "reader/reader_state.h"
#include "reader/record_fields.h"
#include "reader/record_time.h"

namespace plain_records {

// Records parsed at a time.
constexpr int kBatchSize = 32;

// Bytes of the window a line needs from its start to be taken here: the 64
// bytes that plain_line looks at, and the 16 that hex_text::read_pairs reads
// from a Data field that begins within them.
constexpr ptrdiff_t kWindowReach = 64 + 16;

// Records parsed from the window, in their order, not yet settled (their
// timestamps as composed, before the wrap correction).
struct Batch {
  CanFrame frames[kBatchSize];
  bool inexact[kBatchSize];  // the record is inexact
  int count = 0;
};

#if defined(__SSE2__)
namespace detail {

// The position of the first separator of separators, which it then drops.
[[gnu::always_inline]] inline int field_end(uint64_t* separators) {
  const int at = __builtin_ctzll(*separators);
  *separators &= *separators - 1;
  return at;
}

// The frame's extended and transmitted flags, in this order, of each
// character that is a Type digit: 0 neither, 1 extended, 8 transmitted, 9
// both; kNoType for any other character.
struct TypeFlags {
  static constexpr uint8_t kNoType = 0xFF;
  uint8_t of[256][2];
  constexpr TypeFlags() : of() {
    for (auto& flags : of) flags[0] = flags[1] = kNoType;
    for (int digit : {0, 1, 8, 9}) {
      of['0' + digit][0] = static_cast<uint8_t>(digit & 1);
      of['0' + digit][1] = static_cast<uint8_t>((digit >> 3) & 1);
    }
  }
};
inline constexpr TypeFlags kTypeFlags{};
static_assert(offsetof(CanFrame, transmitted) == offsetof(CanFrame, extended) + 1);

// One of the Type digits 0, 1, 8 and 9 alone, into the frame's flags.
[[gnu::always_inline]] inline bool read_type(const char* line, int begin, int end, CanFrame* frame) {
  const uint8_t* flags = kTypeFlags.of[static_cast<unsigned char>(line[begin])];
  if (end - begin != 1 || flags[0] == TypeFlags::kNoType) return false;
  memcpy(&frame->extended, flags, 2);
  return true;
}

// One to eight hexadecimal digits; the 8 bytes before the field's end lie in
// the line. The three digits of a standard identifier are read one by one.
[[gnu::always_inline]] inline bool read_id(const char* line, int begin, int end, CanFrame* frame) {
  using record_fields_detail::hex_value;
  const int size = end - begin;
  if (size == 3) {
    const int high = hex_value(line[begin]), middle = hex_value(line[begin + 1]), low = hex_value(line[begin + 2]);
    frame->id = (static_cast<uint32_t>(high) << 8) | (static_cast<uint32_t>(middle) << 4) | static_cast<uint32_t>(low);
    return (high | middle | low) >= 0;
  }
  return size >= 1 && size <= 8 && end >= 8 && hex_text::read_field(line + end, static_cast<size_t>(size), &frame->id);
}

// Up to eight pairs of hexadecimal digits; the 16 bytes from the field's
// start are readable.
[[gnu::always_inline]] inline bool read_data(const char* line, int begin, int end, CanFrame* frame) {
  const unsigned size = static_cast<unsigned>(end - begin);
  if (size > 16 || (size & 1) != 0) return false;
  if (!hex_text::read_pairs(line + begin, static_cast<int>(size / 2), frame->data)) return false;
  frame->size = static_cast<uint8_t>(size / 2);
  frame->length = frame->size;
  return true;
}

// Parses the line at line, readable up to readable_end (at least
// kWindowReach bytes), into frame when it has the plainest shape of a line
// of kFields fields (the Lost column second when there are six), separated
// as line_scan::plain_line's separator_bytes and tab_separator tell. Returns
// the length of its text, or -1 for a line of any other shape.
template <int kFields>
[[gnu::always_inline]] inline int parse_line(ReaderState* reader, __m128i separator_bytes, uint64_t tab_separator,
                                            const char* line, const char* readable_end, CanFrame* frame,
                                            bool* inexact) {
  uint64_t separators;
  const int size = line_scan::plain_line(line, separator_bytes, tab_separator, &separators);
  if (size < 0 || __builtin_popcountll(separators) != kFields - 1) return -1;
  // The separators that end the fields, one by one (the Lost column, the
  // second of six, is not read).
  const int time_end = field_end(&separators);
  const int type_begin = (kFields == 6 ? field_end(&separators) : time_end) + 1;
  const int type_end = field_end(&separators);
  const int id_end = field_end(&separators);
  const int length_end = field_end(&separators);
  const int stated = line[id_end + 1] - '0';
  if (length_end - id_end != 2 || stated < 0 || stated > 9) return -1;
  bool exact_time;
  if (!read_type(line, type_begin, type_end, frame) || !read_id(line, type_end + 1, id_end, frame) ||
      !read_data(line, length_end + 1, size, frame) ||
      !record_clock_compose(&reader->clock, line, line + time_end, readable_end, &frame->timestamp, &exact_time)) {
    return -1;
  }
  const uint32_t id_limit = frame->extended ? 0x1FFFFFFFu : 0x7FFu;
  *inexact = (frame->id > id_limit) | (stated != frame->size) | !exact_time;
  return size;
}

}  // namespace detail
#endif

// Parses the record lines from the window's position on into batch, as many
// as fit, up to the first line that is not of the plainest shape or that
// lies too near the window's end. The window's position moves behind the
// last line parsed.
template <int kFields>
[[gnu::always_inline]] inline void parse(ReaderState* reader, Batch* batch) {
#if defined(__SSE2__)
  const __m128i separator_bytes = _mm_set1_epi8(reader->header.value_separator);
  const uint64_t tab_separator = reader->header.value_separator == '\t' ? ~uint64_t{0} : 0;
  const unsigned char* at = reader->window_at;
  const unsigned char* const window_end = reader->window_end;
  const char* const readable_end = reinterpret_cast<const char*>(window_end);
  int count = 0;
  for (; count < kBatchSize && window_end - at >= kWindowReach; ++count) {
    const int size = detail::parse_line<kFields>(reader, separator_bytes, tab_separator,
                                                 reinterpret_cast<const char*>(at), readable_end,
                                                 &batch->frames[count], &batch->inexact[count]);
    if (size < 0) break;
    at += size + 1;
  }
  reader->window_at = at;
  batch->count = count;
#else
  (void)reader;
  batch->count = 0;
#endif
}

}  // namespace plain_records
