// The native setup on machines with something wrong in them: other things where its files
// should be, links out of the machine, files the user may not read or write, a disk that fills
// up. Each run must end as the outcome tables say, in time, and lose nothing: the machine holds
// what it held plus what the run could do, and nothing outside the machine changes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "registration/messages.h"
#include "tests/emulation/setup_cases.h"

namespace {

namespace fs = std::filesystem;

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

std::string Boxes(const std::vector<std::string>& texts) {
  std::string boxes;
  for (const std::string& text : texts) boxes += Box(text);
  return boxes;
}

// Takes the user's write permission on a file away, and leaves it a write bit, so that it is not
// read-only: a file of another user's that the user may read.
void DenyWriting(Bench& b, const std::string& path) {
  GiveToUnprivilegedUser(b.folder.work);
  fs::permissions(b.At(path), fs::perms::owner_read | fs::perms::group_read |
                                  fs::perms::group_write | fs::perms::others_read);
}

// The process id of a process that has ended.
pid_t Gone() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

TEST(MachineFaults, EachEndsAsTheTablesSayAndLosesNothing) {
  const auto nineFive = [](Bench& b) { b.folder.Describe("95"); };
  const auto leftBehind = [](const std::string& folder) {
    return folder + "/.vorn-" + std::to_string(Gone()) + "-0-vornjix2.dll";
  };
  CheckRuns({
      {"a folder where HKLM.reg should be",
       [](Bench& b) { PutFolder(b.At(kStore)); },
       0,
       {kNotCompleteText},
       Installed,
       {},
       {"HKLM.reg': not a plain file"}},
      {"a pipe where HKLM.reg should be",
       [](Bench& b) { PutPipe(b.At(kStore)); },
       0,
       {kNotCompleteText},
       Installed,
       {},
       {"HKLM.reg': not a plain file"}},
      {"no HKLM.reg at all",
       [](Bench& b) { fs::remove(b.At(kStore)); },
       0,
       {kNotCompleteText},
       Installed,
       {},
       {"HKLM.reg': No such file or directory; the registry is empty"}},
      {"HKLM.reg a link out of the machine",
       [](Bench& b) { PutLink(b.At(kStore), b.outside + "/HKLM.reg"); },
       0,
       {kNotCompleteText},
       Installed,
       {},
       {"HKLM.reg': not a plain file"}},
      {"HKLM.reg a link to nothing",
       [](Bench& b) { PutLink(b.At(kStore), b.outside + "/missing.reg"); },
       0,
       {kNotCompleteText},
       Installed,
       {},
       {"HKLM.reg': not a plain file"}},
      {"HKLM.reg unreadable to the user",
       [](Bench& b) {
         GiveToUnprivilegedUser(b.folder.work);
         fs::permissions(b.At(kStore), fs::perms::none);
       },
       0,
       {kNotCompleteText},
       Installed,
       {{}, true},
       {"HKLM.reg': Permission denied"}},
      {"a machine folder the user may not write",
       [](Bench& b) {
         GiveToUnprivilegedUser(b.folder.work);
         fs::permissions(b.folder.machine, fs::perms::owner_read | fs::perms::owner_exec);
       },
       0,
       {kNotCompleteText},
       Installed,
       {{}, true},
       {"HKLM.reg': may not be changed: access denied (Windows error 5)"}},
      // One rule for the decoders, the store and system.ini: write permission on the file.
      {"a second decoder the user may not write",
       [](Bench& b) {
         WriteFile(b.At(kSystem32) + "/vornjix2.dll", "old");
         DenyWriting(b, kSystem32 + "/vornjix2.dll");
       },
       1,
       {kInUseText},
       FirstInstalled,
       {{}, true},
       {"cannot copy 'vornjix2.dll' to '", ": access denied (Windows error 5)"}},
      {"a store the user may not write",
       [](Bench& b) { DenyWriting(b, kStore); },
       0,
       {kNotCompleteText},
       Installed,
       {{}, true},
       {"HKLM.reg': may not be changed: access denied (Windows error 5)"}},
      {"95 family, a system.ini the user may not write",
       [&](Bench& b) {
         nineFive(b);
         DenyWriting(b, kSystemIni);
       },
       0,
       {kProfileFailedText, kNotCompleteText},
       Installed,
       {{}, true},
       {"/system.ini': access denied (Windows error 5)"}},
      {"a machine of the user's in a folder the user may not write",
       [](Bench& b) {
         GiveToUnprivilegedUser(b.folder.machine);
         fs::permissions(b.folder.work, fs::perms::owner_read | fs::perms::owner_exec |
                                            fs::perms::others_read | fs::perms::others_exec);
       },
       0,
       {kCompleteText},
       InstalledAndRegistered,
       {{}, true}},
      {"files that killed runs left behind",
       [&](Bench& b) {
         WriteFile(leftBehind(b.At(kSystem32)), "half a decoder");
         WriteFile(leftBehind(b.folder.machine), "half a store");
       },
       0,
       {kCompleteText},
       [](Snapshot& m) {
         InstalledAndRegistered(m);
         for (auto entry = m.begin(); entry != m.end();) {
           entry = entry->first.find(".vorn-") != std::string::npos ? m.erase(entry) : ++entry;
         }
       }},
      {"a user's file named like a temporary",
       [&](Bench& b) {
         WriteFile(b.At(kSystem32) + "/.vorn-" + std::to_string(Gone()) + "-notes.txt", "mine");
       },
       0,
       {kCompleteText},
       InstalledAndRegistered},
      {"a folder where the second decoder should go",
       [](Bench& b) { fs::create_directory(b.At(kSystem32) + "/vornjix2.dll"); },
       1,
       {kInUseText},
       FirstInstalled,
       {},
       {"cannot copy 'vornjix2.dll' to '", ": access denied (Windows error 5)"}},
      {"SYSTEM32 a link out of the machine",
       [](Bench& b) { PutLink(b.At(kSystem32), b.outside + "/SYSTEM32"); },
       1,
       {kInUseText},
       Nothing,
       {},
       {"cannot copy 'vornjix2.dll' to 'C:\\WINDOWS\\SYSTEM32\\vornjix2.dll': its folder is not "
        "found (Windows error 3)"}},
      {"a pipe for the second decoder",
       [](Bench& b) { PutPipe(b.package + "/vornjix2.dll"); },
       1,
       {kInUseText},
       FirstInstalled,
       {},
       {"cannot copy 'vornjix2.dll': access denied (Windows error 5)"}},
      {"a second decoder the user may not read",
       [](Bench& b) {
         GiveToUnprivilegedUser(b.folder.work);
         fs::permissions(b.package + "/vornjix2.dll", fs::perms::none);
       },
       1,
       {kInUseText},
       FirstInstalled,
       {{}, true},
       {"cannot copy 'vornjix2.dll': access denied (Windows error 5)"}},
      {"a first decoder the user may not read",
       [](Bench& b) {
         GiveToUnprivilegedUser(b.folder.work);
         fs::permissions(b.package + "/vornjixd.dll", fs::perms::none);
       },
       0,
       {kCompleteText},
       [](Snapshot& m) {
         m[kSystem32 + "/vornjix2.dll"] = kSecondDecoder;
         m[kStore] = kRegisteredStore;
       },
       {{}, true},
       {"cannot copy 'vornjixd.dll': access denied (Windows error 5)"}},
      {"95 family, system.ini a link out of the machine",
       [&](Bench& b) {
         nineFive(b);
         PutLink(b.At(kSystemIni), b.outside + "/system.ini");
       },
       0,
       {kProfileFailedText, kNotCompleteText},
       Installed,
       {},
       {"/system.ini': access denied (Windows error 5)"}},
      {"95 family, a pipe where system.ini should be",
       [&](Bench& b) {
         nineFive(b);
         PutPipe(b.At(kSystemIni));
       },
       0,
       {kProfileFailedText, kNotCompleteText},
       Installed,
       {},
       {"/system.ini': access denied (Windows error 5)"}},
  });
}

// The remover on a machine the setup ran on, with something wrong in it: a user who may not
// change the registration removes nothing, and nothing outside the machine is deleted.
TEST(MachineFaults, TheRemoverEndsAsTheTablesSayAndLosesNothing) {
  const RunOptions remover = Remover();
  RunOptions unprivileged = remover;
  unprivileged.unprivileged = true;
  const auto installedThen = [](const std::function<void(Bench&)>& spoil) {
    return [=](Bench& b) {
      RunSetupOn(b);
      spoil(b);
    };
  };
  // The registration and the first decoder gone, what stands at the second decoder's place kept.
  const auto unregistered = [](Snapshot& m) {
    m.erase(kSystem32 + "/vornjixd.dll");
    m[kStore] = kFreshStore;
  };
  CheckRuns({
      {"a store the user may not write",
       installedThen([](Bench& b) { DenyWriting(b, kStore); }),
       0,
       {kNotRemovedText},
       Nothing,
       unprivileged,
       {"vornremove: '", "HKLM.reg': may not be changed: access denied (Windows error 5)"}},
      {"95 family, a system.ini the user may not write",
       [](Bench& b) {
         b.folder.Describe("95");
         RunSetupOn(b);
         DenyWriting(b, kSystemIni);
       },
       0,
       {kNotRemovedText},
       Nothing,
       unprivileged,
       {"/system.ini': access denied (Windows error 5)"}},
      {"a folder where the second decoder is",
       installedThen([](Bench& b) { PutFolder(b.At(kSystem32) + "/vornjix2.dll"); }),
       1,
       {kRemovalInUseText},
       unregistered,
       remover,
       {"vornremove: cannot delete '", ": access denied (Windows error 5)"}},
      {"the second decoder a link out of the machine",
       installedThen([](Bench& b) {
         WriteFile(b.outside + "/SYSTEM32/vornjix2.dll", kSecondDecoder);
         PutLink(b.At(kSystem32) + "/vornjix2.dll", b.outside + "/SYSTEM32/vornjix2.dll");
       }),
       1,
       {kRemovalInUseText},
       unregistered,
       remover,
       {"vornremove: cannot delete '",
        ", a link, which is never followed: access denied (Windows error 5)"}},
      {"SYSTEM32 a link out of the machine",
       [](Bench& b) {
         WriteFile(b.outside + "/SYSTEM32/vornjixd.dll", kFirstDecoder);
         PutLink(b.At(kSystem32), b.outside + "/SYSTEM32");
       },
       0,
       {kRemovedText},
       Nothing,
       remover,
       {"vornremove: cannot delete 'C:\\WINDOWS\\SYSTEM32\\vornjixd.dll': its folder is not found "
        "(Windows error 3)"}},
      {"a decoder the user may not delete",
       installedThen([](Bench& b) { DenyWriting(b, kSystem32 + "/vornjix2.dll"); }),
       1,
       {kRemovalInUseText},
       unregistered,
       unprivileged,
       {"vornjix2.dll", ": access denied (Windows error 5)"}},
  });
}

// A folder a killed run left half-made as a fresh machine (it holds the marker), with something
// in it that keeps the machine from being finished: it is refused, and left as it was.
TEST(MachineFaults, AHalfMadeMachineThatCannotBeFinishedIsLeftAsItWas) {
  const struct {
    const char* name;
    std::function<void(const std::string& machine, const std::string& outside)> prepare;
    const char* says;
  } kCases[] = {
      {"drive_c a link out of the machine",
       [](const std::string& m, const std::string& outside) {
         fs::create_directory_symlink(outside, m + "/drive_c");
       },
       "/drive_c' is no folder of its own"},
      {"WINDOWS a link out of the machine",
       [](const std::string& m, const std::string& outside) {
         fs::create_directories(m + "/drive_c");
         fs::create_directory_symlink(outside, m + "/drive_c/WINDOWS");
       },
       "/WINDOWS' is no folder of its own"},
      {"a user's files, and a folder where system.ini goes",
       [](const std::string& m, const std::string&) {
         WriteFile(m + "/drive_c/notes.txt", "mine");
         WriteFile(m + "/HKLM.reg", "REGEDIT4\r\n");
         fs::create_directories(m + "/drive_c/WINDOWS/system.ini");
       },
       "/system.ini' is no plain file"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MachineFolder folder;
    const std::string outside = folder.work + "/outside";
    WriteFile(folder.machine + "/.vorn-fresh-machine.conf", "platform = nt\n");
    fs::create_directory(outside);
    c.prepare(folder.machine, outside);
    const Snapshot before = TakeSnapshot(folder.work);
    const RunResult run = RunNative(folder.machine, folder.work);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    EXPECT_EQ(TakeSnapshot(folder.work), before);
  }
}

TEST(MachineFaults, AFreshMachineMadeByRootIsTheFoldersOwners) {
  if (getuid() != 0) GTEST_SKIP() << "only root can make files for another user";
  MachineFolder folder;
  fs::create_directory(folder.machine);
  GiveToUnprivilegedUser(folder.machine);
  WriteFile(folder.work + "/vornjixd.dll", kFirstDecoder);
  WriteFile(folder.work + "/vornjix2.dll", kSecondDecoder);
  ASSERT_EQ(RunNative(folder.machine, folder.work).status, 0);
  for (const auto& entry : fs::recursive_directory_iterator(folder.machine)) {
    struct stat status;
    ASSERT_EQ(lstat(entry.path().c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, kUnprivilegedUser) << entry.path();
  }
}

// A disk of its own: a small tmpfs, mounted in a mount namespace of this test process alone,
// so that it goes when the process ends, however it ends.
class SmallDisk {
 public:
  // Whether this process may mount one: root with the right to mount, which a container may
  // not give. *why says why not.
  static bool CanMount(std::string* why) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      *why = std::strerror(errno);
      return false;
    }
    return true;
  }

  SmallDisk(const std::string& at, const std::string& options) : at_(at) {
    fs::create_directory(at);
    mounted_ = mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    EXPECT_TRUE(mounted_) << options << ": " << std::strerror(errno);
  }
  ~SmallDisk() {
    if (mounted_) umount2(at_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

 private:
  std::string at_;
  bool mounted_;
};

// Fills what is left of the disk with one file.
void FillUp(const std::string& path) {
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  ASSERT_GE(file, 0);
  const std::string block(4096, 'f');
  while (write(file, block.data(), block.size()) > 0) {
  }
  close(file);
}

// The paths whose content differs, for files too big to show.
std::string Differences(const Snapshot& found, const Snapshot& expected) {
  std::string paths;
  for (const auto& [path, content] : found) {
    if (expected.count(path) == 0 || expected.at(path) != content) paths += path + " ";
  }
  for (const auto& [path, content] : expected) {
    if (found.count(path) == 0) paths += "missing " + path + " ";
  }
  return paths;
}

struct DiskCase {
  const char* name;
  const char* disk;  // tmpfs options: its size and how many files it holds
  const char* platform;
  std::size_t decoderSize;
  std::size_t fillerSize;  // a comment this long where the family registers
  bool oldDecoders;        // older copies in the system folder
  int status;
  std::vector<std::string> boxes;
  std::function<void(Snapshot&)> changes;
};

TEST(MachineFaults, ADiskThatFillsUpLosesNothing) {
  std::string why;
  if (!SmallDisk::CanMount(&why)) GTEST_SKIP() << "no small disk can be mounted here: " << why;
  constexpr std::size_t kKiB = 1024;
  const std::string bigFirst(32 * kKiB, 'd');
  // 64 KiB is 16 pages: the machine's own files take 3, each 32 KiB decoder 8.
  const DiskCase cases[] = {
      {"the second decoder does not fit",
       "size=64k",
       "nt",
       32 * kKiB,
       0,
       false,
       1,
       {kInUseText},
       [&](Snapshot& m) { m[kSystem32 + "/vornjixd.dll"] = bigFirst; }},
      {"the second decoder does not fit beside an older one",
       "size=64k",
       "nt",
       32 * kKiB,
       0,
       true,
       1,
       {kInUseText},
       [&](Snapshot& m) { m[kSystem32 + "/vornjixd.dll"] = bigFirst; }},
      {"the store does not fit twice",
       "size=64k",
       "nt",
       1 * kKiB,
       24 * kKiB,
       false,
       0,
       {kNotCompleteText},
       [](Snapshot& m) {
         m[kSystem32 + "/vornjixd.dll"] = std::string(kKiB, 'd');
         m[kSystem32 + "/vornjix2.dll"] = std::string(kKiB, '2');
       }},
      {"system.ini does not fit twice",
       "size=64k",
       "95",
       1 * kKiB,
       24 * kKiB,
       false,
       0,
       {kProfileFailedText, kNotCompleteText},
       [](Snapshot& m) {
         m[kSystem32 + "/vornjixd.dll"] = std::string(kKiB, 'd');
         m[kSystem32 + "/vornjix2.dll"] = std::string(kKiB, '2');
       }},
      // The disk's folder and the machine's four folders and three files take 8 entries.
      {"no file entry left for the second decoder",
       "size=1m,nr_inodes=9",
       "nt",
       1 * kKiB,
       0,
       false,
       1,
       {kInUseText},
       [](Snapshot& m) { m[kSystem32 + "/vornjixd.dll"] = std::string(kKiB, 'd'); }},
      {"no file entry left for a new store",
       "size=1m,nr_inodes=10",
       "nt",
       1 * kKiB,
       0,
       false,
       0,
       {kNotCompleteText},
       [](Snapshot& m) {
         m[kSystem32 + "/vornjixd.dll"] = std::string(kKiB, 'd');
         m[kSystem32 + "/vornjix2.dll"] = std::string(kKiB, '2');
       }},
  };
  for (const DiskCase& c : cases) {
    SCOPED_TRACE(c.name);
    MachineFolder folder;
    const std::string disk = folder.work + "/disk", machine = disk + "/machine";
    const std::string package = folder.work + "/package";
    SmallDisk mounted(disk, c.disk);
    WriteFile(package + "/vornjixd.dll", std::string(c.decoderSize, 'd'));
    WriteFile(package + "/vornjix2.dll", std::string(c.decoderSize, '2'));
    const bool nt = std::string(c.platform) == "nt";
    const std::string filler =
        c.fillerSize > 0 ? ";" + std::string(c.fillerSize, 'x') + "\r\n" : "";
    WriteFile(machine + "/machine.conf", std::string("platform = ") + c.platform + "\n");
    WriteFile(machine + "/" + kStore, kFreshStore + (nt ? filler : ""));
    WriteFile(machine + "/" + kSystemIni, kFreshSystemIni + (nt ? "" : filler));
    fs::create_directory(machine + "/" + kSystem32);
    if (c.oldDecoders) {
      WriteFile(machine + "/" + kSystem32 + "/vornjixd.dll", "old");
      WriteFile(machine + "/" + kSystem32 + "/vornjix2.dll", "old");
    }
    Snapshot expected = TakeSnapshot(machine);
    c.changes(expected);

    const RunResult run = RunNative(machine, package);
    EXPECT_EQ(run.status, c.status);
    // Each says, before its boxes, which file did not fit.
    EXPECT_EQ(run.output.substr(std::min(run.output.find("+-"), run.output.size())),
              Boxes(c.boxes));
    EXPECT_EQ(run.output.rfind("vornsetup: ", 0), 0u) << run.output;
    EXPECT_NE(run.output.find("the disk is full (Windows error 112)"), std::string::npos);
    EXPECT_EQ(Differences(TakeSnapshot(machine), expected), "");
  }

  SCOPED_TRACE("a fresh machine on a full disk");
  MachineFolder folder;
  const std::string disk = folder.work + "/disk";
  SmallDisk mounted(disk, "size=64k");
  FillUp(disk + "/filler");
  // The folders above the machine that the run made go too.
  const RunResult run = RunNative(disk + "/above/machine", folder.work);
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.output.find("cannot create a fresh machine"), std::string::npos) << run.output;
  EXPECT_EQ(ListFolder(disk), "filler ");
}

}  // namespace
