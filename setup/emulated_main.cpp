// The process entry off Windows: the nine operations are those of the emulated machine, a folder.
#include "platform/emulation/machine.h"
#include "setup/setup.h"

int main(int argc, char** argv) {
  // Without a usable machine there is nothing to set up.
  if (!emulation::OpenMachineFromEnvironment()) return emulation::kNoMachineStatus;
  return RunSetup(argc, argv);
}
