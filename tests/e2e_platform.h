// How the end-to-end scenarios reach one build of the program: how it names
// paths, where its registry lives and how it is started.
#ifndef SAVEFIX_TESTS_E2E_PLATFORM_H
#define SAVEFIX_TESTS_E2E_PLATFORM_H

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e_scenarios.h"

struct RunResult {
  bool ran = false;
  int exit_status = -1;
  std::string output;  // standard output, byte for byte
};

class E2ePlatform {
 public:
  virtual ~E2ePlatform() = default;
  // The program's own spelling of a directory on disk given with '/'.
  virtual std::string ProgramPath(const std::string& disk_path) const = 0;
  // Puts the scenario's registry in place; `scratch` is a directory for files.
  virtual bool SetRegistry(Registry registry, const std::string& value, const std::string& scratch) = 0;
  virtual RunResult Run(const std::string& input, const std::string& scratch,
                        const std::vector<std::string>& args) = 0;
  // The command line that starts the program.
  virtual std::vector<std::string> Command() const = 0;
  virtual std::string LineEnd() const = 0;
  // What the program prints before anything else (natively, the prefix it
  // reads, which holds `registry`).
  virtual std::string Preamble(Registry registry) const = 0;
  // What it prints after naming the save directory, which is `disk_path` on disk.
  virtual std::string FolderLine(const std::string& disk_path) const = 0;
};

// Starts `command` on a terminal of its own and waits, up to `timeout_ms`
// of silence, for `prompt` to be on the screen; with `console_goes_raw`,
// also for the program's console to switch the terminal to raw mode, which
// Wine's does when the program starts reading, dropping what was typed
// before. Then types one key without
// Enter and records whether the program still waits once the terminal shows
// the key, presses Enter and collects the rest of the screen and the exit
// status.
struct PromptResult {
  bool prompt_seen = false;
  bool waiting_at_prompt = false;
  RunResult run;
};
PromptResult RunToPrompt(const std::vector<std::string>& command, const std::string& prompt, int timeout_ms,
                         bool console_goes_raw);

// Starts `count` copies of `command` at once, each with standard input from
// `input_file`, and waits for all; true if every one exited with status 0.
bool RunTogether(const std::vector<std::string>& command, int count, const std::string& input_file);

// Runs `command` followed by `args` with `input` on standard input; files
// go to `scratch`.
RunResult RunWith(std::vector<std::string> command, const std::string& input, const std::string& scratch,
                  const std::vector<std::string>& args);

// The Windows spelling of a directory given with '/', through Wine's drive Z:.
std::string ThroughDriveZ(const std::string& disk_path);

// "native" or "wine"; null for anything else.
std::unique_ptr<E2ePlatform> MakeE2ePlatform(const std::string& target, const std::string& program);

#endif
