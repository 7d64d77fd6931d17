// The profile editor against hand-written bytes. Cases marked "Wine" start from a file in the
// form Wine saves (CRLF, no blank lines, name=value) and expect the bytes Wine 8.0 writes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/emulation/profile_text.h"

namespace {

using emulation::DeleteProfileKey;
using emulation::DeleteProfileSection;
using emulation::GetProfileString;
using emulation::ProfileDefault;
using emulation::ProfileKeyNames;
using emulation::ProfileSectionNames;
using emulation::SetProfileString;

struct SetCase {
  const char* name;
  const char* text;
  const char* section;
  const char* key;
  const char* expected;  // after writing kValue
};
constexpr char kValue[] = "vornjixd.dll";

const SetCase kSetCases[] = {
    // Wine
    {"replace", "[drivers32]\r\nvidc.jix1=old\r\n", "drivers32", "vidc.jix1",
     "[drivers32]\r\nvidc.jix1=vornjixd.dll\r\n"},
    {"same value", "[drivers32]\r\nvidc.jix1=vornjixd.dll\r\n", "drivers32", "vidc.jix1",
     "[drivers32]\r\nvidc.jix1=vornjixd.dll\r\n"},
    {"new key, last section", "[boot]\r\nb=2\r\n[drivers32]\r\na=1\r\n", "drivers32", "k",
     "[boot]\r\nb=2\r\n[drivers32]\r\na=1\r\nk=vornjixd.dll\r\n"},
    {"new key before the next section", "[drivers32]\r\na=1\r\n[boot]\r\n", "drivers32", "k",
     "[drivers32]\r\na=1\r\nk=vornjixd.dll\r\n[boot]\r\n"},
    {"section without keys", "[drivers32]\r\n[boot]\r\n", "drivers32", "k",
     "[drivers32]\r\nk=vornjixd.dll\r\n[boot]\r\n"},
    {"new section", "[boot]\r\nb=2\r\n", "drivers32", "k",
     "[boot]\r\nb=2\r\n[drivers32]\r\nk=vornjixd.dll\r\n"},
    {"empty file", "", "drivers32", "k", "[drivers32]\r\nk=vornjixd.dll\r\n"},
    {"other case", "[DRIVERS32]\r\nVIDC.JIX1=old\r\n", "drivers32", "vidc.jix1",
     "[DRIVERS32]\r\nVIDC.JIX1=vornjixd.dll\r\n"},
    {"key twice", "[drivers32]\r\nk=a\r\nk=b\r\n", "drivers32", "k",
     "[drivers32]\r\nk=vornjixd.dll\r\nk=b\r\n"},
    {"two sections of the name", "[drivers32]\r\na=1\r\n[Drivers32]\r\nk=old\r\n", "drivers32", "k",
     "[drivers32]\r\na=1\r\nk=vornjixd.dll\r\n[Drivers32]\r\nk=old\r\n"},
    {"key before any header", "k=x\r\n[drivers32]\r\n", "drivers32", "k",
     "k=x\r\n[drivers32]\r\nk=vornjixd.dll\r\n"},
    {"line without =", "[drivers32]\r\nk\r\n", "drivers32", "k",
     "[drivers32]\r\nk=vornjixd.dll\r\n"},
    // Wine saves these in its own form: no blank lines, no blanks around "=", CRLF throughout.
    {"spaces around =", "[drivers32]\r\n  k = old \r\nb = 2\r\n", "drivers32", "K",
     "[drivers32]\r\nk=vornjixd.dll\r\nb = 2\r\n"},
    {"same value, spaces around =", "[drivers32]\r\nk = vornjixd.dll \r\n", "drivers32", "k",
     "[drivers32]\r\nk = vornjixd.dll \r\n"},
    {"blank lines after the section", "[drivers32]\r\na=1\r\n\r\n \r\n[boot]\r\n", "drivers32", "k",
     "[drivers32]\r\na=1\r\nk=vornjixd.dll\r\n\r\n \r\n[boot]\r\n"},
    {"comments", "; top\r\n[drivers32]\r\n;k=old\r\na=1 ; a\r\n; end\r\n\r\n[boot]\r\n",
     "drivers32", "k",
     "; top\r\n[drivers32]\r\n;k=old\r\na=1 ; a\r\n; end\r\nk=vornjixd.dll\r\n\r\n[boot]\r\n"},
    {"header with blanks and a remark", " [ Drivers32 ] ; video\r\n", "drivers32", "k",
     " [ Drivers32 ] ; video\r\nk=vornjixd.dll\r\n"},
    {"'[' without ']' is no header", "[drivers32\r\n", "drivers32", "k",
     "[drivers32\r\n[drivers32]\r\nk=vornjixd.dll\r\n"},
    {"LF", "[drivers32]\na=1\n", "drivers32", "k", "[drivers32]\na=1\nk=vornjixd.dll\n"},
    {"LF, no final line break", "[boot]\nb=2", "drivers32", "k",
     "[boot]\nb=2\n[drivers32]\nk=vornjixd.dll\n"},
    {"CRLF, no final line break", "[drivers32]\r\na=1", "drivers32", "k",
     "[drivers32]\r\na=1\r\nk=vornjixd.dll\r\n"},
    {"one line, no line break", "[drivers32]", "drivers32", "k",
     "[drivers32]\r\nk=vornjixd.dll\r\n"},
    // A CR that ends the text ends its last line, as Wine reads it.
    {"LF, a CR ends the text, that key", "[drivers32]\nk\r", "drivers32", "k",
     "[drivers32]\nk=vornjixd.dll\r"},
    {"LF, a CR ends the text, new section", "[boot]\nb=2\r", "drivers32", "k",
     "[boot]\nb=2\r[drivers32]\nk=vornjixd.dll\n"},
    {"mixed, new key", "[drivers32]\r\na=1\n", "drivers32", "k",
     "[drivers32]\r\na=1\nk=vornjixd.dll\r\n"},
    {"mixed, replace", "[boot]\n[drivers32]\r\nk=old\r\na=1\n", "drivers32", "k",
     "[boot]\n[drivers32]\r\nk=vornjixd.dll\r\na=1\n"},
    // Wine reads a lone CR as a line break.
    {"lone CR, replace before it", "[drivers32]\r\nk=old\ra=1\r\n", "drivers32", "k",
     "[drivers32]\r\nk=vornjixd.dll\ra=1\r\n"},
    {"lone CR, replace after it", "[drivers32]\r\na=1\rk=old\r\n", "drivers32", "k",
     "[drivers32]\r\na=1\rk=vornjixd.dll\r\n"},
    {"CR, new key", "[drivers32]\ra=1\r[boot]\r", "drivers32", "k",
     "[drivers32]\ra=1\rk=vornjixd.dll\r[boot]\r"},
    {"lone CR last, new section", "[boot]\r\nb=2\r", "drivers32", "k",
     "[boot]\r\nb=2\r[drivers32]\r\nk=vornjixd.dll\r\n"},
    // Wine writes "[drivers32 ]" and "k =": it keeps trailing blanks of new names.
    {"blanks around the names", "", " drivers32 ", " k ", "[drivers32]\r\nk=vornjixd.dll\r\n"},
};

TEST(SetProfileString, EditsOnlyTheLineItHasTo) {
  for (const SetCase& c : kSetCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SetProfileString(c.text, c.section, c.key, kValue), c.expected);
  }
}

TEST(SetProfileString, RejectsWhatCannotStandInAProfileLine) {
  const struct {
    const char* section;
    const char* key;
    const char* value;
  } kRejected[] = {
      {"drivers32", "k", "a\r\nb"},
      {"drivers32", "k", "a\nb"},
      {"drivers32", "k", "a\rb"},
      {"drivers\n32", "k", "v"},
      {"drivers]32", "k", "v"},
      {"", "k", "v"},
      {" \t", "k", "v"},
      {"drivers32", "k\r", "v"},
      {"drivers32", "k=j", "v"},
      {"drivers32", "", "v"},
      {"drivers32", " ", "v"},
      {"drivers32", " ;k", "v"},
      {"drivers32", "[k]", "v"},
  };
  const std::string text = "[drivers32]\r\nk=old\r\n";
  for (const auto& c : kRejected) {
    SCOPED_TRACE(std::string(c.section) + "|" + c.key + "|" + c.value);
    EXPECT_EQ(SetProfileString(text, c.section, c.key, c.value), std::nullopt);
  }
  EXPECT_EQ(DeleteProfileKey(text, "drivers32", "k=j"), std::nullopt);
  EXPECT_EQ(DeleteProfileSection(text, "drivers]32"), std::nullopt);
  EXPECT_EQ(GetProfileString(text, "drivers32", ""), std::nullopt);
}

TEST(DeleteProfile, RemovesTheFirstMatchOnly) {
  const struct {
    const char* name;
    const char* text;
    const char* section;
    const char* key;  // nullptr: the whole section
    const char* expected;
  } kCases[] = {
      // Wine
      {"key", "[x]\r\na=1\r\nb=2\r\n[y]\r\n", "x", "A", "[x]\r\nb=2\r\n[y]\r\n"},
      {"last key", "[x]\r\na=1\r\n[y]\r\nc=3\r\n", "x", "a", "[x]\r\n[y]\r\nc=3\r\n"},
      {"key in the second section of the name", "[x]\r\na=1\r\n[X]\r\nb=2\r\n", "x", "b",
       "[x]\r\na=1\r\n[X]\r\n"},
      {"missing key", "[x]\r\na=1\r\n", "x", "b", "[x]\r\na=1\r\n"},
      {"section", "[x]\r\na=1\r\n[y]\r\nc=3\r\n", "X", nullptr, "[y]\r\nc=3\r\n"},
      {"last section", "[x]\r\na=1\r\n[y]\r\nc=3\r\n", "y", nullptr, "[x]\r\na=1\r\n"},
      {"first section of the name", "[x]\r\na=1\r\n[X]\r\nb=2\r\n", "x", nullptr, "[X]\r\nb=2\r\n"},
      {"missing section", "[x]\r\na=1\r\n", "y", nullptr, "[x]\r\na=1\r\n"},
      // Wine saves these in its own form
      {"key twice, no final line break", "[x]\na=1\n;a\na=2", "x", "a", "[x]\n;a\na=2"},
      {"last line, no line break", "[x]\na=1\nb=2", "x", "b", "[x]\na=1\n"},
      {"after a lone CR", "[x]\r\na=1\rb=2\r\n", "x", "b", "[x]\r\na=1\r"},
      {"section with comments", "; top\n[x]\n; c\n\na=1\n\n[y]\n", "x", nullptr, "; top\n[y]\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.key ? DeleteProfileKey(c.text, c.section, c.key)
                    : DeleteProfileSection(c.text, c.section),
              c.expected);
  }
}

TEST(GetProfileString, ReadsAsWindowsDoes) {
  const struct {
    const char* name;
    const char* text;
    std::optional<std::string> expected;  // of key "k" in section "x"
  } kCases[] = {
      {"plain", "[x]\r\nk=v\r\n", "v"},
      {"blanks", "[x]\n K \t=  v w \t\n", "v w"},
      {"double quotes", "[x]\nk= \"v \" \n", "v "},
      {"single quotes", "[x]\nk='v'\n", "v"},
      {"unmatched quotes", "[x]\nk=\"v'\n", "\"v'"},
      {"one quote", "[x]\nk=\"\n", "\""},
      {"empty", "[x]\nk=\n", ""},
      {"no =", "[x]\nk\n", std::nullopt},
      {"first key of the first section", "[x]\nk=1\nk=2\n[X]\nk=3\n", "1"},
      {"only the first section", "[x]\n[X]\nk=3\n", std::nullopt},
      {"before any header", "k=1\n[x]\n", std::nullopt},
      {"comment", "[x]\n;k=1\n", std::nullopt},
      {"missing section", "[y]\nk=1\n", std::nullopt},
      {"after a lone CR", "[x]\ra=1\rk=v\r", "v"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GetProfileString(c.text, "x", "k"), c.expected);
  }
}

// What the listing forms and the default give, as Wine 8 gives them.
TEST(ProfileNames, ListAsWindowsDoes) {
  using Names = std::vector<std::string>;
  constexpr char kText[] =
      "k=0\r\n[ A ]\r\n a =1\r\n;c=2\r\nno equals\r\n=empty\r\n\r\n[]\r\n[b]\r\n[a]\r\nx=3";
  EXPECT_EQ(ProfileSectionNames(kText), (Names{"A", "b", "a"}));
  EXPECT_EQ(ProfileKeyNames(kText, " a "), (Names{"a", ""}));  // the first section of the name
  EXPECT_EQ(ProfileKeyNames(kText, "b"), Names());
  EXPECT_EQ(ProfileKeyNames(kText, "c"), Names());
  // A key named like a comment is read, though no write makes one.
  EXPECT_EQ(GetProfileString(kText, "A", ";c"), "2");
  const struct {
    const char* given;
    const char* expected;
  } kDefaults[] = {{"def  ", "def"}, {"  def", "  def"}, {"\"def\" ", "def"},
                   {"'d'", "d"},     {"\"d'", "\"d'"},   {"  ", " "},
                   {"", ""},         {"d\t", "d\t"}};
  for (const auto& d : kDefaults) EXPECT_EQ(ProfileDefault(d.given), d.expected) << d.given;
}

}  // namespace
