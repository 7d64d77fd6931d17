// An offline Windows installation: the drive of a Windows that is not running (a virtual
// machine's disk or a Windows partition mounted on the host), recognised from what is on it.
#pragma once

#include <optional>
#include <string>

#include "platform/offline/hive.h"
#include "platform/win32.h"

namespace offline {

struct Installation {
  DWORD platformId;  // VER_PLATFORM_WIN32_NT or VER_PLATFORM_WIN32_WINDOWS
  DWORD majorVersion, minorVersion, buildNumber;  // what GetVersionExA reports
  // 64-bit Windows: a 32-bit program's system directory is SysWOW64, and its HKLM\SOFTWARE the
  // hive's WOW6432Node.
  bool wow64;
  // Windows paths on C:, each name in the letter case it has on the drive.
  std::string windowsDirectory;      // C:\WINDOWS
  std::string systemDirectory;       // as a 32-bit program sees it: C:\WINDOWS\system32
  std::optional<HiveFile> software;  // the NT family's HKLM\SOFTWARE; the 95 family has none
  View view() const { return wow64 ? View::kWow64 : View::kNative; }
};

// Recognises the Windows installation on drive, an open folder that is the root of the drive,
// matching every name without regard to case and following no symbolic link. Nothing when the
// drive holds none (*why empty), or one that cannot be installed into, with *why saying in one
// line what the user can do: a hive Windows did not leave clean, a drive mounted read-only.
std::optional<Installation> RecogniseInstallation(int drive, std::string* why);

}  // namespace offline
