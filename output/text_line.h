// How a text format writes one line: built by its fast writer straight into
// the sink's window, or, when the fast writer declines the values (returns
// nullptr), by its reference writer into a scratch text that is then
// appended.
#pragma once

#include <cstddef>
#include <string>

#include "output/output_sink.h"

// kRoom is the room the fast writer needs (at most OutputSink::kMaxRoom).
template <size_t kRoom, typename Fast, typename Reference>
inline void write_text_line(OutputSink& sink, std::string* scratch, Fast fast, Reference reference) {
  static_assert(kRoom <= OutputSink::kMaxRoom, "a line asks for more room than a sink gives");
  char* room = sink.room(kRoom);
  if (room == nullptr) return;
  if (const char* end = fast(room)) {
    sink.commit(static_cast<size_t>(end - room));
    return;
  }
  scratch->clear();
  reference(scratch);
  sink.append(scratch->data(), scratch->size());
}

// Appends a whole text (a header or a footer).
inline void write_text(OutputSink& sink, const std::string& text) { sink.append(text.data(), text.size()); }
