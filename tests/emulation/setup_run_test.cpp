// The native setup run as a user runs it, on real machine folders: for each way a run can
// end, its exit status, its boxes, and everything the machine holds afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "tests/box_texts.h"
#include "tests/emulation/setup_cases.h"

namespace {

namespace fs = std::filesystem;

using namespace box_texts;

const std::string kNoDescriptionsKey =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc]\r\n"
    "\"msrle32.dll\"=\"Microsoft RLE\"\r\n"
    "\"msvidc32.dll\"=\"Microsoft Video 1\"\r\n"
    "\r\n";

// Holds a decoder locked from another process, as a running video application would.
class DecoderUser {
 public:
  explicit DecoderUser(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      const int file = open(path.c_str(), O_RDONLY);
      flock(file, LOCK_SH);
      if (write(ready[1], "x", 1) != 1) _exit(1);
      pause();
      _exit(0);
    }
    char signal;
    EXPECT_EQ(read(ready[0], &signal, 1), 1);
    close(ready[0]);
    close(ready[1]);
  }
  ~DecoderUser() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

const auto kAsIs = [](Bench&) {};

TEST(NativeSetup, EachOutcomeWithItsStatusBoxesAndChanges) {
  CheckRuns({
      {"NT family", kAsIs, 0, {kComplete}, InstalledAndRegistered},
      {"arguments change nothing",
       kAsIs,
       0,
       {kComplete},
       InstalledAndRegistered,
       {{"/S", "--uninstall", ""}}},
      {"older copies replaced",
       [](Bench& b) {
         WriteFile(b.At(kSystem32) + "/VORNJIXD.DLL", "old");
         WriteFile(b.At(kSystem32) + "/vornjix2.dll", "old");
       },
       0,
       {kComplete},
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
       {kNotComplete},
       [](Snapshot& m) {
         Installed(m);
         std::string store = kFreshStore;
         store.erase(store.find(kNoDescriptionsKey), kNoDescriptionsKey.size());
         m[kStore] = InsertAfter(store, "\"msacm32.drv\"\r\n", kHandlerLines);
       }},
      {"95 family",
       [](Bench& b) {
         b.folder.Describe("95", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM");
         fs::create_directory(b.At("drive_c/WINDOWS/SYSTEM"));
       },
       0,
       {kComplete},
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
       {kProfileFailed, kNotComplete},
       Installed},
      {"Win32s", [](Bench& b) { b.folder.Describe("0"); }, 2, {kWrongVersion}, Installed},
      {"the version query fails",
       [](Bench& b) { b.folder.Describe("fail"); },
       2,
       {kWrongVersion},
       Installed},
      {"second file missing",
       [](Bench& b) { fs::remove(b.package + "/vornjix2.dll"); },
       1,
       {kInUse},
       [](Snapshot& m) { m[kSystem32 + "/vornjixd.dll"] = kFirstDecoder; }},
      {"first file missing",
       [](Bench& b) { fs::remove(b.package + "/vornjixd.dll"); },
       0,
       {kComplete},
       [](Snapshot& m) {
         InstalledAndRegistered(m);
         m.erase(kSystem32 + "/vornjixd.dll");
       }},
      {"system directory too long for the setup's path",
       [](Bench& b) { b.folder.Describe("nt", "C:\\WINDOWS", "C:\\" + std::string(200, 'S')); },
       1,
       {kInUse},
       Nothing},
      {"a store it cannot read",
       [](Bench& b) { b.Edit(kStore, [](std::string s) { return s + "garbage\r\n"; }); },
       0,
       {kNotComplete},
       Installed,
       {},
       "HKLM.reg cannot be read, so it is left as it is: line 18: not a key, a value or a comment"},
      {"a read-only store",
       [](Bench& b) { fs::permissions(b.At(kStore), fs::perms::owner_read); },
       0,
       {kNotComplete},
       Installed},
      {"a read-only system folder",
       [](Bench& b) {
         GiveToUnprivilegedUser(b.folder.work);
         fs::permissions(b.At(kSystem32), fs::perms::owner_read | fs::perms::owner_exec);
       },
       1,
       {kInUse},
       Nothing,
       {{}, true}},
      {"a full disk",
       [](Bench& b) {
         WriteFile(b.package + "/vornjixd.dll", std::string(64 * 1024, 'a'));
         WriteFile(b.package + "/vornjix2.dll", std::string(64 * 1024, 'b'));
         WriteFile(b.At(kSystem32) + "/vornjix2.dll", "old");
       },
       1,
       {kInUse},
       Nothing,
       {{}, false, 4096}},
      {"a second run changes nothing",
       [](Bench& b) { ASSERT_EQ(RunNative(b.folder.machine, b.package).status, 0); },
       0,
       {kComplete},
       Nothing},
  });
}

TEST(NativeSetup, ADecoderInUseIsNotReplaced) {
  Bench bench;
  WriteFile(bench.At(kSystem32) + "/vornjix2.dll", "old");
  Snapshot expected = TakeSnapshot(bench.folder.machine);
  expected[kSystem32 + "/vornjixd.dll"] = kFirstDecoder;
  {
    DecoderUser player(bench.At(kSystem32) + "/vornjix2.dll");
    const RunResult run = RunNative(bench.folder.machine, bench.package);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, Box(kInUse));
  }
  EXPECT_EQ(TakeSnapshot(bench.folder.machine), expected);
}

TEST(NativeSetup, WithoutAUsableMachineItSaysWhyAndRunsNothing) {
  Bench bench;
  struct {
    const char* machine;
    const char* says;
  } const cases[] = {
      {"relative/machine", "must be an absolute path"},
      {"/proc/version", "cannot open /proc/version"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.machine);
    const RunResult run = RunNative(c.machine, bench.package);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
  }
  bench.folder.Describe("nt\nplatform = win98");
  const RunResult run = RunNative(bench.folder.machine, bench.package);
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.output.find("machine.conf line 2: 'win98' is not a valid platform"),
            std::string::npos)
      << run.output;
}

}  // namespace
