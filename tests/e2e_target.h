// The builds the end-to-end tests run, and starting programs for them.
#ifndef SAVEFIX_TESTS_E2E_TARGET_H
#define SAVEFIX_TESTS_E2E_TARGET_H

#include <string>
#include <vector>

#include "tests/e2e_scenarios.h"
#include "tests/test_support.h"

// What differs between the native program, which reads a Wine prefix, and
// savefix.exe under Wine. Both name a folder on disk through drive Z:.
struct Target {
  std::string name;                   // as given to --target=
  std::vector<std::string> launcher;  // what goes before the program's path to start it
  std::string line_end;
  Runs skips;              // the rows for the other build
  bool console_goes_raw;   // see RunToPrompt
  // Puts `registry` with "AppPath" `value` where the next run in `scratch`
  // (a directory for files) finds it.
  bool (*put_registry)(Registry registry, const std::string& value, const std::string& scratch);
  // What the program prints first, and after naming a save folder that is
  // `disk_path` on this machine; null where it prints nothing.
  std::string (*preamble)(Registry registry, const std::string& scratch);
  std::string (*folder_line)(const std::string& disk_path);
  // How it spells the path `disk_path` given on its command line, and the separator it puts there.
  std::string (*spell_path)(const std::string& disk_path);
};

// The target called `name`, "native" or "wine"; null for any other.
const Target* FindTarget(const std::string& name);

// The Windows spelling of a path given with '/', through Wine's drive Z:.
std::string ThroughDriveZ(const std::string& disk_path);

struct RunResult {
  bool ran = false;
  int exit_status = -1;
  std::string output;  // standard output, byte for byte
  std::string errors;  // standard error
};

// Runs `command` followed by `args` with `input` on standard input; files
// go to `scratch`.
RunResult RunWith(std::vector<std::string> command, const std::string& input, const std::string& scratch,
                  const std::vector<std::string>& args = {});

// Starts `count` copies of `command` at once, each with standard input from
// `input_file`, and waits for all; true if every one exited with status 0.
bool RunTogether(const std::vector<std::string>& command, int count, const std::string& input_file);

// Starts `command` on a terminal of its own and waits, up to `timeout_ms`
// of silence, for `prompt` to be on the screen; with `console_goes_raw`,
// also for the program's console to switch the terminal to raw mode, which
// Wine's does when the program starts reading, dropping what was typed
// before. Then types one key without Enter and records whether the program
// still waits once the terminal shows the key, presses Enter and collects
// the rest of the screen and the exit status.
struct PromptResult {
  bool prompt_seen = false;
  bool waiting_at_prompt = false;
  RunResult run;
};
PromptResult RunToPrompt(const std::vector<std::string>& command, const std::string& prompt, int timeout_ms,
                         bool console_goes_raw);

#endif
