#pragma once

#include <sys/stat.h>

#include <functional>
#include <optional>
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

// Opens folder/name for reading: a plain file only, never waiting (ERROR_ACCESS_DENIED for a
// folder, a pipe or a device).
UniqueFd OpenForReading(int folder, const std::string& name, bool followLinks, DWORD* error);

// The whole content of the regular file folder/name; nothing, with *error set, when it cannot
// be read (ERROR_FILE_NOT_FOUND when it does not exist).
std::optional<std::string> ReadWholeFile(int folder, const std::string& name, DWORD* error);

// Writes all of content to fd.
bool WriteAll(int fd, std::string_view content, DWORD* error);

// Replaces folder/name, or creates it, so that readers only ever see the old or the new file:
// fill writes the new content into a temporary file beside it, which is flushed and renamed
// over the old one. The temporary file is removed when anything fails. The new file gets mode.
bool ReplaceFile(int folder, const std::string& name, mode_t mode,
                 const std::function<bool(int fd, DWORD* error)>& fill, DWORD* error);
bool ReplaceFile(int folder, const std::string& name, mode_t mode, std::string_view content,
                 DWORD* error);

// Whether an existing file may be written: Windows refuses a read-only file whoever asks, so
// a file without any write bit is read-only here even for root.
bool IsReadOnly(const struct stat& status);

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
