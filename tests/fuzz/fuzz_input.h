// A small reader of the fuzzer's bytes: numbers taken from the front of the
// input (zeros once it is used up), and a check that stops the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#define CHECK(condition)                                                                              \
  do {                                                                                                \
    if (!(condition)) fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__), abort(); \
  } while (0)

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  template <typename T>
  T take() {
    T value{};
    const size_t n = size_ < sizeof value ? size_ : sizeof value;
    if (n > 0) memcpy(&value, data_, n);
    data_ += n;
    size_ -= n;
    return value;
  }
  std::string_view rest() const { return {reinterpret_cast<const char*>(data_), size_}; }
  bool empty() const { return size_ == 0; }

 private:
  const uint8_t* data_;
  size_t size_;
};
