#include "patch/patch_save_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "platform/console.h"

namespace {

// The copy's last bytes, from its patch byte on: all that the decision
// about the save needs of it.
constexpr std::size_t kTailSize = kPatchDistanceFromEnd;

void KeepTail(std::string* tail, const unsigned char* bytes, std::size_t count) {
  tail->append(reinterpret_cast<const char*>(bytes), count);
  if (tail->size() > kTailSize) tail->erase(0, tail->size() - kTailSize);
}

// True if the copied save holds the patch value at its patch byte.
bool HoldsPatch(const std::string& tail) {
  return tail.size() == kTailSize && static_cast<unsigned char>(tail[0]) == kPatchValue;
}

// True if the save holds the patch value at its patch byte already.
bool IsFixed(SaveFile& save) {
  const long long length = save.Length();
  unsigned char byte = 0;
  return length >= kPatchDistanceFromEnd && save.ReadByte(length - kPatchDistanceFromEnd, &byte) &&
         byte == kPatchValue;
}

// Copies the whole save into `copy`, chunk by chunk, each written through
// to the system. The save is read in blocks of many chunks, which spares a
// system call a chunk. True only if every byte was read and written.
bool CopySave(SaveFile& save, NewBackup& copy, std::string* tail) {
  unsigned char block[kCopyChunkSize * 80];
  long count;
  while ((count = save.Read(block, sizeof block)) > 0) {
    for (std::size_t at = 0; at < static_cast<std::size_t>(count); at += kCopyChunkSize) {
      const std::size_t size = std::min(kCopyChunkSize, static_cast<std::size_t>(count) - at);
      if (!copy.Write(block + at, size)) return false;
      KeepTail(tail, block + at, size);
    }
  }
  return count == 0;
}

// Whether the entry at the backup's name may be replaced: nothing there, or
// a writable file that is neither the save nor reached through an alias.
bool MayReplace(const BackupTarget& target, SaveFile& save) {
  if (!target.exists) return true;
  FileId save_id;
  return target.regular_file && !target.read_only && !target.alias && save.Identify(&save_id) &&
         !(target.id == save_id);
}

// Puts the whole copy on the disk and in the backup's place, each step
// checked, before the save may be touched.
bool Keep(NewBackup& copy, SaveFile& save) {
  if (!copy.Sync() || !copy.Close()) return false;
  BackupTarget target;
  return copy.LookAtTarget(&target) && MayReplace(target, save) && copy.MoveIntoPlace();
}

enum class Backup { kMade, kFailed, kAlreadyFixed };

// Copies the save into a new file and keeps it as the backup. A copy that
// turns out to hold the patch byte (another run fixed the save meanwhile)
// is discarded, as is every copy not kept.
Backup MakeBackup(Install& install, SaveFile& save, const char* backup_path) {
  std::unique_ptr<NewBackup> copy = install.CreateBackup(backup_path);
  if (!copy) return Backup::kFailed;
  std::string tail;
  if (!CopySave(save, *copy, &tail)) return Backup::kFailed;
  if (HoldsPatch(tail)) return Backup::kAlreadyFixed;
  return Keep(*copy, save) ? Backup::kMade : Backup::kFailed;
}

void WritePatchByte(SaveFile& save, const char* save_path) {
  const long long length = save.Length();
  if (length < 0) {
    PrintMessage(kParseErrorMessage);
  } else if (length >= kPatchDistanceFromEnd && !save.WriteByte(length - kPatchDistanceFromEnd, kPatchValue)) {
    PrintMessage(kFailedToPatchMessage, save_path);
  } else {
    PrintMessage(kFileProcessedMessage);
  }
}

// Backs up and patches the save; `path` holds the backup path, or the save
// path when `named` is false.
void BackUpAndPatch(Install& install, SaveFile* save, bool named, const char* save_path, const char* path) {
  if (save == nullptr || !named) {
    PrintMessage(kFailedBackupMessage, path);
    return;
  }
  switch (IsFixed(*save) ? Backup::kAlreadyFixed : MakeBackup(install, *save, path)) {
    case Backup::kMade:
      PrintMessage(kBackupMadeMessage, path);
      WritePatchByte(*save, save_path);
      break;
    case Backup::kAlreadyFixed:
      PrintMessage(kAlreadyFixedMessage, save_path);
      break;
    case Backup::kFailed:
      PrintMessage(kFailedBackupMessage, path);
      break;
  }
}

}  // namespace

bool FormBackupPath(char* path, std::size_t save_dir_length) {
  char* extension = std::strstr(path + save_dir_length, kSaveExtension);
  if (extension == nullptr) return false;
  std::memcpy(extension, kBackupExtension, sizeof kBackupExtension - 1);
  extension[sizeof kBackupExtension - 1] = '\0';
  return true;
}

void PatchSaveFile(Install& install, char* path, std::size_t save_dir_length) {
  // The buffer is about to become the backup path; keep the save path for
  // the messages that name the save.
  char save_path[kPathBufferSize];
  std::memcpy(save_path, path, std::strlen(path) + 1);

  std::unique_ptr<SaveFile> save;
  const Opened opened = install.OpenSave(path, &save);
  if (opened == Opened::kTooLong) {
    PrintMessage(kFileNameTooLongMessage, path + save_dir_length);
  } else {
    PrintMessage(opened == Opened::kOpened ? kProcessingFileMessage : kFailedToOpenMessage, path);
  }
  const bool named = FormBackupPath(path, save_dir_length);
  if (opened != Opened::kTooLong) BackUpAndPatch(install, save.get(), named, save_path, path);
  PrintMessage(kEntryEndMessage);
}
