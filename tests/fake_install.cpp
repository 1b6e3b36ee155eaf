#include "tests/fake_install.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/windows_rules.h"

namespace {

// Entries are ids by the address of the file they share.
FileId IdOf(const std::shared_ptr<FakeFile>& file) {
  return FileId{1, static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(file.get()))};
}

std::string Upper(std::string text) {
  for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c;
  return text;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\') + 1); }

// Kept apart from the files until it is moved over the backup's name; its
// own name is taken meanwhile.
class FakeBackup : public NewBackup {
 public:
  FakeBackup(FakeInstall& install, std::string temp, std::string backup)
      : install_(install), temp_(std::move(temp)), backup_(std::move(backup)) {
    install_.Add(temp_, FakeFile{});
  }
  ~FakeBackup() override {
    if (moved_) return;
    install_.steps.push_back("discard");
    install_.files.erase(temp_);
  }

  bool Write(const unsigned char* bytes, std::size_t size) override {
    const long limit = install_.faults.write_fails_after;
    if (limit >= 0 && bytes_.size() + size > static_cast<std::size_t>(limit)) return false;
    bytes_.append(reinterpret_cast<const char*>(bytes), size);
    return true;
  }

 protected:
  bool Sync() override { return Step("sync", install_.faults.sync); }
  bool Close() override { return Step("close", install_.faults.close); }
  bool LookAtTarget(BackupTarget* target) override {
    if (!Step("look", install_.faults.look)) return false;
    *target = BackupTarget();
    target_ = install_.Resolve(backup_);
    auto found = install_.files.find(target_);
    if (found == install_.files.end() || found->second->kind == FakeFile::Kind::kDanglingLink) return true;
    if (found->second->kind == FakeFile::Kind::kLinkLoop) return false;
    target->exists = true;
    target->regular_file = found->second->kind == FakeFile::Kind::kFile;
    target->read_only = found->second->read_only;
    target->alias = install_.aliases.count(backup_) != 0 && target_ == install_.aliases.at(backup_);
    target->id = IdOf(found->second);
    return true;
  }
  bool MoveIntoPlace() override {
    if (!Step("move", install_.faults.move)) return false;
    install_.files.erase(temp_);
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
  std::string temp_;
  std::string backup_;
  std::string target_;
  std::string bytes_;
  bool moved_ = false;
};

class FakeSave : public SaveFile {
 public:
  FakeSave(FakeInstall& install, std::shared_ptr<FakeFile> file, std::string folder)
      : install_(install), file_(std::move(file)), folder_(std::move(folder)) {}

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

 protected:
  Created CreateNew(const std::string& temp_name, const char* name, std::unique_ptr<NewBackup>* file) override {
    install_.steps.push_back("create");
    const std::string temp = folder_ + temp_name;
    if (install_.Resolve(temp) != temp || install_.files.count(temp) != 0) return Created::kNameTaken;
    if (install_.faults.create != Created::kMade) return install_.faults.create;
    *file = std::make_unique<FakeBackup>(install_, temp, folder_ + name);
    return Created::kMade;
  }
  unsigned& NextTempNumber() override { return install_.next_temp; }

 private:
  FakeInstall& install_;
  std::shared_ptr<FakeFile> file_;
  std::string folder_;
  std::size_t read_ = 0;
};

}  // namespace

std::string FakeInstall::Bytes(const std::string& path) const {
  auto found = files.find(path);
  return found == files.end() ? "(none)" : found->second->bytes;
}

std::string FakeInstall::Resolve(const std::string& path) const {
  if (files.count(path) != 0) return path;
  for (const auto& [name, file] : files) {
    if (Upper(name) == Upper(path)) return name;
  }
  const auto alias = aliases.find(path);
  return alias != aliases.end() ? alias->second : path;
}

SaveDirectory FakeInstall::ReadSaveDirectory(char* path) {
  if (save_directory.empty()) return SaveDirectory::kRegistryFailed;
  if (save_directory.size() + 6 > kPathBufferSize) return SaveDirectory::kTooLong;
  std::memcpy(path, save_directory.c_str(), save_directory.size() + 1);
  return SaveDirectory::kRead;
}

// Every entry in the pattern's folder whose name, or an alias of it, ends as
// the pattern does, without regard to case.
Listed FakeInstall::ListSaves(const char* pattern, std::vector<std::string>* names) {
  if (faults.list) return Listed::kNothing;
  const std::string text = pattern;
  const std::string folder = FolderOf(text);
  const std::string ending = Upper(text.substr(text.rfind('*') + 1));
  const auto matches = [&ending](const std::string& name) {
    return name.size() >= ending.size() && Upper(name.substr(name.size() - ending.size())) == ending;
  };
  for (const auto& [path, file] : files) {
    const std::string name = path.substr(std::min(folder.size(), path.size()));
    const bool by_alias = std::any_of(aliases.begin(), aliases.end(),
                                      [&](const auto& alias) { return alias.second == path && matches(alias.first); });
    if (path.compare(0, folder.size(), folder) == 0 && name.find('\\') == std::string::npos &&
        (matches(name) || by_alias)) {
      names->push_back(name);
    }
  }
  return Listed::kListed;
}

Opened FakeInstall::OpenSave(const char* path, Access access, std::unique_ptr<SaveFile>* save) {
  auto found = files.find(Resolve(path));
  const std::string name = std::string(path).substr(FolderOf(path).size());
  const bool wine_shows_otherwise = std::any_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || std::strchr("*?<>|\"", c) != nullptr;
  });
  if (faults.open || wine_shows_otherwise || found == files.end() || found->second->kind != FakeFile::Kind::kFile ||
      (found->second->read_only && access == Access::kReadWrite)) {
    return Opened::kFailed;
  }
  *save = std::make_unique<FakeSave>(*this, found->second, FolderOf(path));
  return Opened::kOpened;
}

std::string FakeInstall::NameKey(const char* name) { return Upper(name); }

bool FakeInstall::IsDeviceName(const char* name) {
  const std::string text = name;
  return IsDeviceNameUnits(std::u16string(text.begin(), text.end()));
}

std::unique_ptr<Install> FakeWorld::NamedInstall(const Game&, const char* name) {
  auto found = named.find(name);
  return found == named.end() ? nullptr : std::move(found->second);
}
