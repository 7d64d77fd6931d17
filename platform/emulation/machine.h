// platform/emulation/: a Windows machine emulated over a folder, behind the nine operations.
// The folder holds machine.conf (which Windows it is), HKLM.reg (HKEY_LOCAL_MACHINE as a
// REGEDIT4 file) and drive_c (the C: drive). docs/emulated-machine.md describes it.
//
// This is the machine itself: its description, the one this process opens at start-up, and
// where a Windows path leads in it. An offline Windows installation (platform/offline/) is
// opened as a machine too, with its own drive and registry.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/emulation/regedit4.h"
#include "platform/emulation/unique_fd.h"
#include "platform/win32.h"

namespace emulation {

// The exit status of the native setup when it has no machine to run on.
inline constexpr int kNoMachineStatus = 3;

// Which Windows the machine is: platform id, the numbers GetVersionExA reports beside it, and
// its directories as full paths on C:.
struct MachineDescription {
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  bool versionQueryFails = false;
  DWORD majorVersion = 0, minorVersion = 0, buildNumber = 0;
  std::string windowsDirectory = "C:\\WINDOWS";
  std::string systemDirectory = "C:\\WINDOWS\\SYSTEM32";
};

// Reads machine.conf; on a fault, nothing, and *error says which line and why. The version
// numbers are its family's: Windows XP's, Windows 95's or Win32s'.
std::optional<MachineDescription> ParseMachineDescription(std::string_view text,
                                                          std::string* error);

// Where the machine keeps HKEY_LOCAL_MACHINE. Each takes a key's full path,
// "HKEY_LOCAL_MACHINE\...", and answers with a Windows error code.
struct RegistryStore {
  // Whether the key exists (it is never created) and, when writable, may be changed.
  std::function<LONG(const std::string& path, bool writable)> open;
  // The value of that name as the key holds it now, a string in the ANSI code page as
  // RegQueryValueExA gives it; ERROR_FILE_NOT_FOUND when the key holds none.
  std::function<LONG(const std::string& path, const std::string& name, RegistryValue* value)> read;
  // Sets values on the key and removes the values named (none of those set; a name the key does
  // not hold is no fault), as one change, saved at once.
  std::function<LONG(const std::string& path, const NamedValues& set,
                     const std::vector<std::string>& removed)>
      save;
};

// Makes this the machine the operations act on: what it is, its drive C: and its registry.
void UseMachine(MachineDescription description, UniqueFd drive, RegistryStore registry);

// The open machine. The operations fail with ERROR_NOT_READY while none is open.
bool MachineIsOpen();
const MachineDescription& Description();
const RegistryStore& Registry();

// Where a Windows path leads on the host: the open folder that holds it and the name in that
// folder (as found on disk, whatever the letter case asked for). Paths on drive C: stay inside
// the machine's drive folder, where no link is followed; relative names start at the current
// directory.
struct Location {
  UniqueFd folder;
  std::string name;
  bool insideMachine;
};
std::optional<Location> Locate(std::string_view windowsPath, DWORD* error);

}  // namespace emulation
