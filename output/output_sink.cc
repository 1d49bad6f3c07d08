#include "output/output_sink.h"

#include <cstring>

void OutputSink::append(const void* bytes, size_t count) {
  const char* from = static_cast<const char*>(bytes);
  while (count > 0) {
    size_t available = static_cast<size_t>(limit_ - cursor_);
    if (available == 0) {
      if (make_room(1) == nullptr) return;
      available = static_cast<size_t>(limit_ - cursor_);
    }
    const size_t take = count < available ? count : available;
    memcpy(cursor_, from, take);
    cursor_ += take;
    from += take;
    count -= take;
  }
}
