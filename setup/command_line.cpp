#include "setup/command_line.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/emulation/report.h"

namespace {

constexpr std::string_view kHelpOption = "--help";
constexpr std::string_view kVersionOption = "--version";

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
  if (argc == 2 && first == kHelpOption) return Answer(program.help);
  if (argc == 2 && first == kVersionOption) {
    return Answer(std::string(program.name) + " " + VORN_VERSION + "\n");
  }
  // Either option stands alone: the argument refused is the one after it, or the first.
  const char* refused = IsOption(first) ? argv[2] : argv[1];
  std::fprintf(stderr, "%s: unexpected argument %s; see '%s --help'\n", program.name,
               emulation::Quoted(refused).c_str(), program.name);
  return kUsageStatus;
}
