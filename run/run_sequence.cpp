#include "run/run_sequence.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "patch/patch_save_file.h"
#include "platform/console.h"
#include "platform/install.h"

namespace {

// Turns the install path in `path` into the save directory path, by
// appending `below` (the save folder's name in the install, or nothing), and
// writes the search pattern into `pattern`. False, with nothing appended, if
// the pattern would not fit in its buffer.
bool FormSaveDirectory(char* path, const char* below, char* pattern) {
  const std::size_t pattern_size = std::strlen(path) + std::strlen(below) + (sizeof kSaveFilePattern - 1) + 1;
  if (pattern_size > kPathBufferSize) return false;
  std::strcat(path, below);
  std::strcpy(pattern, path);
  std::strcat(pattern, kSaveFilePattern);
  return true;
}

// A name that holds a separator would lead out of the save directory.
bool HoldsSeparator(const char* name) { return std::strpbrk(name, "\\/") != nullptr; }

// Backup names this run has handed out in the save directory, by the key
// under which the file system takes names for the same, so that no entry's
// backup replaces another's made moments before.
using BackupNames = std::unordered_set<std::string>;

// The message naming why an entry is skipped, then the entry's empty line.
void SkipEntry(const char* message, const char* text) {
  PrintMessage(message, text);
  PrintMessage(kEntryEndMessage);
}

// Puts `name` behind the save directory and patches that entry, unless the
// composed path would not fit in the path buffer, the name would lead out of
// the save directory, its backup name was used already, or it names a
// device. A skipped entry still claims its backup name, so that the backup
// of "X.HDR" is never made from "X.HDR.HDR".
void PatchEntry(Install& install, char* path, std::size_t save_dir_length, const char* name,
                BackupNames& used) {
  std::size_t name_size = std::strlen(name) + 1;
  if (save_dir_length + name_size > kPathBufferSize) {
    SkipEntry(kFileNameTooLongMessage, name);
    return;
  }
  if (HoldsSeparator(name)) {
    SkipEntry(kInvalidFileNameMessage, name);
    return;
  }
  std::memcpy(path + save_dir_length, name, name_size);

  char backup_path[kPathBufferSize];
  std::memcpy(backup_path, path, save_dir_length + name_size);
  if (FormBackupPath(backup_path, save_dir_length) &&
      !used.insert(FileNameKey(backup_path + save_dir_length)).second) {
    SkipEntry(kBackupAlreadyMadeMessage, backup_path);
    return;
  }
  if (IsDeviceName(name)) {
    SkipEntry(kInvalidFileNameMessage, name);
    return;
  }
  PatchSaveFile(install, path, save_dir_length);
}

void PatchAllSaves(Install& install, char* path, std::size_t save_dir_length, const char* pattern) {
  std::vector<std::string> names;
  const Listed listed = install.ListSaves(pattern, &names);
  if (listed != Listed::kListed || names.empty()) {
    PrintMessage(listed == Listed::kTooLong ? kSaveDirectoryTooLongMessage : kNoSaveGameMessage);
    return;
  }
  BackupNames used;
  for (const std::string& name : names) PatchEntry(install, path, save_dir_length, name.c_str(), used);
}

// Everything between obtaining the buffers and the closing prompt.
void PatchInstalledGame(Install& install, char* path, char* pattern) {
  const bool named = install.IsSaveFolder();
  switch (install.ReadInstallPath(path)) {
    case InstallPath::kRead:
      break;
    case InstallPath::kNotInRegistry:
      PrintMessage(named ? kSaveDirectoryTooLongMessage : kRegistryFailedMessage);
      if (!named) PrintMessage("%s", RegistryFailedHint());
      return;
    case InstallPath::kNotUsable:
      return;
  }
  if (!FormSaveDirectory(path, named ? "" : kSaveDirectoryName, pattern)) {
    PrintMessage(kSaveDirectoryTooLongMessage);
    return;
  }
  std::size_t save_dir_length = std::strlen(path);
  PrintMessage(kSaveDirectoryMessage, path);
  const std::string folder = install.DescribeFolder(path);
  if (!folder.empty()) PrintMessage("%s", folder.c_str());
  PatchAllSaves(install, path, save_dir_length, pattern);
}

// Patches the game in every install the platform finds, each named by its
// label, if it has one, before its messages.
void PatchInstalledGames(const InstallFinder& find_installs, char* path, char* pattern) {
  for (const std::unique_ptr<Install>& install : find_installs(kGameKey, kInstallPathValue)) {
    const std::string label = install->Label();
    if (!label.empty()) PrintMessage("%s", label.c_str());
    PatchInstalledGame(*install, path, pattern);
  }
}

// Shows the prompt, then reads and discards one line of input (or up to the
// end of input).
void WaitForEnter() {
  PrintMessage(kClosePrompt);
  std::fflush(stdout);
  int c;
  do {
    c = std::getchar();
  } while (c != EOF && c != '\n');
}

}  // namespace

int RunSavefix(const BufferSource& buffers, const InstallFinder& find_installs) {
  char* path = static_cast<char*>(buffers.obtain(kPathBufferSize));
  char* pattern = path != nullptr ? static_cast<char*>(buffers.obtain(kPathBufferSize)) : nullptr;
  if (path == nullptr || pattern == nullptr) {
    PrintMessage(kInsufficientMemoryMessage);
    if (path != nullptr) buffers.release(path);
    return kExitNoMemory;
  }

  PatchInstalledGames(find_installs, path, pattern);
  WaitForEnter();

  buffers.release(pattern);
  buffers.release(path);
  return kExitOk;
}
