// One value line of a REGEDIT4 file, "name"=data: read with the escapes, dword: and hex data
// regedit reads, and written as regedit exports it. regedit4.h says where reading is stricter
// than regedit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace emulation {

// A value as Windows stores it: its type (REG_SZ 1, REG_BINARY 3, REG_DWORD 4, ...) and its
// bytes; REG_SZ data includes its terminating zero, REG_DWORD data is little-endian.
struct RegistryValue {
  std::uint32_t type;
  std::string data;
};
inline bool operator==(const RegistryValue& a, const RegistryValue& b) {
  return a.type == b.type && a.data == b.data;
}
inline bool operator!=(const RegistryValue& a, const RegistryValue& b) {
  return !(a == b);
}

namespace regedit4 {

// Why a line cannot be read, or nullptr when it can.
using Error = const char*;

// Where the blanks (spaces and tabs) from line[i] end.
inline std::size_t SkipBlanks(std::string_view line, std::size_t i) {
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  return i;
}
// Regedit allows blanks and a ';' comment after a line's last item.
inline bool OnlyCommentFrom(std::string_view line, std::size_t i) {
  i = SkipBlanks(line, i);
  return i == line.size() || line[i] == ';';
}

struct ValueLine {
  std::size_t dataBegin = 0;  // in the line
  bool deletes = false;       // "name"=-
  bool continues = false;     // its hex bytes go on in the next line
};
// Reads "name"=data or @=data, blanks allowed around '=', from the name's first byte. The
// unescaped name and the data go to name and value when they are given.
Error ReadValueLine(std::string_view line, std::size_t nameBegin, std::string* name,
                    RegistryValue* value, ValueLine* parsed);
// Reads a line that continues hex data; its bytes go to data when it is given.
Error ReadContinuation(std::string_view line, std::string* data, bool* continues);

// Windows stores REG_SZ data with its terminating zero even when the caller leaves it out.
RegistryValue AsStored(RegistryValue value);
// The data as regedit exports it, on one line: "text" for REG_SZ of printable ASCII, dword: for
// a 4-byte REG_DWORD, hex: for REG_BINARY, hex(N): for the rest.
std::string FormatData(const RegistryValue& value);
// "name"=data, or @=data for the default value "".
std::string FormatValueLine(std::string_view name, const RegistryValue& value);

}  // namespace regedit4
}  // namespace emulation
