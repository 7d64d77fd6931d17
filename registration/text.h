// The logic's own string lengths and comparisons: the Windows build links no C runtime to ask.
#pragma once

#include <cstddef>

// Characters before the terminating zero.
constexpr std::size_t TextLength(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

// Characters before the first zero among the first size bytes; size when they hold none.
constexpr std::size_t TextLengthWithin(const char* text, std::size_t size) {
  std::size_t length = 0;
  while (length < size && text[length] != '\0') ++length;
  return length;
}

// Characters before the first zero in the buffer; the buffer's size when it holds none.
template <std::size_t kSize>
constexpr std::size_t TextLengthWithin(const char (&buffer)[kSize]) {
  return TextLengthWithin(buffer, kSize);
}

// A letter A to Z in lower case; any other character as it is.
constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether text spells name, a name in lower case, letters of text compared without regard to
// case, as Windows compares file names. Our names are ASCII.
constexpr bool SameNameIgnoringCase(const char* text, const char* lowerCaseName) {
  for (;; ++text, ++lowerCaseName) {
    if (AsciiLower(*text) != *lowerCaseName) return false;
    if (*lowerCaseName == '\0') return true;
  }
}
