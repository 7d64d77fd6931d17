// The emulated machine's registry as a REGEDIT4 file, the text regedit exports and imports, so a
// maintainer can read it and load it into Windows or Wine. The store is read one key at a time:
// one pass over the whole text checks every line and keeps what the text says about that key.
// Setting the key's values replaces their data where it stands or adds lines, and keeps every
// other byte. It does no file I/O; the Win32 layer reads the file and writes the changes.
//
// What exists is what importing the file would leave: [KEY] creates KEY and its parents, [-KEY]
// deletes KEY and its subkeys, "name"=- deletes a value, later lines win, and a key may have
// several sections. The six root keys always exist and cannot be deleted. Key and value names
// match ignoring ASCII case and keep the case they were first written with.
//
// It reads what regedit imports, stricter where regedit skips or guesses, and fails with
// "line N: reason" on anything it cannot read; docs/emulated-machine.md lists the rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

using NamedValues = std::vector<std::pair<std::string, RegistryValue>>;

// A change to the text: the bytes [offset, offset + removed) give way to text.
struct Splice {
  std::size_t offset;
  std::size_t removed;
  std::string text;
};

// Hands text with the splices made to write, piece by piece, so that a big text is never
// copied whole; false as soon as write is.
bool WriteSpliced(std::string_view text, const std::vector<Splice>& splices,
                  const std::function<bool(std::string_view piece)>& write);
std::string Spliced(std::string_view text, const std::vector<Splice>& splices);

// One key of a REGEDIT4 text, read from the whole text, which is checked on the way.
class RegistryKey {
 public:
  // keyPath is "HKEY_LOCAL_MACHINE\\SOFTWARE\\...", without a trailing backslash; a path no
  // [KEY] line can hold names no key. Nothing, with *error "line N: reason", for a text that
  // cannot be read whole.
  static std::optional<RegistryKey> ReadText(std::string_view keyPath, std::string_view text,
                                             std::string* error);

  bool Exists() const;
  // The key's values in the order they were set, with their names as first written; name "" is
  // the default value, written @.
  NamedValues Values() const;
  std::optional<RegistryValue> Value(std::string_view name) const;
  // What to change in the text so that the key holds these values too, one after the other,
  // in the order of the text. An existing value gets its new data in place of the old on its
  // last line(s), keeping the name as written there (a comment after the old data goes); new
  // values go after the last value line of the key's last section, or into a new section at the
  // end of the text. Data is written as regedit exports it, on one line. A value already held
  // changes nothing. Nothing when the key does not exist or a name holds a zero byte.
  std::optional<std::vector<Splice>> Set(const NamedValues& values) const;
  // What to change in the text so that the key holds none of the values named: every line that
  // sets one of them since it was last deleted, in any section of the key, goes with its
  // continuation lines and its line break, and nothing else. Lines that end a text without a
  // final line break take the line break before them along, as Set puts one there. A name the key
  // does not hold changes nothing.
  std::vector<Splice> Remove(const std::vector<std::string>& names) const;

 private:
  enum class State { kHeader, kOutsideKey, kInKey, kHexContinued };
  // Lines of the text, [begin, end) with their line breaks, and the length of the line break
  // before them.
  struct Lines {
    std::size_t begin, end, breakBefore;
  };
  // A value of the key, with where the data of its last line(s) is in the text, and every line
  // that sets it since it was last deleted.
  struct Held {
    std::string name;  // as first written
    RegistryValue value;
    std::size_t dataBegin;
    std::size_t end;  // of its last line, before the line break
    std::vector<Lines> setBy;
  };
  using Error = const char*;  // why a line cannot be read, or nullptr when it can

  explicit RegistryKey(std::string_view keyPath);
  // One line, [begin, begin + line.size()) in the text, and whether a line feed ends it.
  Error ReadLine(std::string_view line, std::size_t begin, bool lineFeed);
  Error ReadSection(std::string_view line, std::size_t open);
  Error ReadValue(std::string_view line, std::size_t nameBegin);
  Error ReadContinuation(std::string_view line);
  // Where the value of that name is in values_; values_.size() when the key holds none.
  std::size_t IndexOf(std::string_view name) const;
  // The line just read is the key's last so far: new values go after it.
  void EndSection();
  std::string Path() const;  // with each name as first written

  std::size_t root_;
  std::vector<std::string> names_;         // below the root, as asked
  std::vector<std::string> written_;       // as first written, for the leading ones that exist
  std::vector<Held> values_;               // in the order they were set
  std::string continued_;                  // the value whose hex bytes may go on
  bool inKey_ = false;                     // in a section of the key
  std::optional<std::size_t> sectionEnd_;  // after the key's last line and its line break
  bool sectionEndsText_ = false;           // that line ends the text without a line break

  State state_ = State::kHeader;
  std::string lineBreak_ = "\r\n";  // the header's
  std::size_t lineBegin_ = 0;       // where the line being read starts
  std::size_t lineEnd_ = 0;         // where the next one starts
  std::size_t breakLength_ = 0;     // of the line break that ends the line being read
  std::size_t breakBefore_ = 0;     // of the one that ends the line before it
  std::size_t textSize_ = 0;
  std::size_t firstZero_;           // where the text's first zero byte is, if it holds one
  bool endsWithLineBreak_ = false;  // the last line read
  bool lastLineEmpty_ = false;
  std::string name_;  // buffers reused from line to line
  RegistryValue value_;
};

}  // namespace emulation
