#include "platform/emulation/profile_text.h"

#include <cstddef>

#include "platform/emulation/ascii.h"

namespace emulation {
namespace {

using Offset = std::size_t;
constexpr Offset kNone = std::string_view::npos;

constexpr std::string_view kLineBreaks = "\r\n";
constexpr std::string_view kNewFileLineEnding = "\r\n";  // what Windows writes into a new file
constexpr char kHeaderOpen = '[';
constexpr char kHeaderClose = ']';
constexpr char kNameEnd = '=';
constexpr char kCommentStart = ';';

// One line of the text: [begin, contentEnd) holds its content, [contentEnd, end) its line
// ending, which is empty only on a last line without one.
struct Line {
  Offset begin;
  Offset contentEnd;
  Offset end;

  bool HasLineEnding() const { return end != contentEnd; }
};

Line LineAt(std::string_view text, Offset begin) {
  const Offset lineBreak = text.find_first_of(kLineBreaks, begin);
  if (lineBreak == kNone) return {begin, text.size(), text.size()};
  const bool crLf = text.compare(lineBreak, 2, "\r\n") == 0;
  return {begin, lineBreak, lineBreak + (crLf ? 2 : 1)};
}

std::string_view ContentOf(std::string_view text, const Line& line) {
  return text.substr(line.begin, line.contentEnd - line.begin);
}

// The section name of a header line; nullopt for any other line.
std::optional<std::string_view> HeaderName(std::string_view content) {
  const std::string_view trimmed = Trim(content);
  if (trimmed.empty() || trimmed.front() != kHeaderOpen) return std::nullopt;
  const Offset close = trimmed.rfind(kHeaderClose);
  if (close == kNone) return std::nullopt;  // Windows reads it as a key line
  return Trim(trimmed.substr(1, close - 1));
}

std::string_view KeyName(std::string_view content) {
  return Trim(content.substr(0, content.find(kNameEnd)));
}

// What follows the '=' of a key line, untrimmed; nullopt for a line without one.
std::optional<std::string_view> RawValue(std::string_view content) {
  const Offset nameEnd = content.find(kNameEnd);
  if (nameEnd == kNone) return std::nullopt;
  return content.substr(nameEnd + 1);
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of(kLineBreaks) != kNone;
}

bool IsSectionName(std::string_view name) {
  return !Trim(name).empty() && !HasLineBreak(name) && name.find(kHeaderClose) == kNone;
}

// A key line must read back as a key line of the same name.
bool IsKeyName(std::string_view name) {
  const std::string_view trimmed = Trim(name);
  return !trimmed.empty() && trimmed.front() != kCommentStart && trimmed.front() != kHeaderOpen &&
         !HasLineBreak(name) && name.find(kNameEnd) == kNone;
}

// The line ending of the first line; a text without one gets what a new file gets.
std::string_view FileLineEnding(std::string_view text) {
  const Line first = LineAt(text, 0);
  if (!first.HasLineEnding()) return kNewFileLineEnding;
  return text.substr(first.contentEnd, first.end - first.contentEnd);
}

struct Section {
  Line header;
  Line lastNonBlank;  // where a new key goes after; the header when the section has no lines
  Offset end;         // the next header's line, or the end of the text
};

// The first section named `name` whose header line starts at or after `from`.
std::optional<Section> FindSection(std::string_view text, std::string_view name, Offset from) {
  std::optional<Section> found;
  for (Line line = LineAt(text, from); line.begin < text.size(); line = LineAt(text, line.end)) {
    const std::string_view content = ContentOf(text, line);
    const std::optional<std::string_view> header = HeaderName(content);
    if (found && header) {
      found->end = line.begin;
      return found;
    }
    if (found && !Trim(content).empty()) found->lastNonBlank = line;
    if (!found && header && EqualsIgnoringCase(*header, name))
      found = Section{line, line, text.size()};
  }
  return found;
}

std::optional<Line> FindKey(std::string_view text, const Section& section, std::string_view key) {
  for (Line line = LineAt(text, section.header.end); line.begin < section.end;
       line = LineAt(text, line.end)) {
    if (EqualsIgnoringCase(KeyName(ContentOf(text, line)), key)) return line;
  }
  return std::nullopt;
}

std::string Replace(std::string_view text, Offset begin, Offset end, std::string_view by) {
  std::string result;
  result.reserve(text.size() - (end - begin) + by.size());
  result.append(text.substr(0, begin)).append(by).append(text.substr(end));
  return result;
}

std::string KeyLine(std::string_view key, std::string_view value) {
  std::string line(key);
  line.append(1, kNameEnd).append(value);
  return line;
}

std::string AppendSection(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view value) {
  const std::string_view lineEnding = FileLineEnding(text);
  std::string result(text);
  if (!text.empty() && kLineBreaks.find(text.back()) == kNone) result.append(lineEnding);
  result.append(1, kHeaderOpen).append(section).append(1, kHeaderClose).append(lineEnding);
  result.append(KeyLine(key, value)).append(lineEnding);
  return result;
}

std::string InsertKey(std::string_view text, const Section& section, std::string_view key,
                      std::string_view value) {
  const std::string_view lineEnding = FileLineEnding(text);
  const Line& after = section.lastNonBlank;
  std::string inserted;
  if (!after.HasLineEnding()) inserted.append(lineEnding);  // the last line of the text
  inserted.append(KeyLine(key, value)).append(lineEnding);
  return Replace(text, after.end, after.end, inserted);
}

std::string_view WithoutQuotes(std::string_view value) {
  const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  return quoted ? value.substr(1, value.size() - 2) : value;
}

// Windows reads a value without its surrounding blanks and drops one pair of quotes around it.
std::string_view ReadValue(std::string_view raw) {
  return WithoutQuotes(Trim(raw));
}

}  // namespace

std::optional<std::string> SetProfileString(std::string_view text, std::string_view section,
                                            std::string_view key, std::string_view value) {
  if (!IsSectionName(section) || !IsKeyName(key) || HasLineBreak(value)) return std::nullopt;
  section = Trim(section);
  key = Trim(key);

  const std::optional<Section> found = FindSection(text, section, 0);
  if (!found) return AppendSection(text, section, key, value);
  const std::optional<Line> line = FindKey(text, *found, key);
  if (!line) return InsertKey(text, *found, key, value);

  const std::string_view content = ContentOf(text, *line);
  const std::optional<std::string_view> current = RawValue(content);
  if (current && Trim(*current) == Trim(value)) return std::string(text);
  // The name keeps its spelling from the file; the line keeps its own line ending.
  return Replace(text, line->begin, line->contentEnd, KeyLine(KeyName(content), value));
}

std::optional<std::string> DeleteProfileKey(std::string_view text, std::string_view section,
                                            std::string_view key) {
  if (!IsSectionName(section) || !IsKeyName(key)) return std::nullopt;
  section = Trim(section);
  key = Trim(key);

  // Unlike a write, a delete goes on to later sections of the same name.
  for (std::optional<Section> found = FindSection(text, section, 0); found;
       found = FindSection(text, section, found->end)) {
    if (const std::optional<Line> line = FindKey(text, *found, key)) {
      return Replace(text, line->begin, line->end, {});
    }
  }
  return std::string(text);
}

std::optional<std::string> DeleteProfileSection(std::string_view text, std::string_view section) {
  if (!IsSectionName(section)) return std::nullopt;
  const std::optional<Section> found = FindSection(text, Trim(section), 0);
  if (!found) return std::string(text);
  return Replace(text, found->header.begin, found->end, {});
}

std::optional<std::string> GetProfileString(std::string_view text, std::string_view section,
                                            std::string_view key) {
  if (!IsSectionName(section) || Trim(key).empty() || HasLineBreak(key)) return std::nullopt;
  const std::optional<Section> found = FindSection(text, Trim(section), 0);
  if (!found) return std::nullopt;
  const std::optional<Line> line = FindKey(text, *found, Trim(key));
  if (!line) return std::nullopt;
  const std::optional<std::string_view> raw = RawValue(ContentOf(text, *line));
  if (!raw) return std::nullopt;
  return std::string(ReadValue(*raw));
}

std::vector<std::string> ProfileSectionNames(std::string_view text) {
  std::vector<std::string> names;
  for (Line line = LineAt(text, 0); line.begin < text.size(); line = LineAt(text, line.end)) {
    const std::optional<std::string_view> name = HeaderName(ContentOf(text, line));
    if (name && !name->empty()) names.emplace_back(*name);
  }
  return names;
}

std::vector<std::string> ProfileKeyNames(std::string_view text, std::string_view section) {
  std::vector<std::string> names;
  const std::optional<Section> found =
      IsSectionName(section) ? FindSection(text, Trim(section), 0) : std::nullopt;
  if (!found) return names;
  for (Line line = LineAt(text, found->header.end); line.begin < found->end;
       line = LineAt(text, line.end)) {
    const std::string_view content = ContentOf(text, line);
    const std::string_view name = KeyName(content);
    if (RawValue(content) && (name.empty() || name.front() != kCommentStart)) {
      names.emplace_back(name);
    }
  }
  return names;
}

std::string ProfileDefault(std::string_view value) {
  while (value.size() > 1 && value.back() == ' ') value.remove_suffix(1);
  return std::string(WithoutQuotes(value));
}

}  // namespace emulation
