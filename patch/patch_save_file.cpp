#include "patch/patch_save_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/console.h"

namespace {

// What the decision about the save needs of its copy, kept as the bytes
// pass: how many there were and the last 252 of them.
struct CopiedTail {
  unsigned char ring[kPatchDistanceFromEnd];
  unsigned long long length = 0;
};

// A chunk never holds more than the ring, so it goes in as at most two runs:
// up to the ring's end, then from its start.
static_assert(kCopyChunkSize <= kPatchDistanceFromEnd, "a chunk must fit in the ring");
void Remember(CopiedTail* tail, const unsigned char* bytes, std::size_t count) {
  const std::size_t ring_size = sizeof tail->ring;
  const std::size_t at = static_cast<std::size_t>(tail->length % ring_size);
  const std::size_t first = std::min(count, ring_size - at);
  std::memcpy(tail->ring + at, bytes, first);
  std::memcpy(tail->ring, bytes + first, count - first);
  tail->length += count;
}

// True if the copied save already holds the patch value at its patch byte.
bool HoldsPatch(const CopiedTail& tail) {
  const unsigned long long distance = kPatchDistanceFromEnd;
  return tail.length >= distance && tail.ring[(tail.length - distance) % distance] == kPatchValue;
}

// Copies the whole save stream into `copy`, chunk by chunk, each chunk
// written and flushed. True only if every byte was read and written.
bool CopyStream(std::FILE* save, std::FILE* copy, CopiedTail* tail) {
  unsigned char chunk[kCopyChunkSize];
  std::size_t count;
  while ((count = std::fread(chunk, 1, sizeof chunk, save)) > 0) {
    if (std::fwrite(chunk, 1, count, copy) != count) return false;
    if (std::fflush(copy) != 0) return false;
    Remember(tail, chunk, count);
  }
  return std::ferror(save) == 0;
}

// Creates the new file a backup is written into, beside the backup and
// named after it: "<backup name>.savefix-<process>.tmp" (a number added
// should a killed run have left that name behind). Such a name never
// matches "*.HDR". Null if none can be created.
std::FILE* CreateNewCopy(const Install& install, const char* backup_path, std::string* copy_path) {
  constexpr int kAttempts = 100;
  const std::string stem = std::string(backup_path) + ".savefix-" + std::to_string(CurrentProcessId());
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    *copy_path = stem + (attempt == 0 ? "" : "-" + std::to_string(attempt)) + ".tmp";
    errno = 0;
    std::FILE* copy = OpenStream(install, copy_path->c_str(), kNewFileMode);
    if (copy != nullptr || errno != EEXIST) return copy;
  }
  return nullptr;
}

enum class Backup { kMade, kFailed, kAlreadyFixed };

// Copies the save into a new file, puts it on the disk, and moves it over
// the backup. The new file is removed on every other outcome.
Backup MakeBackup(const Install& install, std::FILE* save, const char* backup_path) {
  // Windows and Wine refuse to replace a file that is open.
  if (IsSameFile(install, save, backup_path)) return Backup::kFailed;
  std::string copy_path;
  std::FILE* copy = CreateNewCopy(install, backup_path, &copy_path);
  if (copy == nullptr) return Backup::kFailed;
  CopiedTail tail;
  bool copied = CopyStream(save, copy, &tail);
  const bool fixed = copied && HoldsPatch(tail);
  // Only a copy that is to replace the backup needs to be on the disk.
  if (copied && !fixed) copied = SyncStream(copy);
  // Whether the close fails matters: it may write the last buffered bytes.
  copied = std::fclose(copy) == 0 && copied;
  Backup result = Backup::kFailed;
  if (copied && fixed) {
    result = Backup::kAlreadyFixed;
  } else if (copied && CanReplace(install, backup_path) &&
             MoveFileOver(install, copy_path.c_str(), backup_path)) {
    return Backup::kMade;
  }
  RemoveFile(install, copy_path.c_str());
  return result;
}

enum class PatchResult { kPatched, kTooShort, kNoEnd, kWriteFailed };

// Writes the patch byte 252 bytes before the end of the save stream.
PatchResult WritePatchByte(std::FILE* save) {
  if (std::fseek(save, 0, SEEK_END) != 0) return PatchResult::kNoEnd;
  long length = std::ftell(save);
  if (length < 0) return PatchResult::kNoEnd;
  // The seek fails for a target before the start of the file.
  if (std::fseek(save, length - kPatchDistanceFromEnd, SEEK_SET) != 0) {
    return PatchResult::kTooShort;
  }
  if (std::fputc(kPatchValue, save) == EOF) return PatchResult::kWriteFailed;
  if (std::fflush(save) != 0) return PatchResult::kWriteFailed;
  return PatchResult::kPatched;
}

void PatchAfterBackup(std::FILE* save, const char* save_path) {
  switch (WritePatchByte(save)) {
    case PatchResult::kNoEnd:
      PrintMessage(kParseErrorMessage);
      break;
    case PatchResult::kWriteFailed:
      PrintMessage(kFailedToPatchMessage, save_path);
      break;
    case PatchResult::kPatched:
    case PatchResult::kTooShort:
      PrintMessage(kFileProcessedMessage);
      break;
  }
}

// Backs up and patches the open save; `path` holds the backup path, or the
// save path when `named` is false.
void BackUpAndPatch(const Install& install, std::FILE* save, bool named, const char* save_path,
                    const char* path) {
  switch (save != nullptr && named ? MakeBackup(install, save, path) : Backup::kFailed) {
    case Backup::kMade:
      PrintMessage(kBackupMadeMessage, path);
      PatchAfterBackup(save, save_path);
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

void PatchSaveFile(const Install& install, char* path, std::size_t save_dir_length) {
  // The buffer is about to become the backup path; keep the save path for
  // the messages that name the save.
  char save_path[kPathBufferSize];
  std::memcpy(save_path, path, std::strlen(path) + 1);

  std::FILE* save = OpenStream(install, path, kSaveStreamMode);
  const bool too_long = save == nullptr && IsTooLongForSystem(path);
  if (too_long) {
    PrintMessage(kFileNameTooLongMessage, path + save_dir_length);
  } else {
    PrintMessage(save != nullptr ? kProcessingFileMessage : kFailedToOpenMessage, path);
  }
  const bool named = FormBackupPath(path, save_dir_length);
  if (!too_long) BackUpAndPatch(install, save, named, save_path, path);
  PrintMessage(kEntryEndMessage);

  if (save != nullptr) std::fclose(save);
}
