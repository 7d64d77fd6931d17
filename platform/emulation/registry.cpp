// RegOpenKeyExA, RegSetValueExA and RegCloseKey over HKLM.reg, HKEY_LOCAL_MACHINE as a REGEDIT4
// file. Values set through a key are saved when the key is closed, all at once, under the
// store's lock and on the store as it is read then, so two setups at once lose nothing. Opening a
// key and saving it each read the whole store; a store that cannot be read is never rewritten.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/emulation/host_files.h"
#include "platform/emulation/layout.h"
#include "platform/emulation/machine.h"
#include "platform/emulation/regedit4.h"
#include "platform/emulation/report.h"
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
// The store's text as last read: its memory serves every read of a run.
std::string storeText;

void ReportStore(const std::string& reason) {
  ReportMachineFault(MachinePath(kRegistryFile), reason);
}

// The store as it is now, and what it says about the key at path; *exists says whether there
// is a file (a missing one is an empty registry). Its whole text is checked.
LONG ReadStore(const std::string& path, std::string* text, std::optional<RegistryKey>* key,
               bool* exists) {
  DWORD error = ERROR_SUCCESS;
  *exists = ReadWholeFile(MachineFolder(), kRegistryFile, text, &error);
  if (!*exists && error != ERROR_FILE_NOT_FOUND) {
    ReportStore(WhyUnreadable(MachineFolder(), kRegistryFile));
    return static_cast<LONG>(error);
  }
  if (!*exists) {
    ReportStore(WhyUnreadable(MachineFolder(), kRegistryFile) + "; the registry is empty");
    *text = kEmptyStore;
  }
  std::string why;
  *key = RegistryKey::ReadText(path, *text, &why);
  if (!*key) {
    ReportStore("cannot be read, so it is left as it is: " + why);
    return ERROR_BADDB;
  }
  return ERROR_SUCCESS;
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

  std::optional<RegistryKey> key;
  bool exists;
  if (const LONG error = ReadStore(path, &storeText, &key, &exists)) return error;
  if (!key->Exists()) {  // opened, never created
    ReportStore("holds no key " + Quoted(path));
    return ERROR_FILE_NOT_FOUND;
  }
  const bool writable = (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
  DWORD error = ERROR_SUCCESS;
  // Windows refuses to write a read-only hive.
  if (writable && !MayReplace(MachineFolder(), kRegistryFile, &error)) {
    ReportStore("may not be changed: " + ErrorText(error));
    return static_cast<LONG>(error);
  }
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
  std::optional<RegistryKey> key;
  bool exists;
  if (const LONG error = ReadStore(open.path, &storeText, &key, &exists)) return error;
  const std::optional<std::vector<Splice>> splices = key->Set(open.pending);
  if (!splices) {
    ReportStore("no longer holds key " + Quoted(open.path));
    return ERROR_KEY_DELETED;
  }
  if (splices->empty()) return ERROR_SUCCESS;  // a write that changes nothing is not written

  struct stat status;
  const bool known =
      exists && fstatat(MachineFolder(), kRegistryFile, &status, AT_SYMLINK_NOFOLLOW) == 0;
  const auto write = [&](int to, DWORD* error) {
    return WriteSpliced(storeText, *splices,
                        [&](std::string_view piece) { return WriteAll(to, piece, error); });
  };
  DWORD error = ERROR_SUCCESS;
  if (!ReplaceFile(MachineFolder(), kRegistryFile, known ? status.st_mode : kNewStoreMode, write,
                   &error)) {
    ReportStore("cannot be saved: " + ErrorText(error));
    return static_cast<LONG>(error);
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
