// RegOpenKeyExA, RegQueryValueExA, RegSetValueExA, RegDeleteValueA and RegCloseKey: open keys
// by their handles, over the machine's registry store. What a key's handle changes is saved when
// the key is closed, all at once; until then its queries see those changes, as on Windows.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/emulation/ascii.h"
#include "platform/emulation/machine.h"
#include "platform/emulation/windows_path.h"

namespace emulation {
namespace {

constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";
constexpr std::size_t kMaxOpenKeys = 64;
constexpr std::uintptr_t kFirstHandle = 0x100;  // handles are small multiples of 4, as on Windows

struct OpenKey {
  bool inUse = false;
  REGSAM access = 0;
  std::string path;
  // Saved at close: the values set, and the names of values removed, no name in both.
  NamedValues set;
  std::vector<std::string> removed;
};
OpenKey openKeys[kMaxOpenKeys];

OpenKey* Find(HKEY key) {
  const auto handle = reinterpret_cast<std::uintptr_t>(key);
  if (handle < kFirstHandle || (handle - kFirstHandle) % 4 != 0) return nullptr;
  const std::uintptr_t index = (handle - kFirstHandle) / 4;
  if (index >= kMaxOpenKeys || !openKeys[index].inUse) return nullptr;
  return &openKeys[index];
}

// Takes the entry of that name out of entries, which hold one at most; whether there was one.
template <typename Entries, typename NameOf>
bool TakeOut(Entries* entries, std::string_view name, NameOf nameOf) {
  for (auto entry = entries->begin(); entry != entries->end(); ++entry) {
    if (!EqualsIgnoringCase(nameOf(*entry), name)) continue;
    entries->erase(entry);
    return true;
  }
  return false;
}
const auto kSetName = [](const std::pair<std::string, RegistryValue>& value) -> std::string_view {
  return value.first;
};
const auto kRemovedName = [](const std::string& name) -> std::string_view { return name; };

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
    openKeys[index] = OpenKey{true, access, std::move(path), {}, {}};
    *result = reinterpret_cast<HKEY>(kFirstHandle + 4 * index);
    return ERROR_SUCCESS;
  }
  return ERROR_NOT_ENOUGH_MEMORY;
}

// The value as this handle sees it: what it set or removed, else what the store holds.
LONG Lookup(const OpenKey& open, const std::string& name, RegistryValue* value) {
  for (const auto& [setName, setValue] : open.set) {
    if (!EqualsIgnoringCase(setName, name)) continue;
    *value = setValue;
    return ERROR_SUCCESS;
  }
  for (const std::string& removed : open.removed) {
    if (EqualsIgnoringCase(removed, name)) return ERROR_FILE_NOT_FOUND;
  }
  return Registry().read(open.path, name, value);
}

bool IsString(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

LONG Query(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  if ((data != nullptr && size == nullptr) || reserved != nullptr) return ERROR_INVALID_PARAMETER;
  // The root is open to queries; the emulation changes none of its own values.
  const OpenKey root{true, KEY_QUERY_VALUE, kRootName, {}, {}};
  const OpenKey* open = key == HKEY_LOCAL_MACHINE ? &root : Find(key);
  if (open == nullptr) return ERROR_INVALID_HANDLE;
  // What Windows leaves in them when the query fails from here on.
  if (data == nullptr && size != nullptr) *size = 0;
  if (type != nullptr) *type = REG_NONE;
  if ((open->access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  RegistryValue value;
  if (const LONG error = Lookup(*open, name != nullptr ? name : "", &value)) return error;
  if (type != nullptr) *type = value.type;
  const auto needed = static_cast<DWORD>(value.data.size());
  LONG result = ERROR_SUCCESS;
  if (data != nullptr && needed > *size) {
    result = ERROR_MORE_DATA;  // the buffer is left as it was
  } else if (data != nullptr) {
    std::memcpy(data, value.data.data(), needed);
    // A string stored without its terminating zero gets one where the buffer has room for it,
    // not counted, as Windows and Wine do.
    if (IsString(value.type) && needed > 0 && needed < *size && data[needed - 1] != 0) {
      data[needed] = 0;
    }
  }
  if (size != nullptr) *size = needed;
  return result;
}

LONG Delete(HKEY key, LPCSTR name) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_ACCESS_DENIED;  // as RegSetValueExA
  OpenKey* open = Find(key);
  if (open == nullptr) return ERROR_INVALID_HANDLE;
  if ((open->access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  const std::string named = name != nullptr ? name : "";
  // Removing a value this handle set removes the one the store may hold too.
  if (!TakeOut(&open->set, named, kSetName)) {
    RegistryValue held;
    if (const LONG error = Lookup(*open, named, &held)) return error;
  }
  open->removed.push_back(named);
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace emulation

using emulation::RegistryValue;

extern "C" LONG RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  return emulation::Open(parent, subKey, access, result);
}

extern "C" LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                 LPDWORD size) {
  return emulation::Query(key, name, reserved, type, data, size);
}

extern "C" LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                               DWORD size) {
  emulation::OpenKey* open = emulation::Find(key);
  if (open == nullptr)
    return key == HKEY_LOCAL_MACHINE ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE;
  if ((open->access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (reserved != 0 || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
  // A string's terminating zero that the count leaves out is counted, as Windows counts it,
  // where it is the byte after the counted ones.
  if (emulation::IsString(type) && size > 0 && data[size - 1] != 0 && data[size] == 0) ++size;
  std::string named = name != nullptr ? name : "";
  emulation::TakeOut(&open->removed, named, emulation::kRemovedName);
  RegistryValue value{type, std::string(reinterpret_cast<const char*>(data), data ? size : 0)};
  // Set again, a value keeps the name and the place it was first set with.
  for (auto& [setName, setValue] : open->set) {
    if (!emulation::EqualsIgnoringCase(setName, named)) continue;
    setValue = std::move(value);
    return ERROR_SUCCESS;
  }
  open->set.emplace_back(std::move(named), std::move(value));
  return ERROR_SUCCESS;
}

extern "C" LONG RegDeleteValueA(HKEY key, LPCSTR name) {
  return emulation::Delete(key, name);
}

extern "C" LONG RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  emulation::OpenKey* open = emulation::Find(key);
  if (open == nullptr) return ERROR_INVALID_HANDLE;
  const bool changed = !open->set.empty() || !open->removed.empty();
  const LONG result =
      changed ? emulation::Registry().save(open->path, open->set, open->removed) : ERROR_SUCCESS;
  *open = emulation::OpenKey();
  return result;
}
