// The logic's own string lengths: the Windows build links no C runtime to ask.
#pragma once

#include <cstddef>

// Characters before the terminating zero.
constexpr std::size_t TextLength(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

// Characters before the first zero in the buffer; the buffer's size when it holds none.
template <std::size_t kSize>
constexpr std::size_t TextLengthWithin(const char (&buffer)[kSize]) {
  std::size_t length = 0;
  while (length < kSize && buffer[length] != '\0') ++length;
  return length;
}
