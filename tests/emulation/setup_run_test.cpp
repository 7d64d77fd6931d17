// The native setup run as a user runs it, on real machine folders: for each way a run can
// end, its exit status, its boxes, and everything the machine holds afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "registration/messages.h"
#include "tests/emulation/setup_cases.h"

namespace {

namespace fs = std::filesystem;

const std::string kNoDescriptionsKey =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc]\r\n"
    "\"msrle32.dll\"=\"Microsoft RLE\"\r\n"
    "\"msvidc32.dll\"=\"Microsoft Video 1\"\r\n"
    "\r\n";

// Holds a file or folder locked from another process, as a running video application holds
// its decoder, or another program the machine while it writes: for a while, or until destroyed.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path, std::chrono::milliseconds holdFor = {}) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      const int file = open(path.c_str(), O_RDONLY);
      flock(file, LOCK_SH);
      if (write(ready[1], "x", 1) != 1) _exit(1);
      if (holdFor.count() > 0) {
        std::this_thread::sleep_for(holdFor);
        _exit(0);
      }
      pause();
      _exit(0);
    }
    char signal;
    EXPECT_EQ(read(ready[0], &signal, 1), 1);
    close(ready[0]);
    close(ready[1]);
  }
  ~LockHolder() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

const auto kAsIs = [](Bench&) {};

TEST(NativeSetup, EachOutcomeWithItsStatusBoxesAndChanges) {
  CheckRuns({
      {"NT family", kAsIs, 0, {kCompleteText}, InstalledAndRegistered},
      {"an argument it does not take: refused, nothing done",
       kAsIs,
       64,
       {},
       Nothing,
       {{"/S", "--uninstall", ""}},
       {"vornsetup: unexpected argument '/S'; see 'vornsetup --help'\n"}},
      {"older copies replaced",
       [](Bench& b) {
         WriteFile(b.At(kSystem32) + "/VORNJIXD.DLL", "old");
         WriteFile(b.At(kSystem32) + "/vornjix2.dll", "old");
       },
       0,
       {kCompleteText},
       [](Snapshot& m) {
         InstalledAndRegistered(m);
         m.erase(kSystem32 + "/vornjixd.dll");
         m[kSystem32 + "/VORNJIXD.DLL"] = kFirstDecoder;
       }},
      {"NT family without drivers.desc",
       [](Bench& b) {
         b.Edit(kStore, [](std::string s) {
           return s.erase(s.find(kNoDescriptionsKey), kNoDescriptionsKey.size());
         });
       },
       0,
       {kNotCompleteText},
       [](Snapshot& m) {
         Installed(m);
         std::string store = kFreshStore;
         store.erase(store.find(kNoDescriptionsKey), kNoDescriptionsKey.size());
         m[kStore] = InsertAfter(store, "\"msacm32.drv\"\r\n", kHandlerLines);
       },
       {},
       {"HKLM.reg': holds no key 'HKEY_LOCAL_MACHINE\\SOFTWARE"}},
      {"95 family",
       [](Bench& b) {
         b.folder.Describe("95", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM");
         fs::create_directory(b.At("drive_c/WINDOWS/SYSTEM"));
       },
       0,
       {kCompleteText},
       [](Snapshot& m) {
         m["drive_c/WINDOWS/SYSTEM/vornjixd.dll"] = kFirstDecoder;
         m["drive_c/WINDOWS/SYSTEM/vornjix2.dll"] = kSecondDecoder;
         m[kSystemIni] = kFreshSystemIni +
                         "vidc.jix1=vornjixd.dll\r\nvidc.jix2=vornjix2.dll\r\n"
                         "vidc.uyvy=vornjixd.dll\r\n";
       }},
      {"95 family with a read-only system.ini",
       [](Bench& b) {
         b.folder.Describe("95");
         fs::permissions(b.At(kSystemIni), fs::perms::owner_read);
       },
       0,
       {kProfileFailedText, kNotCompleteText},
       Installed,
       {},
       {"cannot change '", "/system.ini': access denied (Windows error 5)"}},
      {"Win32s", [](Bench& b) { b.folder.Describe("0"); }, 2, {kWrongVersionText}, Installed},
      {"the version query fails",
       [](Bench& b) { b.folder.Describe("fail"); },
       2,
       {kWrongVersionText},
       Installed},
      {"second file missing",
       [](Bench& b) { fs::remove(b.package + "/vornjix2.dll"); },
       1,
       {kInUseText},
       [](Snapshot& m) { m[kSystem32 + "/vornjixd.dll"] = kFirstDecoder; },
       {},
       {"cannot copy 'vornjix2.dll': not found (Windows error 2)"}},
      {"first file missing",
       [](Bench& b) { fs::remove(b.package + "/vornjixd.dll"); },
       0,
       {kCompleteText},
       [](Snapshot& m) {
         InstalledAndRegistered(m);
         m.erase(kSystem32 + "/vornjixd.dll");
       },
       {},
       {"cannot copy 'vornjixd.dll': not found (Windows error 2)"}},
      {"system directory too long for the setup's path",
       [](Bench& b) { b.folder.Describe("nt", "C:\\WINDOWS", "C:\\" + std::string(200, 'S')); },
       1,
       {kInUseText},
       Nothing},
      {"a store it cannot read",
       [](Bench& b) { b.Edit(kStore, [](std::string s) { return s + "garbage\r\n"; }); },
       0,
       {kNotCompleteText},
       Installed,
       {},
       {"HKLM.reg': cannot be read, so it is left as it is: line 18: not a key, a value or a "
        "comment"}},
      {"a read-only store",
       [](Bench& b) { fs::permissions(b.At(kStore), fs::perms::owner_read); },
       0,
       {kNotCompleteText},
       Installed,
       {},
       {"HKLM.reg': may not be changed: access denied (Windows error 5)"}},
      {"a read-only system folder",
       [](Bench& b) {
         GiveToUnprivilegedUser(b.folder.work);
         fs::permissions(b.At(kSystem32), fs::perms::owner_read | fs::perms::owner_exec);
       },
       1,
       {kInUseText},
       Nothing,
       {{}, true},
       {"cannot copy 'vornjixd.dll' to '", "cannot copy 'vornjix2.dll' to '",
        ": access denied (Windows error 5)"}},
      {"a full disk",
       [](Bench& b) {
         WriteFile(b.package + "/vornjixd.dll", std::string(64 * 1024, 'a'));
         WriteFile(b.package + "/vornjix2.dll", std::string(64 * 1024, 'b'));
         WriteFile(b.At(kSystem32) + "/vornjix2.dll", "old");
       },
       1,
       {kInUseText},
       Nothing,
       {{}, false, 4096},
       {"cannot copy 'vornjixd.dll' to '", "cannot copy 'vornjix2.dll' to '",
        ": the disk is full (Windows error 112)"}},
      {"nobody reads standard error", kAsIs, 0, {}, InstalledAndRegistered, {{}, false, -1, true}},
      {"a second run changes nothing",
       [](Bench& b) { ASSERT_EQ(RunNative(b.folder.machine, b.package).status, 0); },
       0,
       {kCompleteText},
       Nothing},
  });
}

// The remover after a setup: the machine as it was before the setup, but what another product
// has registered since.
TEST(NativeRemover, EachOutcomeWithItsStatusBoxesAndChanges) {
  const auto nineFive = [](Bench& b) {
    b.folder.Describe("95");
    RunSetupOn(b);
  };
  const auto takenOver = [](const std::string& file, const std::string& ours,
                            const std::string& others) {
    return [=](Bench& b) {
      if (file == kSystemIni) b.folder.Describe("95");
      RunSetupOn(b);
      b.Edit(file, [&](std::string s) { return s.replace(s.find(ours), ours.size(), others); });
    };
  };
  const std::string otherUyvy = "\"vidc.uyvy\"=\"otheruyvy.dll\"\r\n";
  CheckRuns({
      {"NT family", RunSetupOn, 0, {kRemovedText}, Removed, Remover()},
      {"95 family", nineFive, 0, {kRemovedText}, Removed, Remover()},
      {"a second run changes nothing",
       [](Bench& b) {
         RunSetupOn(b);
         EXPECT_EQ(RunNative(b.folder.machine, b.package, Remover()).status, 0);
       },
       0,
       {kRemovedText},
       Nothing,
       Remover()},
      {"nothing was ever installed", kAsIs, 0, {kRemovedText}, Nothing, Remover()},
      {"NT family, a format another product took over",
       takenOver(kStore, "\"vidc.uyvy\"=\"vornjixd.dll\"", "\"vidc.uyvy\"=\"otheruyvy.dll\""),
       0,
       {kRemovedText},
       [&](Snapshot& m) {
         Removed(m);
         m[kStore] = InsertAfter(kFreshStore, "\"msacm32.drv\"\r\n", otherUyvy);
       },
       Remover()},
      {"95 family, a format another product took over",
       takenOver(kSystemIni, "vidc.uyvy=vornjixd.dll", "vidc.uyvy=otheruyvy.dll"),
       0,
       {kRemovedText},
       [](Snapshot& m) {
         Removed(m);
         m[kSystemIni] = kFreshSystemIni + "vidc.uyvy=otheruyvy.dll\r\n";
       },
       Remover()},
      {"NT family, our file named in capitals",
       takenOver(kStore, "\"vidc.jix1\"=\"vornjixd.dll\"", "\"VIDC.JIX1\"=\"VornJixD.DLL\""),
       0,
       {kRemovedText},
       Removed,
       Remover()},
      {"Win32s: nothing touched",
       [](Bench& b) {
         RunSetupOn(b);
         b.folder.Describe("0");
       },
       2,
       {kWrongVersionText},
       Nothing,
       Remover()},
      {"a store it cannot read: no file deleted",
       [](Bench& b) {
         RunSetupOn(b);
         b.Edit(kStore, [](std::string s) { return s + "garbage\r\n"; });
       },
       0,
       {kNotRemovedText},
       Nothing,
       Remover(),
       {"vornremove: '", "HKLM.reg': cannot be read, so it is left as it is: line 23: not a key"}},
      {"an argument it does not take: refused, nothing done",
       RunSetupOn,
       64,
       {},
       Nothing,
       {{"/S"}, false, -1, false, {}, VORNREMOVE_PATH},
       {"vornremove: unexpected argument '/S'; see 'vornremove --help'\n"}},
  });
}

// A decoder a video application holds stays, with the remover's box and status; its
// registration goes at once, the file with the next run.
TEST(NativeRemover, ADecoderInUseStaysUntilTheNextRun) {
  Bench bench;
  const Snapshot before = TakeSnapshot(bench.folder.machine);
  RunSetupOn(bench);
  Snapshot expected = before;
  expected[kSystem32 + "/vornjix2.dll"] = kSecondDecoder;
  {
    LockHolder player(bench.At(kSystem32) + "/vornjix2.dll");
    const RunResult run = RunNative(bench.folder.machine, bench.package, Remover());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output.substr(run.output.find('\n') + 1), Box(kRemovalInUseText));
    EXPECT_EQ(run.output.rfind("vornremove: cannot delete '", 0), 0u) << run.output;
    EXPECT_NE(run.output.find("vornjix2.dll"), std::string::npos);
    EXPECT_NE(run.output.find(": in use by another program (Windows error 5)\n"),
              std::string::npos);
  }
  EXPECT_EQ(TakeSnapshot(bench.folder.machine), expected);
  const RunResult next = RunNative(bench.folder.machine, bench.package, Remover());
  EXPECT_EQ(next.status, 0);
  EXPECT_EQ(next.output, Box(kRemovedText));
  EXPECT_EQ(TakeSnapshot(bench.folder.machine), before);
}

TEST(NativeSetup, ADecoderInUseIsNotReplaced) {
  Bench bench;
  WriteFile(bench.At(kSystem32) + "/vornjix2.dll", "old");
  Snapshot expected = TakeSnapshot(bench.folder.machine);
  expected[kSystem32 + "/vornjixd.dll"] = kFirstDecoder;
  {
    LockHolder player(bench.At(kSystem32) + "/vornjix2.dll");
    const RunResult run = RunNative(bench.folder.machine, bench.package);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output.substr(run.output.find('\n') + 1), Box(kInUseText));
    EXPECT_NE(run.output.find(": in use by another program (Windows error 32)\n"),
              std::string::npos);
  }
  EXPECT_EQ(TakeSnapshot(bench.folder.machine), expected);
}

TEST(NativeSetup, WaitsForAnotherProgramAndSaysSoOnce) {
  Bench bench;
  // The copies wait for the system folder, then the registry for the machine folder, each for
  // more than a second unless starting the setup takes half of one.
  const LockHolder copying(bench.At(kSystem32), std::chrono::milliseconds(1500));
  const LockHolder writing(bench.folder.machine, std::chrono::milliseconds(3000));
  const RunResult run = RunNative(bench.folder.machine, bench.package);
  EXPECT_EQ(run.status, 0);
  const std::string waiting = "vornsetup: waiting for '" + bench.folder.work + "/machine";
  EXPECT_EQ(run.output.rfind(waiting, 0), 0u) << run.output;
  EXPECT_EQ(run.output.substr(run.output.find('\n') + 1), Box(kCompleteText));
  EXPECT_NE(run.output.find("', held by another program\n"), std::string::npos) << run.output;
}

TEST(NativeSetup, ARunAsRootLeavesTheMachineToItsOwner) {
  if (getuid() != 0) GTEST_SKIP() << "only root can run on a machine that is not its own";
  Bench bench;
  WriteFile(bench.At(kSystem32) + "/vornjix2.dll", "old");
  GiveToUnprivilegedUser(bench.folder.work);
  const fs::perms shared = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                           fs::perms::group_write;
  fs::permissions(bench.At(kStore), shared);
  ASSERT_EQ(RunNative(bench.folder.machine, bench.package).status, 0);
  // Replaced files keep their owner, group and mode; new ones get their folder's owner.
  for (const auto& entry : fs::recursive_directory_iterator(bench.folder.machine)) {
    struct stat status;
    ASSERT_EQ(lstat(entry.path().c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, kUnprivilegedUser) << entry.path();
    EXPECT_EQ(status.st_gid, kUnprivilegedUser) << entry.path();
  }
  EXPECT_EQ(fs::status(bench.At(kStore)).permissions(), shared);
}

TEST(NativeSetup, WithoutAUsableMachineItSaysWhyInOneLineAndRunsNothing) {
  Bench bench;
  const std::string conf = bench.folder.machine + "/machine.conf";
  const std::string longPlatform = "\x1b[2J" + std::string(1 << 20, 'y');
  struct {
    std::string machine;
    const char* platform;  // what machine.conf says, if anything
    std::string says;
  } const cases[] = {
      {"relative/machine", nullptr, "must be an absolute path, not 'relative/machine'"},
      {"\x1b]0;owned\x07", nullptr, "not '\\x1b]0;owned\\x07'"},
      {std::string(100000, 'x'), nullptr, "x..." + std::string(16, 'x') + "' (100000 bytes)"},
      {"/proc/version", nullptr, "cannot open '/proc/version': Not a directory"},
      {"/proc/nonexistent/m", nullptr,
       "cannot create '/proc/nonexistent': No such file or directory"},
      {bench.package, nullptr,
       "'" + bench.package +
           "' is neither a machine folder (it holds no machine.conf) nor a Windows drive"},
      {bench.folder.machine, "nt\nplatform = win98",
       "'" + conf + "', line 2: 'win98' is not a valid platform"},
      {bench.folder.machine, longPlatform.c_str(),
       // The first 48 bytes and the last 16, the escape written out.
       "line 1: '\\x1b[2J" + std::string(44, 'y') + "..." + std::string(16, 'y') +
           "' (1048580 bytes) is not a valid platform"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    if (c.platform != nullptr) bench.folder.Describe(c.platform);
    const RunResult run = RunNative(c.machine, bench.package);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.output.rfind("vornsetup: no machine to set up: ", 0), 0u) << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << "one line";
  }
  RunOptions remover = Remover();
  const RunResult removal = RunNative("relative/machine", bench.package, remover);
  EXPECT_EQ(removal.status, 3);
  EXPECT_EQ(removal.output.rfind("vornremove: no machine to remove the decoders from: ", 0), 0u)
      << removal.output;
}

}  // namespace
