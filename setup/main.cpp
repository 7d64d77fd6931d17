#include "setup/setup.h"

#ifndef _WIN32
#include "platform/emulation/machine.h"
#endif

int main(int argc, char** argv) {
#ifndef _WIN32
  // Off Windows the machine is a folder; without a usable one there is nothing to set up.
  if (!emulation::OpenMachineFromEnvironment()) return emulation::kNoMachineStatus;
#endif
  return RunSetup(argc, argv);
}
