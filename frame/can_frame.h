// One CAN frame as a log gives it: what the reader hands to the writers.
// Only what a log line can say is here; every frame is a classic data frame
// on the logger's one bus.
#pragma once

#include <cstdint>

struct CanFrame {
  double timestamp = 0.0;    // seconds since 1970-01-01 00:00:00 UTC, millisecond resolution
  uint32_t id = 0;           // CAN identifier, not masked
  uint8_t length = 0;        // data length code, as the log gives it
  uint8_t size = 0;          // data bytes, 0 to 8
  bool extended = false;     // 29-bit identifier
  bool transmitted = false;  // sent by the logger ("Tx"), else received ("Rx")
  uint8_t data[8] = {};      // the first size bytes; writers may read all eight at once
};
