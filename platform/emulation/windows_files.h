// Windows' rules for host files: names without regard to case, who may replace.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/emulation/unique_fd.h"
#include "platform/win32.h"

namespace emulation {

// The name of the entry in folder that matches name case-insensitively, as Windows and Wine
// look names up; an exact match wins. Name itself when nothing matches.
std::string FindName(int folder, std::string_view name);

// Opens the folder that names lead to from base, matching each name case-insensitively. Within
// the machine no symbolic link is followed. Sets *error to a Windows error code on failure.
UniqueFd OpenFolder(int base, const std::vector<std::string>& names, bool followLinks,
                    DWORD* error);

// Whether an existing file may be written: Windows refuses a read-only file whoever asks, so
// a file without any write bit is read-only here even for root.
bool IsReadOnly(const struct stat& status);

// Whether this process may replace folder/name, by one rule for every file of the machine, as
// Windows' file security decides: a file that is there must be a plain file, not read-only,
// that this user may write; the new file takes its place in folder, which this user must be
// able to write too. False, with *error set (ERROR_ACCESS_DENIED), when not.
bool MayReplace(int folder, const std::string& name, DWORD* error);

}  // namespace emulation
