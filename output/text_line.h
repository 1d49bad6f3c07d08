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

// write_text_line for each of items[0, count): the lines that fit in the
// sink's window at kRoom bytes each are built there one after the other,
// fast(out, item) or, when it declines, reference(scratch, item), and
// committed at once; a line with no such room is written by write_text_line,
// which makes room. Returns the count of lines written, the one during which
// the sink failed included.
template <size_t kRoom, typename Item, typename Fast, typename Reference>
inline size_t write_text_lines(OutputSink& sink, std::string* scratch, const Item* items, size_t count, Fast fast,
                               Reference reference) {
  size_t done = 0;
  while (done < count) {
    size_t room;
    char* const begin = sink.window_room(&room);
    const size_t fit = room / kRoom < count - done ? room / kRoom : count - done;
    const Item& first = items[done];
    if (fit == 0) {
      write_text_line<kRoom>(
          sink, scratch, [&](char* out) { return fast(out, first); },
          [&](std::string* line) { reference(line, first); });
      ++done;
      if (!sink.ok()) return done;
      continue;
    }
    char* out = begin;
    const Item* item = items + done;
    const Item* const last = item + fit;
    for (; item < last; ++item) {
      char* const end = fast(out, *item);
      if (end == nullptr) break;
      out = end;
    }
    sink.commit(static_cast<size_t>(out - begin));
    done = static_cast<size_t>(item - items);
    if (item < last) {
      scratch->clear();
      reference(scratch, *item);
      sink.append(scratch->data(), scratch->size());
      ++done;
      if (!sink.ok()) return done;
    }
  }
  return count;
}

// Appends a whole text (a header or a footer).
inline void write_text(OutputSink& sink, const std::string& text) { sink.append(text.data(), text.size()); }
