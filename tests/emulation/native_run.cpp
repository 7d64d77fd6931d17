#include "tests/emulation/native_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "registration/messages.h"

namespace fs = std::filesystem;

namespace {

// A run that takes longer has hung: it is ended, and its status says so (128 + SIGALRM).
constexpr unsigned kRunTimeLimitSeconds = 30;

// The unprivileged user cannot reach the build tree: it runs a copy beside its machine.
std::string ProgramFor(const std::string& machine, const RunOptions& options) {
  if (!options.unprivileged || getuid() != 0) return options.program;
  const std::string copy = fs::path(machine).parent_path() / fs::path(options.program).filename();
  fs::copy_file(options.program, copy, fs::copy_options::overwrite_existing);
  fs::permissions(copy, fs::perms::all);
  return copy;
}

[[noreturn]] void ExecSetup(const std::string& program, const std::string& machine,
                            const std::string& cwd, const RunOptions& options) {
  if (chdir(cwd.c_str()) != 0) _exit(125);
  // As a shell starts it, whatever this test process ignores.
  signal(SIGPIPE, SIG_DFL);
  signal(SIGXFSZ, SIG_DFL);
  setenv("VORN_MACHINE", machine.c_str(), 1);
  const int input = open("/dev/null", O_RDONLY);
  dup2(input, STDIN_FILENO);
  alarm(kRunTimeLimitSeconds);
  if (options.fileSizeLimit >= 0) {
    const rlimit limit = {static_cast<rlim_t>(options.fileSizeLimit),
                          static_cast<rlim_t>(options.fileSizeLimit)};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  std::vector<std::string> words;
  if (options.unprivileged && getuid() == 0) {
    words = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  }
  words.insert(words.end(), options.under.begin(), options.under.end());
  words.push_back(program);
  words.insert(words.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

}  // namespace

RunResult RunNative(const std::string& machine, const std::string& cwd, const RunOptions& options) {
  const std::string program = ProgramFor(machine, options);
  std::string errors = (fs::temp_directory_path() / "vorn-stderr-XXXXXX").string();
  int capture = mkstemp(errors.data());
  const pid_t child = fork();
  if (child == 0) {
    int unread[2];
    if (options.unreadErrors && pipe(unread) == 0) {
      close(unread[0]);
      capture = unread[1];
    }
    dup2(capture, STDERR_FILENO);
    ExecSetup(program, machine, cwd, options);
  }
  close(capture);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  std::ifstream file(errors, std::ios::binary);
  std::string output((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  fs::remove(errors);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return RunResult{code, output, usage.ru_maxrss};
}

int StartNative(const std::string& machine, const std::string& cwd, const char* program) {
  const pid_t child = fork();
  if (child == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDERR_FILENO);
    ExecSetup(program, machine, cwd, RunOptions());
  }
  return child;
}

RunOptions Remover() {
  RunOptions options;
  options.program = VORNREMOVE_PATH;
  return options;
}

std::string Box(const std::string& text) {
  const std::string caption = kSetupTitle;
  std::vector<std::string> lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::size_t width = caption.size();
  for (const std::string& line : lines) width = std::max(width, line.size());
  const auto row = [width](const std::string& content) {
    return "| " + content + std::string(width - content.size(), ' ') + " |\n";
  };
  const std::string border = "+" + std::string(width + 2, '-') + "+\n";
  std::string box = border + row(caption) + border;
  for (const std::string& line : lines) box += row(line);
  return box + row(std::string(width - 6, ' ') + "[ OK ]") + border;
}

Snapshot TakeSnapshot(const std::string& root) {
  Snapshot snapshot;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string path = fs::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      snapshot[path] = "<link to " + fs::read_symlink(entry.path()).string() + ">";
    } else if (entry.is_directory()) {
      snapshot[path] = "<folder>";
    } else if (!entry.is_regular_file()) {
      snapshot[path] = "<not a plain file>";  // a pipe, say: reading it could wait for ever
    } else {
      std::ifstream file(entry.path(), std::ios::binary);
      snapshot[path].assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
  }
  return snapshot;
}

void GiveToUnprivilegedUser(const std::string& root) {
  if (getuid() != 0) return;
  ASSERT_EQ(lchown(root.c_str(), kUnprivilegedUser, kUnprivilegedUser), 0);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    ASSERT_EQ(lchown(entry.path().c_str(), kUnprivilegedUser, kUnprivilegedUser), 0);
  }
}
