// Seconds with six decimals for the fast line writers of the ASC, candump and
// CSV formats: the exact rounding of stb_sprintf's "%.6f" (output/digits.h's
// fixed-point rounding, carried to six decimals in 128-bit arithmetic) and a
// writer that keeps the digits of the whole seconds from line to line.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "output/digits.h"

namespace line_digits {

// Room a line writer keeps behind its longest line: its whole-word stores
// (put_micros, digits::put_spaced_hex) reach at most this far beyond the end
// of the line, and a short field no further than its longest form would.
constexpr size_t kStoreSlack = 16;

// value * 10^6 rounded to an integer as stb_sprintf's "%.6f" rounds it (half
// up), into *micros. False, leaving *micros alone, when value lies outside
// the range where this is proven: +0.0, and 2^-10 <= value < 2^36, except
// values within 2^-55 of their size of a rounding tie.
//
// Why it agrees there: stb_sprintf forms an integer B of 18 or 19 digits from
// value * 10^p with p = 18 - (its estimate of the digit count); in this range
// p lies in 7..21, 10^p is an exact double, and its double-double product
// leaves B less than one unit (plus a hair) from the exact product. It always
// rounds B (tens + 6 digits stay below B's digit count) by adding half a unit
// of the sixth decimal. Both round alike unless value lies within a few units
// of B (relative 3e-17) of a tie; an exact tie is an integer in B's scale and
// rounds up in both. The margin grows with the value: about 5e-8 for today's
// times (1.7e9 s), whose millisecond values lie 5e-7 from a tie; near 2^36 it
// covers all but exact ties.
inline bool fixed_point_micros(double value, uint64_t* micros) {
  if (value == 0.0) {
    if (std::signbit(value)) return false;
    *micros = 0;
    return true;
  }
  if (!(value >= 0x1p-10 && value < 0x1p36)) return false;
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  const int shift = 1075 - static_cast<int>((bits >> 52) & 0x7FF);  // 17..62
  const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  // Exactly value * 10^6 * 2^shift: below 2^73.
  const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * 1000000u;
  const uint64_t rest = static_cast<uint64_t>(scaled) & ((uint64_t{1} << shift) - 1);
  const uint64_t half = uint64_t{1} << (shift - 1);
  const uint64_t distance = rest >= half ? rest - half : half - rest;
  if (distance != 0 && distance <= static_cast<uint64_t>(scaled >> 55)) return false;
  *micros = static_cast<uint64_t>(scaled >> shift) + (rest >= half ? 1 : 0);
  return true;
}

// The whole seconds of the last put_micros and their digits: they change
// slowly from line to line, so they are mostly written once.
struct SecondsText {
  uint64_t seconds = ~uint64_t{0};
  int count = 0;
  char text[24] = {};  // the digits: at most 11, room for the 20 of any seconds
};
inline thread_local SecondsText last_seconds;

// micros / 10^6 with six decimals, as "%*.6f" (pad ' ') or "%0*.6f" (pad
// '0') writes it: right-aligned in width characters (at most 23), widening
// when it needs more. micros is at most 2^36 * 10^6 (fixed_point_micros'
// range), so the text has at most 18 characters beyond the padding. Stores
// at most 8 bytes beyond the end it returns. Returns the end. The digits of
// the whole seconds are kept in seconds_text from call to call.
inline char* put_micros(char* out, uint64_t micros, int width, char pad, SecondsText* seconds_text = &last_seconds) {
  const uint64_t seconds = micros / 1000000;
  const uint32_t fraction = static_cast<uint32_t>(micros - seconds * 1000000);
  SecondsText& last = *seconds_text;
  if (seconds != last.seconds) {
    last.seconds = seconds;
    last.count = digits::decimal_digits(seconds);  // at most 11
    digits::put_digits_backwards(last.text + last.count, seconds, last.count);
  }
  const int pad_count = width - last.count - 7;
  if (pad_count > 0) {
    memset(out, pad, 16);
    out += pad_count;
  }
  memcpy(out, last.text, 16);
  out += last.count;
  out[0] = '.';
  memcpy(out + 1, digits::kTables.pairs[fraction / 10000], 2);
  memcpy(out + 3, digits::kTables.pairs[fraction / 100 % 100], 2);
  memcpy(out + 5, digits::kTables.pairs[fraction % 100], 2);
  return out + 7;
}

// The last time a line writer wrote in kWidth characters padded with kPad
// (put_micros), and its text: frames come in bursts of one timestamp, so
// most lines repeat the time before.
template <int kWidth, char kPad>
class MicrosText {
 public:
  // fixed_point_micros and put_micros of value at out, or the text before
  // when value is the same. Stores kStore bytes from out whatever the
  // text's length (out needs that room). nullptr when fixed_point_micros
  // declines the value.
  static constexpr size_t kStore = 32;
  char* put(char* out, double value) {
    uint64_t value_bits;
    memcpy(&value_bits, &value, sizeof value_bits);
    if (value_bits == bits_) {
      memcpy(out, text_, kStore);
      return out + length_;
    }
    uint64_t micros;
    if (!fixed_point_micros(value, &micros)) return nullptr;
    char* end = put_micros(out, micros, kWidth, kPad, &seconds_);
    memcpy(text_, out, kStore);
    length_ = end - out;
    bits_ = value_bits;
    return end;
  }

 private:
  // put_micros stores at most 31 bytes from out for a width up to 23 (up to
  // 15 of padding, then 16 of the seconds' digits or the text and 8 beyond
  // it): all within the text kept.
  static_assert(kWidth >= 0 && kWidth <= 23);
  uint64_t bits_ = ~uint64_t{0};  // the value's bits (a NaN before the first)
  ptrdiff_t length_ = 0;
  char text_[kStore] = {};
  SecondsText seconds_;
};

}  // namespace line_digits
