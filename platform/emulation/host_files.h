// The host's files, as the operations need them: a plain file read whole without waiting, a
// file replaced in one step, a folder locked while a store in it changes.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/emulation/unique_fd.h"
#include "platform/emulation/windows_files.h"
#include "platform/win32.h"

namespace emulation {

// Opens folder/name for reading: a plain file only, never waiting (ERROR_ACCESS_DENIED for a
// folder, a pipe or a device).
UniqueFd OpenForReading(int folder, const std::string& name, bool followLinks, DWORD* error);

// The whole content of the regular file folder/name; nothing, with *error set, when it cannot
// be read (ERROR_FILE_NOT_FOUND when it does not exist).
std::optional<std::string> ReadWholeFile(int folder, const std::string& name, DWORD* error);

// Replaces folder/name, or creates it, so that readers only ever see the old or the new file:
// fill writes the new content into a temporary file beside it, which is flushed and renamed
// over the old one. The temporary file is removed when anything fails. The new file gets mode.
bool ReplaceFile(int folder, const std::string& name, mode_t mode,
                 const std::function<bool(int fd, DWORD* error)>& fill, DWORD* error);
bool ReplaceFile(int folder, const std::string& name, mode_t mode, std::string_view content,
                 DWORD* error);

// An exclusive lock on a folder, held while a store in it is read, changed and saved, so that
// two processes changing the same store one after the other lose nothing.
class FolderLock {
 public:
  explicit FolderLock(int folder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int folder_;
};

}  // namespace emulation
