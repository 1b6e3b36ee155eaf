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
enum class Item {
  kSave,       // a save file of `size` bytes
  kFixedSave,  // the same, already holding the patch byte
  kReadOnly,   // a file of `size` bytes without write permission
  kPipe,       // a named pipe
  kOldBackup,  // a file of `size` bytes
  kDirectory,
  kLinkToDevFull,  // a symbolic link to /dev/full, where every write fails
  kHardLink,       // a hard link to the item named `target`
  kSymbolicLink,   // a symbolic link to the item named `target`
};

// What each name in the save directory must hold after the run. kCopyOf is
// a regular file; kLink a symbolic link to `of`.
enum class State { kPatched, kUnchanged, kCopyOf, kDirectory, kLink, kPipe };

enum class Runs { kEverywhere, kNativeOnly, kWindowsOnly };

struct ItemSpec {
  std::string name;
  Item kind;
  std::size_t size;
  std::string target = "";
};

struct AfterSpec {
  std::string name;
  State state;
  std::string of;  // for kCopyOf: the item whose old contents it holds
};

struct Scenario {
  std::string label;
  Registry registry;
  // The "AppPath" value. "{GAME}" stands for the install directory with its
  // trailing separator, "{GAME-}" for it without one.
  std::string app_path;
  std::size_t pad_to;  // when nonzero, 'x' is appended to the value up to this length
  bool deep_install;   // installs the game some 300 characters deep
  bool save_directory; // whether SaveGames exists at all
  std::vector<ItemSpec> items;
  std::string input;  // standard input
  // "{SAVES}" is the save directory as the program names it, "{VALUE}" the
  // registry value as stored; '\n' is a line end.
  std::string expected;
  int exit_status;
  std::vector<AfterSpec> after;  // every name left in the save directory
  Runs runs;
  std::vector<std::vector<std::string>> earlier_runs = {};  // their arguments; output not checked
  std::vector<std::string> args = {};
  // When nonzero, the install directory's path as the program writes it,
  // trailing separator included, is made this long.
  std::size_t install_length = 0;
  // The run ends at an option: nothing is printed before `expected`, which
  // is only the start of the output.
  bool ends_at_option = false;
};

const std::vector<Scenario>& EndToEndScenarios();

// Test names show the label, not the bytes of the struct.
inline void PrintTo(const Scenario& s, std::ostream* os) { *os << s.label; }

#endif
