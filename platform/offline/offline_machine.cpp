// An offline installation opened as the machine: its drive, what it is, and its registry.
#include "platform/offline/offline_machine.h"

#include <fcntl.h>

#include <memory>

#include "platform/emulation/emulated_machine.h"
#include "platform/emulation/host_files.h"
#include "platform/emulation/machine.h"
#include "platform/emulation/report.h"
#include "platform/offline/hive.h"
#include "platform/offline/installation.h"

namespace offline {
namespace {

// The SOFTWARE hive as HKEY_LOCAL_MACHINE, in the view a 32-bit program has of it. Why the hive
// itself cannot be used is said on standard error.
emulation::RegistryStore HiveStore(std::shared_ptr<const HiveFile> hive, View view) {
  const auto said = [hive](DWORD error, const std::string& why) {
    if (!why.empty())
      emulation::ReportMachineFault(emulation::HostPath(hive->folder.get(), hive->name), why);
    return static_cast<LONG>(error);
  };
  return {[=](const std::string& path, bool writable) {
            std::string why;
            return said(OpenKey(*hive, path, view, writable, &why), why);
          },
          [=](const std::string& path, const std::string& name, emulation::RegistryValue* value) {
            std::string why;
            return said(ReadValue(*hive, path, view, name, value, &why), why);
          },
          [=](const std::string& path, const emulation::NamedValues& set,
              const std::vector<std::string>& removed) {
            std::string why;
            return said(ChangeValues(*hive, path, view, set, removed, &why), why);
          }};
}

// The 95 family keeps its registry in SYSTEM.DAT, which no setup or remover here touches: they
// register in system.ini.
emulation::RegistryStore NoRegistry() {
  const auto missing = [](const std::string&, const auto&...) {
    return LONG{ERROR_FILE_NOT_FOUND};
  };
  return {missing, missing, missing};
}

}  // namespace

bool OpenInstallation(const std::string& path, std::string* error) {
  emulation::UniqueFd drive(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::optional<Installation> installation;
  std::string why;
  if (drive) installation = RecogniseInstallation(drive.get(), &why);
  if (!installation) {
    *error = !why.empty() ? why
                          : emulation::Quoted(path) +
                                " is neither a machine folder (it holds no machine.conf) nor a "
                                "Windows drive (no WINDOWS or WINNT folder, nor one that boot.ini "
                                "or MSDOS.SYS names, holds System32\\config\\SOFTWARE or "
                                "SYSTEM.DAT)";
    return false;
  }
  emulation::RegistryStore registry =
      installation->software
          ? HiveStore(std::make_shared<const HiveFile>(std::move(*installation->software)),
                      installation->view)
          : NoRegistry();
  emulation::UseMachine(std::move(installation->description), std::move(drive),
                        std::move(registry));
  return true;
}

bool OpenMachineFromEnvironment(std::string_view task) {
  emulation::IgnoreHostSignals();
  const std::string path = emulation::MachineFolderFromEnvironment();
  std::string error;
  if (emulation::IsMachineFolder(path) ? emulation::OpenMachine(path, &error)
                                       : OpenInstallation(path, &error)) {
    return true;
  }
  emulation::ReportMachineFault("no machine to " + std::string(task) + ": " + error);
  return false;
}

}  // namespace offline
