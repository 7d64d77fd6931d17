// How the Windows Installer package's source quotes the package's texts; wixl's tables of the
// built package are checked in tests/windows/check-msi.sh.
#include <gtest/gtest.h>

#include <string>

#include "release/wxs_file.h"

namespace {

TEST(XmlAttributeText, EscapesWhatEndsOrStartsMarkupAndNothingElse) {
  struct Case {
    const char* text;
    const char* escaped;
  };
  const Case kCases[] = {
      {"", ""},
      {"VORN JIX1 Decoder", "VORN JIX1 Decoder"},
      {R"(SOFTWARE\Microsoft\Windows NT)", R"(SOFTWARE\Microsoft\Windows NT)"},
      {R"(a "b" & <c> 'd')", "a &quot;b&quot; &amp; &lt;c&gt; 'd'"},
      {"&amp;", "&amp;amp;"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("text ") + c.text);
    EXPECT_EQ(XmlAttributeText(c.text), c.escaped);
  }
}

}  // namespace
