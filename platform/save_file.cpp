// What every world does alike with a save's backup: which entry a backup may
// replace, and how the new file that becomes it is named.
#include <string>

#include "platform/install.h"

namespace {

// Past this many names taken in one folder, something else is wrong there.
constexpr unsigned kTempNameTries = 1u << 20;

}  // namespace

std::string TempFileName(unsigned number) { return "savefix-" + std::to_string(number) + ".tmp"; }

Kept NewBackup::Keep(SaveFile& save, const std::function<bool()>& another_save_is_fixed) {
  FileId save_id;
  return Finish(save.Identify(&save_id) ? &save_id : nullptr, false, another_save_is_fixed);
}

Kept NewBackup::PutBack(const FileId& save_id) {
  return Finish(&save_id, true, [] { return false; });
}

// `save_id` is null where the save could not be identified.
Kept NewBackup::Finish(const FileId* save_id, bool replaces_save,
                       const std::function<bool()>& another_save_is_fixed) {
  BackupTarget target;
  if (!Sync() || !Close() || !LookAtTarget(&target) || save_id == nullptr) return Kept::kFailed;
  if (target.exists) {
    if (!target.regular_file) return Kept::kNotAFile;
    if (target.alias) return Kept::kAlias;
    if (target.read_only) return Kept::kReadOnly;
    if (!replaces_save && target.id == *save_id) return Kept::kIsTheSave;
    if (!replaces_save && another_save_is_fixed()) return Kept::kAnotherSavesOriginal;
  }
  // What replaces a save replaces that very save, not what took its name meanwhile.
  if (replaces_save && !(target.exists && target.id == *save_id)) return Kept::kFailed;
  return MoveIntoPlace() ? Kept::kKept : Kept::kFailed;
}

std::unique_ptr<NewBackup> SaveFile::CreateNewFile(const char* name, Created* why) {
  unsigned& number = NextTempNumber();
  std::unique_ptr<NewBackup> file;
  *why = Created::kNameTaken;
  for (unsigned tries = 0; tries < kTempNameTries && *why == Created::kNameTaken; ++tries) {
    *why = CreateNew(TempFileName(number), name, &file);
    if (*why == Created::kNameTaken) ++number;
  }
  return file;
}
