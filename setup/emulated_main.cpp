// The process entry off Windows: the nine operations are those of an emulated machine, a folder,
// or of a Windows installation on a mounted drive.
#include "platform/emulation/machine.h"
#include "platform/offline/offline_machine.h"
#include "setup/setup.h"

int main(int argc, char** argv) {
  // Without a usable machine there is nothing to set up.
  if (!offline::OpenMachineFromEnvironment()) return emulation::kNoMachineStatus;
  return RunSetup(argc, argv);
}
