#include "platform/emulation/regedit4.h"

#include <cstdio>
#include <iterator>

namespace emulation {
namespace {

// Why a line cannot be read, or nullptr when it can.
using Error = const char*;

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr char kEmptyFile[] = "REGEDIT4\r\n\r\n";
constexpr std::string_view kDefaultLineBreak = "\r\n";
constexpr std::string_view kRootNames[] = {
    "HKEY_LOCAL_MACHINE",  "HKEY_USERS",        "HKEY_CLASSES_ROOT",
    "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER", "HKEY_DYN_DATA",
};
constexpr std::size_t kRootCount = std::size(kRootNames);
constexpr std::uint32_t kNoRoot = 0xffffffffu;

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

constexpr char kBadHeader[] = "the first line must be REGEDIT4";
constexpr char kByteOrderMarkFound[] = "byte order mark before REGEDIT4";
constexpr char kLoneCarriageReturn[] = "carriage return without line feed";
constexpr char kZeroByte[] = "zero byte";
constexpr char kUnknownLine[] = "not a key, a value or a comment";
constexpr char kValueOutsideKey[] = "value outside a key section";
constexpr char kKeyNotClosed[] = "key name without closing ]";
constexpr char kTextAfterKey[] = "text after ]";
constexpr char kUnknownRoot[] = "unknown root key";
constexpr char kEmptyKeyName[] = "empty key name";
constexpr char kRootDeletion[] = "a root key cannot be deleted";
constexpr char kUnclosedString[] = "string without closing quote";
constexpr char kUnknownEscape[] = "unknown escape";
constexpr char kNoEquals[] = "expected = after the value name";
constexpr char kUnknownType[] = "unknown data type";
constexpr char kTextAfterData[] = "text after the data";
constexpr char kBadDword[] = "dword: needs 1 to 8 hex digits";
constexpr char kBadHexType[] = "hex(N): needs 1 to 8 hex digits";
constexpr char kBadHexByte[] = "expected a byte of two hex digits";
constexpr char kUnfinishedHex[] = "file ends inside continued hex data";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

char ToLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToLower(a[i]) != ToLower(b[i])) return false;
  }
  return true;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::size_t SkipBlanks(std::string_view s, std::size_t i) {
  while (i < s.size() && IsBlank(s[i])) ++i;
  return i;
}

// Regedit allows blanks and a ';' comment after a line's last item.
bool OnlyCommentFrom(std::string_view s, std::size_t i) {
  i = SkipBlanks(s, i);
  return i == s.size() || s[i] == ';';
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

std::string LittleEndianBytes(std::uint32_t number) {
  std::string bytes(kDwordSize, '\0');
  for (std::size_t i = 0; i < kDwordSize; ++i) {
    bytes[i] = static_cast<char>(number >> (8 * i) & 0xffu);
  }
  return bytes;
}

std::uint32_t LittleEndianNumber(std::string_view bytes) {
  std::uint32_t number = 0;
  for (std::size_t i = 0; i < kDwordSize; ++i) {
    number |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  }
  return number;
}

// The hash of an owner (a key's parent, a value's key) and a name in lower case: FNV-1a, then
// mixed so that its low bits, which pick the slot, depend on all of it.
std::uint64_t NameHash(std::uint32_t owner, std::string_view name) {
  std::uint64_t hash = 0xcbf29ce484222325u ^ owner;
  for (char c : name) hash = (hash ^ static_cast<unsigned char>(ToLower(c))) * 0x100000001b3u;
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdu;
  return hash ^ hash >> 33;
}

// Splits "ROOT\a\b" into the root's index and "a\b".
Error SplitKeyPath(std::string_view path, std::uint32_t* root, std::string_view* subkeys) {
  const std::size_t slash = path.find('\\');
  *root = kNoRoot;
  for (std::size_t i = 0; i < kRootCount; ++i) {
    if (EqualsIgnoringCase(path.substr(0, slash), kRootNames[i])) {
      *root = static_cast<std::uint32_t>(i);
    }
  }
  if (*root == kNoRoot) return kUnknownRoot;
  *subkeys = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  if (slash != std::string_view::npos &&
      (subkeys->empty() || subkeys->front() == '\\' || subkeys->back() == '\\' ||
       subkeys->find("\\\\") != std::string_view::npos)) {
    return kEmptyKeyName;
  }
  return nullptr;
}

// Takes the first component off "a\b\c".
std::string_view NextComponent(std::string_view* subkeys) {
  const std::size_t slash = subkeys->find('\\');
  const std::string_view component = subkeys->substr(0, slash);
  subkeys->remove_prefix(slash == std::string_view::npos ? subkeys->size() : slash + 1);
  return component;
}

// Reads a quoted string from just after its opening quote to just after its closing one,
// passing each unescaped byte to take.
template <typename Take>
Error ReadQuoted(std::string_view s, std::size_t* i, Take take) {
  for (std::size_t at = *i; at < s.size(); ++at) {
    char c = s[at];
    if (c == '"') {
      *i = at + 1;
      return nullptr;
    }
    if (c == '\\') {
      if (++at == s.size()) break;
      switch (s[at]) {
        case '\\':
        case '"':
          c = s[at];
          break;
        case 'n':
          c = '\n';
          break;
        case 'r':
          c = '\r';
          break;
        default:
          return kUnknownEscape;
      }
    }
    take(c);
  }
  return kUnclosedString;
}

void AppendEscaped(std::string* out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\\':
        *out += "\\\\";
        break;
      case '"':
        *out += "\\\"";
        break;
      case '\n':
        *out += "\\n";
        break;
      case '\r':
        *out += "\\r";
        break;
      default:
        *out += c;
    }
  }
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

// Reads the data of a value line, from its first byte to the end of the line: a string,
// dword: or hex bytes. Fills value when given.
Error ReadData(std::string_view s, RegistryValue* value, bool* continues) {
  *continues = false;
  std::string* out = value != nullptr ? &value->data : nullptr;
  std::size_t i = 0;
  if (StartsWith(s, "\"")) {
    i = 1;
    if (Error error = ReadQuoted(s, &i, [out](char c) {
          if (out != nullptr) out->push_back(c);
        })) {
      return error;
    }
    if (value != nullptr) {
      value->type = kRegSz;
      value->data.push_back('\0');
    }
    return OnlyCommentFrom(s, i) ? nullptr : kTextAfterData;
  }
  if (StartsWith(s, kDwordTag)) {
    i = SkipBlanks(s, kDwordTag.size());
    std::uint32_t number;
    if (!ReadHexNumber(s, &i, &number)) return kBadDword;
    if (!OnlyCommentFrom(s, i)) return kTextAfterData;
    if (value != nullptr) *value = {kRegDword, LittleEndianBytes(number)};
    return nullptr;
  }
  std::uint32_t type = kRegBinary;
  if (StartsWith(s, kHexTag)) {
    i = kHexTag.size();
  } else if (StartsWith(s, kHexTypeTag)) {
    i = kHexTypeTag.size();
    if (!ReadHexNumber(s, &i, &type) || !StartsWith(s.substr(i), kHexTypeEnd)) {
      return kBadHexType;
    }
    i += kHexTypeEnd.size();
  } else {
    return kUnknownType;
  }
  if (value != nullptr) value->type = type;
  return ReadHexBytes(s, i, true, out, continues);
}

// A value line's parts, as offsets into the line.
struct ValueLine {
  std::size_t dataBegin = 0;
  bool deletes = false;
  bool continues = false;
};

// Reads "name"=data or @=data, blanks allowed around '='. The unescaped name goes to name.
Error ReadValueLine(std::string_view line, std::size_t nameBegin, std::string* name,
                    ValueLine* parsed) {
  name->clear();
  std::size_t i = nameBegin + 1;
  if (line[nameBegin] == '"') {
    if (Error error = ReadQuoted(line, &i, [name](char c) { name->push_back(c); })) return error;
  }
  i = SkipBlanks(line, i);
  if (i == line.size() || line[i] != '=') return kNoEquals;
  i = SkipBlanks(line, i + 1);
  parsed->dataBegin = i;
  parsed->deletes = i < line.size() && line[i] == '-';
  if (parsed->deletes) return OnlyCommentFrom(line, i + 1) ? nullptr : kTextAfterData;
  return ReadData(line.substr(i), nullptr, &parsed->continues);
}

// Reads [KEY] or [-KEY]. Like regedit, the name runs to the line's last ']'.
Error ReadSectionLine(std::string_view line, std::size_t open, std::string_view* path,
                      bool* deletes) {
  const std::size_t close = line.rfind(']');
  if (close == std::string_view::npos) return kKeyNotClosed;
  if (!OnlyCommentFrom(line, close + 1)) return kTextAfterKey;
  std::size_t begin = open + 1;
  *deletes = begin < close && line[begin] == '-';
  if (*deletes) ++begin;
  *path = line.substr(begin, close - begin);
  std::uint32_t root;
  std::string_view subkeys;
  if (Error error = SplitKeyPath(*path, &root, &subkeys)) return error;
  return *deletes && subkeys.empty() ? kRootDeletion : nullptr;
}

// Windows stores REG_SZ data with its terminating zero even when the caller leaves it out.
RegistryValue AsStored(const RegistryValue& value) {
  RegistryValue stored = value;
  if (stored.type == kRegSz && (stored.data.empty() || stored.data.back() != '\0')) {
    stored.data.push_back('\0');
  }
  return stored;
}

// Printable ASCII and one final zero: data that reads back the same from "text".
bool IsPlainText(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] < ' ' || data[i] > '~') return false;
  }
  return true;
}

// The data as regedit exports it, on one line.
std::string FormatData(const RegistryValue& value) {
  std::string text;
  if (value.type == kRegSz && IsPlainText(value.data)) {
    text += '"';
    AppendEscaped(&text, std::string_view(value.data).substr(0, value.data.size() - 1));
    text += '"';
    return text;
  }
  char number[sizeof "hex(ffffffff):"];
  if (value.type == kRegDword && value.data.size() == kDwordSize) {
    std::snprintf(number, sizeof number, "%08x",
                  static_cast<unsigned>(LittleEndianNumber(value.data)));
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

std::string FormatName(std::string_view name) {
  if (name.empty()) return "@";
  std::string text = "\"";
  AppendEscaped(&text, name);
  text += '"';
  return text;
}

// A path a [KEY] line can hold.
bool IsWritableKeyPath(std::string_view path) {
  std::uint32_t root;
  std::string_view subkeys;
  return path.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos &&
         SplitKeyPath(path, &root, &subkeys) == nullptr;
}

// Whether the text, which ends with a line break, ends with an empty line.
bool EndsWithBlankLine(std::string_view text) {
  text.remove_suffix(StartsWith(text.substr(text.size() - 2), "\r\n") ? 2 : 1);
  return !text.empty() && text.back() == '\n';
}

}  // namespace

// The import, line by line: a state machine over the lines of the file.
class RegistryText::Loader {
 public:
  explicit Loader(RegistryText* store) : store_(*store), text_(store->text_) {}

  // Reads the whole text; on failure, lineNumber is where.
  Error Run(std::size_t* lineNumber) {
    std::size_t begin = 0;
    *lineNumber = 0;
    do {
      ++*lineNumber;
      const std::size_t newline = text_.find('\n', begin);
      std::size_t end = newline == std::string_view::npos ? text_.size() : newline;
      const std::size_t next = newline == std::string_view::npos ? end : newline + 1;
      if (newline != std::string_view::npos && end > begin && text_[end - 1] == '\r') --end;
      const std::string_view line = text_.substr(begin, end - begin);
      if (line.find('\r') != std::string_view::npos) return kLoneCarriageReturn;
      if (line.find('\0') != std::string_view::npos) return kZeroByte;
      if (Error error = ReadLine(line, begin)) return error;
      begin = next;
    } while (begin < text_.size());
    return state_ == State::kHexContinued ? kUnfinishedHex : nullptr;
  }

 private:
  enum class State { kHeader, kOutsideKey, kInKey, kHexContinued };

  Error ReadLine(std::string_view line, std::size_t lineBegin) {
    if (state_ == State::kHeader) return ReadHeader(line);
    if (state_ == State::kHexContinued) return ReadContinuation(line, lineBegin);
    const std::size_t first = SkipBlanks(line, 0);
    if (first == line.size() || line[first] == ';') return nullptr;
    if (line[first] == '[') return ReadSection(line, first, lineBegin);
    if (line[first] != '@' && line[first] != '"') return kUnknownLine;
    if (state_ != State::kInKey) return kValueOutsideKey;
    return ReadValue(line, first, lineBegin);
  }

  Error ReadHeader(std::string_view line) {
    if (line != kHeader) return StartsWith(line, kByteOrderMark) ? kByteOrderMarkFound : kBadHeader;
    // New lines end like the header.
    const std::string_view lineBreak = text_.substr(line.size(), 2);
    store_.lineBreak_ = lineBreak.empty()             ? kDefaultLineBreak
                        : StartsWith(lineBreak, "\n") ? "\n"
                                                      : "\r\n";
    state_ = State::kOutsideKey;
    return nullptr;
  }

  Error ReadSection(std::string_view line, std::size_t open, std::size_t lineBegin) {
    std::string_view path;
    bool deletes;
    if (Error error = ReadSectionLine(line, open, &path, &deletes)) return error;
    if (deletes) {
      const std::uint32_t key = store_.FindKey(path);
      if (key != kNone) store_.DeleteTree(key);
      state_ = State::kOutsideKey;
      return nullptr;
    }
    key_ = store_.FindOrCreateKey(path);
    store_.keys_[key_].sectionEnd = lineBegin + line.size();
    state_ = State::kInKey;
    return nullptr;
  }

  Error ReadValue(std::string_view line, std::size_t nameBegin, std::size_t lineBegin) {
    ValueLine parsed;
    if (Error error = ReadValueLine(line, nameBegin, &name_, &parsed)) return error;
    const std::size_t end = lineBegin + line.size();
    store_.keys_[key_].sectionEnd = end;
    if (parsed.deletes) {
      const std::uint32_t deleted = store_.FindValue(key_, name_);
      if (deleted != kNone) store_.values_[deleted].alive = false;
      return nullptr;
    }
    value_ = store_.ValueFor(key_, name_, lineBegin + nameBegin);
    Value& value = store_.values_[value_];
    value.dataBegin = lineBegin + parsed.dataBegin;
    value.end = end;
    if (parsed.continues) state_ = State::kHexContinued;
    return nullptr;
  }

  Error ReadContinuation(std::string_view line, std::size_t lineBegin) {
    bool continues;
    if (Error error = ReadHexBytes(line, SkipBlanks(line, 0), false, nullptr, &continues)) {
      return error;
    }
    const std::size_t end = lineBegin + line.size();
    store_.values_[value_].end = end;
    store_.keys_[key_].sectionEnd = end;
    if (!continues) state_ = State::kInKey;
    return nullptr;
  }

  RegistryText& store_;
  const std::string_view text_;
  State state_ = State::kHeader;
  std::uint32_t key_ = kNone;    // the open section's
  std::uint32_t value_ = kNone;  // the one whose hex bytes go on
  std::string name_;             // a buffer reused from line to line
};

RegistryText::RegistryText() {
  keys_.resize(kRootCount);
}

std::optional<RegistryText> RegistryText::Parse(std::string text, std::string* error) {
  RegistryText store;
  store.text_ = std::move(text);
  std::size_t lineNumber;
  if (Error reason = Loader(&store).Run(&lineNumber)) {
    if (error != nullptr) *error = "line " + std::to_string(lineNumber) + ": " + reason;
    return std::nullopt;
  }
  return std::optional<RegistryText>(std::move(store));
}

RegistryText RegistryText::Empty() {
  return std::move(*Parse(kEmptyFile, nullptr));
}

bool RegistryText::HasKey(std::string_view keyPath) const {
  return FindKey(keyPath) != kNone;
}

std::optional<RegistryValue> RegistryText::GetValue(std::string_view keyPath,
                                                    std::string_view name) const {
  const std::uint32_t key = FindKey(keyPath);
  if (key == kNone) return std::nullopt;
  const std::uint32_t value = FindValue(key, name);
  if (value == kNone) return std::nullopt;
  return ValueData(values_[value]);
}

bool RegistryText::CreateKey(std::string_view keyPath) {
  if (!IsWritableKeyPath(keyPath)) return false;
  if (FindKey(keyPath) != kNone) return true;
  const std::string path(keyPath);  // in case it points into the text
  const std::size_t pathBegin = AppendSectionHeader(path);
  const std::uint32_t key = FindOrCreateKey(std::string_view(text_).substr(pathBegin, path.size()));
  keys_[key].sectionEnd = pathBegin + path.size() + 1;
  return true;
}

bool RegistryText::SetValue(std::string_view keyPath, std::string_view name,
                            const RegistryValue& value) {
  const std::uint32_t key = FindKey(keyPath);
  if (key == kNone || name.find('\0') != std::string_view::npos) return false;
  const RegistryValue stored = AsStored(value);
  const std::string data = FormatData(stored);
  const std::uint32_t existing = FindValue(key, name);
  if (existing != kNone) {
    Value& old = values_[existing];
    if (ValueData(old) == stored) return true;
    const std::size_t removed = old.end - old.dataBegin;
    text_.replace(old.dataBegin, removed, data);
    ShiftOffsetsAfter(old.dataBegin, removed, data.size());
    return true;
  }
  const std::string nameText = FormatName(name);
  const std::string line = nameText + "=" + data;
  if (keys_[key].sectionEnd == kNoSection) {
    const std::string path = KeyPath(key);
    keys_[key].sectionEnd = AppendSectionHeader(path) + path.size() + 1;
  }
  const std::size_t lineBegin = InsertLineAfter(keys_[key].sectionEnd, line);
  keys_[key].sectionEnd = lineBegin + line.size();
  Value& added = values_[ValueFor(key, name, lineBegin)];
  added.dataBegin = lineBegin + nameText.size() + 1;
  added.end = lineBegin + line.size();
  return true;
}

std::vector<std::string> RegistryText::Keys() const {
  // A parent always comes before its children, so one pass builds every path.
  std::vector<std::string> paths(keys_.size());
  std::vector<std::string> alive;
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    if (i < kRootCount) {
      paths[i] = kRootNames[i];
      continue;
    }
    paths[i] = paths[keys_[i].parent];
    paths[i] += '\\';
    paths[i] += KeyName(static_cast<std::uint32_t>(i));
    if (keys_[i].alive) alive.push_back(paths[i]);
  }
  return alive;
}

std::vector<std::pair<std::string, RegistryValue>> RegistryText::Values(
    std::string_view keyPath) const {
  std::vector<std::pair<std::string, RegistryValue>> values;
  const std::uint32_t key = FindKey(keyPath);
  if (key == kNone) return values;
  for (std::uint32_t i = keys_[key].firstValue; i != kNone; i = values_[i].next) {
    if (values_[i].alive) values.emplace_back(ValueName(values_[i]), ValueData(values_[i]));
  }
  return values;
}

template <typename Matches>
std::size_t RegistryText::NameIndex::Probe(std::uint64_t hash, Matches matches) const {
  const std::size_t mask = slots.size() - 1;
  for (std::size_t at = static_cast<std::size_t>(hash) & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots[at];
    if (slot.entry == kNone || (slot.hash == hash && matches(slot.entry))) return at;
  }
}

void RegistryText::NameIndex::MakeRoom() {
  // At most half full, so that probes stay short.
  if ((used + 1) * 2 <= slots.size()) return;
  std::vector<Slot> old(slots.size() * 2, Slot{0, kNone});
  old.swap(slots);
  const std::size_t mask = slots.size() - 1;
  for (const Slot& slot : old) {
    if (slot.entry == kNone) continue;
    std::size_t at = static_cast<std::size_t>(slot.hash) & mask;
    while (slots[at].entry != kNone) at = (at + 1) & mask;
    slots[at] = slot;
  }
}

void RegistryText::NameIndex::Fill(std::size_t at, std::uint64_t hash, std::uint32_t entry) {
  if (slots[at].entry == kNone) ++used;
  slots[at] = {hash, entry};
}

std::string_view RegistryText::KeyName(std::uint32_t key) const {
  if (key < kRootCount) return kRootNames[key];
  return std::string_view(text_).substr(keys_[key].nameBegin, keys_[key].nameSize);
}

std::string RegistryText::KeyPath(std::uint32_t key) const {
  std::string path(KeyName(key));
  for (std::uint32_t i = keys_[key].parent; i != kNone; i = keys_[i].parent) {
    path = std::string(KeyName(i)) + "\\" + path;
  }
  return path;
}

std::size_t RegistryText::ProbeChild(std::uint32_t parent, std::string_view name,
                                     std::uint64_t hash) const {
  return keyIndex_.Probe(hash, [&](std::uint32_t key) {
    return keys_[key].parent == parent && EqualsIgnoringCase(KeyName(key), name);
  });
}

std::uint32_t RegistryText::FindKey(std::string_view keyPath) const {
  std::uint32_t key;
  std::string_view subkeys;
  if (SplitKeyPath(keyPath, &key, &subkeys) != nullptr) return kNone;
  while (!subkeys.empty()) {
    const std::string_view name = NextComponent(&subkeys);
    key = keyIndex_.slots[ProbeChild(key, name, NameHash(key, name))].entry;
    if (key == kNone || !keys_[key].alive) return kNone;
  }
  return key;
}

std::uint32_t RegistryText::FindOrCreateKey(std::string_view keyPath) {
  std::uint32_t key;
  std::string_view subkeys;
  SplitKeyPath(keyPath, &key, &subkeys);
  while (!subkeys.empty()) {
    const std::string_view name = NextComponent(&subkeys);
    const std::uint64_t hash = NameHash(key, name);
    keyIndex_.MakeRoom();
    const std::size_t at = ProbeChild(key, name, hash);
    const std::uint32_t found = keyIndex_.slots[at].entry;
    if (found != kNone && keys_[found].alive) {
      key = found;
      continue;
    }
    // New, or created again after a deletion: a fresh key without the old one's values.
    const auto child = static_cast<std::uint32_t>(keys_.size());
    Key& added = keys_.emplace_back();
    added.nameBegin = static_cast<std::size_t>(name.data() - text_.data());
    added.nameSize = static_cast<std::uint32_t>(name.size());
    added.parent = key;
    added.nextSibling = keys_[key].firstChild;
    keys_[key].firstChild = child;
    keyIndex_.Fill(at, hash, child);
    key = child;
  }
  return key;
}

bool RegistryText::HasName(const Value& value, std::string_view name) const {
  if (text_[value.nameBegin] == '@') return name.empty();
  std::size_t i = value.nameBegin + 1;
  std::size_t matched = 0;
  bool same = true;
  ReadQuoted(text_, &i, [&](char c) {
    same = same && matched < name.size() && ToLower(c) == ToLower(name[matched]);
    ++matched;
  });
  return same && matched == name.size();
}

std::size_t RegistryText::ProbeValue(std::uint32_t key, std::string_view name,
                                     std::uint64_t hash) const {
  return valueIndex_.Probe(hash, [&](std::uint32_t value) {
    return values_[value].key == key && HasName(values_[value], name);
  });
}

std::uint32_t RegistryText::FindValue(std::uint32_t key, std::string_view name) const {
  const std::uint32_t value = valueIndex_.slots[ProbeValue(key, name, NameHash(key, name))].entry;
  return value != kNone && values_[value].alive ? value : kNone;
}

std::uint32_t RegistryText::ValueFor(std::uint32_t key, std::string_view name,
                                     std::size_t nameBegin) {
  const std::uint64_t hash = NameHash(key, name);
  valueIndex_.MakeRoom();
  const std::size_t at = ProbeValue(key, name, hash);
  const std::uint32_t found = valueIndex_.slots[at].entry;
  if (found != kNone && values_[found].alive) return found;
  const auto value = static_cast<std::uint32_t>(values_.size());
  Value& added = values_.emplace_back();
  added.key = key;
  added.nameBegin = nameBegin;
  Key& owner = keys_[key];
  if (owner.lastValue == kNone) {
    owner.firstValue = value;
  } else {
    values_[owner.lastValue].next = value;
  }
  owner.lastValue = value;
  valueIndex_.Fill(at, hash, value);
  return value;
}

void RegistryText::DeleteTree(std::uint32_t key) {
  // Its values go with it: a key created again is a new Key. A dead key's subkeys are dead
  // already, so over the whole file each key is walked once.
  pending_.assign(1, key);
  while (!pending_.empty()) {
    Key& doomed = keys_[pending_.back()];
    pending_.pop_back();
    doomed.alive = false;
    for (std::uint32_t i = doomed.firstChild; i != kNone; i = keys_[i].nextSibling) {
      if (keys_[i].alive) pending_.push_back(i);
    }
  }
}

std::string RegistryText::ValueName(const Value& value) const {
  std::string name;
  std::size_t i = value.nameBegin + 1;
  if (text_[value.nameBegin] == '"') ReadQuoted(text_, &i, [&name](char c) { name.push_back(c); });
  return name;
}

RegistryValue RegistryText::ValueData(const Value& value) const {
  // Parse checked these lines; here they are only decoded.
  RegistryValue data{};
  std::string_view rest =
      std::string_view(text_).substr(value.dataBegin, value.end - value.dataBegin);
  std::size_t lineEnd = rest.find_first_of("\r\n");
  bool continues;
  ReadData(rest.substr(0, lineEnd), &data, &continues);
  while (continues) {
    rest.remove_prefix(lineEnd);
    rest.remove_prefix(StartsWith(rest, "\r\n") ? 2 : 1);
    lineEnd = rest.find_first_of("\r\n");
    const std::string_view line = rest.substr(0, lineEnd);
    ReadHexBytes(line, SkipBlanks(line, 0), false, &data.data, &continues);
  }
  return data;
}

void RegistryText::ShiftOffsetsAfter(std::size_t position, std::size_t removed, std::size_t added) {
  const auto shift = [&](std::size_t& offset) {
    if (offset != kNoSection && offset > position) offset = offset - removed + added;
  };
  for (Key& key : keys_) {
    shift(key.nameBegin);
    shift(key.sectionEnd);
  }
  for (Value& value : values_) {
    shift(value.nameBegin);
    shift(value.dataBegin);
    shift(value.end);
  }
}

std::size_t RegistryText::InsertLineAfter(std::size_t lineEnd, std::string_view line) {
  // After the line break of the line it follows, so that line keeps its own bytes.
  std::string inserted;
  std::size_t at = lineEnd;
  std::size_t lineBegin = at;
  if (at == text_.size()) {
    inserted = lineBreak_;
    lineBegin += lineBreak_.size();
    inserted += line;
  } else {
    at += text_[at] == '\r' ? 2u : 1u;
    lineBegin = at;
    inserted = line;
    inserted += lineBreak_;
  }
  text_.insert(at, inserted);
  ShiftOffsetsAfter(lineEnd, 0, inserted.size());
  return lineBegin;
}

std::size_t RegistryText::AppendSectionHeader(std::string_view keyPath) {
  // As regedit exports: a blank line before each section, and one at the end of the file.
  if (text_.back() != '\n') text_ += lineBreak_;
  if (!EndsWithBlankLine(text_)) text_ += lineBreak_;
  text_ += '[';
  const std::size_t pathBegin = text_.size();
  text_ += keyPath;
  text_ += ']';
  text_ += lineBreak_;
  text_ += lineBreak_;
  return pathBegin;
}

}  // namespace emulation
