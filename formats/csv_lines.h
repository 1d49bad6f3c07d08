// The text of a CSV file (RFC 4180, lines ending in a line feed): a header
// line naming the columns, then one line per frame.
//
//   timestamp,channel,id,extended,direction,remote,dlc,data
//   1709648530.275000,1,2A1,0,Rx,0,4,B6 72 A8 72
//
// The time is the frame's, in seconds since 1970 UTC as "%.6f"; channel 1;
// the identifier's 29 bits as "%X"; extended 0 or 1; Rx or Tx; remote 0 (a
// log gives no remote frames); the length in decimal; the data bytes as
// uppercase pairs with one blank between them. No field holds a comma or a
// quote, so none is quoted.
//
// Two builds give the same bytes: a reference build on stb_sprintf, and a
// fast build written in place that declines (returns nullptr) a time outside
// the range where its rounding provably agrees with stb_sprintf.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "formats/line_digits.h"
#include "frame/can_frame.h"
#include "output/digits.h"

// The file's first line.
inline constexpr char kCsvHeader[] = "timestamp,channel,id,extended,direction,remote,dlc,data\n";

// Appends the frame's line (line feed included).
void csv_line_append(std::string* line, const CanFrame& frame);
void csv_line_append_reference(std::string* line, const CanFrame& frame);

// Room a caller gives csv_line_write: its longest line (a time of 11 integer
// digits, 64 data bytes: 233 characters) plus the bytes its whole-word stores
// may write beyond a field.
constexpr size_t kCsvLineRoom = 256;

// The fast build of csv_line_append, written at out (kCsvLineRoom bytes of
// room). Returns the end of the line, or nullptr when it declines the time:
// then out holds nothing usable.
char* csv_line_write(char* out, const CanFrame& frame);

// The fast build as a writer that keeps the text of the last time, for a
// format writer to inline.
class CsvLineWriter {
 public:
  // csv_line_write.
  char* write(char* out, const CanFrame& frame) {
    char* p = time_.put(out, frame.timestamp);
    if (p == nullptr) return nullptr;
    memcpy(p, ",1,", 4);
    p = digits::put_hex(p + 3, frame.id & 0x1FFFFFFFu, 1);
    // ",e,Rx,0,": the extended flag, the direction and the remote flag (a log
    // gives no remote frames) in one store.
    memcpy(p, frame.transmitted ? ",0,Tx,0," : ",0,Rx,0,", 8);
    p[1] = frame.extended ? '1' : '0';
    p = digits::put_small(p + 8, frame.length);
    *p++ = ',';
    p = digits::put_spaced_hex(p, frame.data, frame.size <= 8 ? frame.size : 8);
    *p++ = '\n';
    return p;
  }

 private:
  line_digits::MicrosText<0, ' '> time_;  // "%.6f"
};
