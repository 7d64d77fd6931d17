#include "tests/unit/scripted_machine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const char* const kOpNames[] = {
    "GetSystemDirectoryA",
    "lstrcatA",
    "CopyFileA",
    "GetVersionExA",
    "WritePrivateProfileStringA",
    "RegOpenKeyExA",
    "RegSetValueExA",
    "RegCloseKey",
    "MessageBoxA",
    "RegQueryValueExA",
    "RegDeleteValueA",
    "GetPrivateProfileStringA",
    "DeleteFileA",
    "GetLastError",
};
static_assert(sizeof kOpNames / sizeof kOpNames[0] == static_cast<std::size_t>(Op::kCount));

ScriptedMachine current;

std::string QuoteOrNull(const char* text) {
  return text == nullptr ? "NULL" : Quote(text, std::strlen(text));
}

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

std::string KeyName(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  return "hkey" + std::to_string(reinterpret_cast<std::uintptr_t>(key));
}

// Calls on a key that is not open are the fault these tests look for: mark them in the trace.
std::string KeyUse(HKEY key) {
  const bool open = current.openKeys.count(reinterpret_cast<std::uintptr_t>(key)) != 0;
  return KeyName(key) + (open ? "" : " (not open)");
}

// The values of an open key; none for a key that is not open.
RegistryKeyValues* OpenKeyValues(HKEY key) {
  const auto open = current.openKeys.find(reinterpret_cast<std::uintptr_t>(key));
  if (open == current.openKeys.end()) return nullptr;
  const auto found = current.registry.find(open->second);
  return found == current.registry.end() ? nullptr : &found->second;
}

// The file name of a path in the system directory; nothing for a path elsewhere.
std::optional<std::string> SystemFileName(const std::string& path) {
  if (!current.systemDirectory) return std::nullopt;
  const std::string directory = *current.systemDirectory + "\\";
  if (path.compare(0, directory.size(), directory) != 0) return std::nullopt;
  return path.substr(directory.size());
}

bool IsDrivers32(LPCSTR section, LPCSTR fileName) {
  return section != nullptr && std::string(section) == "drivers32" &&
         std::string(fileName) == "system.ini";
}

// Copies text, cut to fit with its terminating zero, as Windows' profile calls do.
DWORD CopyCut(const std::string& text, LPSTR buffer, DWORD size) {
  const DWORD length = std::min(static_cast<DWORD>(text.size()), size - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return length;
}

void Record(Op op, const std::string& arguments) {
  current.trace.push_back(std::string(OpName(op)) + "(" + arguments + ")");
}

}  // namespace

const char* OpName(Op op) {
  return kOpNames[static_cast<int>(op)];
}

ScriptedMachine& Machine() {
  return current;
}

void ResetMachine() {
  current = ScriptedMachine();
}

bool ScriptedMachine::NextCallFails(Op op) {
  ops.push_back(op);
  const int occurrence = ++callCounts[static_cast<std::size_t>(op)];
  return failures.count({op, occurrence}) != 0;
}

std::vector<std::string> ScriptedMachine::CallsOf(Op op) const {
  const std::string prefix = std::string(OpName(op)) + "(";
  std::vector<std::string> calls;
  for (const std::string& line : trace) {
    if (line.compare(0, prefix.size(), prefix) == 0) calls.push_back(line);
  }
  return calls;
}

std::string Quote(const char* text, std::size_t size) {
  std::string quoted = "\"";
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '\\':
        quoted += "\\\\";
        break;
      case '"':
        quoted += "\\\"";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\0':
        quoted += "\\0";
        break;
      default:
        if (c < 0x20 || c >= 0x7f) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
          quoted += escaped;
        } else {
          quoted += static_cast<char>(c);
        }
    }
  }
  return quoted + "\"";
}

extern "C" {

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  Record(Op::GetSystemDirectoryA, "buffer, " + std::to_string(size));
  if (current.NextCallFails(Op::GetSystemDirectoryA)) return 0;
  if (current.systemDirectoryOverride) return current.systemDirectoryOverride(buffer, size);
  if (!current.systemDirectory) return 0;
  const std::string& directory = *current.systemDirectory;
  const UINT length = static_cast<UINT>(directory.size());
  // Windows: too small a buffer gets nothing, and the answer is the size needed.
  if (length + 1 > size) return length + 1;
  std::memcpy(buffer, directory.c_str(), length + 1);
  return length;
}

LPSTR lstrcatA(LPSTR destination, LPCSTR text) {
  Record(Op::lstrcatA, QuoteOrNull(destination) + ", " + QuoteOrNull(text));
  if (current.NextCallFails(Op::lstrcatA)) return nullptr;
  return std::strcat(destination, text);
}

BOOL CopyFileA(LPCSTR source, LPCSTR destination, BOOL failIfExists) {
  Record(Op::CopyFileA, QuoteOrNull(source) + ", " + QuoteOrNull(destination) + ", " +
                            std::to_string(failIfExists));
  return current.NextCallFails(Op::CopyFileA) ? FALSE : TRUE;
}

BOOL GetVersionExA(LPOSVERSIONINFOA version) {
  Record(Op::GetVersionExA, "dwOSVersionInfoSize " + std::to_string(version->dwOSVersionInfoSize));
  if (current.NextCallFails(Op::GetVersionExA) || current.versionQueryFails) return FALSE;
  // Windows refuses a record whose size it does not know.
  if (version->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return FALSE;
  version->dwMajorVersion = current.platformId == VER_PLATFORM_WIN32_NT ? 5 : 4;
  version->dwMinorVersion = 0;
  version->dwBuildNumber = 0;
  version->dwPlatformId = current.platformId;
  version->szCSDVersion[0] = '\0';
  return TRUE;
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
  Record(Op::WritePrivateProfileStringA, QuoteOrNull(section) + ", " + QuoteOrNull(key) + ", " +
                                             QuoteOrNull(value) + ", " + QuoteOrNull(fileName));
  if (current.NextCallFails(Op::WritePrivateProfileStringA)) return FALSE;
  const bool flush = section == nullptr && key == nullptr && value == nullptr;
  if (flush) return current.flushResult;
  if (IsDrivers32(section, fileName) && key != nullptr && value == nullptr) {
    current.profile.erase(key);
  }
  return TRUE;
}

LONG RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  Record(Op::RegOpenKeyExA, KeyName(parent) + ", " + QuoteOrNull(subKey) + ", " +
                                std::to_string(options) + ", " + Hex(access));
  if (current.NextCallFails(Op::RegOpenKeyExA)) return ERROR_ACCESS_DENIED;
  if (parent != HKEY_LOCAL_MACHINE || current.registry.count(subKey) == 0) {
    return ERROR_FILE_NOT_FOUND;
  }
  const std::uintptr_t key = current.nextKey++;
  current.openKeys[key] = subKey;
  *result = reinterpret_cast<HKEY>(key);
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size) {
  Record(Op::RegSetValueExA, KeyUse(key) + ", " + QuoteOrNull(name) + ", " +
                                 std::to_string(reserved) + ", " + std::to_string(type) + ", " +
                                 Quote(reinterpret_cast<const char*>(data), size) + ", " +
                                 std::to_string(size));
  return current.NextCallFails(Op::RegSetValueExA) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  Record(Op::RegCloseKey, KeyUse(key));
  current.openKeys.erase(reinterpret_cast<std::uintptr_t>(key));
  return current.NextCallFails(Op::RegCloseKey) ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  Record(Op::MessageBoxA, std::string(owner == nullptr ? "NULL" : "owner") + ", " +
                              QuoteOrNull(text) + ", " + QuoteOrNull(caption) + ", " + Hex(type));
  if (current.NextCallFails(Op::MessageBoxA)) return 0;
  current.boxes.push_back(text);
  return IDOK;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
  Record(Op::RegQueryValueExA, KeyUse(key) + ", " + QuoteOrNull(name) + ", " +
                                   (reserved == nullptr ? "NULL" : "reserved") + ", type, data, " +
                                   std::to_string(*size));
  if (current.NextCallFails(Op::RegQueryValueExA)) return ERROR_ACCESS_DENIED;
  RegistryKeyValues* values = OpenKeyValues(key);
  if (values == nullptr) return ERROR_INVALID_HANDLE;
  const auto found = values->find(name);
  if (found == values->end()) return ERROR_FILE_NOT_FOUND;
  const RegistryValue& value = found->second;
  *type = value.type;
  const DWORD room = *size;
  *size = static_cast<DWORD>(value.data.size());
  if (value.data.size() > room) {
    // Windows leaves the buffer undefined then: fill it with what does not fit.
    std::memcpy(data, value.data.data(), room);
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, value.data.data(), value.data.size());
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) {
  Record(Op::RegDeleteValueA, KeyUse(key) + ", " + QuoteOrNull(name));
  if (current.NextCallFails(Op::RegDeleteValueA)) return ERROR_ACCESS_DENIED;
  RegistryKeyValues* values = OpenKeyValues(key);
  if (values == nullptr) return ERROR_INVALID_HANDLE;
  return values->erase(name) == 1 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR buffer,
                               DWORD size, LPCSTR fileName) {
  Record(Op::GetPrivateProfileStringA, QuoteOrNull(section) + ", " + QuoteOrNull(key) + ", " +
                                           QuoteOrNull(fallback) + ", buffer, " +
                                           std::to_string(size) + ", " + QuoteOrNull(fileName));
  const bool fails = current.NextCallFails(Op::GetPrivateProfileStringA);
  const auto found = current.profile.find(key);
  if (fails || !IsDrivers32(section, fileName) || found == current.profile.end()) {
    return CopyCut(fallback, buffer, size);
  }
  return CopyCut(found->second, buffer, size);
}

BOOL DeleteFileA(LPCSTR path) {
  Record(Op::DeleteFileA, QuoteOrNull(path));
  if (current.NextCallFails(Op::DeleteFileA)) {
    current.lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  const auto name = SystemFileName(path);
  if (!name) {
    current.lastError = ERROR_PATH_NOT_FOUND;
    return FALSE;
  }
  if (current.systemFiles.erase(*name) == 0) {
    current.lastError = ERROR_FILE_NOT_FOUND;
    return FALSE;
  }
  return TRUE;
}

DWORD GetLastError(void) {
  Record(Op::GetLastError, "");
  current.NextCallFails(Op::GetLastError);
  return current.lastError;
}
void SetLastError(DWORD) {}

}  // extern "C"
