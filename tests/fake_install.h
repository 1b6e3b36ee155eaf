// A world in memory whose every step can fail on cue, for the work on one
// save and the run sequence. Files are named by their whole path, '\\'
// separating; names compare without regard to ASCII case, as the real file
// systems do.
#ifndef SAVEFIX_TESTS_FAKE_INSTALL_H
#define SAVEFIX_TESTS_FAKE_INSTALL_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/install.h"

struct FakeFile {
  enum class Kind { kFile, kDirectory, kPipe, kDevice, kDanglingLink, kLinkLoop };
  std::string bytes = "";
  Kind kind = Kind::kFile;
  bool read_only = false;
};

// What goes wrong; a limit of -1 never hits.
struct FakeFaults {
  bool list = false;
  bool open = false;
  long read_fails_after = -1;  // bytes read
  bool length_unknown = false;
  bool patch_write = false;
  Created create = Created::kMade;  // what making a new file gives instead of kMade
  long write_fails_after = -1;      // bytes written
  bool sync = false;
  bool close = false;
  bool look = false;
  bool move = false;
};

class FakeInstall : public Install {
 public:
  // Adds a file at `path`; a second name for one file is a link to it.
  void Add(const std::string& path, FakeFile file) { files[path] = std::make_shared<FakeFile>(std::move(file)); }
  void Link(const std::string& path, const std::string& to) { files[path] = files.at(to); }
  // The bytes at `path`, or "(none)".
  std::string Bytes(const std::string& path) const;
  // The entry `path` names: the exact name, else one in another case, else the one it is an alias of.
  std::string Resolve(const std::string& path) const;

  Found HowFound() const override { return how; }
  SaveDirectory ReadSaveDirectory(char* path) override;
  Listed ListSaves(const char* pattern, std::vector<std::string>* names) override;
  bool Chosen(const std::string& name) const override { return only.empty() || name == only; }
  Opened OpenSave(const char* path, Access access, std::unique_ptr<SaveFile>* save) override;
  std::string NameKey(const char* name) override;
  bool IsDeviceName(const char* name) override;

  Found how{Found::How::kThisMachine};
  std::string save_directory;  // "": the registry holds none
  std::string only;            // the one save named, or ""
  std::map<std::string, std::shared_ptr<FakeFile>> files;
  std::map<std::string, std::string> aliases;  // a short name to the name it stands for
  FakeFaults faults;
  unsigned next_temp = 0;
  // The steps taken, in order: "create", "sync", "close", "look", "move",
  // "patch"; "discard" for a new file dropped.
  std::vector<std::string> steps;
};

class FakeWorld : public World {
 public:
  std::vector<std::unique_ptr<Install>> FindInstalls(const Game&) override { return std::move(installs); }
  std::unique_ptr<Install> NamedInstall(const Game&, const char* name) override;
  bool FindsWinePrefixes() const override { return wine; }

  std::vector<std::unique_ptr<Install>> installs;
  std::map<std::string, std::unique_ptr<Install>> named;
  bool wine = false;
};

#endif
