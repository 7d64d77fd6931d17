// The remover's one fixed sequence: find the Windows family, take the decoders' registration away
// with that family's unregistrar, then delete both decoders from the system directory, report the
// outcome.
#pragma once

// What the process ends with, for a calling program.
enum RemovalStatus : int {
  kRemoverRan = 0,           // the box said removed (or nothing was left) or NOT completely removed
  kDecoderInUse = 1,         // the registration is gone; a decoder file stays until the next run
  kRemovalWrongWindows = 2,  // nothing touched: neither Windows family
};

// The whole removal. The command line is passed and ignored: the remover takes no arguments.
RemovalStatus RunRemoval(int argc, char** argv);
