#include "run/run_sequence.h"

#include <cstdio>
#include <cstring>

#include "patch/patch_save_file.h"
#include "platform/console.h"
#include "platform/platform.h"

namespace {

// Turns the install path in `path` into the save directory path and writes
// the search pattern into `pattern`. False, with nothing appended, if the
// pattern would not fit in its buffer.
bool FormSaveDirectory(char* path, char* pattern) {
  std::size_t install_length = std::strlen(path);
  std::size_t pattern_size = install_length + (sizeof kSaveDirectoryName - 1) +
                             (sizeof kSaveFilePattern - 1) + 1;
  if (pattern_size > kPathBufferSize) return false;
  std::strcat(path, kSaveDirectoryName);
  std::strcpy(pattern, path);
  std::strcat(pattern, kSaveFilePattern);
  return true;
}

// Puts `name` behind the save directory and patches that entry, unless the
// composed path would not fit in the path buffer.
void PatchEntry(char* path, std::size_t save_dir_length, const char* name) {
  std::size_t name_size = std::strlen(name) + 1;
  if (save_dir_length + name_size > kPathBufferSize) {
    PrintMessage(kFileNameTooLongMessage, name);
    PrintMessage(kEntryEndMessage);
    return;
  }
  std::memcpy(path + save_dir_length, name, name_size);
  PatchSaveFile(path, save_dir_length);
}

void PatchAllSaves(char* path, std::size_t save_dir_length, const char* pattern) {
  char name[kEntryNameSize];
  DirectorySearch* search = FindFirstEntry(pattern, name);
  if (search == nullptr) {
    PrintMessage(kNoSaveGameMessage);
    return;
  }
  do {
    PatchEntry(path, save_dir_length, name);
  } while (FindNextEntry(search, name));
  CloseSearch(search);
}

// Everything between obtaining the buffers and the closing prompt.
void PatchInstalledGame(char* path, char* pattern) {
  if (!ReadInstallPath(path)) {
    PrintMessage(kRegistryFailedMessage);
    return;
  }
  if (!FormSaveDirectory(path, pattern)) {
    PrintMessage(kSaveDirectoryTooLongMessage);
    return;
  }
  std::size_t save_dir_length = std::strlen(path);
  PrintMessage(kSaveDirectoryMessage, path);
  PatchAllSaves(path, save_dir_length, pattern);
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

int RunSavefix(const BufferSource& buffers) {
  char* path = static_cast<char*>(buffers.obtain(kPathBufferSize));
  char* pattern = path != nullptr ? static_cast<char*>(buffers.obtain(kPathBufferSize)) : nullptr;
  if (path == nullptr || pattern == nullptr) {
    PrintMessage(kInsufficientMemoryMessage);
    if (path != nullptr) buffers.release(path);
    return kExitNoMemory;
  }

  PatchInstalledGame(path, pattern);
  WaitForEnter();

  buffers.release(pattern);
  buffers.release(path);
  return kExitOk;
}
