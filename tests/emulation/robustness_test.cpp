// The machine under the worst a user's machine sees: setups and removers killed at any moment
// while they write, and several of them and other programs changing the machine at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "platform/emulation/profile_text.h"
#include "platform/emulation/regedit4.h"
#include "registration/messages.h"
#include "tests/emulation/machine_folder.h"
#include "tests/emulation/native_run.h"

namespace {

namespace fs = std::filesystem;
using emulation::RegistryKey;
using emulation::RegistryValue;

const char kDrivers32Key[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
constexpr int kFillerValues = 20000;  // makes each save long enough to be caught halfway

int Setting(const char* variable, int fallback) {
  const char* value = std::getenv(variable);
  return value != nullptr ? std::atoi(value) : fallback;
}

// A machine whose registry and system.ini hold many entries besides the setup's.
struct CrowdedMachine {
  CrowdedMachine() {
    folder.OpenFresh();
    package = folder.work + "/package";
    WriteFile(package + "/vornjixd.dll", std::string(1 << 20, 'd'));
    WriteFile(package + "/vornjix2.dll", std::string(1 << 20, '2'));
    std::string store = kFreshStore, ini = kFreshSystemIni;
    for (int i = 0; i < kFillerValues; ++i) {
      store += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Filler\\" + std::to_string(i) +
               "]\r\n\"v\"=dword:" + "0000002a\r\n\r\n";
      ini += "filler." + std::to_string(i) + "=x\r\n";
    }
    WriteFile(folder.machine + "/HKLM.reg", store);
    WriteFile(folder.drive + "/WINDOWS/system.ini", ini);
    oldStore = store;
    oldIni = ini;
  }

  MachineFolder folder;
  std::string package, oldStore, oldIni;
};

// The lines each run adds, in the order it saves them.
const std::vector<std::string> kStoreLines = {
    "\"vornjixd.dll\"=\"VORN JIX1 Decoder\"\r\n", "\"vornjix2.dll\"=\"VORN JIX2 Decoder\"\r\n",
    "\"vidc.jix1\"=\"vornjixd.dll\"\r\n", "\"vidc.jix2\"=\"vornjix2.dll\"\r\n",
    "\"vidc.uyvy\"=\"vornjixd.dll\"\r\n"};
const std::vector<std::string> kIniLines = {
    "vidc.jix1=vornjixd.dll\r\n", "vidc.jix2=vornjix2.dll\r\n", "vidc.uyvy=vornjixd.dll\r\n"};

// A file a killed run left must be the old one with some of the run's lines added: the first
// ones, whole, in the order the run saves them, and every other byte as it was. Returns how
// many of them are there.
std::size_t ExpectOldWithLinesAdded(std::string text, const std::string& old,
                                    const std::vector<std::string>& lines) {
  std::size_t added = 0;
  while (added < lines.size() && text.find(lines[added]) != std::string::npos) {
    text.erase(text.find(lines[added]), lines[added].size());
    ++added;
  }
  EXPECT_EQ(text == old, true) << "changed beyond the setup's first " << added << " lines";
  return added;
}

// Kills the setup where it stands and says whether it was changing a file then: it held a
// folder's lock, which it takes only to change a file there, or a new file not yet in its place
// (unnamed, or under a temporary name).
bool KilledMidWrite(pid_t setup, int* status) {
  kill(setup, SIGSTOP);
  waitpid(setup, status, WUNTRACED);
  if (!WIFSTOPPED(*status)) return false;  // it had ended
  bool writing =
      ReadFile("/proc/locks").find(" WRITE " + std::to_string(setup) + " ") != std::string::npos;
  std::error_code ignored;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(setup) + "/fd", ignored)) {
    const std::string file = fs::read_symlink(fd, ignored).string();
    writing = writing || file.find("/.vorn-") != std::string::npos ||
              file.find(" (deleted)") != std::string::npos;
  }
  kill(setup, SIGKILL);
  waitpid(setup, status, 0);
  return writing;
}

// How long a whole run from where reset puts the machine takes here, the middle of three: the
// kills fall anywhere within it.
std::chrono::steady_clock::duration RunTime(const std::string& machine, const std::string& package,
                                            const std::function<void()>& reset,
                                            const char* program = VORNSETUP_PATH) {
  RunOptions options;
  options.program = program;
  std::vector<std::chrono::steady_clock::duration> times;
  for (int run = 0; run < 3; ++run) {
    reset();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunNative(machine, package, options).status, 0);
    times.push_back(std::chrono::steady_clock::now() - start);
  }
  std::sort(times.begin(), times.end());
  return times[1];
}

// The files below root that a run writes and then renames or removes: temporaries and a fresh
// machine's marker.
int StrayFiles(const std::string& root) {
  int strays = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    strays += entry.path().filename().string().rfind(".vorn-", 0) == 0;
  }
  return strays;
}

void ExpectWholeFileOrNone(const std::string& path, const std::string& expected) {
  if (!Exists(path)) return;
  EXPECT_EQ(ReadFile(path).size(), expected.size()) << path;
  EXPECT_TRUE(ReadFile(path) == expected) << path << " is neither missing nor whole";
}

// Setups from a machine without the package and removers from one a setup ran on, in turn.
TEST(Robustness, SetupsAndRemoversKilledAtAnyMomentLeaveEveryFileOldOrNewAndWhole) {
  const int trials = Setting("VORN_KILL_TRIALS", 300);
  int changing = 0;
  for (const char* platform : {"nt", "95"}) {
    SCOPED_TRACE(platform);
    CrowdedMachine machine;
    machine.folder.Describe(platform);
    const std::string system32 = machine.folder.drive + "/WINDOWS/SYSTEM32";
    const std::string store = machine.folder.machine + "/HKLM.reg";
    const std::string ini = machine.folder.drive + "/WINDOWS/system.ini";
    const std::string first = ReadFile(machine.package + "/vornjixd.dll"),
                      second = ReadFile(machine.package + "/vornjix2.dll");

    const auto reset = [&] {
      WriteFile(store, machine.oldStore);
      WriteFile(ini, machine.oldIni);
      fs::remove(system32 + "/vornjixd.dll");
      fs::remove(system32 + "/vornjix2.dll");
    };
    // The machine as a whole setup leaves it.
    reset();
    ASSERT_EQ(RunNative(machine.folder.machine, machine.package).status, 0);
    const std::string installedStore = ReadFile(store), installedIni = ReadFile(ini);
    const auto installed = [&] {
      WriteFile(store, installedStore);
      WriteFile(ini, installedIni);
      WriteFile(system32 + "/vornjixd.dll", first);
      WriteFile(system32 + "/vornjix2.dll", second);
    };

    for (const bool removing : {false, true}) {
      const char* program = removing ? VORNREMOVE_PATH : VORNSETUP_PATH;
      const std::function<void()> start =
          removing ? std::function<void()>(installed) : std::function<void()>(reset);
      // The remover takes the lines away in the order the setup adds them: what is left of them
      // are the last ones.
      const auto inOrder = [&](const std::vector<std::string>& lines) {
        return removing ? std::vector<std::string>(lines.rbegin(), lines.rend()) : lines;
      };
      const auto runTime = RunTime(machine.folder.machine, machine.package, start, program);
      std::mt19937 random(removing ? 20261210 : 20261208);
      const int runs = removing ? trials / 2 : trials - trials / 2;
      int finished = 0, untouched = 0, midWrite = 0, strays = 0;
      for (int trial = 0; trial < runs; ++trial) {
        start();
        const std::string storeBefore = ReadFile(store), iniBefore = ReadFile(ini);
        const pid_t run = StartNative(machine.folder.machine, machine.package, program);
        std::this_thread::sleep_for(runTime * std::uniform_real_distribution<>(0, 1.2)(random));
        int status;
        midWrite += KilledMidWrite(run, &status);
        finished += WIFEXITED(status);
        strays += StrayFiles(machine.folder.machine);

        const std::string text = ReadFile(store);
        std::string error;
        EXPECT_TRUE(RegistryKey::ReadText(kDrivers32Key, text, &error)) << error;
        const std::size_t stored =
            ExpectOldWithLinesAdded(text, machine.oldStore, inOrder(kStoreLines));
        EXPECT_TRUE(stored == 0 || stored == (removing ? 3 : 2) || stored == 5)
            << "a key saved in part";
        const std::size_t profiled =
            ExpectOldWithLinesAdded(ReadFile(ini), machine.oldIni, inOrder(kIniLines));
        ExpectWholeFileOrNone(system32 + "/vornjixd.dll", first);
        ExpectWholeFileOrNone(system32 + "/vornjix2.dll", second);
        // Registration only once both files are there, and the files only once it is gone.
        if (stored > 0 || profiled > 0) {
          EXPECT_TRUE(Exists(system32 + "/vornjixd.dll") && Exists(system32 + "/vornjix2.dll"));
        }
        untouched += text == storeBefore && ReadFile(ini) == iniBefore;
        if (HasFailure()) break;
      }
      // Whatever the killed runs left, the next whole run takes away.
      RunOptions options;
      options.program = program;
      ASSERT_EQ(RunNative(machine.folder.machine, machine.package, options).status, 0);
      EXPECT_EQ(StrayFiles(machine.folder.machine), 0);
      const char* what = removing ? "removers" : "setups";
      RecordProperty(std::string("kills_") + what + "_" + platform, runs - finished);
      std::printf(
          "%s, %s: %d runs, %d killed before the end, %d before any change, %d while changing a "
          "file; %d temporary files left behind, none after the next run\n",
          platform, what, runs, runs - finished, untouched, midWrite, strays);
      changing += midWrite;
    }
  }
  EXPECT_GT(changing, 0) << "no kill landed while a file was changed";
}

TEST(Robustness, ASetupKilledWhileItMakesAFreshMachineLeavesOneTheNextRunFinishes) {
  MachineFolder folder;
  const std::string package = folder.work + "/package";
  WriteFile(package + "/vornjixd.dll", "MZ first decoder");
  WriteFile(package + "/vornjix2.dll", "MZ second decoder");
  const auto runTime = RunTime(folder.machine, package, [&] { fs::remove_all(folder.machine); });
  const Snapshot made = TakeSnapshot(folder.machine);

  std::mt19937 random(20261209);
  const int trials = std::max(Setting("VORN_KILL_TRIALS", 300) / 3, 30);
  int halfMade = 0;
  for (int trial = 0; trial < trials && !HasFailure(); ++trial) {
    fs::remove_all(folder.machine);
    const pid_t setup = StartNative(folder.machine, package);
    // Making the machine starts with its folder and takes a small part of a run.
    const auto deadline = std::chrono::steady_clock::now() + 2 * runTime;
    while (!Exists(folder.machine) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    std::this_thread::sleep_for(runTime * std::uniform_real_distribution<>(0, 0.2)(random));
    int status;
    KilledMidWrite(setup, &status);
    halfMade += Exists(folder.machine) && !Exists(folder.machine + "/machine.conf");
    EXPECT_EQ(RunNative(folder.machine, package).status, 0);
    EXPECT_EQ(TakeSnapshot(folder.machine), made);
    EXPECT_EQ(ListFolder(folder.work), "machine package ");
  }
  EXPECT_GT(halfMade, 0) << "no kill landed while the machine was made";
  std::printf("%d runs, %d killed while they made the machine\n", trials, halfMade);
}

// Setups, removers and other programs that write the registry and system.ini at once.
TEST(Robustness, SetupsRemoversAndOtherProgramsAtOnceLoseNothing) {
  const int setups = Setting("VORN_CONCURRENT_SETUPS", 4);
  constexpr int kValuesPerWriter = 15;
  for (const char* platform : {"nt", "95"}) {
    SCOPED_TRACE(platform);
    CrowdedMachine machine;
    machine.folder.Describe(platform);
    std::vector<pid_t> setupProcesses, writers;
    for (int i = 0; i < setups; ++i) {
      setupProcesses.push_back(StartNative(machine.folder.machine, machine.package));
      setupProcesses.push_back(
          StartNative(machine.folder.machine, machine.package, VORNREMOVE_PATH));
      const pid_t writer = fork();
      if (writer == 0) {
        const std::string tag = "writer" + std::to_string(i),
                          count = std::to_string(kValuesPerWriter);
        execl(MACHINE_WRITER_PATH, "machine_writer", machine.folder.machine.c_str(), tag.c_str(),
              count.c_str(), nullptr);
        _exit(127);
      }
      writers.push_back(writer);
    }
    for (pid_t setup : setupProcesses) {
      int status;
      waitpid(setup, &status, 0);
      EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    for (pid_t writer : writers) {
      int status;
      waitpid(writer, &status, 0);
      EXPECT_EQ(WEXITSTATUS(status), 0) << "writes that failed";
    }

    std::string error;
    const std::string text = ReadFile(machine.folder.machine + "/HKLM.reg");
    const auto store = RegistryKey::ReadText(kDrivers32Key, text, &error);
    ASSERT_TRUE(store) << error;
    const std::string ini = ReadFile(machine.folder.drive + "/WINDOWS/system.ini");
    for (int i = 0; i < setups; ++i) {
      const std::string tag = "writer" + std::to_string(i);
      for (int v = 0; v < kValuesPerWriter; ++v) {
        const std::string name = tag + "." + std::to_string(v);
        EXPECT_EQ(store->Value(name).value_or(RegistryValue{}).data, tag + '\0') << name;
        EXPECT_EQ(emulation::GetProfileString(ini, "drivers32", name), tag) << name;
      }
    }
    const char kFiller[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Filler\\19999";
    EXPECT_EQ(RegistryKey::ReadText(kFiller, text, &error)->Values().size(), 1u);
    EXPECT_EQ(emulation::GetProfileString(ini, "drivers", "wave"), "mmdrv.dll");
    // Whichever ran last, a setup after them all finds a machine it completes.
    const RunResult after = RunNative(machine.folder.machine, machine.package);
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(after.output, Box(kCompleteText));
  }
}

}  // namespace
