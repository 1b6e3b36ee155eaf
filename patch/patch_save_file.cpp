#include "patch/patch_save_file.h"

#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/platform.h"

namespace {

// Copies the whole save stream into the backup stream, chunk by chunk, each
// chunk written and flushed. True only if every byte was read and written.
bool CopyStream(std::FILE* save, std::FILE* backup) {
  unsigned char chunk[kCopyChunkSize];
  std::size_t count;
  while ((count = std::fread(chunk, 1, sizeof chunk, save)) > 0) {
    if (std::fwrite(chunk, 1, count, backup) != count) return false;
    if (std::fflush(backup) != 0) return false;
  }
  return std::ferror(save) == 0;
}

// Makes the backup and closes its stream. True only for a whole copy; a
// partial backup is deleted so it cannot be mistaken for a good one.
bool MakeBackup(const Install& install, std::FILE* save, std::FILE* backup, const char* backup_path) {
  bool copied = CopyStream(save, backup);
  bool closed = std::fclose(backup) == 0;
  if (copied && closed) return true;
  RemoveFile(install, backup_path);
  return false;
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
  PrintMessage(save != nullptr ? kProcessingFileMessage : kFailedToOpenMessage, path);

  bool named = FormBackupPath(path, save_dir_length);
  // Opening a link to the save for writing would empty the save itself.
  std::FILE* backup = nullptr;
  if (save != nullptr && named && !IsSameFile(install, save, path)) {
    backup = OpenStream(install, path, kBackupStreamMode);
  }

  if (backup == nullptr || !MakeBackup(install, save, backup, path)) {
    PrintMessage(kFailedBackupMessage, path);
  } else {
    PrintMessage(kBackupMadeMessage, path);
    PatchAfterBackup(save, save_path);
  }
  PrintMessage(kEntryEndMessage);

  if (save != nullptr) std::fclose(save);
}
