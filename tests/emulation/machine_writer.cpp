// A second program that changes the machine while setups run on it: COUNT values of its own
// under Drivers32 and COUNT entries in system.ini, each through a write of its own.
//   machine_writer MACHINE TAG COUNT      exits with the number of writes that failed
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/emulation/emulated_machine.h"
#include "platform/emulation/machine.h"
#include "platform/win32.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: machine_writer MACHINE TAG COUNT\n");
    return 100;
  }
  std::string error;
  if (!emulation::OpenMachine(argv[1], &error)) {
    std::fprintf(stderr, "machine_writer: %s\n", error.c_str());
    return 100;
  }
  const std::string tag = argv[2];
  const int count = std::atoi(argv[3]);
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    const std::string name = tag + "." + std::to_string(i);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32", 0, KEY_WRITE,
                      &key) != ERROR_SUCCESS) {
      ++failed;
    } else {
      failed +=
          RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(tag.c_str()),
                         static_cast<DWORD>(tag.size() + 1)) != ERROR_SUCCESS;
      failed += RegCloseKey(key) != ERROR_SUCCESS;
    }
    failed += !WritePrivateProfileStringA("drivers32", name.c_str(), tag.c_str(), "system.ini");
  }
  return failed;
}
