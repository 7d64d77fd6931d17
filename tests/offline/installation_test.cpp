// Recognising the Windows on a drive from its folders and files: the family, the folders a
// 32-bit program sees, the version, and the drives that hold none or one not to be written.
#include "platform/offline/installation.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "tests/emulation/machine_folder.h"
#include "tests/offline/hive_files.h"

namespace {

namespace fs = std::filesystem;

HiveValue Sz(const std::string& name, const std::string& text) {
  return {"Microsoft\\Windows NT\\CurrentVersion", name, REG_SZ, Utf16(text)};
}
HiveValue Number(const std::string& name, DWORD number) {
  return {"Microsoft\\Windows NT\\CurrentVersion", name, REG_DWORD, Dword(number)};
}

const std::string kBootIni =
    "boot.ini=[boot loader]\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINNT";
const std::string k98 =
    "MSDOS.SYS=[Paths]\r\nWinDir=C:\\WINDOWS\r\n[Options]\r\nWinVer=4.10.2222\r\n";

struct Case {
  const char* name;
  std::vector<std::string> tree;  // "folder/", "file=content", or "file=HIVE" for the hive
  std::vector<HiveValue> version;
  const char* found;  // "platform version [wow64] windows system [hive]", or why there is none
};

const Case kCases[] = {
    {"XP",
     {"WINDOWS/system32/config/software=HIVE"},
     {Sz("CurrentVersion", "5.1"), Sz("CurrentBuildNumber", "2600")},
     "2 5.1.2600 C:\\WINDOWS C:\\WINDOWS\\system32 software"},
    {"64-bit 10",
     {"Windows/SysWOW64/", "Windows/System32/config/SOFTWARE=HIVE"},
     {Sz("CurrentVersion", "6.3"), Sz("CurrentBuildNumber", "19045"),
      Number("CurrentMajorVersionNumber", 10), Number("CurrentMinorVersionNumber", 0)},
     "2 10.0.19045 wow64 C:\\Windows C:\\Windows\\SysWOW64 SOFTWARE"},
    {"2000 beside a WINDOWS that is none",
     {"WINDOWS/Temp/", kBootIni, "WINNT/system32/config/SOFTWARE=HIVE"},
     {Sz("CurrentVersion", "5.0"), Sz("CurrentBuildNumber", "2195")},
     "2 5.0.2195 C:\\WINNT C:\\WINNT\\system32 SOFTWARE"},
    {"98 SE",
     {"WINDOWS/SYSTEM/", "WINDOWS/SYSTEM.DAT=", k98},
     {},
     "1 4.10.2222 C:\\WINDOWS C:\\WINDOWS\\SYSTEM"},
    {"95 where MSDOS.SYS says",
     {"Win95/System/", "Win95/system.dat=", "msdos.sys=[Paths]\nWinDir=C:\\WIN95"},
     {},
     "1 4.0.950 C:\\Win95 C:\\Win95\\System"},
    {"98 and NT 4, NT by default",
     {"WINDOWS/SYSTEM/", "WINDOWS/SYSTEM.DAT=", k98, kBootIni,
      "WINNT/System32/config/SOFTWARE=HIVE"},
     {Sz("CurrentVersion", "4.0"), Sz("CurrentBuildNumber", "1381")},
     "2 4.0.1381 C:\\WINNT C:\\WINNT\\System32 SOFTWARE"},
    {"95 without SYSTEM", {"WINDOWS/SYSTEM.DAT="}, {}, "has no SYSTEM folder"},
};

class InstallationTest : public ::testing::Test {
 protected:
  // Lays out a drive in a folder of its own, and opens it.
  emulation::UniqueFd MakeDrive(const Case& c) {
    const std::string drive = folder.work + "/" + c.name;
    LayOutDrive(drive, c.tree, {}, c.version);
    return emulation::UniqueFd(open(drive.c_str(), O_RDONLY | O_DIRECTORY));
  }

  std::string Recognised(int drive) {
    const std::optional<offline::Installation> found = offline::RecogniseInstallation(drive, &why);
    if (!found) return why;
    const emulation::MachineDescription& d = found->description;
    return std::to_string(d.platformId) + " " + std::to_string(d.majorVersion) + "." +
           std::to_string(d.minorVersion) + "." + std::to_string(d.buildNumber) +
           (found->view == offline::View::kWow64 ? " wow64 " : " ") + d.windowsDirectory + " " +
           d.systemDirectory + (found->software ? " " + found->software->name : "");
  }

  MachineFolder folder;
  std::string why;
};

TEST_F(InstallationTest, RecognisesTheWindowsOnADrive) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string found = Recognised(MakeDrive(c).get());
    if (std::isdigit(c.found[0])) {
      EXPECT_EQ(found, c.found);
    } else {
      EXPECT_NE(found.find(c.found), std::string::npos) << found;
    }
  }
}

}  // namespace
