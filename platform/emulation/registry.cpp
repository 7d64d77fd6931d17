// RegOpenKeyExA, RegSetValueExA and RegCloseKey over HKLM.reg, HKEY_LOCAL_MACHINE as a REGEDIT4
// file. Values set through a key are saved when the key is closed, all at once and under the
// store's lock, so a run reads and writes the store about once per key, and two setups at once
// lose nothing. A store that cannot be read is never rewritten.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
constexpr std::size_t kMaxOpenKeys = 64;
constexpr std::uintptr_t kFirstHandle = 0x100;  // handles are small multiples of 4, as on Windows

struct OpenKey {
  bool inUse = false;
  bool writable = false;
  std::string path;
  std::vector<std::pair<std::string, RegistryValue>> pending;  // saved at close
};
OpenKey openKeys[kMaxOpenKeys];

// The store as last read or written, kept while the file on disk is the same file.
struct CachedStore {
  bool valid = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified = {};
  std::optional<RegistryText> registry;
};
CachedStore cache;

bool SameFile(const struct stat& status) {
  return cache.valid && status.st_dev == cache.device && status.st_ino == cache.inode &&
         status.st_size == cache.size && status.st_mtim.tv_sec == cache.modified.tv_sec &&
         status.st_mtim.tv_nsec == cache.modified.tv_nsec;
}

void Remember(const struct stat& status) {
  cache.valid = true;
  cache.device = status.st_dev;
  cache.inode = status.st_ino;
  cache.size = status.st_size;
  cache.modified = status.st_mtim;
}

// The registry as it stands on disk. A machine without HKLM.reg has an empty one.
RegistryText* LoadStore(DWORD* error) {
  struct stat status;
  if (fstatat(MachineFolder(), kRegistryFile, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) {
      *error = WindowsError(errno);
      return nullptr;
    }
    cache = CachedStore();
    cache.registry = RegistryText::Empty();
    return &*cache.registry;
  }
  if (SameFile(status)) return &*cache.registry;
  cache = CachedStore();
  const std::optional<std::string> text = ReadWholeFile(MachineFolder(), kRegistryFile, error);
  if (!text) return nullptr;
  std::string parseError;
  cache.registry = RegistryText::Parse(*text, &parseError);
  if (!cache.registry) {
    ReportMachineFault(std::string(kRegistryFile) +
                       " cannot be read, so it is left as it is: " + parseError);
    *error = ERROR_BADDB;
    return nullptr;
  }
  Remember(status);
  return &*cache.registry;
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

  DWORD error = ERROR_SUCCESS;
  const RegistryText* registry = LoadStore(&error);
  if (registry == nullptr) return static_cast<LONG>(error);
  if (!registry->HasKey(path)) return ERROR_FILE_NOT_FOUND;  // opened, never created
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

bool Unchanged(const RegistryText& registry, const std::string& path, const std::string& name,
               const RegistryValue& value) {
  const std::optional<RegistryValue> current = registry.GetValue(path, name);
  return current && current->type == value.type && current->data == value.data;
}

// Writes what was set through key into the store: under the lock, on the store as it is now.
LONG Save(const OpenKey& key) {
  FolderLock lock(MachineFolder());
  DWORD error = ERROR_SUCCESS;
  RegistryText* registry = LoadStore(&error);
  if (registry == nullptr) return static_cast<LONG>(error);
  if (!registry->HasKey(key.path)) return ERROR_KEY_DELETED;
  bool changed = false;
  for (const auto& [name, value] : key.pending) {
    if (Unchanged(*registry, key.path, name, value)) continue;
    registry->SetValue(key.path, name, value);
    changed = true;
  }
  if (!changed) return ERROR_SUCCESS;  // a write that changes nothing is not written

  struct stat status;
  const mode_t mode = fstatat(MachineFolder(), kRegistryFile, &status, AT_SYMLINK_NOFOLLOW) == 0
                          ? status.st_mode
                          : 0644;
  if (!ReplaceFile(MachineFolder(), kRegistryFile, mode, registry->Text(), &error)) {
    cache = CachedStore();  // what is held no longer matches the disk
    return static_cast<LONG>(error);
  }
  if (fstatat(MachineFolder(), kRegistryFile, &status, AT_SYMLINK_NOFOLLOW) == 0) {
    Remember(status);
  } else {
    cache = CachedStore();
  }
  return ERROR_SUCCESS;
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
