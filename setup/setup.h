// setup/: each program's process entry and its one fixed sequence. The setup's, here: copy the
// decoders, find the Windows family, register with that family's registrar, report the outcome.
// The remover's: removal.h.
#pragma once

// What the process ends with, for a calling program.
enum ExitStatus : int {
  kRegistrarRan = 0,         // the box said complete or NOT complete
  kSecondCopyFailed = 1,     // nothing registered
  kUnsupportedPlatform = 2,  // copied, but not registered: neither Windows family
};

// The whole setup. The command line is passed and ignored: the setup takes no arguments.
ExitStatus RunSetup(int argc, char** argv);
