// RegOpenKeyExA, RegSetValueExA and RegCloseKey over HKLM.reg, HKEY_LOCAL_MACHINE as a REGEDIT4
// file. Values set through a key are saved when the key is closed, all at once, under the
// store's lock and on the store as it is read then, so two setups at once lose nothing. Opening a
// key and saving it each read the store once; a save copies the untouched bytes from the old
// file around the lines it changes. A store that cannot be read is never rewritten.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/emulation/host_files.h"
#include "platform/emulation/machine.h"
#include "platform/emulation/regedit4.h"
#include "platform/emulation/windows_files.h"

namespace emulation {
namespace {

constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";
constexpr char kEmptyStore[] = "REGEDIT4\r\n\r\n";  // what a machine without HKLM.reg holds
constexpr mode_t kNewStoreMode = 0644;
constexpr std::size_t kMaxOpenKeys = 64;
constexpr std::uintptr_t kFirstHandle = 0x100;  // handles are small multiples of 4, as on Windows

struct OpenKey {
  bool inUse = false;
  bool writable = false;
  std::string path;
  NamedValues pending;  // saved at close
};
OpenKey openKeys[kMaxOpenKeys];

// Says why the store cannot be used, once a run however often it is read.
void ReportStore(const std::string& reason) {
  static std::string reported;
  if (reason == reported) return;
  reported = reason;
  ReportMachineFault(MachinePath(kRegistryFile), reason);
}

// Reads the store once, checking it whole, for what it says about key. *file is left open on
// it, and *size says how much was read.
LONG ReadStore(RegistryKey* key, UniqueFd* file, std::size_t* size) {
  DWORD error = ERROR_SUCCESS;
  *file = OpenForReading(MachineFolder(), kRegistryFile, false, &error);
  std::string why;
  if (!*file && error == ERROR_FILE_NOT_FOUND) {
    ReportStore(WhyUnreadable(MachineFolder(), kRegistryFile) + "; the registry is empty");
    key->Read(kEmptyStore, &why);
  } else if (!*file) {
    ReportStore(WhyUnreadable(MachineFolder(), kRegistryFile));
    return static_cast<LONG>(error);
  }
  *size = 0;
  char buffer[1 << 16];
  for (ssize_t got; *file && (got = read(file->get(), buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ReportStore(std::string("cannot be read: ") + std::strerror(errno));
      return static_cast<LONG>(WindowsError(errno));
    }
    *size += static_cast<std::size_t>(got);
    if (!key->Read(std::string_view(buffer, static_cast<std::size_t>(got)), &why)) break;
  }
  if (!key->Finish(&why)) {
    ReportStore("cannot be read, so it is left as it is: " + why);
    return ERROR_BADDB;
  }
  return ERROR_SUCCESS;
}

// Copies size bytes at offset of from to the end of to: in the kernel where it can, else
// through a buffer.
bool CopyRange(int from, off_t offset, std::size_t size, int to, DWORD* error) {
  char buffer[1 << 16];
  while (size > 0) {
    ssize_t copied = copy_file_range(from, &offset, to, nullptr, size, 0);
    if (copied < 0 &&
        (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      copied = pread(from, buffer, std::min(size, sizeof buffer), offset);
      const std::string_view got(buffer, copied > 0 ? static_cast<std::size_t>(copied) : 0);
      if (!WriteAll(to, got, error)) return false;
      offset += static_cast<off_t>(got.size());
    }
    if (copied < 0 && errno == EINTR) continue;
    if (copied <= 0) {
      // The store shrank while it was locked: what was read is no longer there to copy.
      *error = copied < 0 ? WindowsError(errno) : ERROR_GEN_FAILURE;
      return false;
    }
    size -= static_cast<std::size_t>(copied);
  }
  return true;
}

// Writes the store with the splices made, the bytes between them straight from the old file.
bool WriteSpliced(int from, std::size_t size, const std::vector<Splice>& splices, int to,
                  DWORD* error) {
  std::size_t done = 0;
  for (const Splice& splice : splices) {
    if (!CopyRange(from, static_cast<off_t>(done), splice.offset - done, to, error) ||
        !WriteAll(to, splice.text, error)) {
      return false;
    }
    done = splice.offset + splice.removed;
  }
  return CopyRange(from, static_cast<off_t>(done), size - done, to, error);
}

// Whether this process may change the store: Windows refuses to write a read-only hive.
bool StoreIsWritable() {
  DWORD error = ERROR_SUCCESS;
  return MayReplace(MachineFolder(), kRegistryFile, &error);
}

OpenKey* Find(HKEY key) {
  const auto handle = reinterpret_cast<std::uintptr_t>(key);
  if (handle < kFirstHandle || (handle - kFirstHandle) % 4 != 0) return nullptr;
  const std::uintptr_t index = (handle - kFirstHandle) / 4;
  if (index >= kMaxOpenKeys || !openKeys[index].inUse) return nullptr;
  return &openKeys[index];
}

// Windows reads a run of backslashes in a subkey path as one, and ignores those at its end.
void AppendSubKey(std::string* path, std::string_view subKey) {
  for (std::size_t begin = 0; begin < subKey.size();) {
    const std::size_t end = std::min(subKey.find('\\', begin), subKey.size());
    if (end > begin) path->append(1, '\\').append(subKey.substr(begin, end - begin));
    begin = end + 1;
  }
}

LONG Open(HKEY parent, LPCSTR subKey, REGSAM access, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  if (!MachineIsOpen()) return ERROR_NOT_READY;
  std::string path;
  if (parent == HKEY_LOCAL_MACHINE) {
    path = kRootName;
  } else if (const OpenKey* open = Find(parent)) {
    path = open->path;
  } else {
    return ERROR_INVALID_HANDLE;  // only HKEY_LOCAL_MACHINE is modelled
  }
  *result = nullptr;  // what Windows leaves in the handle when the open fails from here on
  if (subKey != nullptr) {
    if (subKey[0] == '\\') return ERROR_BAD_PATHNAME;
    AppendSubKey(&path, subKey);
  }

  RegistryKey key(path);
  UniqueFd file;
  std::size_t size;
  if (const LONG error = ReadStore(&key, &file, &size)) return error;
  if (!key.Exists()) return ERROR_FILE_NOT_FOUND;  // opened, never created
  const bool writable = (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
  if (writable && !StoreIsWritable()) return ERROR_ACCESS_DENIED;

  for (std::size_t index = 0; index < kMaxOpenKeys; ++index) {
    if (openKeys[index].inUse) continue;
    openKeys[index] = OpenKey{true, writable, std::move(path), {}};
    *result = reinterpret_cast<HKEY>(kFirstHandle + 4 * index);
    return ERROR_SUCCESS;
  }
  return ERROR_NOT_ENOUGH_MEMORY;
}

// Writes what was set through key into the store: under the lock, on the store as it is read
// now, however it was when the key was opened.
LONG Save(const OpenKey& open) {
  FolderLock lock(MachineFolder());
  RegistryKey key(open.path);
  UniqueFd file;
  std::size_t size;
  if (const LONG error = ReadStore(&key, &file, &size)) return error;
  const std::optional<std::vector<Splice>> splices = key.Set(open.pending);
  if (!splices) return ERROR_KEY_DELETED;
  if (splices->empty()) return ERROR_SUCCESS;  // a write that changes nothing is not written

  DWORD error = ERROR_SUCCESS;
  if (!file) {
    return ReplaceFile(MachineFolder(), kRegistryFile, kNewStoreMode,
                       Spliced(kEmptyStore, *splices), &error)
               ? ERROR_SUCCESS
               : static_cast<LONG>(error);
  }
  struct stat status;
  const mode_t mode = fstat(file.get(), &status) == 0 ? status.st_mode : kNewStoreMode;
  const auto write = [&](int to, DWORD* writeError) {
    return WriteSpliced(file.get(), size, *splices, to, writeError);
  };
  return ReplaceFile(MachineFolder(), kRegistryFile, mode, write, &error)
             ? ERROR_SUCCESS
             : static_cast<LONG>(error);
}

}  // namespace
}  // namespace emulation

using emulation::RegistryValue;

extern "C" LONG RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  return emulation::Open(parent, subKey, access, result);
}

extern "C" LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                               DWORD size) {
  emulation::OpenKey* open = emulation::Find(key);
  if (open == nullptr)
    return key == HKEY_LOCAL_MACHINE ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE;
  if (!open->writable) return ERROR_ACCESS_DENIED;
  if (reserved != 0 || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
  std::string bytes(reinterpret_cast<const char*>(data), data != nullptr ? size : 0);
  open->pending.emplace_back(name != nullptr ? name : "", RegistryValue{type, std::move(bytes)});
  return ERROR_SUCCESS;
}

extern "C" LONG RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  emulation::OpenKey* open = emulation::Find(key);
  if (open == nullptr) return ERROR_INVALID_HANDLE;
  const LONG result = open->pending.empty() ? ERROR_SUCCESS : emulation::Save(*open);
  *open = emulation::OpenKey();
  return result;
}
