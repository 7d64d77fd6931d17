// A Windows partition as the host mounts one: an NTFS image made with mkntfs and mounted with
// ntfs-3g. A replaced hive keeps its Windows security; a drive mounted read-only is refused.
// Skipped where the machine allows no FUSE mount.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/offline/installation.h"
#include "tests/emulation/machine_folder.h"
#include "tests/offline/hive_files.h"

namespace {

const std::string kDrivers32 = "Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
const std::string kConfig = "/Windows/System32/config";

// Owned by Administrators, full access for SYSTEM alone: not what ntfs-3g gives a new file.
const std::string kAcl(
    "\x01\x00\x04\x80\x14\x00\x00\x00\x24\x00\x00\x00\x00\x00\x00\x00\x34\x00\x00\x00"
    "\x01\x02\x00\x00\x00\x00\x00\x05\x20\x00\x00\x00\x20\x02\x00\x00"
    "\x01\x02\x00\x00\x00\x00\x00\x05\x20\x00\x00\x00\x20\x02\x00\x00"
    "\x02\x00\x1c\x00\x01\x00\x00\x00\x00\x03\x14\x00\xff\x01\x1f\x00"
    "\x01\x01\x00\x00\x00\x00\x00\x05\x12\x00\x00\x00",
    80);
const std::string kHiddenSystemArchive("\x26\x00\x00\x00", 4);

std::string Attribute(const std::string& path, const char* name) {
  char value[256];
  const ssize_t size = getxattr(path.c_str(), name, value, sizeof value);
  return std::string(value, size > 0 ? static_cast<std::size_t>(size) : 0);
}

class NtfsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0) {
      GTEST_SKIP() << "ntfs-3g needs root and /dev/fuse";
    }
    std::filesystem::create_directory(mount);
    std::filesystem::resize_file((WriteFile(image, ""), image), 16 << 20);
    if (Run("mkntfs -F -Q -q '" + image + "'") != 0 || !Mount("")) {
      GTEST_SKIP() << "no NTFS image could be made and mounted with ntfs-3g here";
    }
  }
  void TearDown() override { Unmount(); }

  int Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
  }
  bool Mount(const std::string& options) {
    mounted = Run("ntfs-3g " + options + " '" + image + "' '" + mount + "'") == 0;
    return mounted;
  }
  void Unmount() {
    if (mounted) Run("umount '" + mount + "'");
    mounted = false;
  }

  MachineFolder folder;
  std::string image = folder.work + "/ntfs.img";
  std::string mount = folder.work + "/mnt";
  std::string hive = mount + kConfig + "/SOFTWARE";
  bool mounted = false;
  std::string why;
};

TEST_F(NtfsTest, AReplacedHiveKeepsItsWindowsSecurity) {
  std::filesystem::create_directories(mount + kConfig);
  WriteHive(hive, {kDrivers32}, {});
  ASSERT_EQ(setxattr(hive.c_str(), "system.ntfs_acl", kAcl.data(), kAcl.size(), 0), 0);
  ASSERT_EQ(setxattr(hive.c_str(), "system.ntfs_attrib", kHiddenSystemArchive.data(), 4, 0), 0);
  struct stat before;
  ASSERT_EQ(stat(hive.c_str(), &before), 0);

  const emulation::UniqueFd drive(open(mount.c_str(), O_RDONLY | O_DIRECTORY));
  std::optional<offline::Installation> windows = offline::RecogniseInstallation(drive.get(), &why);
  ASSERT_TRUE(windows) << why;
  EXPECT_EQ(offline::SetValues(*windows->software, "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + kDrivers32,
                               windows->view(), {{"vidc.jix1", {REG_SZ, "vornjixd.dll"}}}, &why),
            ERROR_SUCCESS)
      << why;

  struct stat after;
  ASSERT_EQ(stat(hive.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);  // replaced, not written in place
  EXPECT_EQ(Attribute(hive, "system.ntfs_acl"), kAcl);
  EXPECT_EQ(Attribute(hive, "system.ntfs_attrib"), kHiddenSystemArchive);
  EXPECT_EQ(ListFolder(mount + kConfig), "SOFTWARE ");
  EXPECT_EQ(ListedValues(hive, kDrivers32), "vidc.jix1=REG_SZ,26,vornjixd.dll\n");
}

TEST_F(NtfsTest, ADriveMountedReadOnlyIsRefused) {
  std::filesystem::create_directories(mount + kConfig);
  WriteHive(hive, {kDrivers32}, {});
  Unmount();
  ASSERT_TRUE(Mount("-o ro"));
  const emulation::UniqueFd drive(open(mount.c_str(), O_RDONLY | O_DIRECTORY));
  EXPECT_FALSE(offline::RecogniseInstallation(drive.get(), &why));
  EXPECT_NE(why.find("mounted read-only"), std::string::npos) << why;

  offline::HiveFile software{
      emulation::UniqueFd(open((mount + kConfig).c_str(), O_RDONLY | O_DIRECTORY)), "SOFTWARE",
      hive};
  EXPECT_EQ(offline::SetValues(software, "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + kDrivers32,
                               offline::View::kNative, {{"vidc.jix1", {REG_SZ, "x"}}}, &why),
            ERROR_ACCESS_DENIED);
  EXPECT_NE(why.find("mounted read-only"), std::string::npos) << why;
}

}  // namespace
