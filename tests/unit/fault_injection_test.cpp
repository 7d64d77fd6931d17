// The whole setup against a scripted machine whose calls fail in every combination, each run
// checked against a model of the outcome written here from the outcome tables, not from the
// setup's code.
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
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "registration/messages.h"
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

struct MachineKind {
  DWORD platformId;
  bool versionQueryFails;
  const SystemDirectory* systemDirectory;
};

std::string Describe(const MachineKind& kind) {
  return "platform " + std::to_string(kind.platformId) +
         (kind.versionQueryFails ? ", version query fails" : "") + ", system directory " +
         kind.systemDirectory->name;
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

// What a run must do on a machine of this kind when these calls fail.
class Model {
 public:
  Model(const MachineKind& kind, const FailingCalls& failing) : kind_(kind), failing_(failing) {}

  Outcome Run() {
    CopyDecoder(kDecoders[0]);  // whether it was copied does not matter
    if (!CopyDecoder(kDecoders[1])) return End(kInUseEnding);
    const bool versionKnown = Call(Op::GetVersionExA, "GetVersionExA(dwOSVersionInfoSize 148)") &&
                              !kind_.versionQueryFails;
    if (versionKnown && kind_.platformId == VER_PLATFORM_WIN32_NT) {
      return End(RegisterInRegistry() ? kCompleteEnding : kNotCompleteEnding);
    }
    if (versionKnown && kind_.platformId == VER_PLATFORM_WIN32_WINDOWS) {
      return End(RegisterInProfile() ? kCompleteEnding : kNotCompleteEnding);
    }
    return End(kWrongVersionEnding);
  }

 private:
  // Expects the call; false when it is one made to fail.
  bool Call(Op op, const std::string& line) {
    outcome_.calls.push_back(line);
    return failing_.count({op, ++made_[op]}) == 0;
  }

  bool CopyDecoder(const std::string& file) {
    if (!Call(Op::GetSystemDirectoryA,
              "GetSystemDirectoryA(buffer, " + std::to_string(kPathBuffer) + ")") ||
        !kind_.systemDirectory->fits) {
      return false;
    }
    const std::string directory = *kind_.systemDirectory->path;
    if (!Call(Op::lstrcatA, "lstrcatA(" + Quote(directory) + ", \"\\\\\")")) return false;
    if (!Call(Op::lstrcatA, "lstrcatA(" + Quote(directory + "\\") + ", " + Quote(file) + ")")) {
      return false;
    }
    return Call(Op::CopyFileA,
                "CopyFileA(" + Quote(file) + ", " + Quote(directory + "\\" + file) + ", 0)");
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
  const FailingCalls& failing_;
  std::map<Op, int> made_;
  Outcome outcome_;
};

ExitStatus RunPlainly() {
  char program[] = "vornsetup.exe";
  char* argv[] = {program, nullptr};
  return RunSetup(1, argv);
}

struct Tally {
  long runs = 0;
  long failedCalls = 0;
};

// Checks the run with these calls failing, then every run that also fails calls made after
// the first `undecided` calls of it. The calls before a failing call do not depend on it, so
// each subset of the calls made is visited once.
void CheckFromHere(const MachineKind& kind, const FailingCalls& failing, std::size_t undecided,
                   Tally* tally) {
  ResetMachine();
  ScriptedMachine& machine = Machine();
  machine.platformId = kind.platformId;
  machine.versionQueryFails = kind.versionQueryFails;
  machine.systemDirectory = kind.systemDirectory->path;
  machine.flushResult = TRUE;  // as Windows answers for a mapped profile; a failure differs
  for (const auto& [op, occurrence] : failing) machine.Fail(op, occurrence);
  {
    SCOPED_TRACE(Describe(failing));
    const int status = RunPlainly();
    const Outcome expected = Model(kind, failing).Run();
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
    if (call < undecided) continue;
    FailingCalls more = failing;
    more.insert({made[call], occurrence});
    CheckFromHere(kind, more, call + 1, tally);
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(FaultInjection, EveryCombinationOfFailingCallsEndsAsTheOutcomeTablesSay) {
  Tally tally;
  int machines = 0;
  for (DWORD platformId : {0u, 1u, 2u, 3u}) {
    for (bool versionQueryFails : {false, true}) {
      for (const SystemDirectory& directory : kSystemDirectories) {
        const MachineKind kind = {platformId, versionQueryFails, &directory};
        SCOPED_TRACE(Describe(kind));
        CheckFromHere(kind, {}, 0, &tally);
        ++machines;
        if (HasFailure()) return;
      }
    }
  }
  RecordProperty("runs", static_cast<int>(tally.runs));
  std::printf("fault injection: %ld runs on %d machines, %ld failing calls injected\n", tally.runs,
              machines, tally.failedCalls);
}

}  // namespace
