// HKLM.reg, the emulated machine's registry: HKEY_LOCAL_MACHINE as a REGEDIT4 file.
#pragma once

#include "platform/emulation/machine.h"

namespace emulation {

// The store in the machine folder: each open and each save reads the whole file and checks every
// line; a save replaces it, under the folder's lock and on the file as it is then, so two setups
// at once lose nothing. A file it cannot read is never rewritten, and standard error says why.
RegistryStore Regedit4Store(int machineFolder);

}  // namespace emulation
