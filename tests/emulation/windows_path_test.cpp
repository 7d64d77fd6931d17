// How Windows paths map onto the machine folder: as Windows reads them, and never out of it.
#include <gtest/gtest.h>

#include "platform/emulation/windows_path.h"

namespace {

using emulation::ParseWindowsPath;
using Names = std::vector<std::string>;

struct PathCase {
  const char* path;
  bool valid;
  bool onDriveC;
  Names names;
};

TEST(ParseWindowsPath, ReadsPathsAsWindowsDoes) {
  const PathCase cases[] = {
      {"C:\\WINDOWS\\SYSTEM32\\vornjixd.dll", true, true, {"WINDOWS", "SYSTEM32", "vornjixd.dll"}},
      {"c:/windows/system.ini", true, true, {"windows", "system.ini"}},
      {"C:\\WINDOWS\\\\SYSTEM32\\.\\x.dll", true, true, {"WINDOWS", "SYSTEM32", "x.dll"}},
      {"C:\\WINDOWS\\SYSTEM32\\..\\system.ini", true, true, {"WINDOWS", "system.ini"}},
      {"C:\\..\\..\\etc\\passwd", true, true, {"etc", "passwd"}},  // ".." stops at the root
      {"\\WINDOWS\\x", true, true, {"WINDOWS", "x"}},
      {"C:x.dll", true, true, {"x.dll"}},
      {"C:\\", true, true, {}},
      {"vornjixd.dll", true, false, {"vornjixd.dll"}},
      {"sub\\..\\vornjixd.dll", true, false, {"vornjixd.dll"}},
      {"vornjixd.dll. . ", true, false, {"vornjixd.dll"}},  // trailing dots and spaces dropped
      {"C:\\a\\...\\b", true, true, {"a", "b"}},
      {"..\\vornjixd.dll", false, false, {}},  // above the current directory
      {"D:\\WINDOWS\\x", false, false, {}},
      {"\\\\server\\share\\x", false, false, {}},
      {"\\\\?\\C:\\x", false, false, {}},
      {"//./PhysicalDrive0", false, false, {}},
      {"C:\\a\\b:stream", false, false, {}},
      {"C:\\a\\b*", false, false, {}},
      {"C:\\a\\b\x01", false, false, {}},
      {"", false, false, {}},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.path);
    const auto parsed = ParseWindowsPath(c.path);
    ASSERT_EQ(parsed.has_value(), c.valid);
    if (!parsed) continue;
    EXPECT_EQ(parsed->onDriveC, c.onDriveC);
    EXPECT_EQ(parsed->names, c.names);
  }
}

TEST(ParseWindowsPath, NoNameCanClimbOrCarryASeparator) {
  const char* const hostile[] = {"C:\\..",          "C:\\a\\..\\..\\..", "C:\\.\\..\\.",
                                 "C:/../x/../../y", "C:\\a/..\\../b",    "C:\\ ..",
                                 "C:\\.. \\x",      "C:\\x\\..."};
  for (const char* path : hostile) {
    SCOPED_TRACE(path);
    const auto parsed = ParseWindowsPath(path);
    if (!parsed) continue;
    for (const std::string& name : parsed->names) {
      EXPECT_NE(name, "..");
      EXPECT_NE(name, ".");
      EXPECT_FALSE(name.empty());
      EXPECT_EQ(name.find_first_of("/\\"), std::string::npos);
    }
  }
}

}  // namespace
