// The emulated machine's registry as a REGEDIT4 file, the text regedit exports and imports, so a
// maintainer can read it and load it into Windows or Wine. The store holds the file's own bytes:
// reading changes nothing, and setting a value rewrites only that value's lines (or adds lines),
// keeping every other byte. It does no file I/O; the Win32 layer loads and saves the text.
//
// What exists is what importing the file would leave: [KEY] creates KEY and its parents, [-KEY]
// deletes KEY and its subkeys, "name"=- deletes a value, later lines win, and a key may have
// several sections. The six root keys always exist and cannot be deleted. Key and value names
// match ignoring ASCII case and keep the case they were first written with.
//
// It reads what regedit imports (as Wine's import code reads it), stricter where regedit skips
// or guesses:
// - the first line is exactly REGEDIT4: no byte order mark (regedit reads REGEDIT4 as ANSI) and
//   no blanks around it;
// - lines end in CRLF or LF; a lone CR or a zero byte is an error (regedit cuts lines there);
// - a line regedit would skip is an error, except blank lines and ';' comments;
// - [KEY] must start with a root name, have no empty component and end at its last ']';
// - escapes are \\, \", \n and \r only (regedit takes other letters as themselves, and refuses \0);
// - dword: takes 1 to 8 hex digits, as regedit does;
// - hex bytes are exactly two hex digits, commas without blanks and none trailing; a value
//   continues on the next line only after ",\" and that line must hold more bytes (regedit also
//   skips blank and comment lines there and takes the end of the file as the end of the value);
// - hex(N): takes 1 to 8 hex digits for N.
// Blanks around '=' and a ';' comment after the data are accepted, as regedit does. Anything the
// parser cannot read fails Parse with "line N: reason"; nothing is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
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

class RegistryText {
 public:
  // Reads a whole file. On failure, error (if given) says "line N: reason".
  static std::optional<RegistryText> Parse(std::string text, std::string* error);
  // "REGEDIT4" and a blank line, with CRLF.
  static RegistryText Empty();

  // Key paths are "HKEY_LOCAL_MACHINE\\SOFTWARE\\...", without a trailing backslash; the six
  // roots always exist.
  bool HasKey(std::string_view keyPath) const;
  // name "" is the default value, written @.
  std::optional<RegistryValue> GetValue(std::string_view keyPath, std::string_view name) const;
  // Creates the key and its parents, as importing a [KEY] line would; a new key gets a section
  // at the end of the file. False when the path cannot be a key (unknown root, empty component,
  // CR, LF or zero byte).
  bool CreateKey(std::string_view keyPath);
  // Sets a value on an existing key. An existing value gets its new data in place of the old on
  // its last line(s), keeping the name as written there (a comment after the old data goes); a
  // new value goes after the last value line of the key's last section, or into a new section at
  // the end of the file. Data is written as regedit exports it, on one line: "text" for REG_SZ of
  // printable ASCII, dword: for a 4-byte REG_DWORD, hex: for REG_BINARY, hex(N): for the rest.
  // REG_SZ data without a terminating zero gets one, as Windows stores it. Writing what is there
  // already changes no byte. False when the key does not exist or the name holds a zero byte.
  bool SetValue(std::string_view keyPath, std::string_view name, const RegistryValue& value);

  // The existing keys below the roots, in the order the file creates them.
  std::vector<std::string> Keys() const;
  // The key's values in the order they were set, with their names as written.
  std::vector<std::pair<std::string, RegistryValue>> Values(std::string_view keyPath) const;
  const std::string& Text() const { return text_; }

 private:
  class Loader;
  static constexpr std::uint32_t kNone = 0xffffffffu;
  static constexpr std::size_t kNoSection = std::string::npos;

  // A key created by the file, or created again after a deletion (then a new Key). Children and
  // values are singly linked lists of indices; dead entries stay in them.
  struct Key {
    // This component as first written, in its [KEY] line (the roots' names are fixed).
    std::size_t nameBegin = 0;
    std::uint32_t nameSize = 0;
    std::uint32_t parent = kNone;
    std::uint32_t firstChild = kNone;
    std::uint32_t nextSibling = kNone;
    std::uint32_t firstValue = kNone;
    std::uint32_t lastValue = kNone;
    // Where the key's last section ends: the end of its header or last value line, before the
    // line break. A new value's line goes after it.
    std::size_t sectionEnd = kNoSection;
    bool alive = true;
  };
  // A value, as offsets into text_: '@' or the opening quote of its name where first written
  // (that case holds), and of its last effective line(s) the data's first byte and the end of
  // the last line before the line break.
  struct Value {
    std::uint32_t key = kNone;
    std::uint32_t next = kNone;
    std::size_t nameBegin = 0;
    std::size_t dataBegin = 0;
    std::size_t end = 0;
    bool alive = true;
  };
  // Finds a key by parent and name, or a value by key and name, ignoring case. Open addressing
  // over the hashes; the keys and values themselves hold owner and name, so an entry costs no
  // allocation of its own. A slot holds the latest entry of its name.
  struct NameIndex {
    struct Slot {
      std::uint64_t hash;
      std::uint32_t entry;
    };
    std::vector<Slot> slots = std::vector<Slot>(16, Slot{0, kNone});  // a power of two
    std::size_t used = 0;

    // The slot of the entry that matches, or the empty slot where it would go.
    template <typename Matches>
    std::size_t Probe(std::uint64_t hash, Matches matches) const;
    // Keeps room for one more entry; moves the slots, so probe after it.
    void MakeRoom();
    void Fill(std::size_t at, std::uint64_t hash, std::uint32_t entry);
  };

  RegistryText();
  std::string_view KeyName(std::uint32_t key) const;
  std::string KeyPath(std::uint32_t key) const;
  std::size_t ProbeChild(std::uint32_t parent, std::string_view name, std::uint64_t hash) const;
  std::uint32_t FindKey(std::string_view keyPath) const;
  // keyPath lies in text_: new keys keep their names there.
  std::uint32_t FindOrCreateKey(std::string_view keyPath);
  void DeleteTree(std::uint32_t key);
  bool HasName(const Value& value, std::string_view name) const;
  std::size_t ProbeValue(std::uint32_t key, std::string_view name, std::uint64_t hash) const;
  std::uint32_t FindValue(std::uint32_t key, std::string_view name) const;
  // The live value of that name, or a new one added to the key, named at nameBegin.
  std::uint32_t ValueFor(std::uint32_t key, std::string_view name, std::size_t nameBegin);
  std::string ValueName(const Value& value) const;
  RegistryValue ValueData(const Value& value) const;
  // Keeps the offsets right after text at position lost removed bytes and gained added ones.
  void ShiftOffsetsAfter(std::size_t position, std::size_t removed, std::size_t added);
  // Returns where the new line starts.
  std::size_t InsertLineAfter(std::size_t lineEnd, std::string_view line);
  // Returns where the path starts in the text.
  std::size_t AppendSectionHeader(std::string_view keyPath);

  std::string text_;
  std::string lineBreak_;  // the header's
  std::vector<Key> keys_;  // the roots first
  std::vector<Value> values_;
  NameIndex keyIndex_;
  NameIndex valueIndex_;
  std::vector<std::uint32_t> pending_;  // DeleteTree's work list, kept to reuse its memory
};

}  // namespace emulation
