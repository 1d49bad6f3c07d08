#include "reader/byte_constants.h"

namespace {

constexpr byte_constants::Table make_table() {
  using namespace byte_constants;
  Table table{};
  auto fill = [&table](Row r, uint8_t byte) {
    for (uint8_t& b : table.rows[r]) b = byte;
  };
  fill(kPlus60, 0x60);
  fill(kPrintableLast, 0xDE);
  fill(kPlus50, 0x80 - '0');
  fill(kDigitLast, 0x89);
  fill(kLowerCase, 0x20);
  fill(kPlus1F, 0x80 - 'a');
  fill(kLetterLast, 0x85);
  fill(kLowNibble, 0x0F);
  fill(kNine, 9);
  for (int i = 0; i < 16; ++i) table.rows[kLowByte][i] = i % 2 == 0 ? 0xFF : 0x00;
  return table;
}

}  // namespace

const byte_constants::Table byte_constants::kTable = make_table();
