// libFuzzer target for the profile editor. An input is a section name, a key name and a value,
// each ended by a line feed, then the text of a profile. Every edit must keep the bytes around
// the one line it changes, and what is written must read back, its key and section listed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/emulation/ascii.h"
#include "platform/emulation/profile_text.h"

namespace {

using emulation::DeleteProfileKey;
using emulation::DeleteProfileSection;
using emulation::GetProfileString;
using emulation::ProfileKeyNames;
using emulation::ProfileSectionNames;
using emulation::SetProfileString;

void Require(bool condition) {
  if (!condition) std::abort();
}

std::string_view TakeLine(std::string_view& input) {
  const std::size_t end = std::min(input.find('\n'), input.size());
  const std::string_view line = input.substr(0, end);
  input.remove_prefix(std::min(end + 1, input.size()));
  return line;
}

// What an edit took out of `before` and put in its place, once the bytes both texts begin and
// end with are set aside.
struct Change {
  std::string_view removed;
  std::string_view added;
};

Change ChangeBetween(std::string_view before, std::string_view after) {
  std::size_t prefix = 0;
  while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) {
    ++prefix;
  }
  std::size_t suffix = 0;
  while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  return {before.substr(prefix, before.size() - prefix - suffix),
          after.substr(prefix, after.size() - prefix - suffix)};
}

std::size_t LineFeeds(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Reading drops the blanks and quotes around a value; other values read back as written.
bool ReadsBackUnaltered(std::string_view value) {
  if (value.empty()) return true;
  const auto isBlankOrQuote = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
  return !isBlankOrQuote(value.front()) && !isBlankOrQuote(value.back());
}

void CheckSet(std::string_view text, std::string_view section, std::string_view key,
              std::string_view value) {
  const std::optional<std::string> written = SetProfileString(text, section, key, value);
  if (!written) return;
  // Part of one line replaced; or a key line inserted, or a header and a key line appended, each
  // after a line break for a last line without one.
  const Change change = ChangeBetween(text, *written);
  Require(LineFeeds(change.removed) == 0);
  Require(LineFeeds(change.added) <= (change.removed.empty() ? 3u : 0u));
  Require(SetProfileString(*written, section, key, value) == *written);
  if (ReadsBackUnaltered(value)) Require(GetProfileString(*written, section, key) == value);
  const auto listed = [](const std::vector<std::string>& names, std::string_view name) {
    return std::any_of(names.begin(), names.end(), [&](const std::string& each) {
      return emulation::EqualsIgnoringCase(each, emulation::Trim(name));
    });
  };
  Require(listed(ProfileSectionNames(*written), section));
  Require(listed(ProfileKeyNames(*written, section), key));
}

// A delete takes out whole lines and adds nothing; one that finds the key or section it reads
// must change the text.
void CheckDeletes(std::string_view text, std::string_view section, std::string_view key) {
  const bool keyFound = GetProfileString(text, section, key).has_value();
  if (const std::optional<std::string> left = DeleteProfileKey(text, section, key)) {
    const Change change = ChangeBetween(text, *left);
    Require(change.added.empty() && LineFeeds(change.removed) <= 1);
    Require(!keyFound || *left != text);
  }
  if (const std::optional<std::string> left = DeleteProfileSection(text, section)) {
    Require(ChangeBetween(text, *left).added.empty());
    Require(!keyFound || *left != text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view section = TakeLine(input);
  const std::string_view key = TakeLine(input);
  const std::string_view value = TakeLine(input);
  CheckSet(input, section, key, value);
  CheckDeletes(input, section, key);
  return 0;
}
