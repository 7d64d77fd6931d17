// Writes one of the release's texts made from the package table: the NT family's registration
// as a REGEDIT4 file, the same registration's removal, or the Windows Installer package's WiX
// source. Built for and run on the build machine, also in the cross build.
//   make_release_file reg|remove-reg|wxs OUTPUT
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "release/reg_file.h"
#include "release/wxs_file.h"

int main(int argc, char** argv) {
  const struct {
    const char* kind;
    std::string (*write)();
  } kTexts[] = {
      {"reg", NtRegistrationRegFile},
      {"remove-reg", NtRemovalRegFile},
      {"wxs", DecoderPackageWxs},
  };
  std::string (*write)() = nullptr;
  for (const auto& text : kTexts) {
    if (argc == 3 && std::strcmp(argv[1], text.kind) == 0) write = text.write;
  }
  if (write == nullptr) {
    std::fprintf(stderr, "usage: make_release_file reg|remove-reg|wxs OUTPUT\n");
    return 2;
  }
  const std::string text = write();
  // Binary: the REGEDIT4 file's CRLF line ends are its own, on any build machine.
  std::ofstream output(argv[2], std::ios::binary | std::ios::trunc);
  output << text;
  output.close();
  if (!output) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
