#include "platform/emulation/regedit4_value.h"

#include <cstdio>

#include "platform/emulation/ascii.h"

namespace emulation::regedit4 {
namespace {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::size_t kDwordSize = 4;
constexpr std::size_t kMaxHexDigits = 8;  // dword: data and hex(N) types are 32 bits
constexpr std::string_view kDwordTag = "dword:";
constexpr std::string_view kHexTag = "hex:";
constexpr std::string_view kHexTypeTag = "hex(";
constexpr std::string_view kHexTypeEnd = "):";
constexpr char kHexDigits[] = "0123456789abcdef";

constexpr char kUnclosedString[] = "string without closing quote";
constexpr char kUnknownEscape[] = "unknown escape";
constexpr char kNoEquals[] = "expected = after the value name";
constexpr char kUnknownType[] = "unknown data type";
constexpr char kTextAfterData[] = "text after the data";
constexpr char kBadDword[] = "dword: needs 1 to 8 hex digits";
constexpr char kBadHexType[] = "hex(N): needs 1 to 8 hex digits";
constexpr char kBadHexByte[] = "expected a byte of two hex digits";

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads 1 to 8 hex digits at s[*i].
bool ReadHexNumber(std::string_view s, std::size_t* i, std::uint32_t* number) {
  std::size_t digits = 0;
  *number = 0;
  for (; *i < s.size() && HexDigitValue(s[*i]) >= 0; ++*i) {
    if (++digits > kMaxHexDigits) return false;
    *number = *number << 4 | static_cast<std::uint32_t>(HexDigitValue(s[*i]));
  }
  return digits > 0;
}

// Reads a quoted string from just after its opening quote to just after its closing one,
// appending its unescaped bytes to out when it is given.
Error ReadQuoted(std::string_view s, std::size_t* i, std::string* out) {
  for (std::size_t at = *i;;) {
    // Whole runs between escapes at once: most strings have none.
    std::size_t end = at;
    while (end < s.size() && s[end] != '"' && s[end] != '\\') ++end;
    if (out != nullptr) out->append(s.substr(at, end - at));
    if (end == s.size()) return kUnclosedString;
    if (s[end] == '"') {
      *i = end + 1;
      return nullptr;
    }
    if (end + 1 == s.size()) return kUnclosedString;  // a backslash ends the line
    char c = s[end + 1];
    if (c == 'n') {
      c = '\n';
    } else if (c == 'r') {
      c = '\r';
    } else if (c != '\\' && c != '"') {
      return kUnknownEscape;
    }
    if (out != nullptr) out->push_back(c);
    at = end + 2;
  }
}

void AppendQuoted(std::string* out, std::string_view text) {
  *out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"' || c == '\n' || c == '\r') *out += '\\';
    *out += c == '\n' ? 'n' : c == '\r' ? 'r' : c;
  }
  *out += '"';
}

// Reads comma-separated bytes to the end of a line: "aa,bb" or, when the next line goes on,
// "aa,bb,\". Only a value's first line may hold no bytes ("hex:" alone is empty data).
Error ReadHexBytes(std::string_view s, std::size_t i, bool firstLine, std::string* out,
                   bool* continues) {
  *continues = false;
  if (firstLine && OnlyCommentFrom(s, i)) return nullptr;
  for (;;) {
    if (s.size() - i < 2) return kBadHexByte;
    const int high = HexDigitValue(s[i]);
    const int low = HexDigitValue(s[i + 1]);
    if (high < 0 || low < 0) return kBadHexByte;
    if (out != nullptr) out->push_back(static_cast<char>(high << 4 | low));
    i += 2;
    if (i == s.size() || s[i] != ',') return OnlyCommentFrom(s, i) ? nullptr : kTextAfterData;
    if (++i < s.size() && s[i] == '\\') {
      *continues = true;
      return OnlyCommentFrom(s, i + 1) ? nullptr : kTextAfterData;
    }
  }
}

// Reads a value's data, from its first byte to the end of the line: a string, dword: or hex
// bytes.
Error ReadData(std::string_view s, RegistryValue* value, bool* continues) {
  std::string* out = value != nullptr ? &value->data : nullptr;
  std::uint32_t type = kRegBinary;
  std::size_t i = 1;
  if (!s.empty() && s[0] == '"') {
    type = kRegSz;
    if (Error error = ReadQuoted(s, &i, out)) return error;
    if (out != nullptr) out->push_back('\0');
    if (!OnlyCommentFrom(s, i)) return kTextAfterData;
  } else if (StartsWith(s, kDwordTag)) {
    type = kRegDword;
    i = SkipBlanks(s, kDwordTag.size());
    std::uint32_t number;
    if (!ReadHexNumber(s, &i, &number)) return kBadDword;
    if (!OnlyCommentFrom(s, i)) return kTextAfterData;
    for (std::size_t byte = 0; out != nullptr && byte < kDwordSize; ++byte) {
      out->push_back(static_cast<char>(number >> (8 * byte) & 0xffu));
    }
  } else if (StartsWith(s, kHexTag)) {
    if (Error error = ReadHexBytes(s, kHexTag.size(), true, out, continues)) return error;
  } else if (StartsWith(s, kHexTypeTag)) {
    i = kHexTypeTag.size();
    if (!ReadHexNumber(s, &i, &type) || !StartsWith(s.substr(i), kHexTypeEnd)) {
      return kBadHexType;
    }
    if (Error error = ReadHexBytes(s, i + kHexTypeEnd.size(), true, out, continues)) return error;
  } else {
    return kUnknownType;
  }
  if (value != nullptr) value->type = type;
  return nullptr;
}

// Printable ASCII and one final zero: data that reads back the same from "text".
bool IsPlainText(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] < ' ' || data[i] > '~') return false;
  }
  return true;
}

}  // namespace

Error ReadValueLine(std::string_view line, std::size_t nameBegin, std::string* name,
                    RegistryValue* value, ValueLine* parsed) {
  if (name != nullptr) name->clear();
  if (value != nullptr) value->data.clear();
  std::size_t i = nameBegin + 1;
  if (line[nameBegin] == '"') {
    if (Error error = ReadQuoted(line, &i, name)) return error;
  }
  i = SkipBlanks(line, i);
  if (i == line.size() || line[i] != '=') return kNoEquals;
  i = SkipBlanks(line, i + 1);
  *parsed = ValueLine{i, i < line.size() && line[i] == '-', false};
  if (parsed->deletes) return OnlyCommentFrom(line, i + 1) ? nullptr : kTextAfterData;
  return ReadData(line.substr(i), value, &parsed->continues);
}

Error ReadContinuation(std::string_view line, std::string* data, bool* continues) {
  return ReadHexBytes(line, SkipBlanks(line, 0), false, data, continues);
}

RegistryValue AsStored(RegistryValue value) {
  if (value.type == kRegSz && (value.data.empty() || value.data.back() != '\0')) {
    value.data.push_back('\0');
  }
  return value;
}

std::string FormatData(const RegistryValue& value) {
  std::string text;
  if (value.type == kRegSz && IsPlainText(value.data)) {
    AppendQuoted(&text, std::string_view(value.data).substr(0, value.data.size() - 1));
    return text;
  }
  char number[sizeof "hex(ffffffff):"];
  if (value.type == kRegDword && value.data.size() == kDwordSize) {
    std::uint32_t dword = 0;
    for (std::size_t i = kDwordSize; i-- > 0;) {
      dword = dword << 8 | static_cast<unsigned char>(value.data[i]);
    }
    std::snprintf(number, sizeof number, "%08x", static_cast<unsigned>(dword));
    return std::string(kDwordTag) + number;
  }
  if (value.type == kRegBinary) {
    text = kHexTag;
  } else {
    std::snprintf(number, sizeof number, "hex(%x):", static_cast<unsigned>(value.type));
    text = number;
  }
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    const auto byte = static_cast<unsigned char>(value.data[i]);
    if (i > 0) text += ',';
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0xfu];
  }
  return text;
}

std::string FormatValueLine(std::string_view name, const RegistryValue& value) {
  std::string line = name.empty() ? "@" : "";
  if (!name.empty()) AppendQuoted(&line, name);
  return line + "=" + FormatData(value);
}

}  // namespace emulation::regedit4
