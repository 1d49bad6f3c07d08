// The fast build of the trace lines (formats/trace_lines.h) as a writer that
// keeps what a trace repeats from line to line: numbers come one after the
// other, frames come in bursts of one timestamp, and offsets grow slowly.
// Every field is written by hand from the shared digit tables; the writer is
// inlined into the trace format's frame writer.
#pragma once

#include <cstdint>
#include <cstring>

#include "formats/trace_lines.h"
#include "output/digits.h"

namespace trace_line_detail {

// The bytes of eight_digits_blank_padded after the first drop ones: the
// word that holds the last (8 - drop) characters first.
inline uint64_t drop_leading_characters(uint64_t word, int drop) {
  if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
    return word >> (8 * drop);
  } else {
    return word << (8 * drop);
  }
}

// eight_digits_blank_padded of values that mostly step up a little from
// one line to the next, from the text of the value before: a message
// number, the whole milliseconds of an offset.
struct StepText {
  uint64_t word = 0x3020202020202020ull;  // eight_digits_blank_padded(value): "       0"
  uint32_t value = 0;

  // The text of next (below 10^8); fresh(next) gives it when the last
  // digit of the text before cannot simply step up to it.
  template <typename Fresh>
  uint64_t text(uint64_t next, Fresh fresh) {
    if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
      // The last character is the highest byte; the step wraps for a
      // smaller value.
      const uint64_t step = next - value;
      if (step <= '9' - (word >> 56)) {
        word += step << 56;
      } else {
        word = fresh(next);
      }
    } else {
      word = fresh(next);
    }
    value = static_cast<uint32_t>(next);
    return word;
  }
};

// "%7llu" (kWidth 7) or "%6llu" (kWidth 6) of message numbers: value
// right-aligned in kWidth characters, widening when it needs more (a log of
// ten million frames numbers the rest with eight digits). Writes 8 bytes
// even for a short field (out needs that room). Returns the end.
template <int kWidth>
struct NumberText {
  static_assert(kWidth >= 1 && kWidth <= 8);
  StepText last;

  char* put(char* out, uint64_t number) {
    if (number >= digits::kPowersOfTen[8]) return digits::put_unsigned(out, number, kWidth);
    const uint64_t word = last.text(number, [](uint64_t value) {
      return digits::eight_digits_blank_padded(static_cast<uint32_t>(value));
    });
    int width = kWidth;
    while (width < 8 && number >= digits::kPowersOfTen[width]) ++width;
    const uint64_t shown = drop_leading_characters(word, 8 - width);
    memcpy(out, &shown, 8);
    return out + width;
  }
};

// The eight characters of the whole part of offsets (below 10^8), which
// grow slowly: from the last one's by a step of its last digit, else with
// the upper four characters of the last value whose upper four digits were
// not all zero, which stay the same for many lines.
struct IntegerText {
  StepText last;
  uint32_t upper = 0;      // 0: nothing remembered (never looked up)
  uint32_t upper_text = 0;  // the first four characters of eight_digits_blank_padded(upper * 10^4)

  uint64_t text(uint32_t value) {
    return last.text(value, [this](uint64_t next) { return fresh(static_cast<uint32_t>(next)); });
  }

 private:
  // The lower four digits (all four written, since the upper part is not
  // zero) from the pair table and the upper four characters from upper_text
  // when they agree.
  uint64_t fresh(uint32_t value) {
    if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
      const uint32_t value_upper = value / 10000;
      if (value_upper == 0) return digits::eight_digits_blank_padded(value);
      const uint32_t lower = value - value_upper * 10000;
      if (value_upper != upper) {
        // The upper four characters of the eight: in the low half of the word.
        upper_text = static_cast<uint32_t>(digits::eight_digits_blank_padded(value_upper) >> 32);
        upper = value_upper;
      }
      char lower_text[4];
      memcpy(lower_text, digits::kTables.pairs[lower / 100], 2);
      memcpy(lower_text + 2, digits::kTables.pairs[lower % 100], 2);
      uint32_t lower_word;
      memcpy(&lower_word, lower_text, 4);
      return upper_text | (uint64_t{lower_word} << 32);
    } else {
      return digits::eight_digits_blank_padded(value);
    }
  }
};

// format_offset_fast for a fixed number of decimals, so that the divisions
// by the scale are by a constant. Writes up to 16 bytes for a field of
// fewer characters.
template <int kDecimals>
inline int format_fixed(IntegerText* integer_text, char* out, double value, int width) {
  constexpr uint64_t kScale = kDecimals == 3 ? 1000 : 10;
  uint64_t integer_part;
  unsigned fraction;
  if (!digits::fixed_point_parts<kScale>(value, &integer_part, &fraction)) return 0;
  // The common case: a field of width characters with at most eight integer
  // digits, written as blanks, one word of eight digits or blanks, the point
  // and the decimals.
  constexpr int kPoint = kDecimals + 1;  // the point and the decimals
  if (width >= kPoint + 8 && width <= 16 && integer_part < 100000000) {
    memcpy(out, "                ", 16);
    char* point = out + width - kPoint;
    const uint64_t word = integer_text->text(static_cast<uint32_t>(integer_part));
    memcpy(point - 8, &word, 8);
    if constexpr (kDecimals == 3) {
      memcpy(point, digits::kTables.point_triples[fraction], 4);
    } else {
      point[0] = '.';
      point[1] = static_cast<char>('0' + fraction);
    }
    return width;
  }
  const int count = digits::decimal_digits(integer_part);
  const int length = count + 1 + kDecimals;
  char* p = out;
  for (int pad = width - length; pad > 0; --pad) *p++ = ' ';
  digits::put_digits_backwards(p + count, integer_part, count);
  p += count;
  *p++ = '.';
  digits::put_digits_backwards(p + kDecimals, fraction, kDecimals);
  p += kDecimals;
  return static_cast<int>(p - out);
}

// The last offset written with kDecimals decimals in kWidth characters, and
// its text.
template <int kDecimals, int kWidth>
struct OffsetText {
  uint64_t bits = ~uint64_t{0};  // the offset's bits (a NaN before the first)
  int length = 0;
  char text[16] = {};
  IntegerText integer;

  // format_fixed, the text of the offset before when it is the same.
  int put(char* out, double value) {
    uint64_t value_bits;
    memcpy(&value_bits, &value, sizeof value_bits);
    if (value_bits == bits) {
      memcpy(out, text, 16);
      return length;
    }
    const int n = format_fixed<kDecimals>(&integer, out, value, kWidth);
    if (n > 0 && n <= 16) {
      memcpy(text, out, 16);
      length = n;
      bits = value_bits;
    }
    return n;
  }
};

// The direction with the blanks around it, as one four-byte store.
inline char* put_direction(char* out, bool transmitted) {
  memcpy(out, transmitted ? " Tx " : " Rx ", 4);
  return out + 4;
}

// Longest line that the fast build writes: a 19-digit number, an offset below
// 2^40 (13 integer digits, a point, 3 decimals), the fixed fields, a standard
// identifier of 8 digits, and 8 data bytes. The writers store whole words:
// a field may be written up to 16 bytes beyond its end before the next field
// overwrites the rest, so the buffer keeps that much room behind the line.
constexpr size_t kFastLineMax = 20 + 1 + 17 + 1 + 2 + 1 + 3 + 5 + 8 + 1 + 2 + 1 + 3 + 4 + 3 * 8 + 1;
static_assert(kFastLineMax + 16 <= kTraceLineRoom, "line room too small");

}  // namespace trace_line_detail

// The lines of version kVersion (1 or 2), as trace_line_v1_write and
// trace_line_v2_write write them.
template <int kVersion>
class TraceLineWriter {
 public:
  // Writes the line at out (kTraceLineRoom bytes of room). Returns its end,
  // or nullptr when the number is negative or the offset lies outside the
  // proven range (see trace_line_v1_write).
  char* write(char* out, int64_t number, double offset, const CanFrame& frame) {
    // A negative number is a large one as unsigned: one test covers both.
    if (static_cast<uint64_t>(number) >= digits::kPowersOfTen[kVersion == 1 ? 6 : 7] && number < 0) return nullptr;
    return kVersion == 1 ? write_v1(out, static_cast<uint64_t>(number), offset, frame)
                         : write_v2(out, static_cast<uint64_t>(number), offset, frame);
  }

 private:
  char* write_v1(char* out, uint64_t number, double offset, const CanFrame& frame) {
    char* p = number_.put(out, number);
    *p++ = ')';
    *p++ = ' ';
    const int n = offset_.put(p, offset);
    if (n == 0) return nullptr;
    p = trace_line_detail::put_direction(p + n, frame.transmitted) - 1;
    const uint32_t identifier = frame.id & kTraceIdentifierMask;
    if (frame.extended) {
      memcpy(p, "    ", 4);
      p = digits::put_hex8(p + 4, identifier);
    } else {
      memcpy(p, "        ", 8);
      p = digits::put_hex4(p + 8, identifier);
    }
    *p++ = ' ';
    p = digits::put_small(p, frame.length);
    *p++ = ' ';
    *p++ = ' ';
    p = digits::put_spaced_hex(p, frame.data, trace_data_count(frame));
    *p++ = '\n';
    return p;
  }

  char* write_v2(char* out, uint64_t number, double offset, const CanFrame& frame) {
    char* p = number_.put(out, number);
    *p++ = ' ';
    const int n = offset_.put(p, offset);
    if (n == 0) return nullptr;
    p += n;
    // " DT 1" and the blank before an extended identifier, in one store.
    memcpy(p, " DT 1 ", 6);
    p += 5;
    const uint32_t identifier = frame.id & kTraceIdentifierMask;
    if (frame.extended) {
      p = digits::put_hex8(p + 1, identifier);
    } else {
      memcpy(p, "     ", 5);
      p = digits::put_hex4(p + 5, identifier);
    }
    p = trace_line_detail::put_direction(p, frame.transmitted);
    if (frame.length < 10) {
      p[0] = static_cast<char>('0' + frame.length);
      memcpy(p + 1, "    ", 4);
      p += 5;
    } else {
      p = digits::put_unsigned(p, frame.length, 0);
      memcpy(p, "   ", 3);
      p += 3;
    }
    p = digits::put_spaced_hex(p, frame.data, trace_data_count(frame));
    *p++ = '\n';
    return p;
  }

  static_assert(kVersion == 1 || kVersion == 2);
  static_assert(kTraceFrameType[0] == 'D' && kTraceFrameType[1] == 'T' && kTraceChannel == 1);
  trace_line_detail::NumberText<kVersion == 1 ? 6 : 7> number_;
  trace_line_detail::OffsetText<kVersion == 1 ? 1 : 3, kVersion == 1 ? 11 : 13> offset_;
};
