// The remover against a scripted machine, row by row of its outcome table: from what the machine
// holds before a run to the box, the status and what it holds after.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "registration/messages.h"
#include "setup/removal.h"
#include "tests/unit/scripted_machine.h"

namespace {

using Names = std::set<std::string>;  // entries as "place:name"

const std::string kDesc = kScriptedDescriptionsKey;
const std::string kHandlers = kScriptedHandlersKey;

RegistryValue Sz(const std::string& text) {
  return {REG_SZ, text + '\0'};
}

// A machine after a complete setup, another product's entries beside ours: the registry and
// system.ini both hold the package, so that each run also shows the other family's place stays.
void Installed(ScriptedMachine& m) {
  m.registry[kDesc] = {{"vornjixd.dll", Sz("VORN JIX1 Decoder")},
                       {"vornjix2.dll", Sz("VORN JIX2 Decoder")},
                       {"other.dll", Sz("Another Decoder")}};
  m.registry[kHandlers] = {{"vidc.jix1", Sz("vornjixd.dll")},
                           {"vidc.jix2", Sz("vornjix2.dll")},
                           {"vidc.uyvy", Sz("vornjixd.dll")},
                           {"vidc.othr", Sz("other.dll")}};
  m.profile = {{"vidc.jix1", "vornjixd.dll"},
               {"vidc.jix2", "vornjix2.dll"},
               {"vidc.uyvy", "vornjixd.dll"},
               {"vidc.othr", "other.dll"}};
  m.systemFiles = {"vornjixd.dll", "vornjix2.dll", "other.dll"};
}

const Names kNtValues = {"drivers.desc:vornjixd.dll", "drivers.desc:vornjix2.dll",
                         "Drivers32:vidc.jix1", "Drivers32:vidc.jix2", "Drivers32:vidc.uyvy"};
const Names kProfileKeys = {"system.ini:vidc.jix1", "system.ini:vidc.jix2", "system.ini:vidc.uyvy"};
const Names kFiles = {"file:vornjixd.dll", "file:vornjix2.dll"};

Names Join(std::initializer_list<Names> parts, const Names& except = {}) {
  Names all;
  for (const Names& part : parts) all.insert(part.begin(), part.end());
  for (const std::string& name : except) all.erase(name);
  return all;
}

// Everything the machine holds, one "place:name" entry each with what it holds; keys that are
// there appear even when empty.
std::map<std::string, std::string> Snapshot(const ScriptedMachine& m) {
  std::map<std::string, std::string> entries;
  for (const auto& [path, values] : m.registry) {
    const std::string key = path.substr(path.rfind('\\') + 1);
    entries["key:" + key] = "";
    for (const auto& [name, value] : values) {
      entries[key + ":" + name] = std::to_string(value.type) + " " + Quote(value.data);
    }
  }
  for (const auto& [key, value] : m.profile) entries["system.ini:" + key] = value;
  for (const std::string& file : m.systemFiles) entries["file:" + file] = "";
  return entries;
}

struct Row {
  const char* name;
  std::function<void(ScriptedMachine&)> script;  // after Installed, on the NT family
  int status;
  const char* box;
  Names gone;  // what the run takes away; everything else stays as it was
};

TEST(Removal, EachRowOfTheOutcomeTable) {
  const auto ninetyFive = [](ScriptedMachine& m) { m.platformId = VER_PLATFORM_WIN32_WINDOWS; };
  const Row rows[] = {
      {"NT: ours goes from the registry, the other product's stays", [](ScriptedMachine&) {}, 0,
       kRemovedText, Join({kNtValues, kFiles})},
      {"95 family: ours goes from system.ini", ninetyFive, 0, kRemovedText,
       Join({kProfileKeys, kFiles})},
      {"NT: a handler another product took over stays",
       [](ScriptedMachine& m) { m.registry[kHandlers]["vidc.uyvy"] = Sz("otheruyvy.dll"); }, 0,
       kRemovedText, Join({kNtValues, kFiles}, {"Drivers32:vidc.uyvy"})},
      {"NT: our file's name in other case is ours",
       [](ScriptedMachine& m) {
         m.registry[kHandlers]["vidc.jix1"] = Sz("VORNJIXD.DLL");
         m.registry[kHandlers]["vidc.jix2"] = Sz("VornJix2.Dll");
       },
       0, kRemovedText, Join({kNtValues, kFiles})},
      {"NT: another type or longer data is not ours; a string without its zero is",
       [](ScriptedMachine& m) {
         m.registry[kHandlers]["vidc.jix1"] = {REG_EXPAND_SZ, std::string("vornjixd.dll") + '\0'};
         m.registry[kHandlers]["vidc.jix2"] = Sz("vornjix2.dll.old");
         m.registry[kHandlers]["vidc.uyvy"] = {REG_SZ, "vornjixd.dll"};
       },
       0, kRemovedText, Join({kNtValues, kFiles}, {"Drivers32:vidc.jix1", "Drivers32:vidc.jix2"})},
      {"NT: drivers.desc missing holds nothing to remove",
       [](ScriptedMachine& m) { m.registry.erase(kDesc); }, 0, kRemovedText,
       Join({kNtValues, kFiles}, {"drivers.desc:vornjixd.dll", "drivers.desc:vornjix2.dll"})},
      {"NT: nothing of ours there, a second run",
       [](ScriptedMachine& m) {
         m.registry[kDesc] = {};
         m.registry[kHandlers] = {};
         m.systemFiles = {};
       },
       0,
       kRemovedText,
       {}},
      {"95 family: another product's key and a longer value stay, other case goes",
       [&](ScriptedMachine& m) {
         ninetyFive(m);
         m.profile["vidc.jix1"] = "other.dll";
         m.profile["vidc.jix2"] = "VORNJIX2.DLL";
         m.profile["vidc.uyvy"] = "vornjixd.dll.old-copy";
       },
       0, kRemovedText, Join({kFiles, {"system.ini:vidc.jix2"}})},
      {"a decoder in use stays, the other goes",
       [](ScriptedMachine& m) { m.Fail(Op::DeleteFileA, 1); }, 1, kRemovalInUseText,
       Join({kNtValues, {"file:vornjix2.dll"}})},
      {"NT: a handler that cannot be removed keeps both files",
       [](ScriptedMachine& m) { m.Fail(Op::RegDeleteValueA, 3); }, 0, kNotRemovedText,
       Join({kNtValues}, {"Drivers32:vidc.jix1"})},
      {"95 family: a key that cannot be removed keeps both files",
       [&](ScriptedMachine& m) {
         ninetyFive(m);
         m.Fail(Op::WritePrivateProfileStringA, 2);
       },
       0,
       kNotRemovedText,
       {"system.ini:vidc.jix1", "system.ini:vidc.uyvy"}},
      {"Win32s",
       [](ScriptedMachine& m) { m.platformId = VER_PLATFORM_WIN32s; },
       2,
       kWrongVersionText,
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ResetMachine();
    ScriptedMachine& machine = Machine();
    Installed(machine);
    row.script(machine);
    auto expected = Snapshot(machine);
    for (const std::string& name : row.gone) ASSERT_EQ(expected.erase(name), 1u) << name;

    char program[] = "vornremove.exe";
    char* argv[] = {program, nullptr};
    EXPECT_EQ(RunRemoval(1, argv), row.status);
    EXPECT_EQ(machine.Boxes(), std::vector<std::string>{row.box});
    EXPECT_EQ(Snapshot(machine), expected);
    EXPECT_TRUE(machine.openKeys.empty());
  }
}

TEST(Removal, ArgumentsChangeNothing) {
  ResetMachine();
  Installed(Machine());
  char program[] = "vornremove.exe";
  char* plain[] = {program, nullptr};
  RunRemoval(1, plain);
  const std::vector<std::string> trace = Machine().trace;
  ResetMachine();
  Installed(Machine());
  char setup[] = "/setup", all[] = "/all", file[] = "vornjixd.dll";
  char* argv[] = {program, setup, all, file, nullptr};
  EXPECT_EQ(RunRemoval(4, argv), kRemoverRan);
  EXPECT_EQ(Machine().trace, trace);
}

}  // namespace
