// The REGEDIT4 store: what it refuses and where, what importing a file leaves, and what each
// write does to the text, byte for byte.
#include "platform/emulation/regedit4.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace emulation {
void PrintTo(const RegistryValue& value, std::ostream* out) {
  *out << "{type " << value.type << ", \"";
  for (char byte : value.data) {
    const auto c = static_cast<unsigned char>(byte);
    if (c >= ' ' && c <= '~') {
      *out << c;
    } else {
      static const char kDigits[] = "0123456789abcdef";
      *out << "\\x" << kDigits[c >> 4] << kDigits[c & 15];
    }
  }
  *out << "\"}";
}
}  // namespace emulation

namespace {

using emulation::RegistryKey;
using emulation::RegistryValue;
using namespace std::string_view_literals;
using Values = emulation::NamedValues;

RegistryValue Value(std::uint32_t type, std::string_view data) {
  return {type, std::string(data)};
}

RegistryKey MustRead(std::string_view text, std::string_view key) {
  std::string error;
  std::optional<RegistryKey> read = RegistryKey::ReadText(key, text, &error);
  EXPECT_TRUE(read) << error;
  return read ? *read : *RegistryKey::ReadText(key, "REGEDIT4\n", nullptr);
}

// The text with values set on key, or "refused".
std::string Set(std::string_view text, std::string_view key, const Values& values) {
  const auto splices = MustRead(text, key).Set(values);
  return splices ? emulation::Spliced(text, *splices) : "refused";
}

TEST(Parse, RefusesWhatItCannotReadAndNamesTheLine) {
  struct Case {
    std::string_view text;
    const char* error;
  };
  const char kRegedit5[] =
      "line 1: a regedit 5 export (Windows Registry Editor Version 5.00): export as REGEDIT4 or "
      "convert it";
  const Case kCases[] = {
      {""sv, "line 1: the first line must be REGEDIT4"},
      {"REGEDIT4 \r\n"sv, "line 1: the first line must be REGEDIT4"},
      {"Windows Registry Editor Version 5.00\r\n"sv, kRegedit5},
      {"\xFF\xFE"
       "W\0i\0n\0d\0o\0w\0s\0 \0R\0e\0g\0i\0s\0t\0r\0y\0 \0E\0d\0i\0t\0o\0r\0 \0"
       "V\0e\0r\0s\0i\0o\0n\0 \0"
       "5\0.\0"
       "0\0"
       "0\0\r\0\n\0"sv,
       kRegedit5},
      {"\xEF\xBB\xBFREGEDIT4\r\n"sv, "line 1: byte order mark before REGEDIT4"},
      {"REGEDIT4\r\n\r\n\"x\"=\"1\"\r\n"sv, "line 3: value outside a key section"},
      {"REGEDIT4\n[HKEY_USERS\\A]\r[x]\n"sv, "line 2: carriage return without line feed"},
      {"REGEDIT4\n[HKEY_USERS\\A]\n\"x\"=\"\0\"\n"sv, "line 3: zero byte"},
      {"REGEDIT4\n# comment\n"sv, "line 2: not a key, a value or a comment"},
      {"REGEDIT4\n[HKEY_USERS\\A\n"sv, "line 2: key name without closing ]"},
      {"REGEDIT4\n[HKEY_USERS\\A] x\n"sv, "line 2: text after ]"},
      {"REGEDIT4\n[HKLM\\A]\n"sv, "line 2: unknown root key"},
      {"REGEDIT4\n[ HKEY_USERS\\A]\n"sv, "line 2: unknown root key"},
      {"REGEDIT4\n[HKEY_USERS\\A\\\\B]\n"sv, "line 2: empty key name"},
      {"REGEDIT4\n[HKEY_USERS\\]\n"sv, "line 2: empty key name"},
      {"REGEDIT4\n[-HKEY_USERS]\n"sv, "line 2: a root key cannot be deleted"},
      {"REGEDIT4\n[-HKEY_USERS\\A]\n\"x\"=\"1\"\n"sv, "line 3: value outside a key section"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=\"abc\n"sv, "line 3: string without closing quote"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\\\"=\"abc\"\n"sv, "line 3: expected = after the value name"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=\"a\\tb\"\n"sv, "line 3: unknown escape"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=\"a\\0b\"\n"sv, "line 3: unknown escape"},
      {"REGEDIT4\n[HKEY_USERS]\n@\"1\"\n"sv, "line 3: expected = after the value name"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=\n"sv, "line 3: unknown data type"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=str:\"1\"\n"sv, "line 3: unknown data type"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=HEX:01\n"sv, "line 3: unknown data type"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=\"1\" 2\n"sv, "line 3: text after the data"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=-1\n"sv, "line 3: text after the data"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=dword:\n"sv, "line 3: dword: needs 1 to 8 hex digits"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=dword:123456789\n"sv,
       "line 3: dword: needs 1 to 8 hex digits"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=dword:0x10\n"sv, "line 3: text after the data"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=hex():00\n"sv, "line 3: hex(N): needs 1 to 8 hex digits"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=hex(2)00\n"sv, "line 3: hex(N): needs 1 to 8 hex digits"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=hex:1,2\n"sv, "line 3: expected a byte of two hex digits"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=hex:01,\n"sv, "line 3: expected a byte of two hex digits"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=hex:01 02\n"sv, "line 3: text after the data"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=hex:01,\\ 02\n"sv, "line 3: text after the data"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=hex:01,\\\n\n"sv,
       "line 4: expected a byte of two hex digits"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=hex:01,\\\n[HKEY_USERS\\B]\n"sv,
       "line 4: expected a byte of two hex digits"},
      {"REGEDIT4\n[HKEY_USERS]\n\"x\"=hex:01,\\\n  02,\\\r\n"sv,
       "line 4: file ends inside continued hex data"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.text));
    std::string error;
    EXPECT_FALSE(RegistryKey::ReadText("HKEY_USERS", c.text, &error));
    EXPECT_EQ(error, c.error);
  }
}

// Every kind of line regedit writes, and some it only reads.
constexpr std::string_view kEveryKind =
    "REGEDIT4\r\n"
    "; written by hand\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn]\r\n"
    "@=\"default\"\r\n"
    "\"Path\"=\"C:\\\\Vorn \\\"x\\\"\"\r\n"
    "\"Lines\"=\"a\\nb\\rc\" ; escapes regedit reads\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "  \"Short\" = dword:fF\t\r\n"
    "\"Blob\"=hex:00,ff,10\r\n"
    "\"Empty\"=hex:\r\n"
    "\"Expand\"=hex(2):25,54,4d,50,25,00\r\n"
    "\"Multi\"=hex(7):61,00,\\\r\n"
    "  62,00,00\r\n"
    "\"Qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
    "\"None\"=hex(0):\r\n"
    "\"Gone\"=-\r\n"
    "\r\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"
    "[HKEY_CURRENT_USER\\Software\\Vorn]\r\n"
    "\"User\"=\"yes\"\r\n"
    "\r\n"sv;

TEST(Parse, ReadsEveryKindOfValueWhateverTheLineEnds) {
  const Values kExpected = {
      {"", Value(1, "default\0"sv)},
      {"Path", Value(1, "C:\\Vorn \"x\"\0"sv)},
      {"Lines", Value(1, "a\nb\rc\0"sv)},
      {"Count", Value(4, "\x2a\0\0\0"sv)},
      {"Short", Value(4, "\xff\0\0\0"sv)},
      {"Blob", Value(3, "\x00\xff\x10"sv)},
      {"Empty", Value(3, "")},
      {"Expand", Value(2, "%TMP%\0"sv)},
      {"Multi", Value(7, "a\0b\0\0"sv)},
      {"Qword", Value(11, "\x01\x02\x03\x04\x05\x06\x07\x08"sv)},
      {"None", Value(0, "")},
  };
  std::string lineFeeds;  // the same file with LF line ends
  for (char c : kEveryKind) {
    if (c != '\r') lineFeeds += c;
  }
  std::string mixed(kEveryKind);  // and with one LF line and no final line break
  mixed.erase(mixed.find("\r\n\"Count\""), 1);
  mixed.erase(mixed.size() - 2);
  for (const std::string& text : {std::string(kEveryKind), lineFeeds, mixed}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(MustRead(text, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn").Values(), kExpected);
    EXPECT_EQ(MustRead(text, "HKEY_CURRENT_USER\\Software\\Vorn").Values(),
              (Values{{"User", Value(1, "yes\0"sv)}}));
  }
}

TEST(Parse, LeavesWhatAnImportWouldLeave) {
  const std::string_view kText =
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn\\Codecs\\Jix]\n"
      "\"File\"=\"old.dll\"\n"
      "\"Kept\"=dword:1\n"
      "\"Dropped\"=\"x\"\n"
      "[hkey_local_machine\\software\\VORN]\n"
      "@=\"first\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn\\Codecs\\Jix]\n"
      "\"file\"=\"new.dll\"\n"
      "\"DROPPED\"=-\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn]\n"
      "\"\"=\"second\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old\\Sub]\n"
      "\"x\"=\"1\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n"
      "\"y\"=\"1\"\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\old]\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Missing]\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLD]\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Again]\n"
      "\"z\"=\"2\"\n"
      "\"z\"=-\n"
      "\"z\"=\"3\"\n";
  const struct {
    const char* key;
    bool exists;
    Values values;
  } kCases[] = {
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn\\Codecs\\Jix",
       true,
       {{"File", Value(1, "new.dll\0"sv)}, {"Kept", Value(4, "\1\0\0\0"sv)}}},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn", true, {{"", Value(1, "second\0"sv)}}},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn\\Codecs", true, {}},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE", true, {}},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Old", true, {}},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Old\\Sub", false, {}},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Missing", false, {}},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Again", true, {{"z", Value(1, "3\0"sv)}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.key);
    const RegistryKey key = MustRead(kText, c.key);
    EXPECT_EQ(key.Exists(), c.exists);
    EXPECT_EQ(key.Values(), c.values);
  }
}

TEST(Lookup, IgnoresCaseAndKnowsTheRoots) {
  const std::string_view kText =
      "REGEDIT4\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Vorn]\r\n"
      "\"Jix\"=\"vornjixd.dll\"\r\n";
  const struct {
    const char* key;
    bool exists;
  } kKeys[] = {
      {"HKEY_LOCAL_MACHINE", true},
      {"hkey_local_machine\\SOFTWARE", true},
      {"HKEY_LOCAL_MACHINE\\software\\VORN", true},
      {"HKEY_USERS", true},
      {"HKEY_USERS\\Software", false},
      {"HKEY_LOCAL_MACHINE\\Software\\", false},
      {"HKEY_LOCAL_MACHINE\\\\Software", false},
      {"HKLM\\Software", false},
      {"HKEY_LOCAL_MACHINE\\Software\\Vorn\\Jix", false},
      {"HKEY_LOCAL_MACHINE\\Software\nVorn", false},
  };
  for (const auto& k : kKeys) {
    SCOPED_TRACE(k.key);
    EXPECT_EQ(MustRead(kText, k.key).Exists(), k.exists);
  }
  const RegistryKey vorn = MustRead(kText, "hkey_local_machine\\software\\vorn");
  for (const char* name : {"Jix", "jix", "JIX"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(vorn.Value(name), Value(1, "vornjixd.dll\0"sv));
  }
  EXPECT_EQ(vorn.Value("Jix2"), std::nullopt);
  EXPECT_EQ(vorn.Value(""), std::nullopt);
}

// Where each write lands, against the whole file written out by hand.
TEST(SetValue, ChangesOnlyTheLinesOfItsValue) {
  constexpr std::string_view kVorn =
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn]\r\n"
      "\"Name\"=\"old\" ; note\r\n"
      "\"Blob\"=hex:01,02,\\\r\n"
      "  03,04\r\n"
      "; the codecs\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn\\Codecs\\Jix]\r\n"
      "\"Gone\"=-\r\n"sv;
  constexpr std::string_view kDeleted =
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\A]\n"
      "\"x\"=\"1\"\n"
      "[-HKEY_LOCAL_MACHINE\\A]\n"
      "[HKEY_LOCAL_MACHINE\\A\\B]"sv;
  constexpr char kVornKey[] = "hkey_local_machine\\software\\vorn";
  constexpr char kJixKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn\\Codecs\\Jix";
  const struct {
    const char* what;
    std::string_view before;
    const char* key;
    std::string_view name;
    RegistryValue value;
    std::string_view after;
  } kCases[] = {
      {"replaced in place, name kept as written", kVorn, kVornKey, "NAME", Value(1, "new\0"sv),
       "REGEDIT4\r\n"
       "\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn]\r\n"
       "\"Name\"=\"new\"\r\n"
       "\"Blob\"=hex:01,02,\\\r\n"
       "  03,04\r\n"
       "; the codecs\r\n"
       "\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn\\Codecs\\Jix]\r\n"
       "\"Gone\"=-\r\n"},
      {"continued hex replaced by a dword", kVorn, kVornKey, "blob", Value(4, "\x2a\0\0\0"sv),
       "REGEDIT4\r\n"
       "\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn]\r\n"
       "\"Name\"=\"old\" ; note\r\n"
       "\"Blob\"=dword:0000002a\r\n"
       "; the codecs\r\n"
       "\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn\\Codecs\\Jix]\r\n"
       "\"Gone\"=-\r\n"},
      {"new value after the last value line", kVorn, kVornKey, "say \"hi\\\"",
       Value(1, "C:\\\"x\"\0"sv),
       "REGEDIT4\r\n"
       "\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn]\r\n"
       "\"Name\"=\"old\" ; note\r\n"
       "\"Blob\"=hex:01,02,\\\r\n"
       "  03,04\r\n"
       "\"say \\\"hi\\\\\\\"\"=\"C:\\\\\\\"x\\\"\"\r\n"
       "; the codecs\r\n"
       "\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn\\Codecs\\Jix]\r\n"
       "\"Gone\"=-\r\n"},
      {"deleted value set again after its deletion", kVorn, kJixKey, "Gone", Value(3, "\x01\xab"sv),
       "REGEDIT4\r\n"
       "\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn]\r\n"
       "\"Name\"=\"old\" ; note\r\n"
       "\"Blob\"=hex:01,02,\\\r\n"
       "  03,04\r\n"
       "; the codecs\r\n"
       "\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn\\Codecs\\Jix]\r\n"
       "\"Gone\"=-\r\n"
       "\"Gone\"=hex:01,ab\r\n"},
      {"implicit key gets a section", kVorn, "HKEY_LOCAL_MACHINE\\software\\VORN\\codecs", "",
       Value(1, "caf\xe9\0"sv),
       "REGEDIT4\r\n"
       "\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn]\r\n"
       "\"Name\"=\"old\" ; note\r\n"
       "\"Blob\"=hex:01,02,\\\r\n"
       "  03,04\r\n"
       "; the codecs\r\n"
       "\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn\\Codecs\\Jix]\r\n"
       "\"Gone\"=-\r\n"
       "\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorn\\Codecs]\r\n"
       "@=hex(1):63,61,66,e9,00\r\n"
       "\r\n"},
      {"same value again", kVorn, kVornKey, "Name", Value(1, "old\0"sv), kVorn},
      {"same bytes written another way", kVorn, kVornKey, "Blob", Value(3, "\1\2\3\4"), kVorn},
      {"recreated key, LF and no final line break", kDeleted, "HKEY_LOCAL_MACHINE\\a", "x",
       Value(7, "a\0\0"sv),
       "REGEDIT4\n"
       "[HKEY_LOCAL_MACHINE\\A]\n"
       "\"x\"=\"1\"\n"
       "[-HKEY_LOCAL_MACHINE\\A]\n"
       "[HKEY_LOCAL_MACHINE\\A\\B]\n"
       "\n"
       "[HKEY_LOCAL_MACHINE\\A]\n"
       "\"x\"=hex(7):61,00,00\n"
       "\n"},
      {"after the last line, no line break", kDeleted, "HKEY_LOCAL_MACHINE\\A\\B", "y",
       Value(4, "\1\2\3"),
       "REGEDIT4\n"
       "[HKEY_LOCAL_MACHINE\\A]\n"
       "\"x\"=\"1\"\n"
       "[-HKEY_LOCAL_MACHINE\\A]\n"
       "[HKEY_LOCAL_MACHINE\\A\\B]\n"
       "\"y\"=hex(4):01,02,03"},
      {"root of an empty file", "REGEDIT4\r\n\r\n", "HKEY_LOCAL_MACHINE", "Text",
       Value(1, "a\nb\0"sv),
       "REGEDIT4\r\n"
       "\r\n"
       "[HKEY_LOCAL_MACHINE]\r\n"
       "\"Text\"=hex(1):61,0a,62,00\r\n"
       "\r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Set(c.before, c.key, {{std::string(c.name), c.value}}), c.after);
    // The edited file reads back, and holds what is written again already.
    EXPECT_EQ(Set(c.after, c.key, {{std::string(c.name), c.value}}), c.after);
  }
}

// The store keeps a string as it is given: RegSetValueExA decides about its terminating zero.
TEST(SetValue, StoresAStringAsItIsGiven) {
  for (std::string_view data : {"abc"sv, "abc\0"sv}) {
    SCOPED_TRACE(std::string(data));
    const std::string text = Set("REGEDIT4\r\n", "HKEY_USERS", {{"x", Value(1, data)}});
    EXPECT_EQ(MustRead(text, "HKEY_USERS").Value("x"), Value(1, data));
  }
}

TEST(SetValue, RefusesMissingKeysAndUnwritableNames) {
  const std::string_view kText =
      "REGEDIT4\r\n"
      "[HKEY_LOCAL_MACHINE\\A\\B]\r\n"
      "[-HKEY_LOCAL_MACHINE\\A\\B]\r\n";
  const struct {
    const char* key;
    std::string_view name;
  } kCases[] = {
      {"HKEY_LOCAL_MACHINE\\A\\B", "x"}, {"HKEY_LOCAL_MACHINE\\C", "x"},      {"HKLM\\A", "x"},
      {"HKEY_LOCAL_MACHINE\\X\\", "x"},  {"HKEY_LOCAL_MACHINE\\A", "x\0y"sv},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(Set(kText, c.key, {{std::string(c.name), Value(1, "1")}}), "refused");
  }
}

// Values set together: the last of a name wins, and new ones share one new section.
TEST(SetValue, SetsSeveralAtOnce) {
  EXPECT_EQ(Set("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A\\B]\r\n", "HKEY_LOCAL_MACHINE\\a",
                {{"v", Value(4, "\1\0\0\0"sv)}, {"w", Value(1, "x\0"sv)}, {"V", Value(3, "")}}),
            "REGEDIT4\r\n"
            "[HKEY_LOCAL_MACHINE\\A\\B]\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\A]\r\n"
            "\"v\"=hex:\r\n"
            "\"w\"=\"x\"\r\n"
            "\r\n");
}

// The text with the values named removed from key.
std::string Remove(std::string_view text, std::string_view key,
                   const std::vector<std::string>& names) {
  return emulation::Spliced(text, MustRead(text, key).Remove(names));
}

// Every line that sets a value goes, in every section of its key, and nothing else; lines the
// store added go as they came, so that a text gets back its bytes.
TEST(RemoveValue, TakesEveryLineThatSetsItAndNothingElse) {
  constexpr std::string_view kTwice =
      "REGEDIT4\r\n"
      "[HKEY_LOCAL_MACHINE\\A]\r\n"
      "\"x\"=\"1\" ; first\r\n"
      "\"Keep\"=dword:1\r\n"
      "[HKEY_LOCAL_MACHINE\\B]\r\n"
      "\"x\"=\"other key\"\r\n"
      "[hkey_local_machine\\a]\r\n"
      "\"x\"=-\r\n"
      "\"X\"=hex:01,\\\r\n"
      "  02\r\n"
      "\r\n"sv;
  constexpr std::string_view kAtTheEnd =
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\A]\n"
      "\"keep\"=\"1\"\n"
      "\"y\"=\"2\"\n"
      "\"z\"=\"3\""sv;
  const struct {
    const char* what;
    std::string_view before;
    std::vector<std::string> names;
    std::string_view after;
  } kCases[] = {
      {"set since its deletion, with its continuation",
       kTwice,
       {"x"},
       "REGEDIT4\r\n"
       "[HKEY_LOCAL_MACHINE\\A]\r\n"
       "\"x\"=\"1\" ; first\r\n"
       "\"Keep\"=dword:1\r\n"
       "[HKEY_LOCAL_MACHINE\\B]\r\n"
       "\"x\"=\"other key\"\r\n"
       "[hkey_local_machine\\a]\r\n"
       "\"x\"=-\r\n"
       "\r\n"},
      {"in two sections",
       kTwice,
       {"KEEP", "x", "missing"},
       "REGEDIT4\r\n"
       "[HKEY_LOCAL_MACHINE\\A]\r\n"
       "\"x\"=\"1\" ; first\r\n"
       "[HKEY_LOCAL_MACHINE\\B]\r\n"
       "\"x\"=\"other key\"\r\n"
       "[hkey_local_machine\\a]\r\n"
       "\"x\"=-\r\n"
       "\r\n"},
      {"missing", kTwice, {"missing", "B"}, kTwice},
      {"the last line, without a line break",
       kAtTheEnd,
       {"z"},
       "REGEDIT4\n"
       "[HKEY_LOCAL_MACHINE\\A]\n"
       "\"keep\"=\"1\"\n"
       "\"y\"=\"2\""},
      {"the last two lines",
       kAtTheEnd,
       {"z", "y"},
       "REGEDIT4\n"
       "[HKEY_LOCAL_MACHINE\\A]\n"
       "\"keep\"=\"1\""},
      {"around a line kept",
       kAtTheEnd,
       {"z", "keep"},
       "REGEDIT4\n"
       "[HKEY_LOCAL_MACHINE\\A]\n"
       "\"y\"=\"2\""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Remove(c.before, "HKEY_LOCAL_MACHINE\\A", c.names), c.after);
    EXPECT_EQ(Remove(c.after, "HKEY_LOCAL_MACHINE\\A", c.names), c.after);
  }
  // What Set added, Remove takes away again, byte for byte.
  for (std::string_view text : {kTwice, kAtTheEnd}) {
    const Values added = {{"new1", Value(1, "a\0"sv)}, {"new2", Value(3, "\1")}};
    EXPECT_EQ(Remove(Set(text, "HKEY_LOCAL_MACHINE\\A", added), "HKEY_LOCAL_MACHINE\\A",
                     {"new2", "NEW1"}),
              text);
  }
}

}  // namespace
