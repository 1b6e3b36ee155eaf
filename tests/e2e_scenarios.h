// The end-to-end scenarios: a temporary game install, what the program prints
// over it and what it leaves in the save directory. The same table runs
// against the native program and against savefix.exe under Wine.
#ifndef SAVEFIX_TESTS_E2E_SCENARIOS_H
#define SAVEFIX_TESTS_E2E_SCENARIOS_H

#include <ostream>
#include <string>
#include <vector>

#include "tests/test_support.h"

// What lies in the save directory before the run. A name with '/' lies
// outside it, relative to it.
enum class Kind {
  kFile,          // `size` bytes
  kFixedSave,     // the same, already holding the patch byte
  kReadOnly,      // a file of `size` bytes without write permission
  kPipe,          // a named pipe
  kDirectory,
  kHardLink,      // a hard link to the item named `target`
  kSymbolicLink,  // a symbolic link to `target`
};

struct Item {
  std::string name;
  Kind kind;
  std::size_t size = 0;
  std::string target = "";
};

// What each name in the save directory must hold after the run. kCopyOf is
// a regular file holding the old contents of `of`; kLink a symbolic link to `of`.
enum class State { kPatched, kUnchanged, kCopyOf, kDirectory, kLink, kPipe };

struct After {
  std::string name;
  State state;
  std::string of = "";
};

enum class Runs { kEverywhere, kNativeOnly, kWindowsOnly };

struct Scenario {
  std::string label;
  Runs runs = Runs::kEverywhere;
  Registry registry = Registry::kString;
  // The "AppPath" value. "{GAME}" stands for the install directory with its
  // trailing separator, "{GAME-}" for it without one.
  std::string app_path = "{GAME}";
  std::size_t pad_to = 0;  // when nonzero, 'x' is appended to the value up to this length
  // When nonzero, the install directory's path as the program writes it,
  // trailing separator included, is made this long.
  std::size_t install_length = 0;
  bool save_directory = true;     // whether SaveGames exists at all
  bool read_only_folder = false;  // SaveGames without write permission, for the program too
  bool read_only_disk = false;    // SaveGames on a read-only mount
  std::vector<Item> items = {};
  std::vector<std::vector<std::string>> earlier_runs = {};  // their arguments; output not checked
  // The command line. "{FOLDER}" stands for the save directory as the
  // program spells a path, "{HERE}" for it relative to where it starts,
  // "{GAMEFOLDER}" for the install directory.
  std::vector<std::string> args = {};
  std::string input = "\n";  // standard input
  // What the program prints before its closing prompt. "{SAVES}" is the save
  // directory as the program names it, "{VALUE}" the registry value as
  // stored; '\n' is a line end.
  std::string expected = "";
  int exit_status = 0;
  std::string error = "";  // what standard error holds, among what else the system prints there
  // The run ends at an option: nothing is printed before `expected`, which
  // is only the start of the output, and there is no prompt.
  bool ends_at_option = false;
  std::vector<After> after = {};  // every name left in the save directory
};

const std::vector<Scenario>& EndToEndScenarios();

// Test names show the label, not the bytes of the struct.
inline void PrintTo(const Scenario& s, std::ostream* os) { *os << s.label; }

#endif
