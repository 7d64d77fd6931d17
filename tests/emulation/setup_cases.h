// Test support: runs of the native setup described as table rows (how to prepare a machine,
// what the run must say and end with, what it changes), and the machine every row starts from.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/emulation/machine_folder.h"
#include "tests/emulation/native_run.h"

inline const char kFirstDecoder[] = "MZ first decoder";
inline const char kSecondDecoder[] = "MZ second decoder";
inline const std::string kSystem32 = "drive_c/WINDOWS/SYSTEM32";
inline const std::string kStore = "HKLM.reg";
inline const std::string kSystemIni = "drive_c/WINDOWS/system.ini";

std::string InsertAfter(std::string text, const std::string& anchor, const std::string& lines);

// The fresh store once a run has registered the package, written out by hand.
extern const std::string kHandlerLines;
extern const std::string kRegisteredStore;

// A fresh machine, a package folder beside it holding both decoders, and a folder outside both
// that links in the machine may point into.
struct Bench {
  Bench();
  std::string At(const std::string& path) const { return folder.machine + "/" + path; }
  void Edit(const std::string& path, const std::function<std::string(std::string)>& change);

  MachineFolder folder;
  std::string package, outside;
};

// What a run changes in the machine.
void Nothing(Snapshot& machine);
void FirstInstalled(Snapshot& machine);
void Installed(Snapshot& machine);
void InstalledAndRegistered(Snapshot& machine);
// What the remover leaves of a machine a setup ran on: the fresh machine's files, as they were
// before the setup.
void Removed(Snapshot& machine);

// Runs the setup on the bench, as a step of preparing it.
void RunSetupOn(Bench& bench);

struct RunCase {
  const char* name;
  std::function<void(Bench&)> prepare;
  int status;
  std::vector<std::string> boxes;
  std::function<void(Snapshot&)> changes;
  RunOptions options = {};
  // What the run must also say on standard error, each once, if anything.
  std::vector<std::string> says = {};
};

// Runs each case on a bench of its own: its status, its boxes, the machine afterwards, and
// nothing outside the machine changed.
void CheckRuns(const std::vector<RunCase>& cases);
