// GetPrivateProfileStringA and WritePrivateProfileStringA on the machine's profile files: where
// they live, and Windows' answers. How the text itself is read and edited is profile_text_test's
// part.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/win32.h"
#include "tests/emulation/machine_folder.h"

namespace {

namespace fs = std::filesystem;

class ProfileTest : public EmulatedMachineTest {
 protected:
  std::string Ini(const char* name = "system.ini") {
    return ReadFile(folder.drive + "/WINDOWS/" + name);
  }
};

TEST_F(ProfileTest, ABareNameLivesInTheWindowsDirectory) {
  EXPECT_EQ(WritePrivateProfileStringA("drivers32", "vidc.jix1", "vornjixd.dll", "system.ini"),
            TRUE);
  EXPECT_EQ(Ini(), kFreshSystemIni + "vidc.jix1=vornjixd.dll\r\n");
  EXPECT_EQ(WritePrivateProfileStringA("drivers32", "vidc.jix1", "vornjixd.dll",
                                       "C:\\windows\\SYSTEM.INI"),
            TRUE);
  EXPECT_EQ(Ini(), kFreshSystemIni + "vidc.jix1=vornjixd.dll\r\n");
  // Windows keeps win.ini for a missing name, and makes a file that does not exist yet.
  EXPECT_EQ(WritePrivateProfileStringA("drivers32", "vidc.jix2", "vornjix2.dll", nullptr), TRUE);
  EXPECT_EQ(Ini("win.ini"), "[drivers32]\r\nvidc.jix2=vornjix2.dll\r\n");
  // The all-null flush answers FALSE, as Windows documents.
  EXPECT_EQ(WritePrivateProfileStringA(nullptr, nullptr, nullptr, "system.ini"), FALSE);
}

TEST_F(ProfileTest, FailsAsWindowsDoesAndChangesNothing) {
  const std::string ini = folder.drive + "/WINDOWS/system.ini";
  struct {
    const char* name;
    std::function<void()> prepare;
    const char* section;
    const char* key;
    const char* file;
    DWORD error;
  } const cases[] = {
      {"read-only, whoever asks",
       [&] { fs::permissions(ini, fs::perms::owner_read | fs::perms::others_read); }, "drivers32",
       "vidc.jix1", "system.ini", ERROR_ACCESS_DENIED},
      {"a folder where the file should be",
       [&] {
         fs::remove(ini);
         fs::create_directory(ini);
       },
       "drivers32", "vidc.jix1", "system.ini", ERROR_ACCESS_DENIED},
      {"a key no line can hold", [] {}, "drivers32", "vidc=jix1", "system.ini",
       ERROR_INVALID_PARAMETER},
      {"a section no line can hold", [] {}, "drivers32]", "vidc.jix1", "system.ini",
       ERROR_INVALID_PARAMETER},
      {"a folder that does not exist", [] {}, "drivers32", "vidc.jix1", "C:\\NOWHERE\\x.ini",
       ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(ini);
    WriteFile(ini, kFreshSystemIni);
    c.prepare();
    const std::string before = fs::is_directory(ini) ? "" : Ini();
    SetLastError(kSentinel);
    EXPECT_EQ(WritePrivateProfileStringA(c.section, c.key, "vornjixd.dll", c.file), FALSE);
    EXPECT_EQ(GetLastError(), c.error);
    if (!fs::is_directory(ini)) {
      EXPECT_EQ(Ini(), before);
    }
    fs::permissions(ini, fs::perms::owner_all);
  }
  EXPECT_EQ(ListFolder(folder.drive + "/WINDOWS"), "SYSTEM32 system.ini ");
}

// Calls that write nothing, answered as Wine 8 answers them (its own tests show Windows giving
// the same for a missing section name). Each returns FALSE.
TEST_F(ProfileTest, AnswersCallsThatWriteNothingAsWindowsDoes) {
  constexpr const char* kKey = "vidc.jix1";
  constexpr const char* kValue = "vornjixd.dll";
  struct {
    const char* name;
    const char* key;
    const char* value;
    const char* file;
    DWORD error;
  } const cases[] = {
      {"no section name", kKey, kValue, "system.ini", ERROR_FILE_NOT_FOUND},
      {"no section name, missing file", kKey, kValue, "other.ini", ERROR_FILE_NOT_FOUND},
      // A flush says whether the file could be opened.
      {"flush", nullptr, nullptr, "system.ini", ERROR_SUCCESS},
      {"flush, full path", nullptr, nullptr, "C:\\WINDOWS\\SYSTEM.INI", ERROR_SUCCESS},
      {"flush, missing file", nullptr, nullptr, "other.ini", ERROR_FILE_NOT_FOUND},
      {"flush, missing folder", nullptr, nullptr, "C:\\NOWHERE\\x.ini", ERROR_PATH_NOT_FOUND},
      {"flush, empty name: the Windows directory", nullptr, nullptr, "", ERROR_ACCESS_DENIED},
      {"flush, no file name: nothing opened", nullptr, nullptr, nullptr, kSentinel},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(kSentinel);
    EXPECT_EQ(WritePrivateProfileStringA(nullptr, c.key, c.value, c.file), FALSE);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(Ini(), kFreshSystemIni);
  }
  EXPECT_EQ(ListFolder(folder.drive + "/WINDOWS"), "SYSTEM32 system.ini ");
}

// What a read gives: the answer, then the buffer (filled with '#' before) to its end.
std::string Got(const char* section, const char* key, const char* fallback, DWORD size,
                const char* file) {
  char buffer[32];
  std::string(sizeof buffer, '#').copy(buffer, sizeof buffer);
  const DWORD got = GetPrivateProfileStringA(section, key, fallback, buffer, size, file);
  return std::to_string(got) + ":" + std::string(buffer, size);
}

TEST_F(ProfileTest, ReadsAsWindowsDoes) {
  using namespace std::string_literals;
  WriteFile(folder.drive + "/WINDOWS/t.ini", "[s]\r\nk = \"v w\" \r\nlong=0123456789\r\n[t]\r\n");
  const struct {
    const char* section;
    const char* key;
    const char* fallback;
    DWORD size;
    const char* file;
    std::string expected;
  } kCases[] = {
      {"S", "K", "d", 8, "t.ini", "3:v w\0####"s},
      {"s", "long", "d", 8, "C:\\WINDOWS\\T.INI", "7:0123456\0"s},
      {"s", "long", "d", 1, "t.ini", "0:\0"s},
      {"s", "long", "d", 0, "t.ini", "0:"s},
      {"s", "missing", "\"d\"  ", 4, "t.ini", "1:d\0##"s},
      {"s", "k", nullptr, 4, "missing.ini", "0:\0###"s},
      {"drivers32", "vidc.jix1", "d", 4, nullptr, "1:d\0##"s},  // win.ini, missing
      {"s", nullptr, "d", 16, "t.ini", "7:k\0long\0\0########"s},
      {"s", nullptr, "d", 7, "t.ini", "5:k\0lon\0\0"s},  // cut, ending in two zeros
      {"t", nullptr, "d", 4, "t.ini", "1:d\0##"s},       // no keys: the default
      {nullptr, "k", "d", 8, "t.ini", "4:s\0t\0\0###"s},
      {nullptr, nullptr, "d", 3, "t.ini", "1:s\0\0"s},
      {nullptr, nullptr, "d", 4, "missing.ini", "0:\0###"s},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.section ? c.section : "(null)") + "|" + (c.key ? c.key : "(null)"));
    EXPECT_EQ(Got(c.section, c.key, c.fallback, c.size, c.file), c.expected);
  }
  // A profile that cannot be read gives the default, and the user is told.
  fs::create_directory(folder.drive + "/WINDOWS/folder.ini");
  testing::internal::CaptureStderr();
  EXPECT_EQ(Got("s", "k", "d", 2, "folder.ini"), "1:d\0"s);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("folder.ini': not a plain file\n"),
            std::string::npos);
}

}  // namespace
