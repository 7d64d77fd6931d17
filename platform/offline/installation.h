// An offline Windows installation: the drive of a Windows that is not running (a virtual
// machine's disk or a Windows partition mounted on the host), recognised from what is on it.
#pragma once

#include <optional>
#include <string>

#include "platform/emulation/machine.h"
#include "platform/offline/hive.h"

namespace offline {

struct Installation {
  // Its family and version as GetVersionExA reports them, and its folders as a 32-bit program
  // sees them, each name in the letter case it has on the drive: C:\WINDOWS\system32.
  emulation::MachineDescription description;
  // kWow64 on 64-bit Windows: a 32-bit program's system directory is SysWOW64, and its
  // HKLM\SOFTWARE the hive's WOW6432Node.
  View view;
  std::optional<HiveFile> software;  // the NT family's HKLM\SOFTWARE; the 95 family has none
};

// Recognises the Windows installation on drive, an open folder that is the root of the drive,
// matching every name without regard to case and reaching nothing outside the drive: no name
// from boot.ini or MSDOS.SYS that climbs, no link followed. Nothing when the drive holds none
// (*why empty), or one that cannot be installed into as it stands, with *why saying in one line
// what is wrong, naming the file or link, and what the user can do.
std::optional<Installation> RecogniseInstallation(int drive, std::string* why);

}  // namespace offline
