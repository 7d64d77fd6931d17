#include "platform/emulation/regedit4.h"

#include <algorithm>
#include <iterator>

#include "platform/emulation/ascii.h"

namespace emulation {
namespace {

using regedit4::Error;

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16ByteOrderMark = "\xFF\xFE";
constexpr std::string_view kRegedit5Header = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRootNames[] = {
    "HKEY_LOCAL_MACHINE",  "HKEY_USERS",        "HKEY_CLASSES_ROOT",
    "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER", "HKEY_DYN_DATA",
};
constexpr std::size_t kNoRoot = std::size(kRootNames);

constexpr char kBadHeader[] = "the first line must be REGEDIT4";
constexpr char kByteOrderMarkFound[] = "byte order mark before REGEDIT4";
constexpr char kRegedit5Export[] =
    "a regedit 5 export (Windows Registry Editor Version 5.00): export as REGEDIT4 or convert it";
constexpr char kLoneCarriageReturn[] = "carriage return without line feed";
constexpr char kZeroByte[] = "zero byte";
constexpr char kUnknownLine[] = "not a key, a value or a comment";
constexpr char kValueOutsideKey[] = "value outside a key section";
constexpr char kKeyNotClosed[] = "key name without closing ]";
constexpr char kTextAfterKey[] = "text after ]";
constexpr char kUnknownRoot[] = "unknown root key";
constexpr char kEmptyKeyName[] = "empty key name";
constexpr char kRootDeletion[] = "a root key cannot be deleted";
constexpr char kUnfinishedHex[] = "file ends inside continued hex data";

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

// Whether names, "" or "\\A\\B...", has an empty one.
bool HasEmptyName(std::string_view names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == '\\' && (i + 1 == names.size() || names[i + 1] == '\\')) return true;
  }
  return false;
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

RegistryKey::RegistryKey(std::string_view keyPath) {
  root_ = RootOf(keyPath);
  for (std::size_t at = keyPath.find('\\'); at != std::string_view::npos;) {
    const std::size_t next = keyPath.find('\\', at + 1);
    names_.emplace_back(keyPath.substr(at + 1, next - at - 1));
    if (names_.back().empty()) root_ = kNoRoot;  // no key has an empty name
    at = next;
  }
}

std::optional<RegistryKey> RegistryKey::ReadText(std::string_view keyPath, std::string_view text,
                                                 std::string* error) {
  RegistryKey key(keyPath);
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
  if (reason == nullptr && key.state_ == State::kHexContinued) reason = kUnfinishedHex;
  if (reason == nullptr) return key;
  if (error != nullptr) *error = "line " + std::to_string(lineNumber) + ": " + reason;
  return std::nullopt;
}

bool RegistryKey::Exists() const {
  return root_ != kNoRoot && written_.size() == names_.size();
}

NamedValues RegistryKey::Values() const {
  std::vector<const Held*> held;
  for (const auto& entry : values_) held.push_back(&entry.second);
  std::sort(held.begin(), held.end(),
            [](const Held* a, const Held* b) { return a->order < b->order; });
  NamedValues values;
  for (const Held* value : held) values.emplace_back(value->name, value->value);
  return values;
}

std::optional<RegistryValue> RegistryKey::Value(std::string_view name) const {
  const auto held = values_.find(Lower(name));
  if (held == values_.end()) return std::nullopt;
  return held->second.value;
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
    same->second = regedit4::AsStored(value);
  }
  std::vector<Splice> splices;
  std::vector<std::string> added;
  for (const auto& [name, value] : wanted) {
    const auto held = values_.find(Lower(name));
    if (held == values_.end()) {
      added.push_back(regedit4::FormatValueLine(name, value));
    } else if (held->second.value != value) {
      const Held& old = held->second;
      splices.push_back({old.dataBegin, old.end - old.dataBegin, regedit4::FormatData(value)});
    }
  }
  std::sort(splices.begin(), splices.end(),
            [](const Splice& a, const Splice& b) { return a.offset < b.offset; });
  if (added.empty()) return splices;
  if (!sectionEnd_) {
    // As regedit exports: a blank line before each section, and one at the end of the file.
    std::string section = endsWithLineBreak_ ? "" : lineBreak_;
    if (!(endsWithLineBreak_ && lastLineEmpty_)) section += lineBreak_;
    section += "[" + Path() + "]" + lineBreak_ + Lines(added) + lineBreak_ + lineBreak_;
    splices.push_back({lineEnd_, 0, section});
  } else if (sectionEndsText_) {
    splices.push_back({*sectionEnd_, 0, lineBreak_ + Lines(added)});
  } else {
    splices.push_back({*sectionEnd_, 0, Lines(added) + lineBreak_});
  }
  return splices;
}

// The import, line by line: a state machine over the lines of the file.
Error RegistryKey::ReadLine(std::string_view line, std::size_t begin, bool lineFeed) {
  lineBegin_ = begin;
  lineEnd_ = begin + line.size() + (lineFeed ? 1 : 0);
  const bool crlf = lineFeed && !line.empty() && line.back() == '\r';
  if (crlf) line.remove_suffix(1);
  endsWithLineBreak_ = lineFeed;
  lastLineEmpty_ = line.empty();
  if (state_ == State::kHeader && IsRegedit5Export(line)) return kRegedit5Export;
  // regedit cuts lines at these, where this reader would read on.
  if (line.find('\r') != std::string_view::npos) return kLoneCarriageReturn;
  if (line.find('\0') != std::string_view::npos) return kZeroByte;

  if (state_ == State::kHeader) {
    if (line != kHeader) return StartsWith(line, kByteOrderMark) ? kByteOrderMarkFound : kBadHeader;
    // New lines end like the header.
    lineBreak_ = lineFeed && !crlf ? "\n" : "\r\n";
    state_ = State::kOutsideKey;
    return nullptr;
  }
  if (state_ == State::kHexContinued) return ReadContinuation(line);
  const std::size_t first = regedit4::SkipBlanks(line, 0);
  if (first == line.size() || line[first] == ';') return nullptr;
  if (line[first] == '[') return ReadSection(line, first);
  if (line[first] != '@' && line[first] != '"') return kUnknownLine;
  if (state_ != State::kInKey) return kValueOutsideKey;
  return ReadValue(line, first);
}

// [KEY] or [-KEY]. Like regedit, the name runs to the line's last ']'. Only the names that lead
// to the key are compared; the rest of the path just has to be valid.
Error RegistryKey::ReadSection(std::string_view line, std::size_t open) {
  const std::size_t close = line.back() == ']' ? line.size() - 1 : line.rfind(']');
  if (close == std::string_view::npos) return kKeyNotClosed;
  if (!regedit4::OnlyCommentFrom(line, close + 1)) return kTextAfterKey;
  const bool deletes = open + 1 < close && line[open + 1] == '-';
  const std::string_view path = line.substr(open + 1 + deletes, close - open - 1 - deletes);
  const std::size_t root = RootOf(path);
  if (root == kNoRoot) return kUnknownRoot;
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
  if (HasEmptyName(path.substr(at))) return kEmptyKeyName;
  if (deletes && rootEnd == path.size()) return kRootDeletion;
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

Error RegistryKey::ReadValue(std::string_view line, std::size_t nameBegin) {
  regedit4::ValueLine parsed;
  Error error = regedit4::ReadValueLine(line, nameBegin, inKey_ ? &name_ : nullptr,
                                        inKey_ ? &value_ : nullptr, &parsed);
  if (error != nullptr || !inKey_) {
    if (parsed.continues) state_ = State::kHexContinued;
    return error;
  }
  EndSection();
  continued_ = Lower(name_);
  if (parsed.deletes) {
    values_.erase(continued_);
    return nullptr;
  }
  const auto [entry, added] = values_.try_emplace(continued_);
  Held& held = entry->second;
  if (added) held = Held{name_, {}, nextOrder_++, 0, 0};
  held.value = value_;
  held.dataBegin = lineBegin_ + parsed.dataBegin;
  held.end = lineBegin_ + line.size();
  if (parsed.continues) state_ = State::kHexContinued;
  return nullptr;
}

Error RegistryKey::ReadContinuation(std::string_view line) {
  const auto held = inKey_ ? values_.find(continued_) : values_.end();
  bool continues;
  if (Error error = regedit4::ReadContinuation(
          line, held != values_.end() ? &held->second.value.data : nullptr, &continues)) {
    return error;
  }
  if (held != values_.end()) {
    held->second.end = lineBegin_ + line.size();
    EndSection();
  }
  if (!continues) state_ = State::kInKey;
  return nullptr;
}

void RegistryKey::EndSection() {
  sectionEnd_ = lineEnd_;
  sectionEndsText_ = !endsWithLineBreak_;
}

std::string RegistryKey::Lines(const std::vector<std::string>& lines) const {
  std::string text = lines[0];
  for (std::size_t i = 1; i < lines.size(); ++i) text += lineBreak_ + lines[i];
  return text;
}

std::string RegistryKey::Path() const {
  std::string path(kRootNames[root_]);
  for (const std::string& name : written_) path += "\\" + name;
  return path;
}

}  // namespace emulation
