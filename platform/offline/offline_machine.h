// platform/offline/: an offline Windows installation as the machine behind the nine operations:
// the drive of a Windows that is not running, mounted on the host, its registry the real hive.
#pragma once

#include <string>
#include <string_view>

namespace offline {

// Makes the Windows installation on the drive mounted at path, an absolute path, the machine the
// operations act on: files go to its system directory, values into its SOFTWARE hive (the 95
// family registers in system.ini, and its registry is never touched). False, with *error saying
// in one line why, when the drive holds none that can be installed into.
bool OpenInstallation(const std::string& path, std::string* error);

// Opens the machine VORN_MACHINE names (or ~/.vornsetup/machine): an emulated machine, or else a
// mounted Windows drive. Says on standard error why not when it cannot: "no machine to " and the
// task ("set up"), then the reason.
bool OpenMachineFromEnvironment(std::string_view task);

}  // namespace offline
