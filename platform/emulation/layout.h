// What a machine folder holds, by name: docs/emulated-machine.md describes each.
#pragma once

namespace emulation {

inline constexpr char kDescriptionFile[] = "machine.conf";  // which Windows it is
inline constexpr char kRegistryFile[] = "HKLM.reg";         // HKEY_LOCAL_MACHINE, as REGEDIT4
inline constexpr char kDriveFolder[] = "drive_c";           // the C: drive

}  // namespace emulation
