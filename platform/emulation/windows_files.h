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

// Whether name stands for one entry of a folder: not "", "." or "..", holding no '/' or NUL.
bool IsPlainName(std::string_view name);

// Inside a machine or a drive no link is followed; in the current directory, the user's own,
// links are followed as the user's paths follow them.
enum class Links { kRefused, kFollowed };

// Where OpenBeneath got: the names as found, joined by '/', to the one it could not open if any,
// and whether that one was refused, a link or a name not plain.
struct Walk {
  std::string path;
  bool refused = false;
};

// Opens the folder names lead to beneath root, each matched case-insensitively, refusing a name
// not plain and, with kRefused, a step through a link or out of root (openat2's RESOLVE_BENEATH,
// NO_SYMLINKS and NO_MAGICLINKS; without openat2, openat's O_NOFOLLOW). On failure *error is
// set, ERROR_PATH_NOT_FOUND for a folder missing or refused.
UniqueFd OpenBeneath(int root, const std::vector<std::string>& names, Links links, DWORD* error,
                     Walk* walk);

// Whether an existing file may be written: Windows refuses a read-only file whoever asks, so
// a file without any write bit is read-only here even for root.
bool IsReadOnly(const struct stat& status);

// Whether this process may replace folder/name, by one rule for every file of the machine, as
// Windows' file security decides: a file that is there must be a plain file, not read-only,
// that this user may write; the new file takes its place in folder, which this user must be
// able to write too. False, with *error set (ERROR_ACCESS_DENIED), when not.
bool MayReplace(int folder, const std::string& name, DWORD* error);

}  // namespace emulation
