// The process entry off Windows: the operations are those of an emulated machine, a folder, or of
// a Windows installation on a mounted drive.
#include "setup/command_line.h"
#include "setup/setup.h"

namespace {

// Says what vornsetup(1) says, shorter; README.md's section on offline drives has the rest.
constexpr NativeProgram kVornsetup = {
    "vornsetup",
    "Usage: vornsetup [--help | --version]\n"
    "\n"
    "Installs the VORN video decoders into a Windows that is not running. Started\n"
    "in the folder that holds vornjixd.dll and vornjix2.dll, it copies both into\n"
    "that Windows' system directory and registers them where that Windows reads\n"
    "them, as vornsetup.exe does on Windows. It draws the outcome as a box on\n"
    "standard error (waiting for Enter when standard input is a terminal) and\n"
    "exits with a status a script can read.\n",
    "installed into",
    "  0   the setup ran to the end: complete or NOT complete (see the box)\n"
    "  1   vornjix2.dll could not be copied (in use or missing); nothing registered\n"
    "  2   neither Windows family: the decoders copied, nothing registered\n",
    "set up"};

}  // namespace

int main(int argc, char** argv) {
  return RunNativeProgram(
      kVornsetup, [](int count, char** arguments) -> int { return RunSetup(count, arguments); },
      argc, argv);
}
