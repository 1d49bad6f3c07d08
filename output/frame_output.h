// One output file as a conversion writes it: the sink of the file under its
// temporary name, the writer of the run's format, and the frames handed to
// it. A failure is kept, worded as the conversion reports it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "frame/can_frame.h"
#include "fs/output_tree.h"
#include "output/file_sink.h"
#include "output/format_writer.h"
#include "stream/status.h"

class FrameOutput {
 public:
  // Creates the output that is to stand at path (relative to the tree's
  // root), written in format. nullptr, with *status telling why ("Could not
  // open output file for CAN: ..."), when it cannot be created.
  static std::unique_ptr<FrameOutput> create(OutputTree* tree, const std::string& path, const OutputFormat& format,
                                             Status* status);

  // Writes one frame, the file header before the first. False once the
  // output could not be written (status() tells why).
  bool write(const CanFrame& frame) {
    if (frames_ == 0 && !begin(frame)) return false;
    writer_->write(frame);
    ++frames_;
    if (sink_->ok()) return true;
    failed("Could not write CAN data");
    return false;
  }

  // Writes frames[0, count) in order, as write writes each; returns how
  // many were taken before the one the output failed at (count when it did
  // not fail).
  size_t write_frames(const CanFrame* frames, size_t count) {
    if (count == 0 || (frames_ == 0 && !begin(frames[0]))) return 0;
    const size_t written = writer_->write_frames(frames, count, *sink_);
    frames_ += written;
    if (sink_->ok()) return written;
    failed("Could not write CAN data");
    return written - 1;
  }

  // Frames written.
  uint64_t frames() const { return frames_; }
  // Why the output could not be written; ok while it could.
  const Status& status() const { return status_; }

  // Marks the end of a whole input in an output that joins several (see
  // FormatWriter::mark); rollback forgets every frame written since. The
  // mark waits until the file holds everything written, and is not taken
  // when a write failed: a failure is then always beyond the last mark, and
  // rollback forgets it with the frames when the file still holds
  // everything up to the mark (a full disk has room again once the file is
  // cut back). The output is then whole and may go on.
  void mark();
  void rollback();

  // Ends the output (what the format writes after the last frame) and puts
  // it in place (FileSink::commit). Only for an output with frames.
  OutputCommit commit(bool durable);
  // Removes the output under its temporary name; the final name stays as it
  // was.
  Status discard();

 private:
  FrameOutput(std::unique_ptr<FileSink> sink, const OutputFormat& format);
  bool begin(const CanFrame& first);
  void failed(const char* what);

  std::unique_ptr<FileSink> sink_;
  std::unique_ptr<FormatWriter> writer_;
  uint64_t frames_ = 0;
  uint64_t marked_frames_ = 0;  // frames_ at the last mark
  uint64_t marked_size_ = 0;    // the sink's size then
  Status status_;
};
