// Scanning the bytes of a text log many at a time: the run of ordinary text
// up to the next byte that needs a look of its own, and the separators that
// split a line into fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "reader/byte_constants.h"
#include "reader/log_header.h"

// The line buffer: a line holds at most 199 bytes other than line feeds, and
// its line feed.
constexpr int kLineBufferSize = 200;

namespace line_scan {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHigh = 0x8080808080808080ull;

// Eight bytes from text as a word whose lowest byte is text[0].
inline uint64_t load_first_low(const char* text) {
  uint64_t word;
  memcpy(&word, text, 8);
  if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) word = __builtin_bswap64(word);
  return word;
}

// The bytes of word equal to byte, each marked by its high bit (exact for
// every byte, not only the lowest match).
inline uint64_t bytes_equal(uint64_t word, char byte) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  const uint64_t x = word ^ (kOnes * static_cast<unsigned char>(byte));
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// The bytes of word below 0x20, DEL (0x7F) or from 0x80 up, each marked by
// its high bit.
inline uint64_t bytes_unusual(uint64_t word) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  // A byte below 0x20 has a carry-free sum with 0x60 below 0x80; a byte whose
  // low seven bits are all set reaches 0x80 with 1.
  const uint64_t below_space = ~((word & kLow7) + kOnes * 0x60) & kHigh;
  const uint64_t del = ((word & kLow7) + kOnes) & kHigh;
  return (below_space | del | word) & kHigh;
}

// Copies the run of ordinary text at the start of from[0, count) to `to` and
// returns its length: it ends at the first byte below 0x20 other than a tab,
// DEL, or from 0x80 up (a line feed, a carriage return and a zero byte among
// them). Works sixteen or eight bytes at a time and may copy bytes of from
// behind the run, never beyond count.
inline size_t copy_plain_run(const char* from, size_t count, char* to) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i ones = _mm_set1_epi8(1);
  const __m128i above_space = _mm_set1_epi8(0x21);
  const __m128i tabs = _mm_set1_epi8('\t');
  for (; i + 16 <= count; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), chunk);
    // Each byte plus 1, signed: DEL and the bytes from 0x80 up are negative
    // then (0xFF wraps to 0), so below 0x21 with those below 0x20.
    const __m128i unusual =
        _mm_andnot_si128(_mm_cmpeq_epi8(chunk, tabs), _mm_cmplt_epi8(_mm_add_epi8(chunk, ones), above_space));
    const unsigned marks = static_cast<unsigned>(_mm_movemask_epi8(unusual));
    if (marks != 0) return i + static_cast<size_t>(__builtin_ctz(marks));
  }
#endif
  for (; i + 8 <= count; i += 8) {
    const uint64_t word = load_first_low(from + i);
    memcpy(to + i, from + i, 8);
    const uint64_t marks = bytes_unusual(word) & ~bytes_equal(word, '\t');
    if (marks != 0) return i + static_cast<size_t>(__builtin_ctzll(marks) / 8);
  }
  for (; i < count; ++i) {
    const unsigned char c = static_cast<unsigned char>(from[i]);
    if ((c < 0x20 && c != '\t') || c >= 0x7F) return i;
    to[i] = static_cast<char>(c);
  }
  return count;
}

// The length of the text of the plain line at text, which must be readable
// for 64 bytes: a line of at most 63 bytes and its line feed, with no byte
// below 0x20 (but tabs when they are the separator), no DEL and no byte from
// 0x80 up. Such a line reads as it stands: read_line would store it
// unchanged. Sets *separators to the separators of its text, one bit per
// byte, the first byte lowest. -1 for any other line.
//
// separator_bytes holds the separator in all sixteen bytes; tab_separator
// is all ones when the separator is a tab, else 0.
#if defined(__SSE2__)
[[gnu::always_inline]] inline int plain_line(const char* text, __m128i separator_bytes, uint64_t tab_separator,
                                             uint64_t* separators) {
  namespace bc = byte_constants;
  uint64_t marks = 0;
  uint64_t unusual = 0;
  auto look = [&](int at) __attribute__((always_inline)) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    const __m128i unusual_bytes = _mm_cmpgt_epi8(_mm_add_epi8(chunk, bc::row(bc::kPlus60)), bc::row(bc::kPrintableLast));
    marks |= uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, separator_bytes)))} << at;
    unusual |= uint64_t{static_cast<unsigned>(_mm_movemask_epi8(unusual_bytes))} << at;
  };
  // Most lines end within 48 bytes.
  look(0);
  look(16);
  look(32);
  if ((unusual & ~(marks & tab_separator)) == 0) look(48);
  unusual &= ~(marks & tab_separator);
  if (unusual == 0) return -1;
  const int at = __builtin_ctzll(unusual);
  if (text[at] != '\n') return -1;
  *separators = marks & ((uint64_t{1} << at) - 1);
  return at;
}
#endif

// The separators among the first size (at most 64) bytes at line, one bit
// per byte, the first byte lowest; line must be readable for 64 bytes.
inline uint64_t separator_marks(const char* line, size_t size, char separator) {
  uint64_t marks = 0;
#if defined(__SSE2__)
  const __m128i separators = _mm_set1_epi8(separator);
  for (size_t i = 0; i < size; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + i));
    marks |= uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, separators)))} << i;
  }
#else
  for (size_t i = 0; i < size; i += 8) {
    uint64_t word = bytes_equal(load_first_low(line + i), separator);
    for (; word != 0; word &= word - 1) marks |= uint64_t{1} << (i + static_cast<size_t>(__builtin_ctzll(word) / 8));
  }
#endif
  return size < 64 ? marks & ((uint64_t{1} << size) - 1) : marks;
}

// Finds the separators of the text line[0, size) that end its first fields,
// at most kColumnSlots of them, and stores their positions in ends. Returns
// their count. A separator of 0 ends no field.
//
// The separators are found 64 bytes at a time, the last eight bytes of the
// line buffer eight at a time: line must be the kLineBufferSize bytes of a
// line buffer.
inline int field_ends(const char* line, size_t size, char separator, size_t ends[kColumnSlots]) {
  int count = 0;
  if (separator == '\0') return 0;
  size_t base = 0;
  for (; base < size && base + 64 <= static_cast<size_t>(kLineBufferSize); base += 64) {
    const size_t block = size - base < 64 ? size - base : 64;
    for (uint64_t marks = separator_marks(line + base, block, separator); marks != 0; marks &= marks - 1) {
      ends[count] = base + static_cast<size_t>(__builtin_ctzll(marks));
      if (++count == kColumnSlots) return count;
    }
  }
  for (size_t i = base; i < size; i += 8) {
    uint64_t marks = bytes_equal(load_first_low(line + i), separator);
    while (marks != 0) {
      const size_t at = i + static_cast<size_t>(__builtin_ctzll(marks) / 8);
      if (at >= size) return count;
      ends[count] = at;
      marks &= marks - 1;
      if (++count == kColumnSlots) return count;
    }
  }
  return count;
}

// Calls visit(column index, begin, end) for each field of the line's text
// (length bytes), at most kColumnSlots of them. A field runs to the next
// separator; the last one to the line feed or the end of the text. With no
// separator (0) the whole text is one field.
template <typename Visit>
[[gnu::always_inline]] inline void split_fields(const char* line, int length, char separator, Visit visit) {
  const char* text_end = line + length;
  if (length > 0 && text_end[-1] == '\n') --text_end;
  size_t ends[kColumnSlots];
  const int separators = field_ends(line, static_cast<size_t>(text_end - line), separator, ends);
  const char* begin = line;
  for (int column = 0; column < separators; ++column) {
    visit(column, begin, line + ends[column]);
    begin = line + ends[column] + 1;
  }
  // Seven separators end seven fields: what follows is not parsed.
  if (separators < kColumnSlots) visit(separators, begin, text_end);
}

}  // namespace line_scan
