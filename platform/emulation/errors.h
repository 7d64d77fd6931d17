// The POSIX layer speaks Windows' error codes: what the host says in errno, as Windows says it.
#pragma once

#include <cerrno>

#include "platform/win32.h"

namespace emulation {

// ELOOP is a symbolic link where the machine allows none.
inline DWORD WindowsError(int hostError) {
  constexpr struct {
    int host;
    DWORD windows;
  } kErrors[] = {{ENOENT, ERROR_FILE_NOT_FOUND},   {ENOTDIR, ERROR_PATH_NOT_FOUND},
                 {EACCES, ERROR_ACCESS_DENIED},    {EPERM, ERROR_ACCESS_DENIED},
                 {EROFS, ERROR_ACCESS_DENIED},     {EISDIR, ERROR_ACCESS_DENIED},
                 {ELOOP, ERROR_ACCESS_DENIED},     {EWOULDBLOCK, ERROR_SHARING_VIOLATION},
                 {ENOSPC, ERROR_DISK_FULL},        {EDQUOT, ERROR_DISK_FULL},
                 {EFBIG, ERROR_DISK_FULL},         {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
                 {ENOMEM, ERROR_NOT_ENOUGH_MEMORY}};
  for (const auto& error : kErrors) {
    if (error.host == hostError) return error.windows;
  }
  return ERROR_GEN_FAILURE;
}

}  // namespace emulation
