// The byte constants of the reader's vector code, each in all sixteen bytes
// of a row. They are defined in byte_constants.cc, out of the compiler's
// sight where that code is inlined: a constant it sees is built anew from a
// general register at each use (three instructions on processors with AVX2),
// where a row read from memory is an operand of the instruction that uses it.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace byte_constants {

enum Row {
  kPlus60,       // the bytes 0x20 to 0x7E become 0x80 to 0xDE, the lowest signed bytes
  kPrintableLast,  // 0xDE: a byte above it, signed, was a control byte, DEL or from 0x80 up
  kPlus50,       // '0' to '9' become 0x80 to 0x89
  kDigitLast,    // 0x89: a byte above it, signed, was no digit
  kLowerCase,    // 0x20: or-ed in, a letter becomes lower case
  kPlus1F,       // 'a' to 'f' become 0x80 to 0x85
  kLetterLast,   // 0x85: a byte above it, signed, was no letter a to f
  kLowNibble,    // 0x0F
  kNine,         // 9: a letter's value beyond its low four bits
  kLowByte,      // 0x00FF in each 16-bit lane
  kRows
};

struct Table {
  alignas(16) uint8_t rows[kRows][16];
};
extern const Table kTable;

#if defined(__SSE2__)
inline __m128i row(Row r) { return _mm_load_si128(reinterpret_cast<const __m128i*>(kTable.rows[r])); }
#endif

}  // namespace byte_constants
