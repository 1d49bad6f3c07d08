#include "output/frame_output.h"

std::unique_ptr<FrameOutput> FrameOutput::create(OutputTree* tree, const std::string& path,
                                                 const OutputFormat& format, Status* status) {
  std::unique_ptr<FileSink> sink = FileSink::create(tree, path, status);
  if (sink == nullptr) return nullptr;
  return std::unique_ptr<FrameOutput>(new FrameOutput(std::move(sink), format));
}

FrameOutput::FrameOutput(std::unique_ptr<FileSink> sink, const OutputFormat& format)
    : sink_(std::move(sink)), writer_(format.make_writer(*sink_)) {}

bool FrameOutput::begin(const CanFrame& first) {
  writer_->begin(first);
  if (sink_->ok()) return true;
  failed("Could not write CAN header");
  return false;
}

void FrameOutput::failed(const char* what) {
  if (status_.ok()) status_ = Status::failure(what, sink_->status().error());
}

void FrameOutput::mark() {
  writer_->write_held();
  sink_->flush();
  if (!sink_->ok()) {
    failed("Could not write CAN data");
    return;  // the mark stays after the last input written whole
  }
  writer_->mark();
  marked_frames_ = frames_;
  marked_size_ = sink_->size();
}

void FrameOutput::rollback() {
  writer_->rollback();
  frames_ = marked_frames_;
  sink_->truncate(marked_size_);
  if (sink_->ok()) {
    status_ = Status();  // a failure beyond the mark is gone with the frames after it
  } else {
    failed("Could not write CAN data");
  }
}

OutputCommit FrameOutput::commit(bool durable) {
  writer_->end();
  if (!sink_->ok()) {
    failed("Could not write CAN data");
    sink_->discard();
    OutputCommit result;
    result.status = status_;
    return result;
  }
  return sink_->commit(durable);
}

Status FrameOutput::discard() { return sink_->discard(); }
