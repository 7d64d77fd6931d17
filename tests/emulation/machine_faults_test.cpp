// The native setup on machines with something wrong in them: other things where its files
// should be, links out of the machine, files the user may not read or write, a disk that fills
// up. Each run must end as the outcome tables say, in time, and lose nothing: the machine holds
// what it held plus what the run could do, and nothing outside the machine changes.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "tests/emulation/machine_folder.h"
#include "tests/emulation/native_run.h"

namespace {

namespace fs = std::filesystem;

const char kComplete[] = "            Installation is complete.            ";
const char kNotComplete[] = "          Installation is NOT complete.          ";
const char kInUse[] =
    "Previous installed VORN video decoder is in use.\nPlease stop the video application or "
    "reboot your system first.\nThen install VORN video decoder again.";
const char kProfileFailed[] =
    "Fail to update registry.\nPlease stop the video application or reboot your system "
    "first.\nThen install VORN JIX1 decoder again.";

const char kFirstDecoder[] = "MZ first decoder";
const char kSecondDecoder[] = "MZ second decoder";
const std::string kSystem32 = "drive_c/WINDOWS/SYSTEM32";
const std::string kStore = "HKLM.reg";
const std::string kSystemIni = "drive_c/WINDOWS/system.ini";
std::string InsertAfter(std::string text, const std::string& anchor, const std::string& lines) {
  text.insert(text.find(anchor) + anchor.size(), lines);
  return text;
}
const std::string kRegisteredStore = InsertAfter(
    InsertAfter(
        kFreshStore, "\"Microsoft Video 1\"\r\n",
        "\"vornjixd.dll\"=\"VORN JIX1 Decoder\"\r\n\"vornjix2.dll\"=\"VORN JIX2 Decoder\"\r\n"),
    "\"msacm32.drv\"\r\n",
    "\"vidc.jix1\"=\"vornjixd.dll\"\r\n\"vidc.jix2\"=\"vornjix2.dll\"\r\n"
    "\"vidc.uyvy\"=\"vornjixd.dll\"\r\n");

// A fresh machine, a package folder beside it, and a folder outside both that the machine's
// links may point into.
struct Bench {
  Bench() {
    folder.OpenFresh();
    package = folder.work + "/package";
    outside = folder.work + "/outside";
    WriteFile(package + "/vornjixd.dll", kFirstDecoder);
    WriteFile(package + "/vornjix2.dll", kSecondDecoder);
    WriteFile(outside + "/HKLM.reg", kFreshStore);
    WriteFile(outside + "/system.ini", kFreshSystemIni);
    fs::create_directory(outside + "/SYSTEM32");
  }
  std::string At(const std::string& path) const { return folder.machine + "/" + path; }

  MachineFolder folder;
  std::string package, outside;
};

void PutFolder(const std::string& path) {
  fs::remove(path);
  fs::create_directory(path);
}

void PutPipe(const std::string& path) {
  fs::remove(path);
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << std::strerror(errno);
}

void PutLink(const std::string& path, const std::string& target) {
  fs::remove_all(path);
  fs::create_symlink(target, path);
}

void FirstInstalled(Snapshot& machine) {
  machine[kSystem32 + "/vornjixd.dll"] = kFirstDecoder;
}

void Installed(Snapshot& machine) {
  FirstInstalled(machine);
  machine[kSystem32 + "/vornjix2.dll"] = kSecondDecoder;
}

void Nothing(Snapshot&) {}

struct FaultCase {
  const char* name;
  std::function<void(Bench&)> prepare;
  int status;
  std::vector<std::string> boxes;
  std::function<void(Snapshot&)> changes;  // what the run changes in the machine
  bool unprivileged = false;
};

std::string Boxes(const std::vector<std::string>& texts) {
  std::string boxes;
  for (const std::string& text : texts) boxes += Box(text);
  return boxes;
}

TEST(MachineFaults, EachEndsAsTheTablesSayAndLosesNothing) {
  const auto nineFive = [](Bench& b) { b.folder.Describe("95"); };
  const FaultCase cases[] = {
      {"a folder where HKLM.reg should be",
       [](Bench& b) { PutFolder(b.At(kStore)); },
       0,
       {kNotComplete},
       Installed},
      {"a pipe where HKLM.reg should be",
       [](Bench& b) { PutPipe(b.At(kStore)); },
       0,
       {kNotComplete},
       Installed},
      {"no HKLM.reg at all",
       [](Bench& b) { fs::remove(b.At(kStore)); },
       0,
       {kNotComplete},
       Installed},
      {"HKLM.reg a link out of the machine",
       [](Bench& b) { PutLink(b.At(kStore), b.outside + "/HKLM.reg"); },
       0,
       {kNotComplete},
       Installed},
      {"HKLM.reg a link to nothing",
       [](Bench& b) { PutLink(b.At(kStore), b.outside + "/missing.reg"); },
       0,
       {kNotComplete},
       Installed},
      {"HKLM.reg unreadable to the user",
       [](Bench& b) {
         GiveToUnprivilegedUser(b.folder.work);
         fs::permissions(b.At(kStore), fs::perms::none);
       },
       0,
       {kNotComplete},
       Installed,
       true},
      {"a machine folder the user may not write",
       [](Bench& b) {
         GiveToUnprivilegedUser(b.folder.work);
         fs::permissions(b.folder.machine, fs::perms::owner_read | fs::perms::owner_exec);
       },
       0,
       {kNotComplete},
       Installed,
       true},
      {"a folder where the second decoder should go",
       [](Bench& b) { fs::create_directory(b.At(kSystem32) + "/vornjix2.dll"); },
       1,
       {kInUse},
       FirstInstalled},
      {"SYSTEM32 a link out of the machine",
       [](Bench& b) { PutLink(b.At(kSystem32), b.outside + "/SYSTEM32"); },
       1,
       {kInUse},
       Nothing},
      {"a pipe for the second decoder",
       [](Bench& b) { PutPipe(b.package + "/vornjix2.dll"); },
       1,
       {kInUse},
       FirstInstalled},
      {"a second decoder the user may not read",
       [](Bench& b) {
         GiveToUnprivilegedUser(b.folder.work);
         fs::permissions(b.package + "/vornjix2.dll", fs::perms::none);
       },
       1,
       {kInUse},
       FirstInstalled,
       true},
      {"a first decoder the user may not read",
       [](Bench& b) {
         GiveToUnprivilegedUser(b.folder.work);
         fs::permissions(b.package + "/vornjixd.dll", fs::perms::none);
       },
       0,
       {kComplete},
       [](Snapshot& m) {
         m[kSystem32 + "/vornjix2.dll"] = kSecondDecoder;
         m[kStore] = kRegisteredStore;
       },
       true},
      {"95 family, system.ini a link out of the machine",
       [&](Bench& b) {
         nineFive(b);
         PutLink(b.At(kSystemIni), b.outside + "/system.ini");
       },
       0,
       {kProfileFailed, kNotComplete},
       Installed},
      {"95 family, a pipe where system.ini should be",
       [&](Bench& b) {
         nineFive(b);
         PutPipe(b.At(kSystemIni));
       },
       0,
       {kProfileFailed, kNotComplete},
       Installed},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    c.prepare(bench);
    Snapshot expected = TakeSnapshot(bench.folder.machine);
    c.changes(expected);
    const Snapshot outside = TakeSnapshot(bench.outside);

    const RunResult run = RunNative(bench.folder.machine, bench.package, {{}, c.unprivileged});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.output, Boxes(c.boxes));
    EXPECT_EQ(TakeSnapshot(bench.folder.machine), expected);
    EXPECT_EQ(TakeSnapshot(bench.outside), outside);
  }
}

}  // namespace
