// Frames for the tests of the trace back end: a data frame from its fields,
// and the six flags of a frame from the bits of a number.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "frame/can_frame.h"

namespace test_support {

// A frame of kind 1 on channel 1 with the identifier and data bytes, its
// length the byte count.
inline CanFrame data_frame(uint32_t id, std::initializer_list<uint8_t> bytes, double timestamp = 0.0,
                           bool extended = false) {
  CanFrame frame{};
  frame.kind = 1;
  frame.channel = 1;
  frame.timestamp = timestamp;
  frame.id = id;
  frame.extended = extended;
  for (uint8_t b : bytes) frame.data.bytes[frame.data.size++] = b;
  frame.length = frame.data.size;
  return frame;
}

// Sets extended, transmitted, fd, esi, brs and remote from bits 0 to 5.
inline void set_frame_flags(CanFrame* frame, uint64_t bits) {
  frame->extended = bits & 1;
  frame->transmitted = bits & 2;
  frame->fd = bits & 4;
  frame->esi = bits & 8;
  frame->brs = bits & 16;
  frame->remote = bits & 32;
}

}  // namespace test_support
