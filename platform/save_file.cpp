// What every world does alike with a save's backup: which entry a backup may
// replace, and how the new file that becomes it is named.
#include <algorithm>
#include <string>

#include "platform/install.h"

namespace {

// Past this many names taken in one folder, something else is wrong there.
constexpr unsigned kTempNameTries = 1u << 20;

}  // namespace

std::string TempFileName(unsigned number) { return "savefix-" + std::to_string(number) + ".tmp"; }

Kept NewBackup::Keep(SaveFile& save, const std::function<bool()>& another_save_is_fixed) {
  BackupTarget target;
  if (!Sync() || !Close() || !LookAtTarget(&target)) return Kept::kFailed;
  if (target.exists) {
    FileId save_id;
    if (!target.regular_file) return Kept::kNotAFile;
    if (target.alias) return Kept::kAlias;
    if (target.read_only) return Kept::kReadOnly;
    if (!save.Identify(&save_id)) return Kept::kFailed;
    if (target.id == save_id) return Kept::kIsTheSave;
    if (another_save_is_fixed()) return Kept::kAnotherSavesOriginal;
  }
  return MoveIntoPlace() ? Kept::kKept : Kept::kFailed;
}

std::unique_ptr<NewBackup> SaveFile::CreateBackup(const char* backup_name, Created* why) {
  unsigned& number = NextTempNumber();
  std::unique_ptr<NewBackup> backup;
  *why = Created::kNameTaken;
  for (unsigned tries = 0; tries < kTempNameTries && *why == Created::kNameTaken; ++tries) {
    *why = CreateNew(TempFileName(number), backup_name, &backup);
    if (*why == Created::kNameTaken) ++number;
  }
  return backup;
}

bool NamedSaves::Hold(const std::string& name) const {
  return names_.empty() || std::find(names_.begin(), names_.end(), name) != names_.end();
}

void NamedSaves::Take(const NamedSaves& other) {
  if (names_.empty() || other.names_.empty()) {
    names_.clear();
  } else {
    names_.insert(names_.end(), other.names_.begin(), other.names_.end());
  }
}
