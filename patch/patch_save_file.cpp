#include "patch/patch_save_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "platform/console.h"

namespace {

// True if the file of `length` bytes holds the patch value at its patch
// byte, which `read_byte` reads.
template <typename ReadByte>
bool HoldsPatch(long long length, ReadByte read_byte) {
  unsigned char byte = 0;
  return PatchOffset(length) >= 0 && read_byte(PatchOffset(length), &byte) && byte == kPatchValue;
}

bool IsFixed(SaveFile& save) {
  return HoldsPatch(save.Length(), [&save](long long offset, unsigned char* byte) { return save.ReadByte(offset, byte); });
}

// The copy so far: its length, and its last bytes, from where its patch
// byte would be on: all that the decision about the save needs of it.
struct Copied {
  long long length = 0;
  std::string tail;

  void Add(const unsigned char* bytes, std::size_t count) {
    length += static_cast<long long>(count);
    tail.append(reinterpret_cast<const char*>(bytes), count);
    const std::size_t keep = static_cast<std::size_t>(kPatchDistanceFromEnd);
    if (tail.size() > keep) tail.erase(0, tail.size() - keep);
  }
  bool Fixed() const {
    const long long tail_start = length - static_cast<long long>(tail.size());
    return HoldsPatch(length, [this, tail_start](long long offset, unsigned char* byte) {
      *byte = static_cast<unsigned char>(tail[static_cast<std::size_t>(offset - tail_start)]);
      return true;
    });
  }
};

// Copies the whole save into `copy`, chunk by chunk, each written through
// to the system. The save is read in blocks of many chunks, which spares a
// system call a chunk. True only if every byte was read and written.
bool CopySave(SaveFile& save, NewBackup& copy, Copied* copied) {
  unsigned char block[kCopyChunkSize * 80];
  long count;
  while ((count = save.Read(block, sizeof block)) > 0) {
    for (std::size_t at = 0; at < static_cast<std::size_t>(count); at += kCopyChunkSize) {
      const std::size_t size = std::min(kCopyChunkSize, static_cast<std::size_t>(count) - at);
      if (!copy.Write(block + at, size)) return false;
      copied->Add(block + at, size);
    }
  }
  return count == 0;
}

// True if one of `others`, in the save's folder, is fixed.
bool AnotherIsFixed(Install& install, const char* save_path, std::size_t save_dir_length,
                    const std::vector<std::string>& others) {
  std::string path(save_path, save_dir_length);
  for (const std::string& name : others) {
    std::unique_ptr<SaveFile> other;
    path.replace(save_dir_length, std::string::npos, name);
    if (install.OpenSave(path.c_str(), Access::kRead, &other) == Opened::kOpened && IsFixed(*other)) return true;
  }
  return false;
}

enum class Backup { kMade, kFailed, kAlreadyFixed, kAlreadyMade };

// Copies the save into a new file and keeps it as the backup. A copy that
// turns out to hold the patch byte (another run fixed the save meanwhile)
// is discarded, as is every copy not kept.
Backup MakeBackup(Install& install, SaveFile& save, const char* save_path, const char* backup_path,
                  std::size_t save_dir_length, const std::vector<std::string>& sharing_backup) {
  Created why = Created::kFailed;
  std::unique_ptr<NewBackup> copy = save.CreateNewFile(backup_path + save_dir_length, &why);
  if (!copy) {
    PrintMessage(kFailedBackupMessage, backup_path);
    PrintMessage(why == Created::kNotAllowed ? kNotAllowedMessage
                 : why == Created::kDiskFull ? kDiskFullMessage
                                             : kNotCreatedMessage);
    return Backup::kFailed;
  }
  Copied copied;
  if (!CopySave(save, *copy, &copied)) {
    PrintMessage(kFailedBackupMessage, backup_path);
    return Backup::kFailed;
  }
  if (copied.Fixed()) return Backup::kAlreadyFixed;
  const auto another_is_fixed = [&] { return AnotherIsFixed(install, save_path, save_dir_length, sharing_backup); };
  switch (copy->Keep(save, another_is_fixed)) {
    case Kept::kKept: return Backup::kMade;
    case Kept::kAnotherSavesOriginal: return Backup::kAlreadyMade;
    default: PrintMessage(kFailedBackupMessage, backup_path); return Backup::kFailed;
  }
}

Outcome WritePatchByte(SaveFile& save, const char* save_path) {
  const long long length = save.Length();
  if (length < 0) {
    PrintMessage(kParseErrorMessage);
  } else if (PatchOffset(length) >= 0 && !save.WriteByte(PatchOffset(length), kPatchValue)) {
    PrintMessage(kFailedToPatchMessage, save_path);
  } else {
    PrintMessage(kFileProcessedMessage);
    return Outcome::kFixed;
  }
  return Outcome::kNotFixed;
}

}  // namespace

long long PatchOffset(long long length) { return length >= kPatchDistanceFromEnd ? length - kPatchDistanceFromEnd : -1; }

bool FormBackupPath(char* path, std::size_t save_dir_length) {
  char* extension = std::strstr(path + save_dir_length, kSaveExtension);
  if (extension == nullptr) return false;
  std::memcpy(extension, kBackupExtension, sizeof kBackupExtension - 1);
  extension[sizeof kBackupExtension - 1] = '\0';
  return true;
}

Outcome PatchSaveFile(Install& install, char* path, std::size_t save_dir_length,
                      const std::vector<std::string>& sharing_backup) {
  // The buffer is about to become the backup path; keep the save path for
  // the messages that name the save.
  char save_path[kPathBufferSize];
  std::memcpy(save_path, path, std::strlen(path) + 1);

  std::unique_ptr<SaveFile> save;
  const Opened opened = install.OpenSave(path, Access::kReadWrite, &save);
  if (opened == Opened::kTooLong) {
    PrintMessage(kFileNameTooLongMessage, path + save_dir_length);
    PrintMessage(kEntryEndMessage);
    return Outcome::kNotFixed;
  }
  PrintMessage(opened == Opened::kOpened ? kProcessingFileMessage : kFailedToOpenMessage, path);
  const bool named = FormBackupPath(path, save_dir_length);
  Outcome outcome = Outcome::kNotFixed;
  if (save == nullptr || !named) {
    PrintMessage(kFailedBackupMessage, path);
  } else if (IsFixed(*save)) {
    PrintMessage(kAlreadyFixedMessage, save_path);
    outcome = Outcome::kAlreadyFixed;
  } else {
    switch (MakeBackup(install, *save, save_path, path, save_dir_length, sharing_backup)) {
      case Backup::kMade:
        PrintMessage(kBackupMadeMessage, path);
        outcome = WritePatchByte(*save, save_path);
        break;
      case Backup::kAlreadyFixed:
        PrintMessage(kAlreadyFixedMessage, save_path);
        outcome = Outcome::kAlreadyFixed;
        break;
      case Backup::kAlreadyMade: PrintMessage(kBackupAlreadyMadeMessage, path); break;
      case Backup::kFailed: break;
    }
  }
  PrintMessage(kEntryEndMessage);
  return outcome;
}
