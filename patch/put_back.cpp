#include "patch/put_back.h"

#include <cstring>
#include <memory>

#include "platform/console.h"

namespace {

// How a save stands to its backup.
enum class Match { kOriginal, kFixedFromIt, kChanged, kNotItsBackup, kUnreadable };

// Compares the save with its backup, block by block from their starts,
// writing the backup's bytes into `copy` as they go if it is not null.
Match Compare(SaveFile& save, SaveFile& backup, NewBackup* copy) {
  const long long length = save.Length();
  if (length < 0 || backup.Length() < 0) return Match::kUnreadable;
  if (length != backup.Length()) return Match::kNotItsBackup;
  const long long patch = PatchOffset(length);
  Match match = Match::kOriginal;
  unsigned char ours[kCopyChunkSize * 80];
  unsigned char theirs[sizeof ours];
  for (long long at = 0; at < length;) {
    const long got = save.Read(ours, sizeof ours);
    if (got <= 0 || backup.Read(theirs, static_cast<std::size_t>(got)) != got) return Match::kUnreadable;
    for (long i = 0; i < got; ++i) {
      if (ours[i] == theirs[i]) continue;
      if (at + i != patch || ours[i] != kPatchValue) return Match::kChanged;
      match = Match::kFixedFromIt;
    }
    if (copy != nullptr && !copy->Write(theirs, static_cast<std::size_t>(got))) return Match::kUnreadable;
    at += got;
  }
  return match;
}

// Opens the save and its backup afresh, each read from its start.
bool OpenBoth(Install& install, const char* save_path, const char* backup_path, std::unique_ptr<SaveFile>* save,
              std::unique_ptr<SaveFile>* backup) {
  return install.OpenSave(save_path, Access::kRead, save) == Opened::kOpened &&
         install.OpenSave(backup_path, Access::kRead, backup) == Opened::kOpened;
}

// Copies the backup into a new file while it compares the two again, and
// puts the copy in the save's place if they still match as they did.
bool PutBack(Install& install, const char* save_path, const char* backup_path, std::size_t save_dir_length) {
  std::unique_ptr<SaveFile> save;
  std::unique_ptr<SaveFile> backup;
  Created why = Created::kFailed;
  if (!OpenBoth(install, save_path, backup_path, &save, &backup)) return false;
  FileId id;
  std::unique_ptr<NewBackup> copy = save->CreateNewFile(save_path + save_dir_length, &why);
  if (!copy || !save->Identify(&id) || Compare(*save, *backup, copy.get()) != Match::kFixedFromIt) return false;
  save.reset();
  backup.reset();
  return copy->PutBack(id) == Kept::kKept;
}

}  // namespace

Outcome PutBackSaveFile(Install& install, char* path, std::size_t save_dir_length) {
  char save_path[kPathBufferSize];
  std::memcpy(save_path, path, std::strlen(path) + 1);
  std::unique_ptr<SaveFile> save;
  std::unique_ptr<SaveFile> backup;
  const bool opened = install.OpenSave(path, Access::kRead, &save) == Opened::kOpened;
  PrintMessage(opened ? kProcessingFileMessage : kFailedToOpenMessage, path);
  const bool named = FormBackupPath(path, save_dir_length);
  Outcome outcome = Outcome::kNotFixed;
  if (!opened) {
    PrintMessage(kFailedToPutBackMessage, path);
  } else if (!named || install.OpenSave(path, Access::kRead, &backup) != Opened::kOpened) {
    PrintMessage(kNoBackupMessage, path);
  } else {
    switch (Compare(*save, *backup, nullptr)) {
      case Match::kOriginal:
        PrintMessage(kAlreadyOriginalMessage, save_path);
        outcome = Outcome::kAlreadyFixed;
        break;
      case Match::kChanged: PrintMessage(kChangedSinceFixedMessage, save_path); break;
      case Match::kNotItsBackup: PrintMessage(kNotThisSavesBackupMessage, path); break;
      case Match::kUnreadable: PrintMessage(kFailedToPutBackMessage, path); break;
      case Match::kFixedFromIt:
        save.reset();
        backup.reset();
        outcome = PutBack(install, save_path, path, save_dir_length) ? Outcome::kFixed : Outcome::kNotFixed;
        PrintMessage(outcome == Outcome::kFixed ? kPutBackMessage : kFailedToPutBackMessage, path);
        break;
    }
  }
  PrintMessage(kEntryEndMessage);
  return outcome;
}
