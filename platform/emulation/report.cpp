// What the machine itself has to say to the user, on standard error, one line at a time.
#include "platform/emulation/report.h"

#include <cstdio>
#include <set>

namespace emulation {
namespace {

// A quoted text longer than this shows its first kShownHead and last kShownTail bytes.
constexpr std::size_t kShownHead = 48;
constexpr std::size_t kShownTail = 16;

std::string& ProgramName() {
  static std::string name = "vornsetup";
  return name;
}

void AppendEscaped(std::string* shown, std::string_view text) {
  constexpr char kHex[] = "0123456789abcdef";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
      shown->push_back(c);
    } else {
      shown->append({'\\', 'x', kHex[byte >> 4], kHex[byte & 0xf]});
    }
  }
}

}  // namespace

std::string Quoted(std::string_view text) {
  std::string shown = "'";
  if (text.size() <= kShownHead + kShownTail) {
    AppendEscaped(&shown, text);
    return shown + "'";
  }
  AppendEscaped(&shown, text.substr(0, kShownHead));
  shown += "...";
  AppendEscaped(&shown, text.substr(text.size() - kShownTail));
  return shown + "' (" + std::to_string(text.size()) + " bytes)";
}

std::string ErrorText(DWORD error) {
  constexpr struct {
    DWORD code;
    const char* text;
  } kTexts[] = {{ERROR_FILE_NOT_FOUND, "not found"},
                {ERROR_PATH_NOT_FOUND, "its folder is not found"},
                {ERROR_ACCESS_DENIED, "access denied"},
                {ERROR_SHARING_VIOLATION, "in use by another program"},
                {ERROR_DISK_FULL, "the disk is full"}};
  const char* text = "failed";
  for (const auto& known : kTexts) {
    if (known.code == error) text = known.text;
  }
  return std::string(text) + " (Windows error " + std::to_string(error) + ")";
}

void SetProgramName(std::string_view name) {
  ProgramName() = name;
}

void ReportMachineFault(std::string_view path, std::string_view reason) {
  ReportMachineFault(Quoted(path) + ": " + std::string(reason));
}

void ReportMachineFault(std::string_view what) {
  static std::set<std::string> said;
  std::string line = ProgramName() + ": ";
  AppendEscaped(&line, what);
  line += '\n';
  if (said.insert(line).second) std::fputs(line.c_str(), stderr);
}

}  // namespace emulation
