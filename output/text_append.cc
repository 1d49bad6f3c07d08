#include "output/text_append.h"

#include <stb_sprintf.h>

#include "output/digits.h"

int str_append_vformat(std::string* s, const char* format, va_list args) {
  const size_t old_size = s->size();
  const size_t room = s->capacity() - old_size;
  // Format straight into the storage behind the current end; the string's
  // terminating zero slot takes stb_sprintf's terminator.
  s->resize(s->capacity());
  va_list again;
  va_copy(again, args);
  int n = stbsp_vsnprintf(s->data() + old_size, static_cast<int>(room + 1), format, args);
  if (n > 0 && static_cast<size_t>(n) > room) {
    s->resize(old_size + static_cast<size_t>(n));
    n = stbsp_vsnprintf(s->data() + old_size, n + 1, format, again);
  }
  va_end(again);
  s->resize(n > 0 ? old_size + static_cast<size_t>(n) : old_size);
  return n;
}

int str_append_format(std::string* s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = str_append_vformat(s, format, args);
  va_end(args);
  return n;
}

void str_append_hex(std::string* s, const uint8_t* bytes, size_t count, char separator, bool uppercase) {
  if (count == 0) return;
  const char* hex = uppercase ? digits::kHexDigits : digits::kHexDigits + 16;
  const size_t old_size = s->size();
  const size_t step = separator != 0 ? 3 : 2;
  s->resize(old_size + step * count);
  char* p = s->data() + old_size;
  for (size_t i = 0; i < count; ++i) {
    *p++ = hex[bytes[i] >> 4];
    *p++ = hex[bytes[i] & 0xF];
    if (separator != 0) *p++ = separator;
  }
  if (separator != 0) s->resize(s->size() - 1);  // no separator after the last byte
}
