// An install in memory whose every step can fail on cue, for the work on
// one save and the run sequence. Files are named by their whole path.
#ifndef SAVEFIX_TESTS_FAKE_INSTALL_H
#define SAVEFIX_TESTS_FAKE_INSTALL_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/install.h"

struct FakeFile {
  std::string bytes;
  bool directory = false;
  bool read_only = false;
};

// What goes wrong; a limit of -1 never hits.
struct FakeFaults {
  bool list = false;
  bool open = false;
  long read_fails_after = -1;  // bytes read
  bool length_unknown = false;
  bool patch_write = false;
  bool create = false;
  long write_fails_after = -1;  // bytes written
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

  std::string Label() const override { return label; }
  bool IsSaveFolder() const override { return save_folder; }
  InstallPath ReadInstallPath(char* buffer) override;
  std::string DescribeFolder(const char*) override { return std::string(); }
  Listed ListSaves(const char* pattern, std::vector<std::string>* names) override;
  Opened OpenSave(const char* path, std::unique_ptr<SaveFile>* save) override;
  std::unique_ptr<NewBackup> CreateBackup(const char* backup_path) override;

  std::string label;
  bool save_folder = false;  // the install path is the save folder (named on the command line)
  std::string install_path;  // "" : the registry holds none
  std::map<std::string, std::shared_ptr<FakeFile>> files;
  std::map<std::string, std::string> aliases;  // a short name to the name it stands for
  FakeFaults faults;
  // The steps taken, in order: "create", "sync", "close", "look", "move",
  // "patch"; "discard" for a new file dropped.
  std::vector<std::string> steps;
};

#endif
