// platform/emulation/: a Windows machine emulated over a folder, behind the nine operations.
// The folder holds machine.conf (which Windows it is), HKLM.reg (HKEY_LOCAL_MACHINE as a
// REGEDIT4 file) and drive_c (the C: drive). docs/emulated-machine.md describes it.
//
// This is the machine itself: its description, the one this process opens at start-up, and
// where a Windows path leads in it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/emulation/unique_fd.h"
#include "platform/win32.h"

namespace emulation {

// The exit status of the native setup when it has no machine to run on.
inline constexpr int kNoMachineStatus = 3;

// Which Windows the folder stands for, as machine.conf says.
struct MachineDescription {
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  bool versionQueryFails = false;
  std::string windowsDirectory = "C:\\WINDOWS";
  std::string systemDirectory = "C:\\WINDOWS\\SYSTEM32";
};

// Reads machine.conf; on a fault, nothing, and *error says which line and why.
std::optional<MachineDescription> ParseMachineDescription(std::string_view text,
                                                          std::string* error);

// Makes folder the machine the operations act on, first creating a fresh machine there when
// the folder does not exist. False, with *error set, when it cannot be used.
bool OpenMachine(const std::string& folder, std::string* error);

// Opens the machine named by VORN_MACHINE, or else ~/.vornsetup/machine; says on standard error
// why not when it cannot.
bool OpenMachineFromEnvironment();

// The open machine. The operations fail with ERROR_NOT_READY while none is open.
bool MachineIsOpen();
const MachineDescription& Description();
int MachineFolder();
// Where a file of the machine folder is on the host, for messages: MachinePath(kRegistryFile).
std::string MachinePath(std::string_view name);

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
