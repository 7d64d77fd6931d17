// The native programs' command line, the same for each: --help and --version are answered before
// any machine is opened or made, and any other argument is refused with nothing done. (The
// Windows programs take no arguments and ignore any.)
#pragma once

#include <optional>

// A native program as its command line presents it.
struct NativeProgram {
  const char* name;  // as typed: "vornsetup"
  const char* help;  // the whole text --help prints, usage line first
};

// A command line the program does not take (EX_USAGE of sysexits.h).
inline constexpr int kUsageStatus = 64;
// --help or --version could not write its answer (EX_IOERR of sysexits.h).
inline constexpr int kAnswerNotWrittenStatus = 74;

// Nothing when there are no arguments: the program goes on to its work. Otherwise the status to
// end with, the help or the version written on standard output, or one line on standard error
// naming the argument it does not take.
std::optional<int> AnswerCommandLine(const NativeProgram& program, int argc, char** argv);
