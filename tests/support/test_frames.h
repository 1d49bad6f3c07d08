// Frames for the tests of the writers: a data frame from its fields, and
// its two flags from the bits of a number.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "frame/can_frame.h"

namespace test_support {

// A frame with the identifier and data bytes, its length the byte count.
inline CanFrame data_frame(uint32_t id, std::initializer_list<uint8_t> bytes, double timestamp = 0.0,
                           bool extended = false) {
  CanFrame frame{};
  frame.timestamp = timestamp;
  frame.id = id;
  frame.extended = extended;
  for (uint8_t b : bytes) frame.data[frame.size++] = b;
  frame.length = frame.size;
  return frame;
}

// Sets extended and transmitted from bits 0 and 1.
inline void set_frame_flags(CanFrame* frame, uint64_t bits) {
  frame->extended = bits & 1;
  frame->transmitted = bits & 2;
}

}  // namespace test_support
