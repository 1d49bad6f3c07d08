// The text of an ASC file: its header (two dates: the first frame's time),
// one line per frame with the seconds since the first frame, and its last
// line.
//
//   date Tue Mar 05 14:22:10.275 2024
//   base hex  timestamps absolute
//   no internal events logged
//   // version 9.0.0
//   Begin Triggerblock Tue Mar 05 14:22:10.275 2024
//      0.000000 Start of measurement
//      0.000000 1  2A1             Rx   d 4 B6 72 A8 72
//      0.050000 1  CF00400x        Rx   d 8 F0 7D 7D F8 2C FF F0 7D
//   End TriggerBlock
//
// A frame's line: the offset as "%11.6f", channel 1, the identifier in
// hexadecimal ("x" behind an extended one) left-aligned in 15 characters,
// the direction left-aligned in 4, "d" (a data frame) and the length as
// "%X", then the data bytes.
//
// Frame lines come in two builds that give the same bytes: a reference build
// on stb_sprintf, and a fast build written in place that declines (returns
// nullptr) an offset outside the range where its rounding provably agrees
// with stb_sprintf.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "formats/line_digits.h"
#include "frame/can_frame.h"
#include "output/digits.h"

// Appends the header lines for a first frame at start_time (seconds since
// 1970 UTC, rounded to the millisecond in the dates). A time outside the
// years 1970 to 9999 (or not finite) gives the dates of 1970-01-01 00:00:00.
void asc_append_header(std::string* s, double start_time);

// The file's last line.
inline constexpr char kAscFooter[] = "End TriggerBlock\n";

// Appends the frame's line (line feed included) for offset seconds since the
// first frame.
void asc_line_append(std::string* line, double offset, const CanFrame& frame);
void asc_line_append_reference(std::string* line, double offset, const CanFrame& frame);

// Room a caller gives asc_line_write: its longest line (an offset of 11
// integer digits, 64 data bytes: 240 characters) plus the bytes its
// whole-word stores may write beyond a field.
constexpr size_t kAscLineRoom = 256;

// The fast build of asc_line_append, written at out (kAscLineRoom bytes of
// room). Returns the end of the line, or nullptr when it declines the frame
// or the offset: then out holds nothing usable.
char* asc_line_write(char* out, double offset, const CanFrame& frame);

// The fast build as a writer that keeps the text of the last offset, for a
// format writer to inline.
class AscLineWriter {
 public:
  // asc_line_write.
  char* write(char* out, double offset, const CanFrame& frame) {
    char* p = offset_.put(out, offset);
    if (p == nullptr) return nullptr;
    memcpy(p, " 1  ", 4);
    p += 4;
    // The identifier left-aligned in 15 characters, and a blank.
    memset(p, ' ', 16);
    char* id_end = digits::put_hex(p, frame.id & 0x1FFFFFFFu, 1);
    if (frame.extended) *id_end = 'x';
    p += 16;
    memcpy(p, frame.transmitted ? "Tx   d " : "Rx   d ", 8);
    p = digits::put_hex(p + 7, frame.length, 1);
    const size_t count = frame.size <= 8 ? frame.size : 8;
    if (count != 0) {
      *p++ = ' ';
      p = digits::put_spaced_hex(p, frame.data, count);
    }
    *p++ = '\n';
    return p;
  }

 private:
  line_digits::MicrosText<11, ' '> offset_;  // "%11.6f"
};
