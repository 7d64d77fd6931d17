// WritePrivateProfileStringA on the machine's profile files: where they live, and Windows'
// answers. How the text itself is edited is profile_text_test's part.
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

}  // namespace
