// A fresh machine, made where there is none yet, as a new Wine prefix is.
#pragma once

#include <string>

#include "platform/emulation/unique_fd.h"

namespace emulation {

// Opens the machine folder at path, an absolute path, first making a fresh machine in it when
// it holds none yet: when it does not exist, is empty, or holds a fresh machine a killed run
// left half-made. Nothing, with *error saying why, when it cannot be had.
UniqueFd OpenMachineFolder(const std::string& path, std::string* error);

}  // namespace emulation
