// The lines of a candump log file: one per frame, no header and no comments.
//
//   (1709648530.275000) can0 2A1#B672A872
//   (1718090102.050000) can0 0CF00400#F07D7DF82CFFF07D
//
// The time is the frame's, in seconds since 1970 UTC as "%017.6f"; the
// identifier is "%03X" for a standard frame, "%08X" of its 29 bits for an
// extended one (see candump_lines.cc for a standard identifier above 0x7FF);
// the data bytes are uppercase hexadecimal pairs without separators ("123#"
// for none); a frame the logger sent ends in " T" (a received one has no
// mark: the readers take it as received).
//
// Two builds give the same bytes: a reference build on stb_sprintf, and a
// fast build written in place that declines (returns nullptr) a time outside
// the range where its rounding provably agrees with stb_sprintf.
#pragma once

#include <cstddef>
#include <string>

#include "frame/can_frame.h"

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
