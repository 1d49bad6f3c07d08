// The writer of a text format whose lines carry each frame's own time and
// nothing that counts on from frame to frame (candump, CSV): an optional
// first line, then one line per frame from its line writer (Lines, with
// room for kRoom bytes) or, where that declines, from its reference.
#pragma once

#include <string>
#include <string_view>

#include "frame/can_frame.h"
#include "output/format_writer.h"
#include "output/text_line.h"

template <typename Lines, size_t kRoom, void (*kReference)(std::string*, const CanFrame&)>
class PlainLineWriter final : public FormatWriter {
 public:
  PlainLineWriter(OutputSink& sink, std::string_view header) : sink_(sink), header_(header) {}

  void begin(const CanFrame&) override {
    if (!header_.empty()) sink_.append(header_.data(), header_.size());
  }

  size_t write_frames(const CanFrame* frames, size_t count, const OutputSink&) override {
    return write_text_lines<kRoom>(
        sink_, &scratch_, frames, count, [&](char* out, const CanFrame& frame) { return lines_.write(out, frame); },
        [&](std::string* line, const CanFrame& frame) { kReference(line, frame); });
  }

  void write(const CanFrame& frame) override {
    write_text_line<kRoom>(
        sink_, &scratch_, [&](char* out) { return lines_.write(out, frame); },
        [&](std::string* line) { kReference(line, frame); });
  }

  void end() override {}

  void mark() override {}
  void rollback() override {}

 private:
  OutputSink& sink_;
  std::string_view header_;  // the first line ("" for none)
  std::string scratch_;      // lines built the slow way
  Lines lines_;
};
