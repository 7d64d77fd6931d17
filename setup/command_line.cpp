#include "setup/command_line.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/emulation/machine.h"
#include "platform/emulation/report.h"
#include "platform/offline/offline_machine.h"

namespace {

constexpr std::string_view kHelpOption = "--help";
constexpr std::string_view kVersionOption = "--version";

// The statuses every program shares, which end its --help, and the options.
constexpr char kSharedStatuses[] =
    "  3   no usable machine where VORN_MACHINE points; nothing done\n"
    "  64  an argument it does not take; nothing done\n"
    "  74  --help or --version could not write its answer\n"
    "\n"
    "Options:\n"
    "  --help     print this text and exit\n"
    "  --version  print the name and version and exit\n";

// Every program's --help: where the machine is, then its exit statuses and the options.
std::string Help(const NativeProgram& program) {
  return std::string(program.summary) +
         "\n"
         "VORN_MACHINE names the Windows, as an absolute path:\n"
         "  - a mounted Windows system drive (NT family, or Windows 95, 98 or Me):\n"
         "    " +
         program.onDrive +
         " as that Windows, its registry the drive's own SOFTWARE\n"
         "    hive; the Windows must be shut down fully, not hibernated, its volume\n"
         "    not left dirty, and unlocked if BitLocker encrypts it;\n"
         "  - any other folder: an emulated machine, a folder that stands for a\n"
         "    Windows machine, made there when it does not exist or is empty.\n"
         "Without VORN_MACHINE: the emulated machine ~/.vornsetup/machine.\n"
         "\n"
         "Exit status:\n" +
         program.statuses + kSharedStatuses;
}

// Writes the answer on standard output; it counts only if all of it got there (a full disk or a
// closed terminal is a failure, not a silent success).
int Answer(const std::string& text) {
  const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
  return written ? 0 : kAnswerNotWrittenStatus;
}

bool IsOption(std::string_view argument) {
  return argument == kHelpOption || argument == kVersionOption;
}

}  // namespace

std::optional<int> AnswerCommandLine(const NativeProgram& program, int argc, char** argv) {
  if (argc <= 1) return std::nullopt;
  const std::string_view first = argv[1];
  if (argc == 2 && first == kHelpOption) return Answer(Help(program));
  if (argc == 2 && first == kVersionOption) {
    return Answer(std::string(program.name) + " " + VORN_VERSION + "\n");
  }
  // Either option stands alone: the argument refused is the one after it, or the first.
  const char* refused = IsOption(first) ? argv[2] : argv[1];
  std::fprintf(stderr, "%s: unexpected argument %s; see '%s --help'\n", program.name,
               emulation::Quoted(refused).c_str(), program.name);
  return kUsageStatus;
}

int RunNativeProgram(const NativeProgram& program, int (*run)(int argc, char** argv), int argc,
                     char** argv) {
  if (const std::optional<int> answered = AnswerCommandLine(program, argc, argv)) return *answered;
  emulation::SetProgramName(program.name);
  if (!offline::OpenMachineFromEnvironment(program.task)) return emulation::kNoMachineStatus;
  return run(argc, argv);
}
