// What the machine tells the user on standard error: one line each, saying what and why.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32.h"

namespace emulation {

// text as a message shows it: in single quotes, every byte outside printable ASCII (control
// characters, terminal escapes) written as \xNN, and a long text cut to its first and last
// bytes with its length beside it, so that a message stays one short line.
std::string Quoted(std::string_view text);

// What a Windows error code an operation failed with means, in a few words, with the code.
std::string ErrorText(DWORD error);

// The program whose lines these are, "vornsetup" unless told otherwise: each line starts with it.
void SetProgramName(std::string_view name);

// Says on standard error what went wrong in the machine itself, in one line ("vornsetup: 'path':
// reason", the reason an OS error text or a few words), as Windows would write to its event log.
// A line already said in this run is not said again.
void ReportMachineFault(std::string_view path, std::string_view reason);
// The same for a message of its own; values in it are best given through Quoted.
void ReportMachineFault(std::string_view what);

}  // namespace emulation
