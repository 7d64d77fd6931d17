// Writes the NT family's registration as a REGEDIT4 file for the release package. Built for
// and run on the build machine, also in the cross build.
//   make_reg_file OUTPUT
#include <cstdio>
#include <fstream>

#include "release/reg_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_reg_file OUTPUT\n");
    return 2;
  }
  // Binary: the CRLF line ends are the file's own, on any build machine.
  std::ofstream output(argv[1], std::ios::binary | std::ios::trunc);
  output << NtRegistrationRegFile();
  output.close();
  if (!output) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
