// Text as Windows reads it: names in ASCII without regard to case, blanks around ignored, and
// numbers stored least significant byte first.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace emulation {

inline char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;  // most names are written as they are asked for
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

inline bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// text without the blanks at either end.
inline std::string_view Trim(std::string_view text, std::string_view blanks = " \t") {
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The number that up to four bytes hold, least significant first, as Windows stores numbers.
inline std::uint32_t LittleEndian(std::string_view bytes) {
  std::uint32_t number = 0;
  for (std::size_t at = std::min<std::size_t>(bytes.size(), 4); at-- > 0;) {
    number = number << 8 | static_cast<unsigned char>(bytes[at]);
  }
  return number;
}

}  // namespace emulation
