// A small reader of the fuzzer's bytes: numbers and texts taken from the
// front of the input, zeros once it is used up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

// A property every input must keep; a broken one stops the fuzzer with the
// condition and its line, and the input becomes a finding.
#define CHECK(condition)                                                      \
  do {                                                                        \
    if (!(condition)) {                                                       \
      fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__); \
      abort();                                                                \
    }                                                                         \
  } while (0)

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // The next sizeof(T) bytes as a T (missing bytes are 0).
  template <typename T>
  T take() {
    T value{};
    size_t n = size_ < sizeof value ? size_ : sizeof value;
    if (n > 0) memcpy(&value, data_, n);
    data_ += n;
    size_ -= n;
    return value;
  }

  // The next byte as a boolean (its lowest bit).
  bool take_bool() { return (take<uint8_t>() & 1) != 0; }

  // The next length-prefixed text (one byte of length, at most what is left).
  std::string_view take_text() {
    size_t length = take<uint8_t>();
    if (length > size_) length = size_;
    std::string_view text(reinterpret_cast<const char*>(data_), length);
    data_ += length;
    size_ -= length;
    return text;
  }

  // Everything that is left.
  std::string_view rest() const { return {reinterpret_cast<const char*>(data_), size_}; }
  bool empty() const { return size_ == 0; }

 private:
  const uint8_t* data_;
  size_t size_;
};
