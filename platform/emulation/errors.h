// The POSIX layer speaks Windows' error codes: what the host says in errno, as Windows says it.
#pragma once

#include <cerrno>

#include "platform/win32.h"

namespace emulation {

inline DWORD WindowsError(int hostError) {
  switch (hostError) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ELOOP:  // a symbolic link where the machine allows none
      return ERROR_ACCESS_DENIED;
    case EWOULDBLOCK:
      return ERROR_SHARING_VIOLATION;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace emulation
