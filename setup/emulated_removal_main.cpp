// The remover's process entry off Windows: the operations are those of an emulated machine, a
// folder, or of a Windows installation on a mounted drive, as for the setup.
#include "setup/command_line.h"
#include "setup/removal.h"

namespace {

// Says what vornremove(1) says, shorter; README.md's section on offline drives has the rest.
constexpr NativeProgram kVornremove = {
    "vornremove",
    "Usage: vornremove [--help | --version]\n"
    "\n"
    "Removes the VORN video decoders from a Windows that is not running, as\n"
    "vornremove.exe does on Windows. It first takes their registration away where\n"
    "that Windows reads it, then deletes vornjixd.dll and vornjix2.dll from its\n"
    "system directory. A registration goes only while it still names one of these\n"
    "files: a format another product has taken over stays registered, as do all\n"
    "other values, the keys and the [drivers32] section. Where some registration\n"
    "cannot be removed, no file is deleted. It draws the outcome as a box on\n"
    "standard error (waiting for Enter when standard input is a terminal) and\n"
    "exits with a status a script can read.\n",
    "removed from",
    "  0   removed, or nothing was there; or NOT completely removed (see the box):\n"
    "      some registration could not be removed, and no file was deleted\n"
    "  1   a decoder is in use: its registration is gone, the file stays until\n"
    "      the next run\n"
    "  2   neither Windows family: nothing touched\n",
    "remove the decoders from"};

}  // namespace

int main(int argc, char** argv) {
  return RunNativeProgram(
      kVornremove, [](int count, char** arguments) -> int { return RunRemoval(count, arguments); },
      argc, argv);
}
