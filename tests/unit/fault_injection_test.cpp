// The whole setup and the whole remover against a scripted machine whose calls fail in every
// combination, each run checked against a model of the outcome written here from the outcome
// tables, not from the programs' code.
//
// What is covered: every machine of the table below (platform id 0, 1, 2 or 3; the version
// query answering or failing; a system directory that is usual, the longest that fits, missing,
// too long for the file names or too long for the buffer), and on each every subset of the
// calls a run makes, of all nine operations, made to fail. A run depends only on the answers to
// the calls it makes, so the subsets are walked as a tree with a branch (answers, fails) at
// each call made, and every distinct run is made once: the 2^19 subsets of an NT run's 19 calls
// come down to about 1,600 runs, as most differ only in calls that are never made once an
// earlier one has failed. A failing call answers as Windows does when it fails (see
// ScriptedMachine::Fail). Each run is held to the status, the boxes shown, and every call made
// with its arguments: so no call on a key that did not open, registry or profile calls only for
// the family that has them, no version query once the second copy failed.
//
// The remover runs the same way on the machines of its own table: each family with the package
// installed (on each system directory), with a mix of other products' values, our names in other
// case and data that is not ours, and with nothing left to remove; and the platforms of neither
// family. Above all its model holds it to deleting no file unless every registration step
// succeeded, and to removing no value that is not ours. GetLastError never fails.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "registration/messages.h"
#include "setup/removal.h"
#include "setup/setup.h"
#include "tests/unit/scripted_machine.h"

namespace {

using Lines = std::vector<std::string>;
using FailingCalls = std::set<std::pair<Op, int>>;  // an operation and which of its calls

// The outcome tables, written out by hand.

struct Ending {
  const char* box;
  int status;
};
constexpr Ending kCompleteEnding = {kCompleteText, 0};
constexpr Ending kNotCompleteEnding = {kNotCompleteText, 0};
constexpr Ending kInUseEnding = {kInUseText, 1};
constexpr Ending kWrongVersionEnding = {kWrongVersionText, 2};
constexpr Ending kRemovedEnding = {kRemovedText, 0};
constexpr Ending kNotRemovedEnding = {kNotRemovedText, 0};
constexpr Ending kRemovalInUseEnding = {kRemovalInUseText, 1};

const char* const kDecoders[] = {"vornjixd.dll", "vornjix2.dll"};
constexpr unsigned kPathBuffer = 128;

struct RegistryKey {
  const char* path;
  std::vector<std::pair<const char*, const char*>> values;
};
const RegistryKey kRegistryKeys[] = {
    {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc",
     {{"vornjixd.dll", "VORN JIX1 Decoder"}, {"vornjix2.dll", "VORN JIX2 Decoder"}}},
    {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32",
     {{"vidc.jix1", "vornjixd.dll"}, {"vidc.jix2", "vornjix2.dll"}, {"vidc.uyvy", "vornjixd.dll"}}},
};
const std::pair<const char*, const char*> kProfileEntries[] = {
    {"vidc.jix1", "vornjixd.dll"}, {"vidc.jix2", "vornjix2.dll"}, {"vidc.uyvy", "vornjixd.dll"}};

// A system directory the machine reports, and whether "<it>\vornjix?.dll" fits the setup's
// 128-byte buffer with its terminating zero.
struct SystemDirectory {
  const char* name;
  std::optional<std::string> path;  // nothing: GetSystemDirectoryA answers 0
  bool fits;
};
const SystemDirectory kSystemDirectories[] = {
    {"usual", "C:\\WINDOWS\\SYSTEM32", true},
    {"114 characters", "C:\\" + std::string(111, 'S'), true},
    {"missing", std::nullopt, false},
    {"115 characters", "C:\\" + std::string(112, 'S'), false},
    {"200 characters", "C:\\" + std::string(197, 'S'), false},
};

// What the remover finds: Drivers32's three handler values, drivers.desc (when there) with both
// descriptions, system.ini's three keys, and both decoders in the system directory or neither.
struct Holdings {
  const char* name;
  std::map<std::string, RegistryValue> handlers;
  bool descriptionsKey;
  std::map<std::string, std::string> profile;
  bool files;
};
RegistryValue Sz(const std::string& text) {
  return {REG_SZ, text + '\0'};
}
const Holdings kInstalled = {
    "the package installed",
    {{"vidc.jix1", Sz("vornjixd.dll")},
     {"vidc.jix2", Sz("vornjix2.dll")},
     {"vidc.uyvy", Sz("vornjixd.dll")}},
    true,
    {{"vidc.jix1", "vornjixd.dll"}, {"vidc.jix2", "vornjix2.dll"}, {"vidc.uyvy", "vornjixd.dll"}},
    true};
const Holdings kMixed = {
    "others' values, other case, not ours",
    {{"vidc.jix1", Sz("VornJixD.DLL")},
     {"vidc.jix2", Sz("other.dll")},
     {"vidc.uyvy", {REG_EXPAND_SZ, Sz("vornjixd.dll").data}}},
    false,
    {{"vidc.jix1", "other.dll"}, {"vidc.jix2", "VORNJIX2.DLL"}, {"vidc.uyvy", "vornjixd.dll.old"}},
    false};
const Holdings kNothing = {"nothing to remove", {}, true, {}, false};

struct MachineKind {
  DWORD platformId;
  bool versionQueryFails;
  const SystemDirectory* systemDirectory;
  const Holdings* holdings;  // the remover's; none for the setup
};

std::string Describe(const MachineKind& kind) {
  return "platform " + std::to_string(kind.platformId) +
         (kind.versionQueryFails ? ", version query fails" : "") + ", system directory " +
         kind.systemDirectory->name +
         (kind.holdings ? std::string(", ") + kind.holdings->name : "");
}

std::string Describe(const FailingCalls& failing) {
  std::string text = "failing:";
  for (const auto& [op, occurrence] : failing) {
    text += std::string(" ") + OpName(op) + " #" + std::to_string(occurrence);
  }
  return failing.empty() ? "nothing failing" : text;
}

struct Outcome {
  int status;
  Lines boxes;  // shown
  Lines calls;  // as the scripted machine's trace spells them
};

// Records the calls a run must make on a machine of this kind when these calls fail.
class Expectation {
 public:
  Expectation(const MachineKind& kind, const FailingCalls& failing)
      : kind_(kind), failing_(failing) {}

  // Expects the call; false when it is one made to fail.
  bool Call(Op op, const std::string& line) {
    outcome_.calls.push_back(line);
    return failing_.count({op, ++made_[op]}) == 0;
  }

  // "<system directory>\<file>" once it is put together; nothing when it is not.
  std::optional<std::string> SystemPath(const std::string& file) {
    if (!Call(Op::GetSystemDirectoryA,
              "GetSystemDirectoryA(buffer, " + std::to_string(kPathBuffer) + ")") ||
        !kind_.systemDirectory->fits) {
      return std::nullopt;
    }
    const std::string directory = *kind_.systemDirectory->path;
    if (!Call(Op::lstrcatA, "lstrcatA(" + Quote(directory) + ", \"\\\\\")")) return std::nullopt;
    if (!Call(Op::lstrcatA, "lstrcatA(" + Quote(directory + "\\") + ", " + Quote(file) + ")")) {
      return std::nullopt;
    }
    return directory + "\\" + file;
  }

  // The version query, answered with a family's platform id.
  bool PlatformIs(DWORD platformId) const {
    return versionKnown_ && kind_.platformId == platformId;
  }
  void QueryVersion() {
    versionKnown_ = Call(Op::GetVersionExA, "GetVersionExA(dwOSVersionInfoSize 148)") &&
                    !kind_.versionQueryFails;
  }

  void Box(const std::string& text) {
    const std::string line =
        "MessageBoxA(NULL, " + Quote(text) + ", " + Quote(kSetupTitle) + ", 0x1000)";
    if (Call(Op::MessageBoxA, line)) outcome_.boxes.push_back(text);
  }

  Outcome End(const Ending& ending) {
    Box(ending.box);
    outcome_.status = ending.status;
    return outcome_;
  }

  const MachineKind& kind_;

 private:
  const FailingCalls& failing_;
  std::map<Op, int> made_;
  Outcome outcome_;
  bool versionKnown_ = false;
};

// What a setup must do.
class SetupModel : Expectation {
 public:
  using Expectation::Expectation;

  Outcome Run() {
    CopyDecoder(kDecoders[0]);  // whether it was copied does not matter
    if (!CopyDecoder(kDecoders[1])) return End(kInUseEnding);
    QueryVersion();
    if (PlatformIs(VER_PLATFORM_WIN32_NT)) {
      return End(RegisterInRegistry() ? kCompleteEnding : kNotCompleteEnding);
    }
    if (PlatformIs(VER_PLATFORM_WIN32_WINDOWS)) {
      return End(RegisterInProfile() ? kCompleteEnding : kNotCompleteEnding);
    }
    return End(kWrongVersionEnding);
  }

 private:
  bool CopyDecoder(const std::string& file) {
    const std::optional<std::string> destination = SystemPath(file);
    return destination &&
           Call(Op::CopyFileA, "CopyFileA(" + Quote(file) + ", " + Quote(*destination) + ", 0)");
  }

  // Both keys are tried; a key that did not open gets no further call.
  bool RegisterInRegistry() {
    bool allDone = true;
    int opened = 0;
    for (const RegistryKey& key : kRegistryKeys) {
      if (!Call(Op::RegOpenKeyExA,
                "RegOpenKeyExA(HKEY_LOCAL_MACHINE, " + Quote(key.path) + ", 0, 0x20006)")) {
        allDone = false;
        continue;
      }
      const std::string handle = "hkey" + std::to_string(++opened);
      for (const auto& [name, data] : key.values) {
        const std::string bytes = std::string(data) + '\0';
        if (!Call(Op::RegSetValueExA, "RegSetValueExA(" + handle + ", " + Quote(name) + ", 0, 1, " +
                                          Quote(bytes) + ", " + std::to_string(bytes.size()) +
                                          ")")) {
          allDone = false;
        }
      }
      if (!Call(Op::RegCloseKey, "RegCloseKey(" + handle + ")")) allDone = false;
    }
    return allDone;
  }

  // All three entries are tried; only when none is written does it fail, with a box of its own.
  bool RegisterInProfile() {
    int written = 0;
    for (const auto& [key, value] : kProfileEntries) {
      written += Call(Op::WritePrivateProfileStringA, "WritePrivateProfileStringA(\"drivers32\", " +
                                                          Quote(key) + ", " + Quote(value) +
                                                          ", \"system.ini\")");
    }
    if (written == 0) {
      Box(kProfileFailedText);
      return false;
    }
    Call(Op::WritePrivateProfileStringA,
         "WritePrivateProfileStringA(NULL, NULL, NULL, \"system.ini\")");
    return true;
  }
};

// Whether data is ours: a string spelling one of our file names in any case, within the 16
// bytes the remover reads.
bool NamesFile(const std::string& data, const std::string& file) {
  std::string text = data.substr(0, data.find('\0'));
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return data.size() <= 16 && text == file;
}

// What a removal must do.
class RemovalModel : Expectation {
 public:
  using Expectation::Expectation;

  Outcome Run() {
    QueryVersion();
    const bool nt = PlatformIs(VER_PLATFORM_WIN32_NT);
    if (!nt && !PlatformIs(VER_PLATFORM_WIN32_WINDOWS)) return End(kWrongVersionEnding);
    if (!(nt ? UnregisterInRegistry() : UnregisterInProfile())) return End(kNotRemovedEnding);
    const bool firstDeleted = DeleteDecoder(kDecoders[0]);
    const bool secondDeleted = DeleteDecoder(kDecoders[1]);
    return End(firstDeleted && secondDeleted ? kRemovedEnding : kRemovalInUseEnding);
  }

 private:
  // Both keys are tried; a missing key needs nothing more, a key that did not open gets no
  // further call. The descriptions go whatever they hold; a handler only while it is ours.
  bool UnregisterInRegistry() {
    bool allDone = true;
    int opened = 0;
    for (const RegistryKey& key : kRegistryKeys) {
      const bool handlers = &key == &kRegistryKeys[1];
      if (!Call(Op::RegOpenKeyExA,
                "RegOpenKeyExA(HKEY_LOCAL_MACHINE, " + Quote(key.path) + ", 0, 0x3)")) {
        allDone = false;
        continue;
      }
      if (!handlers && !kind_.holdings->descriptionsKey) continue;
      const std::string handle = "hkey" + std::to_string(++opened);
      for (const auto& [name, file] : key.values) {
        if (handlers) {
          if (!Call(Op::RegQueryValueExA, "RegQueryValueExA(" + handle + ", " + Quote(name) +
                                              ", NULL, type, data, 16)")) {
            allDone = false;
            continue;
          }
          const auto found = kind_.holdings->handlers.find(name);
          if (found == kind_.holdings->handlers.end() || found->second.type != REG_SZ ||
              !NamesFile(found->second.data, file)) {
            continue;
          }
        }
        if (!Call(Op::RegDeleteValueA, "RegDeleteValueA(" + handle + ", " + Quote(name) + ")")) {
          allDone = false;
        }
      }
      if (!Call(Op::RegCloseKey, "RegCloseKey(" + handle + ")")) allDone = false;
    }
    return allDone;
  }

  // Each key is read; a failed read reads as missing. The flush follows any removal.
  bool UnregisterInProfile() {
    bool allDone = true;
    bool anyRemoved = false;
    for (const auto& [key, file] : kProfileEntries) {
      const bool read = Call(Op::GetPrivateProfileStringA,
                             "GetPrivateProfileStringA(\"drivers32\", " + Quote(key) +
                                 ", \"\", buffer, 16, \"system.ini\")");
      const auto found = kind_.holdings->profile.find(key);
      if (!read || found == kind_.holdings->profile.end() ||
          !NamesFile(found->second.substr(0, 15), file)) {
        continue;
      }
      const bool removed =
          Call(Op::WritePrivateProfileStringA, "WritePrivateProfileStringA(\"drivers32\", " +
                                                   Quote(key) + ", NULL, \"system.ini\")");
      anyRemoved = anyRemoved || removed;
      allDone = allDone && removed;
    }
    if (anyRemoved) {
      Call(Op::WritePrivateProfileStringA,
           "WritePrivateProfileStringA(NULL, NULL, NULL, \"system.ini\")");
    }
    return allDone;
  }

  // Deleted, or not there; a failure asks why, and only a missing file counts as deleted.
  bool DeleteDecoder(const std::string& file) {
    const std::optional<std::string> path = SystemPath(file);
    if (!path) return false;
    const bool deleted = Call(Op::DeleteFileA, "DeleteFileA(" + Quote(*path) + ")");
    if (deleted && kind_.holdings->files) return true;
    Call(Op::GetLastError, "GetLastError()");
    return deleted;
  }
};

enum class Program { kSetup, kRemover };

int RunPlainly(Program program) {
  char name[] = "vornsetup.exe";
  char* argv[] = {name, nullptr};
  if (program == Program::kSetup) return RunSetup(1, argv);
  return RunRemoval(1, argv);
}

Outcome Expect(Program program, const MachineKind& kind, const FailingCalls& failing) {
  return program == Program::kSetup ? SetupModel(kind, failing).Run()
                                    : RemovalModel(kind, failing).Run();
}

void Prepare(ScriptedMachine& machine, const Holdings& holdings) {
  machine.registry[kScriptedHandlersKey] = holdings.handlers;
  if (holdings.descriptionsKey) {
    machine.registry[kScriptedDescriptionsKey] = {{"vornjixd.dll", Sz("VORN JIX1 Decoder")},
                                                  {"vornjix2.dll", Sz("VORN JIX2 Decoder")}};
  } else {
    machine.registry.erase(kScriptedDescriptionsKey);
  }
  machine.profile = holdings.profile;
  if (holdings.files) machine.systemFiles = {kDecoders[0], kDecoders[1]};
}

struct Tally {
  long runs = 0;
  long failedCalls = 0;
};

// Checks the run with these calls failing, then every run that also fails calls made after
// the first `undecided` calls of it. The calls before a failing call do not depend on it, so
// each subset of the calls made is visited once.
void CheckFromHere(Program program, const MachineKind& kind, const FailingCalls& failing,
                   std::size_t undecided, Tally* tally) {
  ResetMachine();
  ScriptedMachine& machine = Machine();
  machine.platformId = kind.platformId;
  machine.versionQueryFails = kind.versionQueryFails;
  machine.systemDirectory = kind.systemDirectory->path;
  machine.flushResult = TRUE;  // as Windows answers for a mapped profile; a failure differs
  if (kind.holdings != nullptr) Prepare(machine, *kind.holdings);
  for (const auto& [op, occurrence] : failing) machine.Fail(op, occurrence);
  {
    SCOPED_TRACE(Describe(failing));
    const int status = RunPlainly(program);
    const Outcome expected = Expect(program, kind, failing);
    EXPECT_EQ(status, expected.status);
    EXPECT_EQ(machine.Boxes(), expected.boxes);
    EXPECT_EQ(machine.trace, expected.calls);
  }
  ++tally->runs;
  tally->failedCalls += static_cast<long>(failing.size());
  if (::testing::Test::HasFailure()) return;  // one wrong run says enough

  const std::vector<Op> made = machine.ops;
  std::map<Op, int> occurrences;
  for (std::size_t call = 0; call < made.size(); ++call) {
    const int occurrence = ++occurrences[made[call]];
    if (call < undecided || made[call] == Op::GetLastError) continue;
    FailingCalls more = failing;
    more.insert({made[call], occurrence});
    CheckFromHere(program, kind, more, call + 1, tally);
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(FaultInjection, EveryCombinationOfFailingCallsEndsAsTheOutcomeTablesSay) {
  Tally tally;
  int machines = 0;
  for (DWORD platformId : {0u, 1u, 2u, 3u}) {
    for (bool versionQueryFails : {false, true}) {
      for (const SystemDirectory& directory : kSystemDirectories) {
        const MachineKind kind = {platformId, versionQueryFails, &directory, nullptr};
        SCOPED_TRACE(Describe(kind));
        CheckFromHere(Program::kSetup, kind, {}, 0, &tally);
        ++machines;
        if (HasFailure()) return;
      }
    }
  }
  RecordProperty("runs", static_cast<int>(tally.runs));
  std::printf("fault injection: %ld runs on %d machines, %ld failing calls injected\n", tally.runs,
              machines, tally.failedCalls);
}

TEST(FaultInjection, EveryCombinationOfFailingCallsInARemovalEndsAsItsOutcomeTableSays) {
  const SystemDirectory& usual = kSystemDirectories[0];
  std::vector<MachineKind> kinds;
  for (DWORD platformId : {1u, 2u}) {
    for (const SystemDirectory& directory : kSystemDirectories) {
      kinds.push_back({platformId, false, &directory, &kInstalled});
    }
    kinds.push_back({platformId, false, &usual, &kMixed});
    kinds.push_back({platformId, false, &usual, &kNothing});
    kinds.push_back({platformId, true, &usual, &kInstalled});
  }
  for (DWORD platformId : {0u, 3u}) kinds.push_back({platformId, false, &usual, &kInstalled});

  Tally tally;
  for (const MachineKind& kind : kinds) {
    SCOPED_TRACE(Describe(kind));
    CheckFromHere(Program::kRemover, kind, {}, 0, &tally);
    if (HasFailure()) return;
  }
  std::printf("fault injection, remover: %ld runs on %zu machines, %ld failing calls injected\n",
              tally.runs, kinds.size(), tally.failedCalls);
}

}  // namespace
