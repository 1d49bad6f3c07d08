// The lines of a candump log file: one per frame, no header and no comments.
//
//   (1709648530.275000) can0 2A1#B672A872
//   (1718090102.050000) can0 0CF00400#F07D7DF82CFFF07D
//
// The time is the frame's, in seconds since 1970 UTC as "%017.6f"; the
// identifier is "%03X" for a standard frame, "%08X" of its 29 bits for an
// extended one (see candump_eight_digits for a standard identifier above
// 0x7FF);
// the data bytes are uppercase hexadecimal pairs without separators ("123#"
// for none); a frame the logger sent ends in " T" (a received one has no
// mark: the readers take it as received).
//
// Two builds give the same bytes: a reference build on stb_sprintf, and a
// fast build written in place that declines (returns nullptr) a time outside
// the range where its rounding provably agrees with stb_sprintf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "formats/line_digits.h"
#include "frame/can_frame.h"
#include "output/digits.h"

// The identifier, 29 bits as every format keeps it, and whether it takes the
// eight digits of an extended one. A standard identifier takes three digits:
// below 0x800 as a frame on the bus has it, and up to 0xFFF where a log line
// says more (an inexact record), which the readers of candump files
// (python-can, can-utils' log2asc, both run for this) take as that standard
// identifier still, as the other formats write it. They take no form of a
// larger standard identifier (four to seven digits read as extended, or not
// at all): it is written as an extended one, which keeps the identifier and
// data that the other formats write, and loses only the standard flag.
inline uint32_t candump_identifier(const CanFrame& frame) { return frame.id & 0x1FFFFFFFu; }
inline bool candump_eight_digits(const CanFrame& frame) {
  return frame.extended || candump_identifier(frame) > 0xFFF;
}

// Appends the frame's line (line feed included).
void candump_line_append(std::string* line, const CanFrame& frame);
void candump_line_append_reference(std::string* line, const CanFrame& frame);

// Room a caller gives candump_line_write: its longest line plus the bytes its
// whole-word stores may write beyond a field.
constexpr size_t kCandumpLineRoom = 192;

// The fast build of candump_line_append, written at out (kCandumpLineRoom
// bytes of room). Returns the end of the line, or nullptr when it declines
// the time: then out holds nothing usable.
char* candump_line_write(char* out, const CanFrame& frame);

// The fast build as a writer that keeps the text of the last time, for a
// format writer to inline.
class CandumpLineWriter {
 public:
  // candump_line_write.
  char* write(char* out, const CanFrame& frame) {
    out[0] = '(';
    char* p = time_.put(out + 1, frame.timestamp);
    if (p == nullptr) return nullptr;
    memcpy(p, ") can0 ", 8);
    p = digits::put_hex(p + 7, candump_identifier(frame), candump_eight_digits(frame) ? 8 : 3);
    *p++ = '#';
    p = digits::put_packed_hex(p, frame.data, frame.size <= 8 ? frame.size : 8);
    memcpy(p, " T", 2);
    p += frame.transmitted ? 2 : 0;
    *p++ = '\n';
    return p;
  }

 private:
  line_digits::MicrosText<17, '0'> time_;  // "%017.6f"
};
