// A scripted Windows machine for the setup's unit tests: the nine operations in memory. It
// records every call with its arguments, in order, and fails whichever calls a test names.
#pragma once

#include <functional>
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
};

struct ScriptedMachine {
  // What the machine answers.
  std::optional<std::string> systemDirectory = "C:\\WINDOWS\\SYSTEM32";  // nullopt: the call fails
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  bool versionQueryFails = false;
  BOOL flushResult = FALSE;  // what the all-null profile call returns
  // Replaces GetSystemDirectoryA's answer, for platforms that misbehave.
  std::function<UINT(LPSTR, UINT)> systemDirectoryOverride;

  // The calls made so far, one line each, as C would spell them: strings quoted and escaped,
  // registry data shown for exactly the byte count given, keys as hkey1, hkey2, ...
  std::vector<std::string> trace;
  // The operation of each line of the trace.
  std::vector<Op> ops;

  // Makes the occurrence-th call (from 1) of op fail, answering as Windows does when it fails:
  // 0, FALSE or NULL, an error code from the registry, and 0 from MessageBoxA, whose box is
  // then not shown.
  void Fail(Op op, int occurrence) { failures.insert({op, occurrence}); }
  // The lines of the trace that come from op.
  std::vector<std::string> CallsOf(Op op) const;
  // The texts of the boxes shown, in order.
  std::vector<std::string> Boxes() const { return boxes; }

  // Internal bookkeeping of the operations.
  bool NextCallFails(Op op);
  std::set<std::pair<Op, int>> failures;
  std::vector<int> callCounts = std::vector<int>(9);
  std::set<std::uintptr_t> openKeys;
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
