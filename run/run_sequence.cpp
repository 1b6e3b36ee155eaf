#include "run/run_sequence.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "patch/patch_save_file.h"
#include "patch/put_back.h"
#include "platform/console.h"
#include "platform/install.h"

namespace {

const char kRegistryFailedHint[] = "To fix the saves in a folder, drop it on savefix, or name it: savefix FOLDER\n";

// `text` with every control character shown as '?', so that a name printed
// never breaks a line or drives the terminal.
std::string Printable(std::string text) {
  const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
  std::replace_if(text.begin(), text.end(), control, '?');
  return text;
}

void PrintLine(const std::string& start, const std::string& path, const char* end = "") {
  PrintMessage("%s", (start + Printable(path) + end + "\n").c_str());
}

// Says how the install was found, where the player needs to know.
void SayHowFound(const Found& found) {
  switch (found.how) {
    case Found::How::kThisMachine:
    case Found::How::kNamed: break;
    case Found::How::kPrefix: PrintLine("Wine prefix: ", found.prefix); break;
    case Found::How::kNoInstallPath: PrintLine("No game install path in: ", found.prefix); break;
    case Found::How::kNotAPrefix:
      PrintLine("Not a Wine prefix: ", found.prefix);
      if (!found.proton_prefix.empty()) PrintLine("Its Wine prefix is ", found.proton_prefix, ": add /pfx to WINEPREFIX");
      break;
    case Found::How::kNowhere:
      for (const Place& place : found.places) PrintLine("Game not found in: ", place.path, place.exists ? "" : " (not found)");
      break;
  }
}

// A name that holds a separator would lead out of the save directory.
bool HoldsSeparator(const char* name) { return std::strpbrk(name, "\\/") != nullptr; }

// The message naming why an entry is skipped, then the entry's empty line.
void SkipEntry(const char* message, const char* text) {
  PrintMessage(message, text);
  PrintMessage(kEntryEndMessage);
}

// The backup name of `name`, by the key under which the file system takes
// names for the same; empty for a name that gives none.
std::string BackupKey(Install& install, const std::string& name) {
  std::string backup = name;
  return FormBackupPath(&backup[0], 0) ? install.NameKey(backup.c_str()) : std::string();
}

// How many saves came to each outcome.
using Tally = std::map<Outcome, int>;

// Puts `name` behind the save directory and patches that entry, unless the
// composed path would not fit in the path buffer, the name would lead out of
// the save directory or it names a device.
Outcome PatchEntry(Install& install, char* path, std::size_t save_dir_length, const std::string& name,
                   const std::vector<std::string>& sharing_backup, Mode mode) {
  if (save_dir_length + name.size() + 1 > kPathBufferSize) {
    SkipEntry(kFileNameTooLongMessage, name.c_str());
  } else if (HoldsSeparator(name.c_str()) || install.IsDeviceName(name.c_str())) {
    SkipEntry(kInvalidFileNameMessage, name.c_str());
  } else {
    std::memcpy(path + save_dir_length, name.c_str(), name.size() + 1);
    return mode == Mode::kFix ? PatchSaveFile(install, path, save_dir_length, sharing_backup)
                              : PutBackSaveFile(install, path, save_dir_length);
  }
  return Outcome::kNotFixed;
}

// Patches each chosen entry of the listing. Saves whose backup names are one
// are looked at before one's backup replaces another's.
void PatchAllSaves(Install& install, char* path, std::size_t save_dir_length, const char* pattern, Mode mode,
                   Tally& tally) {
  std::vector<std::string> names;
  const Listed listed = install.ListSaves(pattern, &names);
  if (listed != Listed::kListed || std::none_of(names.begin(), names.end(), [&install](const std::string& name) {
        return install.Chosen(name);
      })) {
    PrintMessage(listed == Listed::kTooLong ? kSaveDirectoryTooLongMessage : kNoSaveGameMessage);
    return;
  }
  std::vector<std::string> keys;
  std::map<std::string, std::vector<std::string>> by_backup;
  for (const std::string& name : names) {
    keys.push_back(BackupKey(install, name));
    if (!keys.back().empty()) by_backup[keys.back()].push_back(name);
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!install.Chosen(names[i])) continue;
    std::vector<std::string> sharing;
    for (const std::string& other : by_backup[keys[i]]) {
      if (other != names[i]) sharing.push_back(other);
    }
    ++tally[PatchEntry(install, path, save_dir_length, names[i], sharing, mode)];
  }
}

// Everything between obtaining the buffers and the closing prompt, for one install.
void PatchInstalledGame(Install& install, char* path, char* pattern, Mode mode, Tally& tally) {
  SayHowFound(install.HowFound());
  switch (install.ReadSaveDirectory(path)) {
    case SaveDirectory::kRead: break;
    case SaveDirectory::kRegistryFailed:
      PrintMessage(kRegistryFailedMessage);
      PrintMessage(kRegistryFailedHint);
      return;
    case SaveDirectory::kTooLong: PrintMessage(kSaveDirectoryTooLongMessage); return;
  }
  std::strcpy(pattern, path);
  std::strcat(pattern, kGame.pattern);
  PrintMessage(kSaveDirectoryMessage, path);
  if (const std::optional<MachineFolder> folder = install.FolderOnMachine(path)) {
    PrintLine("Folder on this machine: ", folder->existing + folder->missing, folder->missing.empty() ? "" : " (not found)");
  }
  PatchAllSaves(install, path, std::strlen(path), pattern, mode, tally);
}

}  // namespace

void WaitForEnter() {
  PrintMessage(kClosePrompt);
  std::fflush(stdout);
  int c;
  do {
    c = std::getchar();
  } while (c != EOF && c != '\n');
}

int RunSavefix(const BufferSource& buffers, World& world, std::vector<std::unique_ptr<Install>> named, Mode mode) {
  char* path = static_cast<char*>(buffers.obtain(kPathBufferSize));
  char* pattern = path != nullptr ? static_cast<char*>(buffers.obtain(kPathBufferSize)) : nullptr;
  if (path == nullptr || pattern == nullptr) {
    PrintMessage(kInsufficientMemoryMessage);
    if (path != nullptr) buffers.release(path);
    return kExitNoMemory;
  }

  const std::vector<std::unique_ptr<Install>> installs = named.empty() ? world.FindInstalls(kGame) : std::move(named);
  Tally tally;
  for (const std::unique_ptr<Install>& install : installs) PatchInstalledGame(*install, path, pattern, mode, tally);
  // Where several saves were looked at, what became of them, so that none that failed goes unseen.
  if (tally[Outcome::kFixed] + tally[Outcome::kAlreadyFixed] + tally[Outcome::kNotFixed] > 1) {
    const bool fix = mode == Mode::kFix;
    PrintMessage(fix ? kFixedCountMessage : kPutBackCountMessage, std::to_string(tally[Outcome::kFixed]).c_str());
    PrintMessage(fix ? kAlreadyFixedCountMessage : kAlreadyOriginalCountMessage,
                 std::to_string(tally[Outcome::kAlreadyFixed]).c_str());
    PrintMessage(fix ? kNotFixedCountMessage : kNotPutBackCountMessage,
                 std::to_string(tally[Outcome::kNotFixed]).c_str());
  }
  WaitForEnter();

  buffers.release(pattern);
  buffers.release(path);
  return kExitOk;
}
