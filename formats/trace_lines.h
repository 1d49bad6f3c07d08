// The text of a trace file: the start value of its header and the frame
// lines of versions 1.1 and 2.1.
//
// Frame lines come in two builds that give the same bytes. The reference
// build formats each line with stb_sprintf's general formatter. The fast build
// writes the same fields with hand-written number, offset and hex routines
// (about five times faster); for an offset outside the range where its
// rounding provably agrees with stb_sprintf (negative, non-finite, very large
// or tiny offsets, or one that lies within a hair of a rounding tie) it hands
// the whole line to the reference build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "frame/can_frame.h"

// Appends the start value of a trace header for a first frame at start_time
// (seconds since the epoch): days since 1899-12-30 00:00 UTC as "%5lu.%010.0f"
// of the C library's vsnprintf, then a line feed. A fraction that rounds up to
// a whole day is carried into the days ("45307.0000000000", never eleven
// fraction digits). Times before 1899-12-30, 10^15 days or more after it, or
// non-finite, which that layout cannot express, are written as
// "    0.0000000000".
void trace_append_start_value(std::string* s, double start_time);

// Appends one frame line (line feed included) with message number number and
// time offset offset (milliseconds) in the layout of version 1.1 or 2.1.
void trace_line_v1_append(std::string* line, int64_t number, double offset, const CanFrame& frame);
void trace_line_v2_append(std::string* line, int64_t number, double offset, const CanFrame& frame);

// Room a caller gives trace_line_v1_write and trace_line_v2_write: the
// longest line they write plus the bytes their whole-word stores may write
// beyond a field.
constexpr size_t kTraceLineRoom = 320;

// The fast build of the lines above, written in place at out (kTraceLineRoom
// bytes of room). Returns the end of the line, or nullptr when the number is
// negative or the offset lies outside the proven range: then out holds
// nothing usable and the caller appends the line with trace_line_v1_append or
// trace_line_v2_append, whose reference build writes it.
char* trace_line_v1_write(char* out, int64_t number, double offset, const CanFrame& frame);
char* trace_line_v2_write(char* out, int64_t number, double offset, const CanFrame& frame);

// The same lines through stb_sprintf's general formatter alone.
void trace_line_v1_append_reference(std::string* line, int64_t number, double offset, const CanFrame& frame);
void trace_line_v2_append_reference(std::string* line, int64_t number, double offset, const CanFrame& frame);

// Writes value with decimals places (1 or 3), right-aligned in width
// characters, as stb_sprintf's "%*.*f" writes it, into out (room for 32
// characters). Returns the number of characters written, or 0 when value lies
// outside the range where this routine is proven to agree with stb_sprintf:
// then nothing usable was written and the caller formats with stb_sprintf.
int format_offset_fast(char* out, double value, int width, int decimals);

// The type column of a version 2.1 line: every frame of a log is a data
// frame ("DT"), on the logger's bus 1.
inline constexpr char kTraceFrameType[] = "DT";
constexpr int kTraceChannel = 1;

// The identifier bits a trace line shows.
constexpr uint32_t kTraceIdentifierMask = 0x1FFFFFFF;

// Data bytes a line shows: the frame's byte string, never beyond its storage.
inline size_t trace_data_count(const CanFrame& frame) {
  return frame.size <= 8 ? frame.size : 8;
}
