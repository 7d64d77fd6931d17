// Test support for the emulated machine: a fresh machine folder of its own for each test, and
// the files in it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"

// A temporary folder holding a machine ("machine") and whatever else a test needs beside it
// (a package folder, say). Removed with everything in it at the end of the test.
class MachineFolder {
 public:
  MachineFolder();
  ~MachineFolder();
  MachineFolder(const MachineFolder&) = delete;
  MachineFolder& operator=(const MachineFolder&) = delete;

  // Makes the machine a fresh one and opens it for the operations of this process.
  void OpenFresh();
  // Rewrites machine.conf.
  void Describe(const std::string& platform, const std::string& windows = "C:\\WINDOWS",
                const std::string& system = "C:\\WINDOWS\\SYSTEM32");

  std::string work;     // the temporary folder
  std::string machine;  // work + "/machine"
  std::string drive;    // machine + "/drive_c"
};

// What a fresh machine holds, written out by hand.
inline const std::string kFreshStore =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
    "\"CurrentVersion\"=\"5.1\"\r\n"
    "\"CurrentBuildNumber\"=\"2600\"\r\n"
    "\"SystemRoot\"=\"C:\\\\WINDOWS\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc]\r\n"
    "\"msrle32.dll\"=\"Microsoft RLE\"\r\n"
    "\"msvidc32.dll\"=\"Microsoft Video 1\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32]\r\n"
    "\"msacm.imaadpcm\"=\"imaadp32.acm\"\r\n"
    "\"vidc.mrle\"=\"msrle32.dll\"\r\n"
    "\"vidc.msvc\"=\"msvidc32.dll\"\r\n"
    "\"wavemapper\"=\"msacm32.drv\"\r\n"
    "\r\n";

inline const std::string kFreshSystemIni =
    "; for 16-bit app support\r\n"
    "[386Enh]\r\n"
    "woafont=dosapp.fon\r\n"
    "\r\n"
    "[drivers]\r\n"
    "wave=mmdrv.dll\r\n"
    "timer=timer.drv\r\n"
    "\r\n"
    "[mci]\r\n"
    "[drivers32]\r\n"
    "msacm.imaadpcm=imaadp32.acm\r\n";

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool Exists(const std::string& path);
// Every name in a folder, sorted, to see that nothing was left or added.
std::string ListFolder(const std::string& path);

// Set as the last error before each call, so that a stale error shows.
constexpr DWORD kSentinel = 0xdeadbeef;

// A test on a fresh NT machine of its own, opened for this process's operations, with the
// current directory in a package folder beside it that holds a "vornjixd.dll".
class EmulatedMachineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  MachineFolder folder;
  std::string system32, package;
};
