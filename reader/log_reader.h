// Text log reader: the "#" header lines and the column-title line of a text
// log file, then one CanFrame per record line with absolute, non-decreasing
// timestamps, handed out in order.
//
// A record line that no logger writes becomes no frame and changes no
// timestamp state: a line with control bytes other than tab and carriage
// return (DEL among them), or bytes from 0x80 up; a zero byte after the first
// byte of a line; a line longer than the line buffer (the rest of it is never
// read as a line of its own); a Timestamp field that is no time. The reader
// counts such lines. A record line that becomes a frame which says something
// other than the line is inexact (see record_parser.h); the reader counts the
// inexact records it hands out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "frame/can_frame.h"
#include "reader/log_header.h"
#include "reader/take_frame.h"
#include "reader/work_queue.h"
#include "stream/stream.h"

struct ReaderState;

// What the reader counted of the record lines it read.
struct ReadCounts {
  uint64_t record_lines = 0;          // frames, skipped records and malformed lines
  uint64_t skipped_records = 0;       // passed over for a timestamp before the last one or before 1970
  uint64_t early_records = 0;         // those of them before 1970
  uint64_t first_early_line = 0;      // line number of the first of these, 0 for none
  uint64_t malformed_lines = 0;       // passed over as no logger writes them
  uint64_t first_malformed_line = 0;  // line number of the first of them, 0 for none
  uint64_t inexact_records = 0;       // frames handed out that say something other than their line
  uint64_t first_inexact_line = 0;    // line number of the first of them, 0 for none
};

// How the records ended.
enum class ReadEnd {
  kComplete,       // every record of the input was read
  kReadFailed,     // a read of the input failed: the records read are not all there is
  kDataAfterZero,  // the records ended at a line that begins with a zero byte, and data follows it
};

class LogReader {
 public:
  // Logs larger than this are read in chunks when threads can help.
  static constexpr int64_t kChunkedLogSize = int64_t{4} << 20;
  // Bytes read at a time then; a chunk is that much, cut back to its last
  // line end.
  static constexpr size_t kChunkBytes = size_t{1} << 19;

  // Opens a reader on stream (borrowed; the reader never closes it): reads
  // the header and the column-title line. name is the log's name in the
  // reader's messages. nullptr, logging nothing, when the stream cannot be
  // positioned or the input is not a text log.
  static std::unique_ptr<LogReader> open(Stream* stream, std::string name);
  ~LogReader();
  LogReader(const LogReader&) = delete;
  LogReader& operator=(const LogReader&) = delete;

  const LogHeader& header() const;
  // The column of each of the first kColumnSlots fields of a record line.
  const ColumnKind* columns() const;
  // What the reader cannot take of the title line ("" when it takes it all):
  // the column titles it does not know, and a missing Timestamp, ID or Data
  // column. The records are read all the same.
  const std::string& title_note() const;
  // The stream offset of the first record line.
  int64_t data_start() const;

  // Reads every record from the first on and hands each accepted frame to
  // take, in order, with the warning of skipped records before the next
  // frame and at the end. With helpers (the threads converting beside this
  // one), the records are read in chunks of chunk_bytes parsed on their
  // threads and settled here in order, with the same frames, counts and
  // messages. Stops when take returns false, and returns false then, or
  // when the input could not be positioned at its first record.
  bool read_frames(TakeFrame take, WorkQueue* helpers = nullptr, size_t chunk_bytes = kChunkBytes);

  // The frames handed out go on from a log before this one (the split
  // before it in a joined session): a record earlier than that log's last
  // frame (last_accepted_time) is skipped as one earlier than a frame of
  // this log would be. Called before read_frames.
  void continue_after(double last_accepted_time);
  // The timestamp of the last frame handed out (that given to
  // continue_after, or 0, before the first).
  double last_accepted_time() const;

  // How the records ended, once read_frames has returned; for kReadFailed,
  // read_error() is the system's reason.
  ReadEnd end() const;
  int read_error() const;

  ReadCounts counts() const;
  // Bytes of the input taken so far (growing as read goes on).
  uint64_t bytes_taken() const;

 private:
  explicit LogReader(std::unique_ptr<ReaderState> state);
  std::unique_ptr<ReaderState> state_;
};
