// Test support: the native setup run as its own process on a machine folder, as a user would
// run it, and snapshots of what the machine holds.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

// The user an unprivileged run is made as, when the tests run as root: nobody.
inline constexpr uid_t kUnprivilegedUser = 65534;

struct RunOptions {
  std::vector<std::string> arguments;
  bool unprivileged = false;  // as a user without rights to root-owned files, even under root
  long fileSizeLimit = -1;    // bytes any file may grow to: a full disk
  bool unreadErrors = false;  // standard error a pipe that nobody reads: nothing is captured
  std::vector<std::string> under = {};   // a program the setup runs under: strace, say
  const char* program = VORNSETUP_PATH;  // or VORNREMOVE_PATH
};

struct RunResult {
  int status;          // the exit status, or 128 + the signal that ended it (SIGALRM: it hung)
  std::string output;  // what it wrote on standard error
  long peakKilobytes;  // its largest resident set
};

// Runs the native vornsetup (or the program the options name) in folder cwd on the machine in
// machine.
RunResult RunNative(const std::string& machine, const std::string& cwd,
                    const RunOptions& options = {});

// Starts the program without waiting; returns the process id.
int StartNative(const std::string& machine, const std::string& cwd,
                const char* program = VORNSETUP_PATH);

// The options of a run of the remover.
RunOptions Remover();

// A box as the native MessageBoxA draws it, for the setup's caption.
std::string Box(const std::string& text);

// Every file below root, by relative path, with its content ("<folder>" for folders, "<link to
// TARGET>" for symbolic links, which are not followed).
using Snapshot = std::map<std::string, std::string>;
Snapshot TakeSnapshot(const std::string& root);

// Hands a folder and everything in it to the unprivileged user the setup runs as.
void GiveToUnprivilegedUser(const std::string& root);
