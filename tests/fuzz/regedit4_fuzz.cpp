// Any bytes into the REGEDIT4 store: it never crashes or hangs; a file it accepts keeps its bytes
// and reads back the same from its own text; a write changes its one value and nothing else, and
// writing the same again changes no byte. The input is the file; the write is drawn from it.
#include <algorithm>
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

using emulation::RegistryText;
using emulation::RegistryValue;
using Values = std::vector<std::pair<std::string, RegistryValue>>;
// Everything the store answers: every key, the roots first, with its values.
using State = std::vector<std::pair<std::string, Values>>;

constexpr const char* kRoots[] = {
    "HKEY_LOCAL_MACHINE",  "HKEY_USERS",        "HKEY_CLASSES_ROOT",
    "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER", "HKEY_DYN_DATA",
};
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kTypes[] = {0, 1, 1, 2, 3, 4, 4, 7, 11, 0x12345678};
constexpr std::size_t kMaxPiece = 12;  // bytes of the input taken for a name or for data

void Check(bool condition) {
  if (!condition) std::abort();
}

State Snapshot(const RegistryText& store) {
  State state;
  for (const char* root : kRoots) state.emplace_back(root, store.Values(root));
  for (std::string& key : store.Keys()) {
    Values values = store.Values(key);
    state.emplace_back(std::move(key), std::move(values));
  }
  return state;
}

void CheckRereads(const RegistryText& store) {
  const std::optional<RegistryText> reread = RegistryText::Parse(store.Text(), nullptr);
  Check(reread.has_value());
  Check(Snapshot(*reread) == Snapshot(store));
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Draws the write's choices from the input, the same ones for the same input.
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
  // Often a quoted text of the file, to hit the names it has deleted, not only live ones.
  std::string Name() {
    const std::size_t open = input_.find('"', Below(input_.size() + 1));
    const std::size_t close = open == std::string_view::npos ? open : input_.find('"', open + 1);
    if (close == std::string_view::npos || Below(2) == 0) return Piece();
    return std::string(input_.substr(open + 1, close - open - 1));
  }

 private:
  std::string_view input_;
  std::uint64_t state_ = 0xcbf29ce484222325u;
};

// What the store should answer after setting value as name on key.
State AfterWrite(State state, const std::string& key, const std::string& name,
                 const RegistryValue& value) {
  RegistryValue stored = value;
  if (stored.type == kRegSz && (stored.data.empty() || stored.data.back() != '\0')) {
    stored.data.push_back('\0');
  }
  for (auto& [path, values] : state) {
    if (!SameName(path, key)) continue;
    for (auto& [written, data] : values) {
      if (SameName(written, name)) {
        data = stored;
        return state;
      }
    }
    values.emplace_back(name, stored);
  }
  return state;
}

void CheckWrite(RegistryText& store, Dice& dice) {
  const State before = Snapshot(store);
  const std::string key = before[dice.Below(before.size())].first;
  const Values& values = before[dice.Below(before.size())].second;
  const std::string name =
      values.empty() || dice.Below(2) == 0 ? dice.Name() : values[dice.Below(values.size())].first;
  const RegistryValue value{kTypes[dice.Below(std::size(kTypes))], dice.Piece()};

  const std::string text = store.Text();
  if (!store.SetValue(key, name, value)) {
    Check(name.find('\0') != std::string::npos);
    Check(store.Text() == text);
    return;
  }
  Check(Snapshot(store) == AfterWrite(before, key, name, value));
  CheckRereads(store);
  const std::string written = store.Text();
  Check(store.SetValue(key, name, value));
  Check(store.Text() == written);
}

void CheckCreate(RegistryText& store, Dice& dice) {
  const State before = Snapshot(store);
  const std::string key = before[dice.Below(before.size())].first + "\\" + dice.Piece();
  const bool existed = store.HasKey(key);
  const std::string text = store.Text();
  if (!store.CreateKey(key)) {
    Check(!existed && store.Text() == text);
    return;
  }
  Check(store.HasKey(key));
  Check(!existed || store.Text() == text);
  // New keys come last, without values; the others stay as they were.
  const State after = Snapshot(store);
  Check(after.size() >= before.size() && std::equal(before.begin(), before.end(), after.begin()));
  for (std::size_t i = before.size(); i < after.size(); ++i) Check(after[i].second.empty());
  CheckRereads(store);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::optional<RegistryText> store = RegistryText::Parse(input, nullptr);
  if (!store) return 0;
  Check(store->Text() == input);
  Dice dice(input);
  CheckCreate(*store, dice);
  CheckWrite(*store, dice);
  CheckWrite(*store, dice);
  return 0;
}
