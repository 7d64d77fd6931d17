// The process entry on Windows, in place of a C runtime's start-up, for the setup and the remover
// alike: it narrows where Windows may load DLLs from, runs the program once and ends the process
// with its status. setup/CMakeLists.txt builds it into each program with VORN_RUN naming that
// program's run, so that neither image holds the other's code or imports.
#include <windows.h>

#include "setup/removal.h"
#include "setup/setup.h"

namespace {

using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);

// Both programs run elevated from a folder anyone may write to, such as a download folder. From
// here on, DLLs that Windows loads for us (for the message box, for the file operations) come
// from System32 only, never from that folder or the current directory. Windows 8 and later have
// the call, and Windows 7 with its update; older Windows lacks it and loads as before.
void LoadDllsFromSystem32Only() {
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return;
  const FARPROC found = GetProcAddress(kernel, "SetDefaultDllDirectories");
  if (found == nullptr) return;
  // Through void (*)(): the one function pointer type GCC lets stand for any other.
  const auto setDefaultDllDirectories =
      reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void (*)()>(found));
  setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

// Named as the image's entry point by setup/CMakeLists.txt. It never returns.
extern "C" void ProgramEntry() {
  LoadDllsFromSystem32Only();
  // Nothing reads the arguments: the whole command line stands in for them as one.
  char* arguments[] = {GetCommandLineA(), nullptr};
  ExitProcess(static_cast<UINT>(VORN_RUN(1, arguments)));
}
