// What the machine itself has to say to the user, on standard error.
#include <cstdio>

#include "platform/emulation/machine.h"

namespace emulation {

void ReportMachineFault(const std::string& what) {
  std::fprintf(stderr, "vornsetup: %s\n", what.c_str());
}

}  // namespace emulation
