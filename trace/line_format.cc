#include "trace/line_format.h"

#include <stb_sprintf.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kIdentifierMask = 0x1FFFFFFF;

constexpr char kHexDigits[] = "0123456789ABCDEF0123456789abcdef";

// Digit tables, built at compile time: "00" to "99"; "000" to "999" behind a
// point (".000"); the pair of uppercase hexadecimal digits of every byte; and
// every byte as two uppercase digits and a space, padded to four bytes so that
// one four-byte store writes it (the fourth byte is overwritten next).
struct DigitTables {
  char pairs[100][2];
  char point_triples[1000][4];
  char hex_pairs[256][2];
  char hex_spaced[256][4];
  constexpr DigitTables() : pairs(), point_triples(), hex_pairs(), hex_spaced() {
    for (int i = 0; i < 100; ++i) {
      pairs[i][0] = static_cast<char>('0' + i / 10);
      pairs[i][1] = static_cast<char>('0' + i % 10);
    }
    for (int i = 0; i < 1000; ++i) {
      point_triples[i][0] = '.';
      point_triples[i][1] = static_cast<char>('0' + i / 100);
      point_triples[i][2] = static_cast<char>('0' + i / 10 % 10);
      point_triples[i][3] = static_cast<char>('0' + i % 10);
    }
    for (int i = 0; i < 256; ++i) {
      hex_pairs[i][0] = kHexDigits[i >> 4];
      hex_pairs[i][1] = kHexDigits[i & 0xF];
      hex_spaced[i][0] = kHexDigits[i >> 4];
      hex_spaced[i][1] = kHexDigits[i & 0xF];
      hex_spaced[i][2] = ' ';
      hex_spaced[i][3] = ' ';
    }
  }
};
constexpr DigitTables kTables{};

const uint64_t kPowersOfTen[20] = {1ull,
                                   10ull,
                                   100ull,
                                   1000ull,
                                   10000ull,
                                   100000ull,
                                   1000000ull,
                                   10000000ull,
                                   100000000ull,
                                   1000000000ull,
                                   10000000000ull,
                                   100000000000ull,
                                   1000000000000ull,
                                   10000000000000ull,
                                   100000000000000ull,
                                   1000000000000000ull,
                                   10000000000000000ull,
                                   100000000000000000ull,
                                   1000000000000000000ull,
                                   10000000000000000000ull};

// Number of decimal digits of value (1 for 0).
inline int decimal_digits(uint64_t value) {
  int digits = 1;
  while (digits < 20 && value >= kPowersOfTen[digits]) ++digits;
  return digits;
}

// Writes the decimal digits of value so that they end just before end, two
// at a time from the right. Returns the first digit's position.
template <typename Unsigned>
inline char* put_digits_before(char* end, Unsigned value) {
  char* p = end;
  while (value >= 100) {
    unsigned pair = static_cast<unsigned>(value % 100);
    value /= 100;
    p -= 2;
    memcpy(p, kTables.pairs[pair], 2);
  }
  if (value >= 10) {
    p -= 2;
    memcpy(p, kTables.pairs[value], 2);
  } else {
    *--p = static_cast<char>('0' + value);
  }
  return p;
}

// Writes exactly digits decimal digits of value ending just before end (the
// value has no more digits than that). Returns the start.
inline char* put_digits_backwards(char* end, uint64_t value, int digits) {
  char* p = end;
  while (digits >= 2) {
    unsigned pair = static_cast<unsigned>(value % 100);
    value /= 100;
    p -= 2;
    memcpy(p, kTables.pairs[pair], 2);
    digits -= 2;
  }
  if (digits == 1) *--p = static_cast<char>('0' + value % 10);
  return p;
}

// "%*llu": value right-aligned in width characters, widening when it needs
// more. Returns the end.
inline char* put_unsigned(char* out, uint64_t value, int width) {
  int digits = decimal_digits(value);
  while (width > digits) {
    *out++ = ' ';
    --width;
  }
  put_digits_backwards(out + digits, value, digits);
  return out + digits;
}

// The eight decimal digits of value (below 10^8) as characters in memory
// order, the leading zeros as blanks (the last digit always stays a digit):
// "    1234" for 1234. All eight are worked out at once in one 64-bit word,
// two lanes of four digits, then four lanes of two, then eight of one.
inline uint64_t eight_digits_blank_padded(uint32_t value) {
  if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
    uint64_t merged = (value / 10000) | (uint64_t{value % 10000} << 32);
    uint64_t hundreds_lanes = ((merged * 10486) >> 20) & ((uint64_t{0x7F} << 32) | 0x7F);  // x / 100
    uint64_t pairs = ((merged - 100 * hundreds_lanes) << 16) + hundreds_lanes;            // 16-bit lanes
    uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000Full;                         // y / 10
    uint64_t digits = tens + ((pairs - 10 * tens) << 8);                                   // one per byte
    // The first digit is in the lowest byte: leading zeros are zero bytes there.
    int zeros = __builtin_ctzll(digits | (uint64_t{1} << 56)) >> 3;  // at most 7
    uint64_t blank = (uint64_t{1} << (8 * zeros)) - 1;
    return (digits + 0x3030303030303030ull) - (blank & 0x1010101010101010ull);
  } else {
    char text[8];
    memcpy(text, "        ", 8);
    put_digits_before(text + 8, value);
    uint64_t word;
    memcpy(&word, text, 8);
    return word;
  }
}

// The bytes of eight_digits_blank_padded after the first drop ones: the
// word that holds the last (8 - drop) characters first.
inline uint64_t drop_leading_characters(uint64_t word, int drop) {
  if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
    return word >> (8 * drop);
  } else {
    return word << (8 * drop);
  }
}

// The last message number written and its eight characters: lines are
// numbered one after the other, so the next number's text is most often this
// one with its last digit one higher.
struct NumberText {
  uint64_t number = 0;
  uint64_t word = 0x3020202020202020ull;  // eight_digits_blank_padded(number): "       0"
};
thread_local NumberText last_number;

// eight_digits_blank_padded(value) for a value below 10^8, from the text of
// the number before when value follows it and does not carry.
inline uint64_t number_text(uint64_t value) {
  NumberText& last = last_number;
  uint64_t word;
  if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
    // The last character is the highest byte.
    if (value == last.number + 1 && (last.word >> 56) != '9') {
      word = last.word + (uint64_t{1} << 56);
    } else {
      word = eight_digits_blank_padded(static_cast<uint32_t>(value));
    }
  } else {
    word = eight_digits_blank_padded(static_cast<uint32_t>(value));
  }
  last.number = value;
  last.word = word;
  return word;
}

// The upper four of the eight characters of the last offset's integer part
// whose upper four digits were not all zero: offsets grow slowly, so those
// digits (the number divided by 10^4) stay the same for many lines.
struct UpperDigitsText {
  uint32_t upper = 0;  // 0: nothing remembered (never looked up)
  uint32_t text = 0;   // the first four characters of eight_digits_blank_padded(upper * 10^4)
};
thread_local UpperDigitsText last_upper_digits;

// eight_digits_blank_padded(value) for a value below 10^8: the lower four
// digits (all four written, since the upper part is not zero) from the pair
// table and the upper four characters from the last value's when they agree.
inline uint64_t integer_digits_text(uint32_t value) {
  if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
    const uint32_t upper = value / 10000;
    if (upper == 0) return eight_digits_blank_padded(value);
    const uint32_t lower = value - upper * 10000;
    UpperDigitsText& last = last_upper_digits;
    if (upper != last.upper) {
      // The upper four characters of the eight: in the low half of the word.
      last.text = static_cast<uint32_t>(eight_digits_blank_padded(upper) >> 32);
      last.upper = upper;
    }
    char lower_text[4];
    memcpy(lower_text, kTables.pairs[lower / 100], 2);
    memcpy(lower_text + 2, kTables.pairs[lower % 100], 2);
    uint32_t lower_word;
    memcpy(&lower_word, lower_text, 4);
    return last.text | (uint64_t{lower_word} << 32);
  } else {
    return eight_digits_blank_padded(value);
  }
}

// "%7llu" (kWidth 7) or "%6llu" (kWidth 6): value right-aligned in kWidth
// characters, widening when it needs more. Writes 8 bytes even for a short
// field (out needs that room). Returns the end.
template <int kWidth>
inline char* put_number(char* out, uint64_t value) {
  static_assert(kWidth >= 1 && kWidth <= 8);
  if (value >= kPowersOfTen[kWidth]) return put_unsigned(out, value, kWidth);
  uint64_t word = drop_leading_characters(number_text(value), 8 - kWidth);
  memcpy(out, &word, 8);
  return out + kWidth;
}

// "%d" of a value that is most often a single digit. Returns the end.
inline char* put_small(char* out, unsigned value) {
  if (value < 10) {
    *out = static_cast<char>('0' + value);
    return out + 1;
  }
  return put_unsigned(out, value, 0);
}

// "%0*X": uppercase hexadecimal, at least min_digits digits.
inline char* put_hex(char* out, uint32_t value, int min_digits) {
  int digits = 1;
  while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
  if (digits < min_digits) digits = min_digits;
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = kHexDigits[value & 0xF];
    value >>= 4;
  }
  return out + digits;
}

// "%08X" of a value below 2^32: eight digits, two per table entry.
inline char* put_hex8(char* out, uint32_t value) {
  memcpy(out, kTables.hex_pairs[value >> 24], 2);
  memcpy(out + 2, kTables.hex_pairs[(value >> 16) & 0xFF], 2);
  memcpy(out + 4, kTables.hex_pairs[(value >> 8) & 0xFF], 2);
  memcpy(out + 6, kTables.hex_pairs[value & 0xFF], 2);
  return out + 8;
}

// "%04X": four digits for a value below 2^16, more for a larger one.
inline char* put_hex4(char* out, uint32_t value) {
  if (value > 0xFFFF) return put_hex(out, value, 4);
  memcpy(out, kTables.hex_pairs[value >> 8], 2);
  memcpy(out + 2, kTables.hex_pairs[value & 0xFF], 2);
  return out + 4;
}

// Data bytes as "11 22 33": uppercase pairs, one space between bytes. Writes
// up to 25 bytes from out whatever the count (out needs that room, and bytes
// needs 8 readable, initialised bytes: a frame's data array always has them);
// the bytes beyond the returned end are not part of the text.
inline char* put_data(char* out, const uint8_t* bytes, size_t count) {
  if (count <= 8) {
    // All eight entries with fixed offsets and no loop: the entries beyond
    // count are overwritten by what follows the data or lie behind the line.
    for (size_t i = 0; i < 8; ++i) memcpy(out + 3 * i, kTables.hex_spaced[bytes[i]], 4);
  } else {
    for (size_t i = 0; i < count; ++i) memcpy(out + 3 * i, kTables.hex_spaced[bytes[i]], 4);
  }
  return count == 0 ? out : out + 3 * count - 1;
}

inline size_t data_count(const CanFrame& frame) {
  return frame.data.size <= FrameData::kCapacity ? frame.data.size : FrameData::kCapacity;
}

// Type column of a version 2.1 line; the first matching rule wins.
inline const char* frame_type(const CanFrame& frame) {
  if (frame.fd) {
    if (frame.esi && frame.brs) return "BI";
    if (frame.brs) return "FB";
    if (frame.esi) return "FE";
    return "FD";
  }
  return frame.remote ? "RR" : "DT";
}

// Longest line that the fast build writes: a 19-digit number, an offset below
// 2^40 (13 integer digits, a point, 3 decimals), the fixed fields, a standard
// identifier of 8 digits, and 64 data bytes. The writers store whole words:
// a field may be written up to 16 bytes beyond its end before the next field
// overwrites the rest, so the buffer keeps that much room behind the line.
constexpr size_t kFastLineMax = 20 + 1 + 17 + 1 + 2 + 1 + 3 + 5 + 8 + 1 + 2 + 1 + 3 + 4 +
                                3 * FrameData::kCapacity + 1;
constexpr size_t kFastLineBuffer = kTraceLineRoom;
static_assert(kFastLineMax + 16 <= kFastLineBuffer, "line buffer too small");

// Appends text formatted by the C library's vsnprintf (not stb_sprintf),
// at most 63 characters. Returns nothing.
void append_standard_format(std::string* s, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void append_standard_format(std::string* s, const char* format, ...) {
  char text[64];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n > 0) s->append(text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}

}  // namespace

int str_append_vformat(std::string* s, const char* format, va_list args) {
  size_t old_size = s->size();
  size_t room = s->capacity() - old_size;
  // Format straight into the storage behind the current end; the string's
  // terminating zero slot takes stb_sprintf's terminator.
  s->resize(s->capacity());
  va_list again;
  va_copy(again, args);
  int n = stbsp_vsnprintf(s->data() + old_size, static_cast<int>(room + 1), format, args);
  if (n > 0 && static_cast<size_t>(n) > room) {
    s->resize(old_size + static_cast<size_t>(n));
    n = stbsp_vsnprintf(s->data() + old_size, n + 1, format, again);
  }
  va_end(again);
  s->resize(n > 0 ? old_size + static_cast<size_t>(n) : old_size);
  return n;
}

int str_append_format(std::string* s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = str_append_vformat(s, format, args);
  va_end(args);
  return n;
}

void str_append_hex(std::string* s, const uint8_t* bytes, size_t count, char separator,
                    bool uppercase) {
  if (count == 0) return;
  const char* digits = uppercase ? kHexDigits : kHexDigits + 16;
  size_t old_size = s->size();
  size_t step = separator != 0 ? 3 : 2;
  s->resize(old_size + step * count);
  char* p = s->data() + old_size;
  for (size_t i = 0; i < count; ++i) {
    *p++ = digits[bytes[i] >> 4];
    *p++ = digits[bytes[i] & 0xF];
    if (separator != 0) *p++ = separator;
  }
  if (separator != 0) s->resize(s->size() - 1);  // no separator after the last byte
}

void trace_append_start_value(std::string* s, double start_time) {
  double days = start_time / 86400.0 + 25569.0;
  double whole = 0.0;
  double fraction = 0.0;
  if (days >= 0.0 && days < 1e15) {
    fraction = std::modf(days, &whole) * 10000000000.0;
    // "%.0f" rounds to nearest, ties to even, as nearbyint does in the default
    // rounding mode. A fraction that reaches a whole day would print eleven
    // digits: carry it into the days instead.
    if (std::nearbyint(fraction) >= 10000000000.0) {
      whole += 1.0;
      fraction = 0.0;
    }
  }
  append_standard_format(s, "%5lu.%010.0f\n", static_cast<unsigned long>(whole), fraction);
}

namespace {

// format_offset_fast for a fixed number of decimals, so that the divisions
// by the scale are by a constant.
template <int kDecimals>
inline int format_fixed(char* out, double value, int width) {
  constexpr uint64_t scale = kDecimals == 3 ? 1000 : 10;
  uint64_t units;  // value * scale, rounded half up
  if (value == 0.0) {
    if (std::signbit(value)) return 0;
    units = 0;
  } else {
    // The proven range: 2^-10 <= value < 2^40.
    if (!(value >= 0x1p-10 && value < 0x1p40)) return 0;
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    int exponent = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t mantissa = (bits & ((1ull << 52) - 1)) | (1ull << 52);
    int shift = 1075 - exponent;  // value = mantissa * 2^-shift, 13 <= shift <= 62
    // Exactly value * scale * 2^shift: mantissa < 2^53 and scale <= 1000 < 2^10.
    uint64_t scaled = mantissa * scale;
    uint64_t whole = scaled >> shift;
    uint64_t rest = scaled & ((1ull << shift) - 1);
    uint64_t half = 1ull << (shift - 1);
    // stb_sprintf rounds half up from an integer approximation B of
    // value * 10^p, p = 18 - (its estimate of the digit count), which in this
    // range is a power of ten it holds exactly, so the double-double product
    // is exact and B is that product truncated: B >= 10^17 and B is off by less
    // than one unit (plus a rounding hair when the product lies next to an
    // integer). Its rounding step sits at an integer of B's scale; so both
    // round the same way unless the value lies within one unit of B (relative
    // 10^-17 at most) of a tie. An exact tie is an exact integer of B's scale
    // and rounds up in both. A value nearer a tie than 2^-55 (2.8e-17) of its
    // size, but not on it, is left to stb_sprintf.
    uint64_t distance = rest >= half ? rest - half : half - rest;
    if (distance != 0 && distance <= (scaled >> 55)) return 0;
    units = whole + (rest >= half ? 1 : 0);
  }
  uint64_t integer_part = units / scale;
  unsigned fraction = static_cast<unsigned>(units % scale);
  // The common case: a field of width characters with at most eight integer
  // digits, written as blanks, one word of eight digits or blanks, the point
  // and the decimals.
  constexpr int kPoint = kDecimals + 1;  // the point and the decimals
  if (width >= kPoint + 8 && width <= 16 && integer_part < 100000000) {
    memcpy(out, "                ", 16);
    char* point = out + width - kPoint;
    uint64_t word = integer_digits_text(static_cast<uint32_t>(integer_part));
    memcpy(point - 8, &word, 8);
    if constexpr (kDecimals == 3) {
      memcpy(point, kTables.point_triples[fraction], 4);
    } else {
      point[0] = '.';
      point[1] = static_cast<char>('0' + fraction);
    }
    return width;
  }
  int digits = decimal_digits(integer_part);
  int length = digits + 1 + kDecimals;
  char* p = out;
  for (int pad = width - length; pad > 0; --pad) *p++ = ' ';
  put_digits_backwards(p + digits, integer_part, digits);
  p += digits;
  *p++ = '.';
  put_digits_backwards(p + kDecimals, fraction, kDecimals);
  p += kDecimals;
  return static_cast<int>(p - out);
}

}  // namespace

int format_offset_fast(char* out, double value, int width, int decimals) {
  if (decimals == 3) return format_fixed<3>(out, value, width);
  if (decimals == 1) return format_fixed<1>(out, value, width);
  return 0;
}

void trace_line_v1_append_reference(std::string* line, int64_t number, double offset,
                                    const CanFrame& frame) {
  const char* direction = frame.transmitted ? "Tx" : "Rx";
  uint32_t identifier = frame.id & kIdentifierMask;
  str_append_format(line,
                    frame.extended ? "%6lld) %11.1f %s    %08X %d  " : "%6lld) %11.1f %s        %04X %d  ",
                    static_cast<long long>(number), offset, direction, identifier,
                    static_cast<int>(frame.length));
  if (frame.remote) {
    line->append("RTR");
  } else {
    str_append_hex(line, frame.data.data(), data_count(frame), ' ', true);
  }
  line->push_back('\n');
}

void trace_line_v2_append_reference(std::string* line, int64_t number, double offset,
                                    const CanFrame& frame) {
  const char* direction = frame.transmitted ? "Tx" : "Rx";
  uint32_t identifier = frame.id & kIdentifierMask;
  str_append_format(line,
                    frame.extended ? "%7lld %13.3f %s %d %08X %s %d" : "%7lld %13.3f %s %d     %04X %s %d",
                    static_cast<long long>(number), offset, frame_type(frame),
                    static_cast<int>(frame.channel), identifier, direction,
                    static_cast<int>(frame.length));
  line->append(frame.length < 10 ? "    " : "   ");
  if (!frame.remote) str_append_hex(line, frame.data.data(), data_count(frame), ' ', true);
  line->push_back('\n');
}

// The direction with the blanks around it, as one four-byte store.
inline char* put_direction(char* out, bool transmitted) {
  memcpy(out, transmitted ? " Tx " : " Rx ", 4);
  return out + 4;
}

char* trace_line_v1_write(char* out, int64_t number, double offset, const CanFrame& frame) {
  char* p = out;
  if (number < 0) return nullptr;
  p = put_number<6>(p, static_cast<uint64_t>(number));
  *p++ = ')';
  *p++ = ' ';
  int n = format_fixed<1>(p, offset, 11);
  if (n == 0) return nullptr;
  p += n;
  p = put_direction(p, frame.transmitted) - 1;
  uint32_t identifier = frame.id & kIdentifierMask;
  if (frame.extended) {
    memcpy(p, "    ", 4);
    p = put_hex8(p + 4, identifier);
  } else {
    memcpy(p, "        ", 8);
    p = put_hex4(p + 8, identifier);
  }
  *p++ = ' ';
  p = put_small(p, frame.length);
  *p++ = ' ';
  *p++ = ' ';
  if (frame.remote) {
    memcpy(p, "RTR", 3);
    p += 3;
  } else {
    p = put_data(p, frame.data.data(), data_count(frame));
  }
  *p++ = '\n';
  return p;
}

char* trace_line_v2_write(char* out, int64_t number, double offset, const CanFrame& frame) {
  char* p = out;
  if (number < 0) return nullptr;
  p = put_number<7>(p, static_cast<uint64_t>(number));
  *p++ = ' ';
  int n = format_fixed<3>(p, offset, 13);
  if (n == 0) return nullptr;
  p += n;
  *p++ = ' ';
  memcpy(p, frame_type(frame), 2);
  p += 2;
  *p++ = ' ';
  p = put_small(p, frame.channel);
  uint32_t identifier = frame.id & kIdentifierMask;
  if (frame.extended) {
    *p++ = ' ';
    p = put_hex8(p, identifier);
  } else {
    memcpy(p, "     ", 5);
    p = put_hex4(p + 5, identifier);
  }
  p = put_direction(p, frame.transmitted);
  if (frame.length < 10) {
    p[0] = static_cast<char>('0' + frame.length);
    memcpy(p + 1, "    ", 4);
    p += 5;
  } else {
    p = put_unsigned(p, frame.length, 0);
    memcpy(p, "   ", 3);
    p += 3;
  }
  if (!frame.remote) p = put_data(p, frame.data.data(), data_count(frame));
  *p++ = '\n';
  return p;
}

void trace_line_v1_append(std::string* line, int64_t number, double offset, const CanFrame& frame) {
  char text[kFastLineBuffer];
  const char* end = trace_line_v1_write(text, number, offset, frame);
  if (end == nullptr) return trace_line_v1_append_reference(line, number, offset, frame);
  line->append(text, static_cast<size_t>(end - text));
}

void trace_line_v2_append(std::string* line, int64_t number, double offset, const CanFrame& frame) {
  char text[kFastLineBuffer];
  const char* end = trace_line_v2_write(text, number, offset, frame);
  if (end == nullptr) return trace_line_v2_append_reference(line, number, offset, frame);
  line->append(text, static_cast<size_t>(end - text));
}
