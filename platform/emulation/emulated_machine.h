// The emulated machine, opened at start-up: a folder holding machine.conf, HKLM.reg and drive_c,
// made fresh where there is none yet, as a new Wine prefix is.
#pragma once

#include <string>

namespace emulation {

// Whether the folder at path is for an emulated machine: it holds one, is empty or missing (and
// becomes a fresh one), or holds a fresh machine a killed run left half-made.
bool IsMachineFolder(const std::string& path);

// Makes the emulated machine in folder, an absolute path, the one the operations act on, first
// making a fresh machine there when it holds none yet. False, with *error set, when it cannot be
// used.
bool OpenMachine(const std::string& folder, std::string* error);

// The folder VORN_MACHINE names, or else ~/.vornsetup/machine.
std::string MachineFolderFromEnvironment();

// A full disk, a file size limit or a closed standard error fails a write, never the process.
void IgnoreHostSignals();

// Opens the emulated machine MachineFolderFromEnvironment names; says on standard error why not
// when it cannot.
bool OpenMachineFromEnvironment();

}  // namespace emulation
