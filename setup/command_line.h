// The native programs' command line and start, the same for each: --help and --version are
// answered before any machine is opened or made, and any other argument is refused with nothing
// done; then the machine is opened and the program runs on it. (The Windows programs take no
// arguments and ignore any.)
#pragma once

#include <optional>

// A native program as its command line presents it.
struct NativeProgram {
  const char* name;  // as typed: "vornsetup"
  // What --help says of the program, usage line first; then what it does with a Windows drive
  // ("installed into") and its own exit statuses. The rest of --help is the same for all.
  const char* summary;
  const char* onDrive;
  const char* statuses;
  const char* task;  // what it does to a machine, for "no machine to ...": "set up"
};

// A command line the program does not take (EX_USAGE of sysexits.h).
inline constexpr int kUsageStatus = 64;
// --help or --version could not write its answer (EX_IOERR of sysexits.h).
inline constexpr int kAnswerNotWrittenStatus = 74;

// Nothing when there are no arguments: the program goes on to its work. Otherwise the status to
// end with, the help or the version written on standard output, or one line on standard error
// naming the argument it does not take.
std::optional<int> AnswerCommandLine(const NativeProgram& program, int argc, char** argv);

// A native program's whole main: its command line answered, else the machine VORN_MACHINE names
// opened (an emulated machine or a mounted Windows drive; the status 3 and one line on standard
// error without one), its messages named after it, and run's status on that machine.
int RunNativeProgram(const NativeProgram& program, int (*run)(int argc, char** argv), int argc,
                     char** argv);
