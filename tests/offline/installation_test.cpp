// Recognising the Windows on a drive from its folders and files: the family, the folders a
// 32-bit program sees, the version, and the drives that hold none or one not to be written.
#include "platform/offline/installation.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/emulation/machine_folder.h"
#include "tests/offline/hive_files.h"

namespace {

const std::string kCurrentVersion = "Microsoft\\Windows NT\\CurrentVersion";

HiveValue Sz(const std::string& name, const std::string& text) {
  return {kCurrentVersion, name, REG_SZ, Utf16(text)};
}
HiveValue Number(const std::string& name, DWORD number) {
  return {kCurrentVersion, name, REG_DWORD, Dword(number)};
}

const std::string kXp = "[boot loader]\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINNT\r\n";
const std::string k98 = "[Paths]\r\nWinDir=C:\\WINDOWS\r\n[Options]\r\nWinVer=4.10.2222\r\n";

struct Case {
  const char* name;
  std::vector<std::string> folders;
  std::vector<std::pair<std::string, std::string>> files;  // path, content
  const char* hive;  // where the SOFTWARE hive is, if anywhere
  std::vector<HiveValue> values;
  // What is recognised, or why not.
  DWORD platformId, major, minor, build;
  bool wow64;
  const char* windows;
  const char* system;
  const char* why;
};

const Case kCases[] = {
    {"XP",
     {},
     {},
     "WINDOWS/system32/config/software",
     {Sz("CurrentVersion", "5.1"), Sz("CurrentBuildNumber", "2600")},
     2,
     5,
     1,
     2600,
     false,
     "C:\\WINDOWS",
     "C:\\WINDOWS\\system32",
     ""},
    {"64-bit Windows 10",
     {"Windows/SysWOW64"},
     {},
     "Windows/System32/config/SOFTWARE",
     {Sz("CurrentVersion", "6.3"), Sz("CurrentBuildNumber", "19045"),
      Number("CurrentMajorVersionNumber", 10), Number("CurrentMinorVersionNumber", 0)},
     2,
     10,
     0,
     19045,
     true,
     "C:\\Windows",
     "C:\\Windows\\SysWOW64",
     ""},
    {"2000 beside a WINDOWS that is none",
     {"WINDOWS/Temp"},
     {{"boot.ini", kXp}},
     "WINNT/system32/config/SOFTWARE",
     {Sz("CurrentVersion", "5.0"), Sz("CurrentBuildNumber", "2195")},
     2,
     5,
     0,
     2195,
     false,
     "C:\\WINNT",
     "C:\\WINNT\\system32",
     ""},
    {"98 SE",
     {"WINDOWS/SYSTEM"},
     {{"WINDOWS/SYSTEM.DAT", ""}, {"MSDOS.SYS", k98}},
     nullptr,
     {},
     1,
     4,
     10,
     2222,
     false,
     "C:\\WINDOWS",
     "C:\\WINDOWS\\SYSTEM",
     ""},
    {"95 in the folder MSDOS.SYS names",
     {"Win95/System"},
     {{"Win95/system.dat", ""}, {"msdos.sys", "[Paths]\nWinDir=C:\\WIN95\n"}},
     nullptr,
     {},
     1,
     4,
     0,
     950,
     false,
     "C:\\Win95",
     "C:\\Win95\\System",
     ""},
    {"98 and NT 4, NT started by default",
     {"WINDOWS/SYSTEM"},
     {{"WINDOWS/SYSTEM.DAT", ""}, {"MSDOS.SYS", k98}, {"BOOT.INI", kXp}},
     "WINNT/System32/config/SOFTWARE",
     {Sz("CurrentVersion", "4.0"), Sz("CurrentBuildNumber", "1381")},
     2,
     4,
     0,
     1381,
     false,
     "C:\\WINNT",
     "C:\\WINNT\\System32",
     ""},
    {"other letter cases, no version in the hive",
     {},
     {},
     "windows/SYSTEM32/Config/software",
     {},
     2,
     5,
     1,
     2600,
     false,
     "C:\\windows",
     "C:\\windows\\SYSTEM32",
     ""},
    {"a data drive",
     {"Users", "Windows"},
     {},
     nullptr,
     {},
     0,
     0,
     0,
     0,
     false,
     "",
     "",
     "no Windows installation"},
    {"95 without its SYSTEM folder",
     {},
     {{"WINDOWS/SYSTEM.DAT", ""}},
     nullptr,
     {},
     0,
     0,
     0,
     0,
     false,
     "",
     "",
     "has no SYSTEM folder"},
};

class InstallationTest : public ::testing::Test {
 protected:
  // Lays out the case's drive in a folder of its own, and opens it.
  emulation::UniqueFd MakeDrive(const Case& c) {
    const std::string drive = folder.work + "/" + c.name;
    for (const std::string& path : c.folders)
      std::filesystem::create_directories(drive + "/" + path);
    for (const auto& [path, content] : c.files) WriteFile(drive + "/" + path, content);
    if (c.hive != nullptr) {
      std::filesystem::create_directories(
          std::filesystem::path(drive + "/" + c.hive).parent_path());
      WriteHive(drive + "/" + c.hive, {}, c.values);
    }
    std::filesystem::create_directories(drive);
    return emulation::UniqueFd(open(drive.c_str(), O_RDONLY | O_DIRECTORY));
  }

  MachineFolder folder;
  std::string why;
};

TEST_F(InstallationTest, RecognisesTheWindowsOnADrive) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const emulation::UniqueFd drive = MakeDrive(c);
    const std::optional<offline::Installation> found =
        offline::RecogniseInstallation(drive.get(), &why);
    ASSERT_EQ(found.has_value(), *c.why == '\0') << why;
    if (!found) {
      EXPECT_NE(why.find(c.why), std::string::npos) << why;
      continue;
    }
    EXPECT_EQ(found->platformId, c.platformId);
    EXPECT_EQ(found->majorVersion, c.major);
    EXPECT_EQ(found->minorVersion, c.minor);
    EXPECT_EQ(found->buildNumber, c.build);
    EXPECT_EQ(found->wow64, c.wow64);
    EXPECT_EQ(found->windowsDirectory, c.windows);
    EXPECT_EQ(found->systemDirectory, c.system);
    ASSERT_EQ(found->software.has_value(), c.hive != nullptr);
    if (c.hive) {
      EXPECT_EQ(found->software->path, folder.work + "/" + c.name + "/" + c.hive);
      EXPECT_EQ(offline::CheckHive(*found->software, &why), ERROR_SUCCESS);
    }
  }
}

TEST_F(InstallationTest, RefusesAHiveWindowsDidNotLeaveCleanAndFollowsNoLink) {
  const Case& xp = kCases[0];
  const emulation::UniqueFd drive = MakeDrive(xp);
  SetSequenceNumbers(folder.work + "/XP/" + xp.hive, 9, 8);
  EXPECT_FALSE(offline::RecogniseInstallation(drive.get(), &why));
  EXPECT_NE(why.find("start Windows and shut it down fully"), std::string::npos) << why;

  MakeDrive(kCases[3]);  // a 95 family beside the drive, which a link on it leads to
  const std::string linked = folder.work + "/linked";
  std::filesystem::create_directory(linked);
  std::filesystem::create_directory_symlink("../98 SE/WINDOWS", linked + "/WINDOWS");
  WriteFile(linked + "/MSDOS.SYS", k98);
  const emulation::UniqueFd linkedDrive(open(linked.c_str(), O_RDONLY | O_DIRECTORY));
  EXPECT_FALSE(offline::RecogniseInstallation(linkedDrive.get(), &why));
  EXPECT_NE(why.find("no Windows installation"), std::string::npos) << why;
}

}  // namespace
