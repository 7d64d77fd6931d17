// The administrators' REGEDIT4 file, byte for byte, and how it quotes names and data.
#include <gtest/gtest.h>

#include <string>

#include "release/reg_file.h"

namespace {

TEST(NtRegistrationRegFile, HoldsTheFiveValuesOfTheRegistryRegistrarAsRegeditWritesThem) {
  const std::string kExpected =
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc]\r\n"
      "\"vornjixd.dll\"=\"VORN JIX1 Decoder\"\r\n"
      "\"vornjix2.dll\"=\"VORN JIX2 Decoder\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32]\r\n"
      "\"vidc.jix1\"=\"vornjixd.dll\"\r\n"
      "\"vidc.jix2\"=\"vornjix2.dll\"\r\n"
      "\"vidc.uyvy\"=\"vornjixd.dll\"\r\n"
      "\r\n";
  EXPECT_EQ(NtRegistrationRegFile(), kExpected);
}

TEST(NtRemovalRegFile, DeletesTheSameFiveValuesUnderTheSameKeys) {
  const std::string kExpected =
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc]\r\n"
      "\"vornjixd.dll\"=-\r\n"
      "\"vornjix2.dll\"=-\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32]\r\n"
      "\"vidc.jix1\"=-\r\n"
      "\"vidc.jix2\"=-\r\n"
      "\"vidc.uyvy\"=-\r\n"
      "\r\n";
  EXPECT_EQ(NtRemovalRegFile(), kExpected);
}

TEST(QuotedRegString, EscapesBackslashAndDoubleQuoteAndNothingElse) {
  struct Case {
    const char* text;
    const char* quoted;
  };
  const Case kCases[] = {
      {"", R"("")"},
      {"vidc.jix1", R"("vidc.jix1")"},
      {R"(C:\WINDOWS\SYSTEM)", R"("C:\\WINDOWS\\SYSTEM")"},
      {R"(say "OK")", R"("say \"OK\"")"},
      {R"(\")", R"("\\\"")"},
      {"a=b [c] @ 'd' %windir%", R"("a=b [c] @ 'd' %windir%")"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("text ") + c.text);
    EXPECT_EQ(QuotedRegString(c.text), c.quoted);
  }
}

}  // namespace
