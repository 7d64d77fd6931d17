// RegOpenKeyExA, RegSetValueExA and RegCloseKey: open keys by their handles, over the machine's
// registry store. Values set through a key are saved when the key is closed, all at once.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/emulation/machine.h"
#include "platform/emulation/windows_path.h"

namespace emulation {
namespace {

constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";
constexpr std::size_t kMaxOpenKeys = 64;
constexpr std::uintptr_t kFirstHandle = 0x100;  // handles are small multiples of 4, as on Windows

struct OpenKey {
  bool inUse = false;
  bool writable = false;
  std::string path;
  NamedValues pending;  // saved at close
};
OpenKey openKeys[kMaxOpenKeys];

OpenKey* Find(HKEY key) {
  const auto handle = reinterpret_cast<std::uintptr_t>(key);
  if (handle < kFirstHandle || (handle - kFirstHandle) % 4 != 0) return nullptr;
  const std::uintptr_t index = (handle - kFirstHandle) / 4;
  if (index >= kMaxOpenKeys || !openKeys[index].inUse) return nullptr;
  return &openKeys[index];
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
    // Windows reads a run of backslashes as one, and ignores those at the end.
    for (const std::string& name : SplitWindowsPath(subKey)) path += "\\" + name;
  }

  const bool writable = (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
  if (const LONG error = Registry().open(path, writable)) return error;
  for (std::size_t index = 0; index < kMaxOpenKeys; ++index) {
    if (openKeys[index].inUse) continue;
    openKeys[index] = OpenKey{true, writable, std::move(path), {}};
    *result = reinterpret_cast<HKEY>(kFirstHandle + 4 * index);
    return ERROR_SUCCESS;
  }
  return ERROR_NOT_ENOUGH_MEMORY;
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
  // A string's terminating zero that the count leaves out is counted, as Windows counts it,
  // where it is the byte after the counted ones.
  const bool isString = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  if (isString && size > 0 && data[size - 1] != 0 && data[size] == 0) ++size;
  std::string bytes(reinterpret_cast<const char*>(data), data != nullptr ? size : 0);
  open->pending.emplace_back(name != nullptr ? name : "", RegistryValue{type, std::move(bytes)});
  return ERROR_SUCCESS;
}

extern "C" LONG RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  emulation::OpenKey* open = emulation::Find(key);
  if (open == nullptr) return ERROR_INVALID_HANDLE;
  const LONG result =
      open->pending.empty() ? ERROR_SUCCESS : emulation::Registry().save(open->path, open->pending);
  *open = emulation::OpenKey();
  return result;
}
