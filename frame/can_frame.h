// One CAN frame as a log gives it: what the reader hands to the writers.
#pragma once

#include <cstdint>

// Raw data bytes of a frame: a length-counted byte string. A classic CAN
// frame holds at most 8 bytes, a CAN FD frame at most 64.
struct FrameData {
  static constexpr uint32_t kCapacity = 64;
  uint8_t bytes[kCapacity] = {};  // the line writers read the first 8 whatever the size
  uint8_t size = 0;  // number of valid bytes, never above kCapacity

  const uint8_t* data() const { return bytes; }
};

struct CanFrame {
  double timestamp;  // seconds since 1970-01-01 00:00:00 UTC, millisecond resolution
  uint8_t channel;   // bus channel number
  uint32_t id;       // CAN identifier, not masked
  FrameData data;
  int32_t kind;      // record kind (CanRecordKind); any other is no frame
  bool extended;     // 29-bit identifier
  bool transmitted;  // sent by the logger ("Tx"), else received ("Rx")
  bool fd;           // CAN FD frame
  bool esi;          // CAN FD error state indicator
  bool brs;          // CAN FD bit rate switch
  bool remote;       // remote frame
  uint8_t length;    // data length
};

// The record kinds that are frames of a bus; an output writes a line for
// these only. The log reader gives the first; the second is a frame from
// other sources of records.
enum CanRecordKind : int32_t {
  RECORD_KIND_FRAME = 1,
  RECORD_KIND_OTHER_FRAME = 2,
};

inline bool is_bus_frame(const CanFrame& record) {
  return record.kind == RECORD_KIND_FRAME || record.kind == RECORD_KIND_OTHER_FRAME;
}
