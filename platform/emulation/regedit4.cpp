#include "platform/emulation/regedit4.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "platform/emulation/ascii.h"
#include "platform/emulation/windows_path.h"
#include "platform/win32.h"

namespace emulation {
namespace {

using Error = const char*;

constexpr std::size_t kDwordSize = 4;
constexpr std::size_t kMaxHexDigits = 8;  // dword: data and hex(N) types are 32 bits
constexpr std::string_view kDwordTag = "dword:";
constexpr std::string_view kHexTag = "hex:";
constexpr std::string_view kHexTypeTag = "hex(";
constexpr std::string_view kHexTypeEnd = "):";
constexpr std::string_view kHexDigits = "0123456789abcdef";
// The escapes a quoted string may hold, and the bytes they stand for.
constexpr std::string_view kEscapes = "\\\"nr";
constexpr std::string_view kEscaped = "\\\"\n\r";

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16ByteOrderMark = "\xFF\xFE";
constexpr std::string_view kRegedit5Header = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRootNames[] = {
    "HKEY_LOCAL_MACHINE",  "HKEY_USERS",        "HKEY_CLASSES_ROOT",
    "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER", "HKEY_DYN_DATA",
};
constexpr std::size_t kNoRoot = std::size(kRootNames);

constexpr char kTextAfterData[] = "text after the data";
constexpr char kBadHexByte[] = "expected a byte of two hex digits";

// Where the blanks (spaces and tabs) from line[i] end.
std::size_t SkipBlanks(std::string_view line, std::size_t i) {
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  return i;
}

// Regedit allows blanks and a ';' comment after a line's last item.
bool OnlyCommentFrom(std::string_view line, std::size_t i) {
  i = SkipBlanks(line, i);
  return i == line.size() || line[i] == ';';
}

int HexDigitValue(char c) {
  const std::size_t digit = kHexDigits.find(LowerAscii(c));
  return digit == std::string_view::npos ? -1 : static_cast<int>(digit);
}

// Reads 1 to 8 hex digits at s[*i].
bool ReadHexNumber(std::string_view s, std::size_t* i, std::uint32_t* number) {
  std::size_t digits = 0;
  for (*number = 0; *i < s.size() && HexDigitValue(s[*i]) >= 0; ++*i) {
    if (++digits > kMaxHexDigits) return false;
    *number = *number << 4 | static_cast<std::uint32_t>(HexDigitValue(s[*i]));
  }
  return digits > 0;
}

// Reads a quoted string from just after its opening quote to just after its closing one,
// appending its unescaped bytes to out when it is given.
Error ReadQuoted(std::string_view s, std::size_t* i, std::string* out) {
  for (std::size_t at = *i;;) {
    const std::size_t end = std::min({s.find('"', at), s.find('\\', at), s.size()});
    if (out != nullptr) out->append(s.substr(at, end - at));
    if (end == s.size()) return "string without closing quote";
    if (s[end] == '"') {
      *i = end + 1;
      return nullptr;
    }
    if (end + 1 == s.size()) return "string without closing quote";  // a backslash ends the line
    const std::size_t escape = kEscapes.find(s[end + 1]);
    if (escape == std::string_view::npos) return "unknown escape";
    if (out != nullptr) out->push_back(kEscaped[escape]);
    at = end + 2;
  }
}

void AppendQuoted(std::string* out, std::string_view text) {
  *out += '"';
  for (char c : text) {
    const std::size_t escape = kEscaped.find(c);
    if (escape != std::string_view::npos) *out += '\\';
    *out += escape != std::string_view::npos ? kEscapes[escape] : c;
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
    const int high = s.size() - i >= 2 ? HexDigitValue(s[i]) : -1;
    const int low = s.size() - i >= 2 ? HexDigitValue(s[i + 1]) : -1;
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
  std::uint32_t type = REG_BINARY;
  std::size_t i = 1;
  if (!s.empty() && s[0] == '"') {
    type = REG_SZ;
    if (Error error = ReadQuoted(s, &i, out)) return error;
    if (out != nullptr) out->push_back('\0');
    if (!OnlyCommentFrom(s, i)) return kTextAfterData;
  } else if (StartsWith(s, kDwordTag)) {
    type = REG_DWORD;
    i = SkipBlanks(s, kDwordTag.size());
    std::uint32_t number;
    if (!ReadHexNumber(s, &i, &number)) return "dword: needs 1 to 8 hex digits";
    if (!OnlyCommentFrom(s, i)) return kTextAfterData;
    for (std::size_t byte = 0; out != nullptr && byte < kDwordSize; ++byte) {
      out->push_back(static_cast<char>(number >> (8 * byte) & 0xffu));
    }
  } else if (StartsWith(s, kHexTag)) {
    if (Error error = ReadHexBytes(s, kHexTag.size(), true, out, continues)) return error;
  } else if (StartsWith(s, kHexTypeTag)) {
    i = kHexTypeTag.size();
    if (!ReadHexNumber(s, &i, &type) || !StartsWith(s.substr(i), kHexTypeEnd)) {
      return "hex(N): needs 1 to 8 hex digits";
    }
    if (Error error = ReadHexBytes(s, i + kHexTypeEnd.size(), true, out, continues)) return error;
  } else {
    return "unknown data type";
  }
  if (value != nullptr) value->type = type;
  return nullptr;
}

// Printable ASCII and one final zero: data that reads back the same from "text".
bool IsPlainText(std::string_view data) {
  return !data.empty() && data.back() == '\0' &&
         std::all_of(data.begin(), data.end() - 1, [](char c) { return c >= ' ' && c <= '~'; });
}

// The data as regedit exports it, on one line: "text" for REG_SZ of printable ASCII, dword: for
// a 4-byte REG_DWORD, hex: for REG_BINARY, hex(N): for the rest.
std::string FormatData(const RegistryValue& value) {
  std::string text;
  if (value.type == REG_SZ && IsPlainText(value.data)) {
    AppendQuoted(&text, std::string_view(value.data).substr(0, value.data.size() - 1));
    return text;
  }
  char tag[sizeof "hex(ffffffff):"];
  if (value.type == REG_DWORD && value.data.size() == kDwordSize) {
    std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(LittleEndian(value.data)));
    return std::string(kDwordTag) + tag;
  }
  std::snprintf(tag, sizeof tag, "hex(%x):", static_cast<unsigned>(value.type));
  text = value.type == REG_BINARY ? std::string(kHexTag) : tag;
  for (const char c : value.data) {
    const auto byte = static_cast<unsigned char>(c);
    text.append({kHexDigits[byte >> 4], kHexDigits[byte & 0xfu], ','});
  }
  if (!value.data.empty()) text.pop_back();  // the last comma
  return text;
}

// "name"=data, or @=data for the default value "".
std::string FormatValueLine(std::string_view name, const RegistryValue& value) {
  std::string line = name.empty() ? "@" : "";
  if (!name.empty()) AppendQuoted(&line, name);
  return line + "=" + FormatData(value);
}

// Whether path holds name from begin, then a backslash or its end.
bool NameAt(std::string_view path, std::size_t begin, std::string_view name) {
  const std::size_t end = begin + name.size();
  return end <= path.size() && (end == path.size() || path[end] == '\\') &&
         EqualsIgnoringCase(path.substr(begin, name.size()), name);
}

// The root key that path starts with, or kNoRoot.
std::size_t RootOf(std::string_view path) {
  std::size_t root = 0;
  while (root < kNoRoot && !NameAt(path, 0, kRootNames[root])) ++root;
  return root;
}

// The first line of what regedit 5 exports: UTF-16 LE with a byte order mark, or the same text
// converted to UTF-8.
bool IsRegedit5Export(std::string_view firstLine) {
  if (StartsWith(firstLine, kByteOrderMark)) firstLine.remove_prefix(kByteOrderMark.size());
  if (!StartsWith(firstLine, kUtf16ByteOrderMark)) return StartsWith(firstLine, kRegedit5Header);
  std::string wide(kUtf16ByteOrderMark);
  for (char c : kRegedit5Header) wide.append({c, '\0'});
  return StartsWith(firstLine, wide);
}

}  // namespace

bool WriteSpliced(std::string_view text, const std::vector<Splice>& splices,
                  const std::function<bool(std::string_view piece)>& write) {
  std::size_t done = 0;
  for (const Splice& splice : splices) {
    if (!write(text.substr(done, splice.offset - done)) || !write(splice.text)) return false;
    done = splice.offset + splice.removed;
  }
  return write(text.substr(done));
}

std::string Spliced(std::string_view text, const std::vector<Splice>& splices) {
  std::string spliced;
  WriteSpliced(text, splices, [&](std::string_view piece) {
    spliced += piece;
    return true;
  });
  return spliced;
}

RegistryKey::RegistryKey(std::string_view keyPath)
    : root_(RootOf(keyPath)), names_(SplitWindowsPath(keyPath)) {
  // No key has an empty name: a path holding one has as many backslashes as names.
  const auto backslashes = std::count(keyPath.begin(), keyPath.end(), '\\');
  if (static_cast<std::size_t>(backslashes) >= names_.size()) root_ = kNoRoot;
  if (!names_.empty()) names_.erase(names_.begin());  // the root's
}

std::optional<RegistryKey> RegistryKey::ReadText(std::string_view keyPath, std::string_view text,
                                                 std::string* error) {
  RegistryKey key(keyPath);
  key.firstZero_ = text.find('\0');
  std::size_t lineNumber = 1;
  Error reason = nullptr;
  // An empty text is one empty line; a line break at the end starts none.
  for (std::size_t begin = 0;; ++lineNumber) {
    const std::size_t lineFeed = text.find('\n', begin);
    const bool last = lineFeed == std::string_view::npos;
    const std::size_t end = last ? text.size() : lineFeed;
    reason = key.ReadLine(text.substr(begin, end - begin), begin, !last);
    if (reason != nullptr || last || end + 1 == text.size()) break;
    begin = end + 1;
  }
  key.textSize_ = text.size();
  if (reason == nullptr && key.state_ == State::kHexContinued) {
    reason = "file ends inside continued hex data";
  }
  if (reason == nullptr) return key;
  if (error != nullptr) *error = "line " + std::to_string(lineNumber) + ": " + reason;
  return std::nullopt;
}

bool RegistryKey::Exists() const {
  return root_ != kNoRoot && written_.size() == names_.size();
}

NamedValues RegistryKey::Values() const {
  NamedValues values;
  for (const Held& held : values_) values.emplace_back(held.name, held.value);
  return values;
}

std::size_t RegistryKey::IndexOf(std::string_view name) const {
  std::size_t index = 0;
  while (index < values_.size() && !EqualsIgnoringCase(values_[index].name, name)) ++index;
  return index;
}

std::optional<RegistryValue> RegistryKey::Value(std::string_view name) const {
  const std::size_t index = IndexOf(name);
  if (index == values_.size()) return std::nullopt;
  return values_[index].value;
}

std::optional<std::vector<Splice>> RegistryKey::Set(const NamedValues& values) const {
  if (!Exists()) return std::nullopt;
  // One value per name: the last one given, where the first one was given.
  NamedValues wanted;
  for (const auto& [name, value] : values) {
    if (name.find('\0') != std::string::npos) return std::nullopt;
    auto same = wanted.begin();
    while (same != wanted.end() && !EqualsIgnoringCase(same->first, name)) ++same;
    if (same == wanted.end()) same = wanted.insert(same, {name, {}});
    same->second = value;
  }
  std::vector<Splice> splices;
  std::string added;  // the new value lines, each after a line break
  for (const auto& [name, value] : wanted) {
    const std::size_t index = IndexOf(name);
    if (index == values_.size()) {
      added += lineBreak_ + FormatValueLine(name, value);
    } else if (const Held& held = values_[index]; held.value != value) {
      splices.push_back({held.dataBegin, held.end - held.dataBegin, FormatData(value)});
    }
  }
  std::sort(splices.begin(), splices.end(),
            [](const Splice& a, const Splice& b) { return a.offset < b.offset; });
  if (added.empty()) return splices;
  const std::string lines = added.substr(lineBreak_.size());
  if (!sectionEnd_) {
    // As regedit exports: a blank line before each section, and one at the end of the file.
    std::string section = endsWithLineBreak_ ? "" : lineBreak_;
    if (!(endsWithLineBreak_ && lastLineEmpty_)) section += lineBreak_;
    section += "[" + Path() + "]" + lineBreak_ + lines + lineBreak_ + lineBreak_;
    splices.push_back({lineEnd_, 0, section});
  } else {
    splices.push_back({*sectionEnd_, 0, sectionEndsText_ ? added : lines + lineBreak_});
  }
  return splices;
}

std::vector<Splice> RegistryKey::Remove(const std::vector<std::string>& names) const {
  std::vector<bool> removed(values_.size());
  for (const std::string& name : names) {
    if (const std::size_t index = IndexOf(name); index < values_.size()) removed[index] = true;
  }
  std::vector<Lines> lines;
  for (std::size_t index = 0; index < values_.size(); ++index) {
    if (removed[index])
      lines.insert(lines.end(), values_[index].setBy.begin(), values_[index].setBy.end());
  }
  std::sort(lines.begin(), lines.end(),
            [](const Lines& a, const Lines& b) { return a.begin < b.begin; });
  // Lines next to each other go as one run, which keeps the line break before its first line.
  std::vector<Lines> runs;
  for (const Lines& line : lines) {
    if (!runs.empty() && runs.back().end == line.begin) {
      runs.back().end = line.end;
    } else {
      runs.push_back(line);
    }
  }
  std::vector<Splice> splices;
  for (const Lines& run : runs) {
    const bool endsText = run.end == textSize_ && !endsWithLineBreak_;
    const std::size_t begin = run.begin - (endsText ? run.breakBefore : 0);
    splices.push_back({begin, run.end - begin, ""});
  }
  return splices;
}

// The import, line by line: a state machine over the lines of the file.
Error RegistryKey::ReadLine(std::string_view line, std::size_t begin, bool lineFeed) {
  lineBegin_ = begin;
  lineEnd_ = begin + line.size() + (lineFeed ? 1 : 0);
  const bool crlf = lineFeed && !line.empty() && line.back() == '\r';
  if (crlf) line.remove_suffix(1);
  breakBefore_ = breakLength_;
  breakLength_ = lineFeed ? (crlf ? 2 : 1) : 0;
  endsWithLineBreak_ = lineFeed;
  lastLineEmpty_ = line.empty();
  if (state_ == State::kHeader && IsRegedit5Export(line)) {
    return "a regedit 5 export (Windows Registry Editor Version 5.00): export as REGEDIT4 or "
           "convert it";
  }
  // regedit cuts lines at these, where this reader would read on.
  if (line.find('\r') != std::string_view::npos) return "carriage return without line feed";
  if (firstZero_ < lineEnd_) return "zero byte";
  if (state_ == State::kHeader) {
    if (line != kHeader) {
      return StartsWith(line, kByteOrderMark) ? "byte order mark before REGEDIT4"
                                              : "the first line must be REGEDIT4";
    }
    lineBreak_ = lineFeed && !crlf ? "\n" : "\r\n";  // new lines end like the header
    state_ = State::kOutsideKey;
    return nullptr;
  }
  if (state_ == State::kHexContinued) return ReadContinuation(line);
  const std::size_t first = SkipBlanks(line, 0);
  if (first == line.size() || line[first] == ';') return nullptr;
  if (line[first] == '[') return ReadSection(line, first);
  if (line[first] != '@' && line[first] != '"') return "not a key, a value or a comment";
  if (state_ != State::kInKey) return "value outside a key section";
  return ReadValue(line, first);
}

// [KEY] or [-KEY]. Like regedit, the name runs to the line's last ']'. Only the names that lead
// to the key are compared; the rest of the path just has to be valid.
Error RegistryKey::ReadSection(std::string_view line, std::size_t open) {
  const std::size_t close = line.rfind(']');
  if (close == std::string_view::npos) return "key name without closing ]";
  if (!OnlyCommentFrom(line, close + 1)) return "text after ]";
  const bool deletes = open + 1 < close && line[open + 1] == '-';
  const std::string_view path = line.substr(open + 1 + deletes, close - open - 1 - deletes);
  const std::size_t root = RootOf(path);
  if (root == kNoRoot) return "unknown root key";
  const std::size_t rootEnd = kRootNames[root].size();
  std::size_t shared = 0;    // names below the root that lead to the key
  std::size_t at = rootEnd;  // at the backslash before the first name not compared, or the end
  while (root == root_ && shared < names_.size() && NameAt(path, at + 1, names_[shared])) {
    const std::string_view name = path.substr(at + 1, names_[shared].size());
    // A name that does not exist yet is created as this line writes it.
    if (!deletes && written_.size() == shared) written_.emplace_back(name);
    at += 1 + name.size();
    ++shared;
  }
  const std::string_view rest = path.substr(at);
  if (rest.find("\\\\") != std::string_view::npos || (!rest.empty() && rest.back() == '\\')) {
    return "empty key name";
  }
  if (deletes && rootEnd == path.size()) return "a root key cannot be deleted";
  // The path is the key's or a parent's: the same root, and every name one of the key's.
  const bool leadsToKey = root == root_ && at == path.size();
  inKey_ = !deletes && leadsToKey && shared == names_.size();
  state_ = deletes ? State::kOutsideKey : State::kInKey;
  if (inKey_) EndSection();
  if (deletes && leadsToKey && shared <= written_.size()) {
    // The key or a parent of it goes, with all below it; a key made again is a new key.
    written_.resize(shared - 1);
    values_.clear();
    sectionEnd_.reset();
  }
  return nullptr;
}

// "name"=data or @=data, blanks allowed around '=', from the name's first byte; "name"=- deletes.
Error RegistryKey::ReadValue(std::string_view line, std::size_t nameBegin) {
  name_.clear();
  value_.data.clear();
  std::size_t i = nameBegin + 1;
  if (line[nameBegin] == '"') {
    if (Error error = ReadQuoted(line, &i, inKey_ ? &name_ : nullptr)) return error;
  }
  i = SkipBlanks(line, i);
  if (i == line.size() || line[i] != '=') return "expected = after the value name";
  i = SkipBlanks(line, i + 1);
  const bool deletes = i < line.size() && line[i] == '-';
  bool continues = false;
  if (Error error = deletes ? (OnlyCommentFrom(line, i + 1) ? nullptr : kTextAfterData)
                            : ReadData(line.substr(i), inKey_ ? &value_ : nullptr, &continues)) {
    return error;
  }
  if (continues) state_ = State::kHexContinued;
  if (!inKey_) return nullptr;
  EndSection();
  continued_ = name_;
  const std::size_t index = IndexOf(name_);
  if (deletes) {
    if (index < values_.size()) values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(index));
    return nullptr;
  }
  if (index == values_.size()) values_.push_back({name_, {}, 0, 0, {}});
  Held& held = values_[index];
  held.value = value_;
  held.dataBegin = lineBegin_ + i;
  held.end = lineBegin_ + line.size();
  held.setBy.push_back({lineBegin_, lineEnd_, breakBefore_});
  return nullptr;
}

// The hex bytes of a value that go on from the line before.
Error RegistryKey::ReadContinuation(std::string_view line) {
  const std::size_t index = IndexOf(continued_);
  Held* held = inKey_ && index < values_.size() ? &values_[index] : nullptr;
  bool continues;
  if (Error error = ReadHexBytes(line, SkipBlanks(line, 0), false,
                                 held != nullptr ? &held->value.data : nullptr, &continues)) {
    return error;
  }
  if (held != nullptr) {
    held->end = lineBegin_ + line.size();
    held->setBy.back().end = lineEnd_;
    EndSection();
  }
  if (!continues) state_ = State::kInKey;
  return nullptr;
}

void RegistryKey::EndSection() {
  sectionEnd_ = lineEnd_;
  sectionEndsText_ = !endsWithLineBreak_;
}

std::string RegistryKey::Path() const {
  std::string path(kRootNames[root_]);
  for (const std::string& name : written_) path += "\\" + name;
  return path;
}

}  // namespace emulation
