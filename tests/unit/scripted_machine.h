// A scripted Windows machine for the unit tests of the setup and the remover: their operations in
// memory. It records every call with its arguments, in order, and fails whichever calls a test
// names. It keeps what the remover finds and takes away: the two registry keys, system.ini's
// [drivers32] section and the files in the system directory.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32.h"

enum class Op {
  GetSystemDirectoryA,
  lstrcatA,
  CopyFileA,
  GetVersionExA,
  WritePrivateProfileStringA,
  RegOpenKeyExA,
  RegSetValueExA,
  RegCloseKey,
  MessageBoxA,
  RegQueryValueExA,
  RegDeleteValueA,
  GetPrivateProfileStringA,
  DeleteFileA,
  GetLastError,  // never fails
  kCount,
};

// The registry keys the programs use, below HKEY_LOCAL_MACHINE.
inline constexpr char kScriptedDescriptionsKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc";
inline constexpr char kScriptedHandlersKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";

struct RegistryValue {
  DWORD type;
  std::string data;  // the bytes stored, a string's terminating zero included where it has one
  bool operator==(const RegistryValue& other) const {
    return type == other.type && data == other.data;
  }
};
using RegistryKeyValues = std::map<std::string, RegistryValue>;

struct ScriptedMachine {
  // What the machine answers.
  std::optional<std::string> systemDirectory = "C:\\WINDOWS\\SYSTEM32";  // nullopt: the call fails
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  bool versionQueryFails = false;
  BOOL flushResult = FALSE;  // what the all-null profile call returns
  // Replaces GetSystemDirectoryA's answer, for platforms that misbehave.
  std::function<UINT(LPSTR, UINT)> systemDirectoryOverride;

  // What the machine holds. The registry: keys by path below HKEY_LOCAL_MACHINE (a key not
  // listed is missing), each with its values by name. Both keys are there and empty at first.
  std::map<std::string, RegistryKeyValues> registry = {{kScriptedDescriptionsKey, {}},
                                                       {kScriptedHandlersKey, {}}};
  // system.ini's [drivers32] section, key by key.
  std::map<std::string, std::string> profile;
  // The names of the files in the system directory.
  std::set<std::string> systemFiles;
  // What GetLastError answers: set by a failing DeleteFileA, as Windows does.
  DWORD lastError = 0;

  // The calls made so far, one line each, as C would spell them: strings quoted and escaped,
  // registry data shown for exactly the byte count given, keys as hkey1, hkey2, ...
  std::vector<std::string> trace;
  // The operation of each line of the trace.
  std::vector<Op> ops;

  // Makes the occurrence-th call (from 1) of op fail, answering as Windows does when it fails:
  // 0, FALSE or NULL, ERROR_ACCESS_DENIED from the registry and as DeleteFileA's last error
  // (what Windows gives for a loaded DLL), the default from GetPrivateProfileStringA (Windows
  // tells no failure apart from a missing key), and 0 from MessageBoxA, whose box is then not
  // shown.
  void Fail(Op op, int occurrence) { failures.insert({op, occurrence}); }
  // The lines of the trace that come from op.
  std::vector<std::string> CallsOf(Op op) const;
  // The texts of the boxes shown, in order.
  std::vector<std::string> Boxes() const { return boxes; }

  // Internal bookkeeping of the operations.
  bool NextCallFails(Op op);
  std::set<std::pair<Op, int>> failures;
  std::vector<int> callCounts = std::vector<int>(static_cast<std::size_t>(Op::kCount));
  std::map<std::uintptr_t, std::string> openKeys;  // by handle, the key's path
  std::uintptr_t nextKey = 1;
  std::vector<std::string> boxes;
};

// The operation's name, as Windows spells it.
const char* OpName(Op op);

// The machine behind the operations; each test starts with a fresh one.
ScriptedMachine& Machine();
void ResetMachine();

// A C-style quoted rendering of size bytes of text.
std::string Quote(const char* text, std::size_t size);
inline std::string Quote(const std::string& text) {
  return Quote(text.data(), text.size());
}
