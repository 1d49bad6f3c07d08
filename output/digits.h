// Digit tables and number writers shared by the line writers of every output
// format: decimal and hexadecimal digits written straight into a buffer, two
// at a time from compile-time tables, and the exact fixed-point rounding that
// lets a line writer print a time with a few decimals as stb_sprintf's "%f"
// would, without calling it.
//
// Writers that store whole words may write a few bytes beyond the end they
// return; each says how many, and callers keep that room behind the line.
#pragma once

#include <cstdint>
#include <cstring>

namespace digits {

inline constexpr char kHexDigits[] = "0123456789ABCDEF0123456789abcdef";

// "00" to "99"; "000" to "999" behind a point (".000"); the two uppercase
// hexadecimal digits of every byte; every byte as two uppercase digits and a
// blank, padded to four bytes so that one four-byte store writes it (the
// fourth byte is overwritten next).
struct Tables {
  char pairs[100][2];
  char point_triples[1000][4];
  char hex_pairs[256][2];
  char hex_spaced[256][4];
  constexpr Tables() : pairs(), point_triples(), hex_pairs(), hex_spaced() {
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
inline constexpr Tables kTables{};

inline constexpr uint64_t kPowersOfTen[20] = {1ull,
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
  int count = 1;
  while (count < 20 && value >= kPowersOfTen[count]) ++count;
  return count;
}

// Writes exactly count decimal digits of value ending just before end (the
// value has no more digits than that), two at a time from the right.
// Returns the start.
inline char* put_digits_backwards(char* end, uint64_t value, int count) {
  char* p = end;
  while (count >= 2) {
    const unsigned pair = static_cast<unsigned>(value % 100);
    value /= 100;
    p -= 2;
    memcpy(p, kTables.pairs[pair], 2);
    count -= 2;
  }
  if (count == 1) *--p = static_cast<char>('0' + value % 10);
  return p;
}

// "%*llu": value right-aligned in width characters, widening when it needs
// more. Returns the end.
inline char* put_unsigned(char* out, uint64_t value, int width) {
  const int count = decimal_digits(value);
  while (width > count) {
    *out++ = ' ';
    --width;
  }
  put_digits_backwards(out + count, value, count);
  return out + count;
}

// "%0*llu": value in at least width digits, zero-padded. Returns the end.
inline char* put_unsigned_zero_padded(char* out, uint64_t value, int width) {
  int count = decimal_digits(value);
  if (count < width) count = width;
  put_digits_backwards(out + count, value, count);
  return out + count;
}

// "%d" of a value that is most often a single digit. Returns the end.
inline char* put_small(char* out, unsigned value) {
  if (value < 10) {
    *out = static_cast<char>('0' + value);
    return out + 1;
  }
  return put_unsigned(out, value, 0);
}

// "%0*X": uppercase hexadecimal, at least min_digits digits (at most 8).
inline char* put_hex(char* out, uint32_t value, int min_digits) {
  int count = 1;
  while (count < 8 && (value >> (4 * count)) != 0) ++count;
  if (count < min_digits) count = min_digits;
  for (int i = count - 1; i >= 0; --i) {
    out[i] = kHexDigits[value & 0xF];
    value >>= 4;
  }
  return out + count;
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

// Data bytes as "11 22 33": uppercase pairs, one blank between bytes. Writes
// up to 25 bytes from out whatever the count (out needs that room, and bytes
// needs 8 readable, initialised bytes: a frame's data array always has them);
// the bytes beyond the returned end are not part of the text.
inline char* put_spaced_hex(char* out, const uint8_t* bytes, size_t count) {
  if (count <= 8) {
    // All eight entries with fixed offsets and no loop: the entries beyond
    // count are overwritten by what follows the data or lie behind the line.
    for (size_t i = 0; i < 8; ++i) memcpy(out + 3 * i, kTables.hex_spaced[bytes[i]], 4);
  } else {
    for (size_t i = 0; i < count; ++i) memcpy(out + 3 * i, kTables.hex_spaced[bytes[i]], 4);
  }
  return count == 0 ? out : out + 3 * count - 1;
}

// Data bytes as "112233": uppercase pairs without separators. Returns the end.
inline char* put_packed_hex(char* out, const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) memcpy(out + 2 * i, kTables.hex_pairs[bytes[i]], 2);
  return out + 2 * count;
}

// The eight decimal digits of value (below 10^8) as characters in memory
// order, the leading zeros as blanks (the last digit always stays a digit):
// "    1234" for 1234. All eight are worked out at once in one 64-bit word,
// two lanes of four digits, then four lanes of two, then eight of one.
inline uint64_t eight_digits_blank_padded(uint32_t value) {
  if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
    const uint64_t merged = (value / 10000) | (uint64_t{value % 10000} << 32);
    const uint64_t hundreds_lanes = ((merged * 10486) >> 20) & ((uint64_t{0x7F} << 32) | 0x7F);  // x / 100
    const uint64_t pairs = ((merged - 100 * hundreds_lanes) << 16) + hundreds_lanes;             // 16-bit lanes
    const uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000Full;                          // y / 10
    const uint64_t digit_bytes = tens + ((pairs - 10 * tens) << 8);                                // one per byte
    // The first digit is in the lowest byte: leading zeros are zero bytes there.
    const int zeros = __builtin_ctzll(digit_bytes | (uint64_t{1} << 56)) >> 3;  // at most 7
    const uint64_t blank = (uint64_t{1} << (8 * zeros)) - 1;
    return (digit_bytes + 0x3030303030303030ull) - (blank & 0x1010101010101010ull);
  } else {
    char text[8];
    memcpy(text, "        ", 8);
    put_unsigned(text, value, 8);
    uint64_t word;
    memcpy(&word, text, 8);
    return word;
  }
}

// value * kScale rounded half up, as stb_sprintf's "%.Nf" rounds it (kScale
// = 10^N, N from 1 to 3), as its whole part (*whole_part) and the N digits
// after the point (*fraction). False, leaving both, when value lies outside
// the range where this is proven to agree with stb_sprintf (2^-10 to 2^40,
// zero, never negative zero) or within a hair of a rounding tie: the caller
// then formats with stb_sprintf.
template <uint64_t kScale>
inline bool fixed_point_parts(double value, uint64_t* whole_part, unsigned* fraction) {
  static_assert(kScale == 10 || kScale == 100 || kScale == 1000, "the proof covers up to three decimals");
  if (value == 0.0) {
    if (__builtin_signbit(value)) return false;
    *whole_part = 0;
    *fraction = 0;
    return true;
  }
  if (!(value >= 0x1p-10 && value < 0x1p40)) return false;
  // A value within a quarter of a unit of an integer: its digits after the
  // point are all zeros. (Below 2^40, the signed conversions are exact, and
  // shorter than the unsigned ones.)
  const uint64_t nearest = static_cast<uint64_t>(static_cast<int64_t>(value + 0.5));
  const double off_whole = value - static_cast<double>(static_cast<int64_t>(nearest));
  if (off_whole < 0.25 / kScale && off_whole > -0.25 / kScale) {
    *whole_part = nearest;
    *fraction = 0;
    return true;
  }
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  const uint64_t mantissa = (bits & ((1ull << 52) - 1)) | (1ull << 52);
  const int shift = 1075 - exponent;  // value = mantissa * 2^-shift, 13 <= shift <= 62
  // Exactly value * scale * 2^shift: mantissa < 2^53 and scale <= 1000 < 2^10.
  const uint64_t scaled = mantissa * kScale;
  const uint64_t whole = scaled >> shift;
  const uint64_t rest = scaled & ((1ull << shift) - 1);
  const uint64_t half = 1ull << (shift - 1);
  // stb_sprintf rounds half up from an integer approximation B of
  // value * 10^p, p = 18 - (its estimate of the digit count), which in this
  // range is a power of ten it holds exactly, so the double-double product is
  // exact and B is that product truncated: B >= 10^17 and B is off by less
  // than one unit (plus a rounding hair when the product lies next to an
  // integer). Its rounding step sits at an integer of B's scale; so both
  // round the same way unless the value lies within one unit of B (relative
  // 10^-17 at most) of a tie. An exact tie is an exact integer of B's scale
  // and rounds up in both. A value nearer a tie than 2^-55 (2.8e-17) of its
  // size, but not on it, is left to stb_sprintf.
  const uint64_t distance = rest >= half ? rest - half : half - rest;
  if (distance != 0 && distance <= (scaled >> 55)) return false;
  const uint64_t units = whole + (rest >= half ? 1 : 0);
  *whole_part = units / kScale;
  *fraction = static_cast<unsigned>(units % kScale);
  return true;
}

}  // namespace digits
