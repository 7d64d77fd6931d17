#include "tests/emulation/machine_folder.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/emulation/emulated_machine.h"
#include "platform/emulation/machine.h"

namespace fs = std::filesystem;

MachineFolder::MachineFolder() {
  std::string pattern = (fs::temp_directory_path() / "vorn-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "no temporary folder";
  // Open to everyone: some tests run the setup as an unprivileged user.
  fs::permissions(pattern, fs::perms::all);
  work = pattern;
  machine = work + "/machine";
  drive = machine + "/drive_c";
}

MachineFolder::~MachineFolder() {
  std::error_code ignored;
  // Tests make files read-only; give the write bits back so everything can go.
  fs::permissions(work, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto it = fs::recursive_directory_iterator(work, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink())
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(work, ignored);
}

void MachineFolder::OpenFresh() {
  std::string error;
  ASSERT_TRUE(emulation::OpenMachine(machine, &error)) << error;
}

void MachineFolder::Describe(const std::string& platform, const std::string& windows,
                             const std::string& system) {
  WriteFile(machine + "/machine.conf",
            "platform = " + platform + "\nwindows = " + windows + "\nsystem = " + system + "\n");
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  if (!file) ADD_FAILURE() << "cannot write " << path;
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

std::string ListFolder(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  std::string list;
  for (const std::string& name : names) list += name + " ";
  return list;
}

void EmulatedMachineTest::SetUp() {
  folder.OpenFresh();
  system32 = folder.drive + "/WINDOWS/SYSTEM32";
  package = folder.work + "/package";
  WriteFile(package + "/vornjixd.dll", "new decoder");
  ASSERT_EQ(chdir(package.c_str()), 0);
  SetLastError(kSentinel);
}

void EmulatedMachineTest::TearDown() {
  ASSERT_EQ(chdir("/"), 0);
}
