// The contract every install keeps: one table of rows, each a layout of one
// save folder, an action on the install over it and its outcome, run
// against every world: the one in memory, the native install over a Wine
// prefix and over a named folder, and savefix.exe's own (this code built
// for Windows and run under Wine). A world that cannot build a row's layout
// says so, and the row is skipped there with that reason.
#ifndef SAVEFIX_TESTS_CONTRACT_H
#define SAVEFIX_TESTS_CONTRACT_H

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/install.h"

// What lies in the save folder before the action.
enum class Kind {
  kSave,       // 300 bytes, no patch byte
  kFile,       // a few bytes
  kReadOnly,   // 50 bytes, read-only
  kDirectory,
  kPipe,
  kDevice,        // a link to /dev/null
  kDanglingLink,  // a link to nothing
  kLinkLoop,      // a link to itself
  kHardLink,      // another name of the entry `to`
  kSymbolicLink,  // a link to the entry `to`
};

struct Entry {
  std::string name;
  Kind kind;
  std::string to = "";
  // Wine's 8.3 alias of the name, for the world in memory, which does not make them.
  std::string alias = "";
};

// One world the rows run in, laid out afresh for each row.
class Lab {
 public:
  virtual ~Lab() = default;
  // Makes `entry` in the save folder; false, with why, where this world cannot.
  virtual bool Make(const Entry& entry, std::string* why) = 0;
  // The bytes of the file `name` in the save folder; "(none)" for no file.
  virtual std::string Bytes(const std::string& name) = 0;
  // The names in the save folder, sorted.
  virtual std::vector<std::string> Names() = 0;
  // The install over the save folder, and the folder as it spells it, with its separator.
  virtual Install& TheInstall() = 0;
  virtual std::string Folder() = 0;
  // The install `name` (a name in the save folder) stands for on the command
  // line; false, with why, where this world names nothing.
  virtual bool Named(const std::string& name, std::unique_ptr<Install>* install, std::string* why) = 0;
};

struct LabMaker {
  std::string name;
  std::function<std::unique_ptr<Lab>()> make;
};

inline void PrintTo(const LabMaker& maker, std::ostream* os) { *os << maker.name; }

// The worlds of this build: the one in memory, and this system's.
std::vector<LabMaker> LabMakers();
std::vector<LabMaker> SystemLabMakers();
Game ContractGame();
// The bytes of the save `name`; those of any other file are "old " and its name.
std::string SaveBytes(const std::string& name);

#endif
