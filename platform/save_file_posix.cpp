#include "platform/save_file_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "wine/names.h"
#include "wine/read_file.h"

namespace {

// Wine takes a file with no write permission at all as read-only.
bool IsReadOnly(const struct stat& info) { return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

FileId IdOf(const struct stat& info) {
  return FileId{static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino)};
}

// Every call names the new file, the entry looked at and the entry replaced
// relative to the one folder, so that all three are in it.
class PosixBackup : public NewBackup {
 public:
  PosixBackup(OpenFolder& folder, std::string name, std::string backup_name, int descriptor)
      : folder_(folder), name_(std::move(name)), backup_name_(std::move(backup_name)), descriptor_(descriptor) {}
  ~PosixBackup() override {
    if (descriptor_ >= 0) close(descriptor_);
    if (!moved_) unlinkat(folder_.descriptor, name_.c_str(), 0);
  }

  bool Write(const unsigned char* bytes, std::size_t size) override {
    while (size > 0) {
      const ssize_t written = write(descriptor_, bytes, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      bytes += written;
      size -= static_cast<std::size_t>(written);
    }
    return true;
  }

 protected:
  bool Sync() override { return fsync(descriptor_) == 0; }

  bool Close() override {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    return close(descriptor) == 0;
  }

  // The backup's name means the entry Wine finds by it; one found by a
  // name of another key is reached through its alias.
  bool LookAtTarget(BackupTarget* target) override {
    *target = BackupTarget();
    target_ = backup_name_;
    if (folder_.index != nullptr &&
        FindEntry(folder_.path, backup_name_, &target_, folder_.index) == Lookup::kFailed) {
      return false;
    }
    struct stat info;
    if (fstatat(folder_.descriptor, target_.c_str(), &info, 0) != 0) return errno == ENOENT;
    target->exists = true;
    target->regular_file = S_ISREG(info.st_mode);
    target->read_only = IsReadOnly(info);
    target->alias = NameKey(target_) != NameKey(backup_name_);
    target->id = IdOf(info);
    return true;
  }

  // The move is durable once the folder that holds it is on the disk.
  bool MoveIntoPlace() override {
    moved_ = renameat(folder_.descriptor, name_.c_str(), folder_.descriptor, target_.c_str()) == 0;
    if (moved_ && folder_.index != nullptr) AddToIndex(folder_.path, target_, folder_.index);
    return moved_ && fsync(folder_.descriptor) == 0;
  }

 private:
  OpenFolder& folder_;
  std::string name_;
  std::string backup_name_;
  int descriptor_;
  std::string target_;  // the entry LookAtTarget found
  bool moved_ = false;
};

class PosixSaveFile : public SaveFile {
 public:
  PosixSaveFile(OpenFolder& folder, int descriptor) : folder_(folder), descriptor_(descriptor) {}
  ~PosixSaveFile() override { close(descriptor_); }

  long Read(unsigned char* into, std::size_t size) override { return ReadSome(descriptor_, into, size); }

  long long Length() override {
    struct stat info;
    return fstat(descriptor_, &info) == 0 ? static_cast<long long>(info.st_size) : -1;
  }

  bool ReadByte(long long offset, unsigned char* byte) override {
    return pread(descriptor_, byte, 1, static_cast<off_t>(offset)) == 1;
  }

  bool WriteByte(long long offset, unsigned char byte) override {
    return pwrite(descriptor_, &byte, 1, static_cast<off_t>(offset)) == 1;
  }

  bool Identify(FileId* id) override {
    struct stat info;
    if (fstat(descriptor_, &info) != 0) return false;
    *id = IdOf(info);
    return true;
  }

 protected:
  Created CreateNew(const std::string& temp_name, const char* name, std::unique_ptr<NewBackup>* file) override {
    const int descriptor = openat(folder_.descriptor, temp_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor >= 0) {
      *file = std::make_unique<PosixBackup>(folder_, temp_name, name, descriptor);
      return Created::kMade;
    }
    switch (errno) {
      case EEXIST: return Created::kNameTaken;
      case EACCES: case EPERM: case EROFS: return Created::kNotAllowed;
      case ENOSPC: case EDQUOT: return Created::kDiskFull;
      default: return Created::kFailed;
    }
  }

  unsigned& NextTempNumber() override { return folder_.next_temp; }

 private:
  OpenFolder& folder_;
  int descriptor_;
};

}  // namespace

// On a read-only disk a save opens for reading: whether it is fixed can still be told.
std::unique_ptr<SaveFile> OpenSaveIn(OpenFolder& folder, const std::string& name, Access access) {
  const int flags = access == Access::kRead ? O_RDONLY : O_RDWR;
  int descriptor = folder.descriptor >= 0 ? OpenRegularFileAt(folder.descriptor, name.c_str(), flags) : -1;
  if (descriptor < 0 && errno == EROFS) descriptor = OpenRegularFileAt(folder.descriptor, name.c_str(), O_RDONLY);
  struct stat info;
  if (descriptor >= 0 && fstat(descriptor, &info) == 0 && (access == Access::kRead || !IsReadOnly(info))) {
    return std::make_unique<PosixSaveFile>(folder, descriptor);
  }
  if (descriptor >= 0) close(descriptor);
  return nullptr;
}
