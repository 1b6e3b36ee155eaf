#include "tests/fake_install.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Entries are ids by the address of the file they share.
FileId IdOf(const std::shared_ptr<FakeFile>& file) {
  return FileId{1, static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(file.get()))};
}

class FakeSave : public SaveFile {
 public:
  FakeSave(FakeInstall& install, std::shared_ptr<FakeFile> file) : install_(install), file_(std::move(file)) {}

  long Read(unsigned char* into, std::size_t size) override {
    const long limit = install_.faults.read_fails_after;
    if (limit >= 0 && read_ >= static_cast<std::size_t>(limit)) return -1;
    std::size_t count = std::min(size, file_->bytes.size() - read_);
    if (limit >= 0) count = std::min(count, static_cast<std::size_t>(limit) - read_);
    std::memcpy(into, file_->bytes.data() + read_, count);
    read_ += count;
    return static_cast<long>(count);
  }
  long long Length() override {
    return install_.faults.length_unknown ? -1 : static_cast<long long>(file_->bytes.size());
  }
  bool ReadByte(long long offset, unsigned char* byte) override {
    if (offset < 0 || static_cast<std::size_t>(offset) >= file_->bytes.size()) return false;
    *byte = static_cast<unsigned char>(file_->bytes[static_cast<std::size_t>(offset)]);
    return true;
  }
  bool WriteByte(long long offset, unsigned char byte) override {
    install_.steps.push_back("patch");
    if (install_.faults.patch_write || static_cast<std::size_t>(offset) >= file_->bytes.size()) return false;
    file_->bytes[static_cast<std::size_t>(offset)] = static_cast<char>(byte);
    return true;
  }
  bool Identify(FileId* id) override {
    *id = IdOf(file_);
    return true;
  }

 private:
  FakeInstall& install_;
  std::shared_ptr<FakeFile> file_;
  std::size_t read_ = 0;
};

// Kept apart from the files until it is moved over the backup's name.
class FakeBackup : public NewBackup {
 public:
  FakeBackup(FakeInstall& install, std::string backup) : install_(install), backup_(std::move(backup)) {}
  ~FakeBackup() override {
    if (!moved_) install_.steps.push_back("discard");
  }

  bool Write(const unsigned char* bytes, std::size_t size) override {
    const long limit = install_.faults.write_fails_after;
    if (limit >= 0 && bytes_.size() + size > static_cast<std::size_t>(limit)) return false;
    bytes_.append(reinterpret_cast<const char*>(bytes), size);
    return true;
  }
  bool Sync() override { return Step("sync", install_.faults.sync); }
  bool Close() override { return Step("close", install_.faults.close); }
  bool LookAtTarget(BackupTarget* target) override {
    if (!Step("look", install_.faults.look)) return false;
    *target = BackupTarget();
    auto alias = install_.aliases.find(backup_);
    target_ = alias != install_.aliases.end() ? alias->second : backup_;
    auto found = install_.files.find(target_);
    if (found == install_.files.end()) return true;
    target->exists = true;
    target->regular_file = !found->second->directory;
    target->read_only = found->second->read_only;
    target->alias = target_ != backup_;
    target->id = IdOf(found->second);
    return true;
  }
  bool MoveIntoPlace() override {
    if (!Step("move", install_.faults.move)) return false;
    install_.Add(target_, FakeFile{bytes_});
    moved_ = true;
    return true;
  }

 private:
  bool Step(const char* name, bool fails) {
    install_.steps.push_back(name);
    return !fails;
  }

  FakeInstall& install_;
  std::string backup_;
  std::string target_;
  std::string bytes_;
  bool moved_ = false;
};

}  // namespace

std::string FakeInstall::Bytes(const std::string& path) const {
  auto found = files.find(path);
  return found == files.end() ? "(none)" : found->second->bytes;
}

InstallPath FakeInstall::ReadInstallPath(char* buffer) {
  if (install_path.empty() || install_path.size() >= kPathBufferSize) return InstallPath::kNotInRegistry;
  std::memcpy(buffer, install_path.c_str(), install_path.size() + 1);
  return InstallPath::kRead;
}

// Every file in the pattern's folder whose name ends as the pattern does.
Listed FakeInstall::ListSaves(const char* pattern, std::vector<std::string>* names) {
  if (faults.list) return Listed::kNothing;
  const std::string text = pattern;
  const std::string folder = text.substr(0, text.rfind('\\') + 1);
  const std::string ending = text.substr(text.rfind('*') + 1);
  for (const auto& [path, file] : files) {
    const std::string name = path.substr(std::min(folder.size(), path.size()));
    if (path.compare(0, folder.size(), folder) == 0 && name.find('\\') == std::string::npos &&
        name.size() >= ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0) {
      names->push_back(name);
    }
  }
  return Listed::kListed;
}

Opened FakeInstall::OpenSave(const char* path, std::unique_ptr<SaveFile>* save) {
  auto found = files.find(path);
  if (faults.open || found == files.end() || found->second->directory || found->second->read_only) {
    return Opened::kFailed;
  }
  *save = std::make_unique<FakeSave>(*this, found->second);
  return Opened::kOpened;
}

std::unique_ptr<NewBackup> FakeInstall::CreateBackup(const char* backup_path) {
  steps.push_back("create");
  if (faults.create) return nullptr;
  return std::make_unique<FakeBackup>(*this, backup_path);
}
