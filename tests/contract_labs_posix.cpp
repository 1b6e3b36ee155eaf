// The native worlds the contract runs in: a Wine prefix whose registry names
// the save folder's game through drive Z:, and the save folder named.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/contract.h"
#include "tests/test_support.h"

namespace {

class DiskLab : public Lab {
 public:
  DiskLab() : disk_(root_.path() + "Game/SaveGames/") { MakeDirectories(disk_); }

  bool Make(const Entry& entry, std::string* /*why*/) override {
    const std::string path = disk_ + entry.name;
    switch (entry.kind) {
      case Kind::kSave: WriteFileBytes(path, SaveBytes(entry.name)); return true;
      case Kind::kFile: WriteFileBytes(path, "old " + entry.name); return true;
      case Kind::kReadOnly: WriteFileBytes(path, "old " + entry.name); return chmod(path.c_str(), 0444) == 0;
      case Kind::kDirectory: return mkdir(path.c_str(), 0755) == 0;
      case Kind::kPipe: return mkfifo(path.c_str(), 0644) == 0;
      case Kind::kDevice: return symlink("/dev/null", path.c_str()) == 0;
      case Kind::kDanglingLink: return symlink("nowhere/x", path.c_str()) == 0;
      case Kind::kLinkLoop: return symlink(entry.name.c_str(), path.c_str()) == 0;
      case Kind::kHardLink: return link((disk_ + entry.to).c_str(), path.c_str()) == 0;
      case Kind::kSymbolicLink: return symlink(entry.to.c_str(), path.c_str()) == 0;
    }
    return false;
  }
  std::string Bytes(const std::string& name) override {
    struct stat info;
    return stat((disk_ + name).c_str(), &info) == 0 && S_ISREG(info.st_mode) ? ReadFileBytes(disk_ + name) : "(none)";
  }
  std::vector<std::string> Names() override { return ListDirectory(disk_); }
  Install& TheInstall() override {
    if (!install_) install_ = MakeInstall();
    return *install_;
  }

 protected:
  virtual std::unique_ptr<Install> MakeInstall() = 0;

  TempDir root_;
  const std::string disk_;
  std::unique_ptr<Install> install_;
};

class PrefixLab : public DiskLab {
 public:
  std::string Folder() override {
    std::string folder = "Z:" + disk_;
    for (char& c : folder) c = c == '/' ? '\\' : c;
    return folder;
  }
  bool Named(const std::string&, std::unique_ptr<Install>*, std::string* why) override {
    *why = "a prefix's install is found through its registry (the named folder's world names)";
    return false;
  }

 private:
  std::unique_ptr<Install> MakeInstall() override {
    const std::string game = Folder().substr(0, Folder().size() - std::string("SaveGames\\").size());
    LayOutPrefix(root_.path() + "pfx", SystemReg(game));
    return std::move(ThisMachine({root_.path() + "pfx", {}, {}})->FindInstalls(ContractGame()).front());
  }
};

class FolderLab : public DiskLab {
 public:
  std::string Folder() override { return disk_; }
  bool Named(const std::string& name, std::unique_ptr<Install>* install, std::string*) override {
    *install = ThisMachine({})->NamedInstall(ContractGame(), (disk_ + name).c_str());
    return true;
  }

 private:
  std::unique_ptr<Install> MakeInstall() override { return ThisMachine({})->NamedInstall(ContractGame(), disk_.c_str()); }
};

}  // namespace

std::vector<LabMaker> SystemLabMakers() {
  return {{"prefix", [] { return std::make_unique<PrefixLab>(); }},
          {"folder", [] { return std::make_unique<FolderLab>(); }}};
}
