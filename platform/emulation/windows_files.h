// Windows' rules for files, over the host's: its error codes, names looked up without regard to
// case, and who may replace a file.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/emulation/unique_fd.h"
#include "platform/win32.h"

namespace emulation {

// The Windows error code for what the host said in errno.
DWORD WindowsError(int hostError);

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

}  // namespace emulation
