#include "tests/e2e_platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/test_support.h"

extern char** environ;

namespace {

// Starts `args` with `actions` applied to its descriptors; false if it could
// not be started.
bool StartProcess(const std::vector<std::string>& args, posix_spawn_file_actions_t* actions, pid_t* pid) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  bool started = posix_spawnp(pid, argv[0], actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(actions);
  return started;
}

// Runs `args` with standard input from `input_file` and standard output into
// `output_file`; standard error stays the test's own.
RunResult Spawn(const std::vector<std::string>& args, const std::string& input_file,
                const std::string& output_file) {
  RunResult result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input_file.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_file.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  if (!StartProcess(args, &actions, &pid)) {
    result.output = "cannot start " + args[0];
    return result;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
    result.output = "did not exit normally: " + args[0];
    return result;
  }
  result.ran = true;
  result.exit_status = WEXITSTATUS(status);
  result.output = ReadFileBytes(output_file);
  return result;
}

}  // namespace

// Runs `command` followed by `args` with `input` on standard input.
RunResult RunWith(std::vector<std::string> command, const std::string& input, const std::string& scratch,
                  const std::vector<std::string>& args) {
  const std::string input_file = scratch + "input.txt";
  WriteFileBytes(input_file, input);
  command.insert(command.end(), args.begin(), args.end());
  return Spawn(command, input_file, scratch + "output.txt");
}

namespace {

// Debian's "wine" starts builtin tools such as reg as 32-bit programs.
const char kWine64[] = "/usr/lib/wine/wine64";

}  // namespace

// The Windows spelling of a directory given with '/', through Wine's drive Z:.
std::string ThroughDriveZ(const std::string& disk_path) {
  std::string path = "Z:" + disk_path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

namespace {

// The native program reading a small Wine prefix in the scenario's scratch
// directory: its system.reg, and drive Z: for the file system's root.
class NativePlatform : public E2ePlatform {
 public:
  explicit NativePlatform(std::string program) : program_(std::move(program)) {}

  std::string ProgramPath(const std::string& disk_path) const override { return ThroughDriveZ(disk_path); }

  bool SetRegistry(Registry registry, const std::string& value, const std::string& scratch) override {
    prefix_ = scratch + "prefix";
    setenv("WINEPREFIX", prefix_.c_str(), 1);
    return LayOutPrefix(prefix_, SystemReg(value, registry));
  }

  std::string Preamble(Registry registry) const override {
    const bool usable = registry != Registry::kNothing && registry != Registry::kMalformed;
    return (usable ? "Wine prefix: " : "Not a Wine prefix: ") + prefix_ + "\n";
  }

  std::string FolderLine(const std::string& disk_path) const override {
    struct stat info;
    const bool found = stat(disk_path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    return "Folder on this machine: " + disk_path + (found ? "" : " (not found)") + "\n";
  }

  RunResult Run(const std::string& input, const std::string& scratch,
                const std::vector<std::string>& args) override {
    return RunWith(Command(), input, scratch, args);
  }

  std::vector<std::string> Command() const override { return {program_}; }

  std::string LineEnd() const override { return "\n"; }


 private:
  std::string program_;
  std::string prefix_;
};

// savefix.exe under Wine. The prefix comes from WINEPREFIX; the registry is
// written with Wine's own reg tool, into the 32-bit view the program reads.
class WinePlatform : public E2ePlatform {
 public:
  explicit WinePlatform(std::string program) : program_(std::move(program)) {}

  std::string ProgramPath(const std::string& disk_path) const override { return ThroughDriveZ(disk_path); }

  std::string Preamble(Registry) const override { return ""; }

  std::string FolderLine(const std::string&) const override { return ""; }

  // One import by the 64-bit reg tool writes both views: the 32-bit one,
  // which savefix.exe reads, lies under Wow6432Node. The 64-bit tool, as
  // 32-bit code may run only emulated.
  bool SetRegistry(Registry registry, const std::string& value, const std::string& scratch) override {
    std::string text =
        "Windows Registry Editor Version 5.00\n\n[-HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Quarrelstone]\n"
        "[-HKEY_LOCAL_MACHINE\\Software\\Quarrelstone]\n";
    for (const RegistryKey& key : RegistryKeys(registry, value)) {
      text += "[HKEY_LOCAL_MACHINE\\" + key.path + "]\n" + key.values;
    }
    // In UTF-16, so reg takes hex(2) data as the UTF-16 it is.
    std::string utf16 = "\xFF\xFE";
    for (char c : text) {
      if (c == '\n') utf16 += std::string{'\r', '\0'};
      utf16 += std::string{c, '\0'};
    }
    const std::string file = scratch + "registry.reg";
    WriteFileBytes(file, utf16);
    RunResult imported =
        Spawn({kWine64, "reg", "import", ProgramPath(file), "/reg:64"}, "/dev/null", scratch + "reg.txt");
    if (!imported.ran || imported.exit_status != 0) {
      ADD_FAILURE() << "wine reg import failed: " << imported.output;
      return false;
    }
    return true;
  }

  RunResult Run(const std::string& input, const std::string& scratch,
                const std::vector<std::string>& args) override {
    return RunWith(Command(), input, scratch, args);
  }

  std::vector<std::string> Command() const override { return {"wine", program_}; }

  std::string LineEnd() const override { return "\r\n"; }


 private:
  std::string program_;
};

}  // namespace

namespace {

// Reads what the program shows on the terminal until `wanted` appears at or
// after `from`, the terminal closes, or `timeout_ms` pass without output.
// True if it appeared.
bool ReadUntil(int terminal, const std::string& wanted, std::size_t from, int timeout_ms, std::string* output) {
  char chunk[4096];
  while (output->find(wanted, from) == std::string::npos) {
    pollfd readable = {terminal, POLLIN, 0};
    if (poll(&readable, 1, timeout_ms) <= 0) return false;
    ssize_t count = read(terminal, chunk, sizeof chunk);
    if (count <= 0) return false;
    output->append(chunk, static_cast<std::size_t>(count));
  }
  return true;
}

// Waits up to `timeout_ms` for the program's side of `terminal` to leave
// canonical mode (a pty's master reports its other side's mode).
bool WaitForRawMode(int terminal, int timeout_ms) {
  termios mode;
  for (int waited = 0; tcgetattr(terminal, &mode) == 0; waited += 10) {
    if ((mode.c_lflag & ICANON) == 0) return true;
    if (waited >= timeout_ms) return false;
    poll(nullptr, 0, 10);
  }
  return false;
}

}  // namespace

// The terminal keeps a typed line to itself until Enter, so a program that
// has not ended once the terminal echoed a key is waiting for the rest of it.
PromptResult RunToPrompt(const std::vector<std::string>& command, const std::string& prompt, int timeout_ms,
                         bool console_goes_raw) {
  PromptResult result;
  int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) return result;
  const std::string screen = ptsname(terminal);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    posix_spawn_file_actions_addopen(&actions, descriptor, screen.c_str(), O_RDWR, 0);
  }
  pid_t pid;
  if (!StartProcess(command, &actions, &pid)) {
    close(terminal);
    return result;
  }
  std::string& output = result.run.output;
  result.prompt_seen = ReadUntil(terminal, prompt, 0, timeout_ms, &output);
  if (console_goes_raw) result.prompt_seen = result.prompt_seen && WaitForRawMode(terminal, timeout_ms);
  int status = 0;
  // Wine's console echoes the key between escape sequences of its own.
  const std::size_t after_prompt = output.find(prompt) + prompt.size();
  if (result.prompt_seen && write(terminal, "k", 1) == 1 &&
      ReadUntil(terminal, "k", after_prompt, timeout_ms, &output)) {
    result.waiting_at_prompt = waitpid(pid, &status, WNOHANG) == 0;
  }
  // After Enter, read what it shows until it closes the terminal, then wait
  // for it to end.
  if (result.waiting_at_prompt && write(terminal, "\r", 1) == 1) {
    ReadUntil(terminal, "", output.size() + 1, timeout_ms, &output);
  } else {
    kill(pid, SIGKILL);
  }
  close(terminal);
  if (waitpid(pid, &status, 0) != pid) return result;
  result.run.ran = WIFEXITED(status) && result.waiting_at_prompt;
  result.run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool RunTogether(const std::vector<std::string>& command, int count, const std::string& input_file) {
  std::vector<pid_t> pids;
  for (int i = 0; i < count; ++i) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input_file.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    if (StartProcess(command, &actions, &pid)) pids.push_back(pid);
  }
  bool all_ok = static_cast<int>(pids.size()) == count;
  for (pid_t pid : pids) {
    int status = 0;
    all_ok = waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 && all_ok;
  }
  return all_ok;
}

std::unique_ptr<E2ePlatform> MakeE2ePlatform(const std::string& target, const std::string& program) {
  if (target == "native") return std::make_unique<NativePlatform>(program);
  if (target == "wine") return std::make_unique<WinePlatform>(program);
  return nullptr;
}
