// Any bytes into the REGEDIT4 store: it never crashes or hangs. Setting or removing values of a
// key in a file it accepts changes those values and nothing else, the edited file reads back, and
// doing the same again changes no byte; values added and removed again leave the file as it was.
// The input is the file; the keys and values are drawn from it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/emulation/regedit4.h"

namespace {

using emulation::NamedValues;
using emulation::RegistryKey;
using emulation::RegistryValue;

constexpr const char* kRoots[] = {
    "HKEY_LOCAL_MACHINE",  "HKEY_USERS",        "HKEY_CLASSES_ROOT",
    "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER", "HKEY_DYN_DATA",
};
constexpr std::uint32_t kTypes[] = {0, 1, 1, 2, 3, 4, 4, 7, 11, 0x12345678};
constexpr std::size_t kMaxPiece = 12;  // bytes of the input taken for a name or for data
constexpr std::size_t kMaxValues = 3;  // set at once

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Draws choices from the input, the same ones for the same input.
class Dice {
 public:
  explicit Dice(std::string_view input) : input_(input) {
    for (char c : input) state_ = (state_ ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  }
  std::size_t Below(std::size_t n) {
    state_ ^= state_ >> 29;
    state_ *= 0xbf58476d1ce4e5b9u;
    state_ ^= state_ >> 32;
    return n == 0 ? 0 : static_cast<std::size_t>(state_ % n);
  }
  std::string Piece() {
    const std::size_t at = Below(input_.size() + 1);
    return std::string(input_.substr(at, Below(kMaxPiece + 1)));
  }
  // The text between a pair of delimiters in the input, when there is one; often names the
  // file holds, deleted ones too, or keys of its sections.
  std::string Between(char open, char close) {
    const std::size_t begin = input_.find(open, Below(input_.size() + 1));
    const std::size_t end = begin == std::string_view::npos ? begin : input_.find(close, begin + 1);
    if (end == std::string_view::npos || Below(4) == 0) return Piece();
    return std::string(input_.substr(begin + 1, end - begin - 1));
  }
  // A key of a section, "-" dropped, or its parent; sometimes a root.
  std::string Key() {
    if (Below(4) == 0) return kRoots[Below(std::size(kRoots))];
    std::string key = Between('[', ']');
    if (!key.empty() && key[0] == '-') key.erase(0, 1);
    if (Below(3) == 0) key = key.substr(0, key.rfind('\\'));
    return key;
  }
  NamedValues Values(const NamedValues& held) {
    NamedValues values(1 + Below(kMaxValues));
    for (auto& [name, value] : values) {
      name = held.empty() || Below(2) == 0 ? Between('"', '"') : held[Below(held.size())].first;
      value = {kTypes[Below(std::size(kTypes))], Piece()};
    }
    return values;
  }

 private:
  std::string_view input_;
  std::uint64_t state_ = 0xcbf29ce484222325u;
};

std::optional<RegistryKey> Read(const std::string& key, std::string_view text) {
  return RegistryKey::ReadText(key, text, nullptr);
}

// What the key should hold after values are set on it: each as it is given.
NamedValues AfterSetting(NamedValues held, const NamedValues& values) {
  for (const auto& [name, value] : values) {
    bool found = false;
    for (auto& [heldName, heldValue] : held) {
      if (SameName(heldName, name)) heldValue = value;
      found = found || SameName(heldName, name);
    }
    if (!found) held.emplace_back(name, value);
  }
  return held;
}

void CheckSet(const std::string& key, std::string_view input, const RegistryKey& before,
              Dice& dice) {
  const NamedValues values = dice.Values(before.Values());
  const std::string other = dice.Key();
  const std::optional<RegistryKey> otherBefore = Read(other, input);

  const auto splices = before.Set(values);
  bool zeroInName = false;
  for (const auto& [name, value] : values) zeroInName |= name.find('\0') != std::string::npos;
  Check(splices.has_value() == (before.Exists() && !zeroInName));
  if (!splices) return;
  const std::string edited = emulation::Spliced(input, *splices);
  const std::optional<RegistryKey> after = Read(key, edited);
  Check(after && after->Exists());
  Check(after->Values() == AfterSetting(before.Values(), values));
  Check(after->Set(values)->empty());
  if (SameName(other, key)) return;
  const std::optional<RegistryKey> otherAfter = Read(other, edited);
  Check(otherAfter->Exists() == otherBefore->Exists());
  Check(otherAfter->Values() == otherBefore->Values());
}

// What the key should hold after values are removed: the others, as they were.
NamedValues AfterRemoving(NamedValues held, const std::vector<std::string>& names) {
  NamedValues kept;
  for (const auto& value : held) {
    bool removed = false;
    for (const std::string& name : names) removed = removed || SameName(value.first, name);
    if (!removed) kept.push_back(value);
  }
  return kept;
}

// Whether Set only added value lines to a section the key has: then removing them must give the
// text back byte for byte.
bool OnlyAddedLines(const std::vector<emulation::Splice>& splices) {
  for (const emulation::Splice& splice : splices) {
    const std::size_t first = splice.text.find_first_not_of("\r\n");
    if (splice.removed != 0 || first == std::string::npos ||
        (splice.text[first] != '"' && splice.text[first] != '@')) {
      return false;
    }
  }
  return true;
}

void CheckRemove(const std::string& key, std::string_view input, const RegistryKey& before,
                 Dice& dice) {
  std::vector<std::string> names;
  for (const auto& [name, value] : dice.Values(before.Values())) names.push_back(name);
  const std::string edited = emulation::Spliced(input, before.Remove(names));
  const std::optional<RegistryKey> after = Read(key, edited);
  Check(after && after->Exists() == before.Exists());
  Check(after->Values() == AfterRemoving(before.Values(), names));
  Check(after->Remove(names).empty());
  // A value set where there was none, then removed: the text as it was.
  NamedValues added;
  for (const auto& [name, value] : dice.Values({})) {
    if (!before.Value(name) && name.find('\0') == std::string::npos)
      added.emplace_back(name, value);
  }
  std::vector<std::string> addedNames;
  for (const auto& [name, value] : added) addedNames.push_back(name);
  const auto splices = before.Set(added);
  if (!splices || !OnlyAddedLines(*splices)) return;
  const std::string set = emulation::Spliced(input, *splices);
  Check(emulation::Spliced(set, Read(key, set)->Remove(addedNames)) == input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Dice dice(input);
  const std::string key = dice.Key();
  std::string error;
  const std::optional<RegistryKey> whole = RegistryKey::ReadText(key, input, &error);
  if (whole) CheckSet(key, input, *whole, dice);
  if (whole) CheckRemove(key, input, *whole, dice);
  return 0;
}
