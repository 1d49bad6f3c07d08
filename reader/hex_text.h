// Hexadecimal digits of a record line read many at a time: an identifier of
// up to eight digits, and up to eight pairs of data digits, each checked and
// converted in a few vector operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "reader/byte_constants.h"

namespace hex_text {

#if defined(__SSE2__)

namespace bc = byte_constants;

// The digit value of each byte of text (0 to 15; anything for a byte that is
// no hexadecimal digit), and one bit per byte that is none in *invalid.
inline __m128i digit_values(__m128i text, unsigned* invalid) {
  const __m128i no_digit = _mm_cmpgt_epi8(_mm_add_epi8(text, bc::row(bc::kPlus50)), bc::row(bc::kDigitLast));
  const __m128i lower = _mm_or_si128(text, bc::row(bc::kLowerCase));
  const __m128i no_letter = _mm_cmpgt_epi8(_mm_add_epi8(lower, bc::row(bc::kPlus1F)), bc::row(bc::kLetterLast));
  *invalid = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(no_digit, no_letter)));
  return _mm_add_epi8(_mm_and_si128(text, bc::row(bc::kLowNibble)), _mm_andnot_si128(no_letter, bc::row(bc::kNine)));
}

// The bytes of pairs of digit values, the first of each pair high, in the
// low eight bytes.
inline __m128i pair_bytes(__m128i values) {
  // Each 16-bit lane holds a pair, its first digit in the low byte.
  const __m128i high = _mm_slli_epi16(values, 4);
  const __m128i pairs = _mm_and_si128(_mm_or_si128(high, _mm_srli_epi16(values, 8)), bc::row(bc::kLowByte));
  return _mm_packus_epi16(pairs, pairs);
}

#endif

// Reads the field of the n (1 to 8) characters before end as a hexadecimal
// number into *value; the 8 bytes before end must be readable. Returns false,
// leaving *value, when a character of the field is no hexadecimal digit (or
// on a machine that is not little-endian).
inline bool read_field(const char* end, size_t n, uint32_t* value) {
  if constexpr (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__) return false;
  uint64_t word;
  memcpy(&word, end - 8, 8);
  // The field is in the top n bytes; the bytes before it count as zeros.
  const uint64_t field = n >= 8 ? ~uint64_t{0} : ~((uint64_t{1} << (8 * (8 - n))) - 1);
#if defined(__SSE2__)
  unsigned invalid;
  const __m128i values = digit_values(_mm_cvtsi64_si128(static_cast<long long>(word)), &invalid);
  const unsigned needed = static_cast<unsigned>(0xFF00u >> n) & 0xFFu;
  if ((invalid & needed) != 0) return false;
  const __m128i digits = _mm_and_si128(values, _mm_cvtsi64_si128(static_cast<long long>(field)));
  *value = __builtin_bswap32(static_cast<uint32_t>(_mm_cvtsi128_si32(pair_bytes(digits))));
  return true;
#else
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = kOnes * 0x80;
  word = (word & field) | (kOnes * '0' & ~field);
  if ((word & kHigh) != 0) return false;
  // The high bit of each byte of x (all below 0x80) set where it is c or above.
  auto at_least = [](uint64_t x, unsigned c) { return (x + kOnes * (0x80 - c)) & kHigh; };
  const uint64_t lower = word | kOnes * 0x20;
  const uint64_t digit = at_least(word, '0') & ~at_least(word, '9' + 1);
  const uint64_t letter = at_least(lower, 'a') & ~at_least(lower, 'f' + 1);
  if ((digit | letter) != kHigh) return false;
  const uint64_t nibbles = (word & kOnes * 0x0F) + (letter >> 7) * 9;
  // Pairs of nibbles into bytes, the earlier (more significant) one high.
  const uint64_t pairs = ((nibbles & 0x000F000F000F000Full) << 4) | ((nibbles >> 8) & 0x000F000F000F000Full);
  const uint64_t packed = (pairs | (pairs >> 8)) & 0x0000FFFF0000FFFFull;
  *value = __builtin_bswap32(static_cast<uint32_t>(packed | (packed >> 16)));
  return true;
#endif
}

// Reads the first pairs (at most 8) pairs of hexadecimal digits at begin into
// bytes; begin must be readable for 16 bytes. Returns false when one of those
// characters is no hexadecimal digit (bytes is then partly written). Bytes
// from pairs to 7 may be written too.
inline bool read_pairs(const char* begin, int pairs, uint8_t* bytes) {
#if defined(__SSE2__)
  unsigned invalid;
  const __m128i values = digit_values(_mm_loadu_si128(reinterpret_cast<const __m128i*>(begin)), &invalid);
  if ((invalid & ((1u << (2 * pairs)) - 1)) != 0) return false;
  _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), pair_bytes(values));
  return true;
#else
  auto value = [](char c) {
    const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
    const unsigned letter = (static_cast<unsigned>(static_cast<unsigned char>(c)) | 0x20u) - 'a';
    return digit < 10 ? static_cast<int>(digit) : letter < 6 ? static_cast<int>(letter) + 10 : -1;
  };
  int invalid = 0;
  for (int i = 0; i < pairs; ++i) {
    const int high = value(begin[2 * i]);
    const int low = value(begin[2 * i + 1]);
    invalid |= high | low;
    bytes[i] = static_cast<uint8_t>((static_cast<unsigned>(high) << 4) | static_cast<unsigned>(low));
  }
  return invalid >= 0;
#endif
}

}  // namespace hex_text
