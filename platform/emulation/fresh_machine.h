// A fresh machine, made where there is none yet, as a new Wine prefix is.
#pragma once

#include <string>

namespace emulation {

// Makes a fresh machine in folder, which does not exist yet. False, with *error set, when it
// cannot be made.
bool CreateFreshMachine(const std::string& folder, std::string* error);

}  // namespace emulation
