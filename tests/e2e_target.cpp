#include "tests/e2e_target.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

extern char** environ;

// ---- Starting programs

namespace {

// Starts `args` with `actions` applied to its descriptors; 0 if it could not
// be started.
pid_t Start(const std::vector<std::string>& args, posix_spawn_file_actions_t* actions) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), environ) != 0) pid = 0;
  posix_spawn_file_actions_destroy(actions);
  return pid;
}

// The same with standard input from `input_file`, standard output into
// `output_file` and standard error into `error_file`.
pid_t Start(const std::vector<std::string>& args, const std::string& input_file, const std::string& output_file,
            const std::string& error_file = "/dev/null") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input_file.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, error_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  return Start(args, &actions);
}

// The exit status of `pid`, once it ends; -1 if it did not exit normally.
int ExitStatus(pid_t pid) {
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

RunResult RunWith(std::vector<std::string> command, const std::string& input, const std::string& scratch,
                  const std::vector<std::string>& args) {
  WriteFileBytes(scratch + "input.txt", input);
  command.insert(command.end(), args.begin(), args.end());
  RunResult result;
  result.exit_status = ExitStatus(Start(command, scratch + "input.txt", scratch + "output.txt", scratch + "errors.txt"));
  result.ran = result.exit_status >= 0;
  result.output = result.ran ? ReadFileBytes(scratch + "output.txt") : "did not start or end: " + command[0];
  result.errors = ReadFileBytes(scratch + "errors.txt");
  return result;
}

bool RunTogether(const std::vector<std::string>& command, int count, const std::string& input_file) {
  std::vector<pid_t> pids;
  for (int i = 0; i < count; ++i) pids.push_back(Start(command, input_file, "/dev/null"));
  bool all_ok = true;
  for (pid_t pid : pids) all_ok = ExitStatus(pid) == 0 && all_ok;
  return all_ok;
}

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
  const pid_t pid = Start(command, &actions);
  if (pid == 0) {
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

// ---- The targets

std::string ThroughDriveZ(const std::string& disk_path) {
  std::string path = "Z:" + disk_path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

namespace {

// Natively, a small Wine prefix in the scratch directory: its system.reg, and
// drive Z: for the file system's root.
bool LayOutScratchPrefix(Registry registry, const std::string& value, const std::string& scratch) {
  setenv("WINEPREFIX", (scratch + "prefix").c_str(), 1);
  return LayOutPrefix(scratch + "prefix", SystemReg(value, registry));
}

// The prefix is named as what it holds of the game.
std::string NamePrefix(Registry registry, const std::string& scratch) {
  const char* label = registry == Registry::kKeyNoValue || registry == Registry::kDword ? "No game install path in: "
                      : registry == Registry::kNothing || registry == Registry::kMalformed ? "Not a Wine prefix: "
                      : registry == Registry::kOtherKey                                   ? "Game not found in: "
                                                                                          : "Wine prefix: ";
  return label + scratch + "prefix\n";
}

std::string NameFolder(const std::string& disk_path) {
  struct stat info;
  const bool found = stat(disk_path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  return "Folder on this machine: " + disk_path + (found ? "" : " (not found)") + "\n";
}

// Under Wine, the prefix comes from WINEPREFIX. One import by the 64-bit reg
// tool (Debian's "wine" would start the 32-bit one, which may run only
// emulated) writes both views; the 32-bit one, which savefix.exe reads, lies
// under Wow6432Node. The file is in UTF-16, so that reg takes hex(2) data as
// the UTF-16 it is.
bool ImportWithReg(Registry registry, const std::string& value, const std::string& scratch) {
  std::string text =
      "Windows Registry Editor Version 5.00\n\n[-HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Quarrelstone]\n"
      "[-HKEY_LOCAL_MACHINE\\Software\\Quarrelstone]\n";
  for (const RegistryKey& key : RegistryKeys(registry, value)) {
    text += "[HKEY_LOCAL_MACHINE\\" + key.path + "]\n" + key.values;
  }
  std::string utf16 = "\xFF\xFE";
  for (char c : text) {
    if (c == '\n') utf16 += std::string{'\r', '\0'};
    utf16 += std::string{c, '\0'};
  }
  WriteFileBytes(scratch + "registry.reg", utf16);
  // Now and then a Wine process fails to start ("failed to map the shared
  // user data", where the address space's random layout collides); it
  // changed nothing, and a second start succeeds.
  RunResult imported;
  for (int attempt = 0; attempt < 3 && imported.exit_status != 0; ++attempt) {
    imported = RunWith({"/usr/lib/wine/wine64", "reg", "import", ThroughDriveZ(scratch + "registry.reg"), "/reg:64"},
                       "", scratch);
  }
  if (imported.exit_status != 0) ADD_FAILURE() << "wine reg import failed: " << imported.output;
  return imported.exit_status == 0;
}

const Target kTargets[] = {
    {.name = "native",
     .launcher = {},
     .line_end = "\n",
     .skips = Runs::kWindowsOnly,
     .console_goes_raw = false,
     .put_registry = LayOutScratchPrefix,
     .preamble = NamePrefix,
     .folder_line = NameFolder,
     .spell_path = [](const std::string& disk_path) { return disk_path; }},
    {.name = "wine",
     .launcher = {"wine"},
     .line_end = "\r\n",
     .skips = Runs::kNativeOnly,
     .console_goes_raw = true,
     .put_registry = ImportWithReg,
     .preamble = nullptr,
     .folder_line = nullptr,
     .spell_path = ThroughDriveZ},
};

}  // namespace

const Target* FindTarget(const std::string& name) {
  for (const Target& target : kTargets) {
    if (target.name == name) return &target;
  }
  return nullptr;
}
