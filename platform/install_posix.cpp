// The native build's install: one Wine prefix, seen the way savefix.exe
// running in it would see it. HKEY_LOCAL_MACHINE is the prefix's system.reg;
// Windows paths resolve through its drives as Wine resolves them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <unordered_map>

#include "platform/ascii.h"
#include "platform/install.h"
#include "platform/windows_rules.h"
#include "wine/names.h"
#include "wine/prefixes.h"
#include "wine/read_file.h"
#include "wine/registry_file.h"
#include "wine/windows_path.h"

namespace {

// A fresh prefix's system.reg is a few MB; far more is no registry file.
constexpr std::size_t kMaxRegistryFileSize = 256u * 1024 * 1024;

// The longest name the Windows search record holds, terminator included.
constexpr std::size_t kEntryNameSize = 260;

const char kWinePrefixLabel[] = "Wine prefix: ";
const char kNotAPrefixLabel[] = "Not a Wine prefix: ";
const char kNotFoundLabel[] = "Game not found in: ";
const char kNoInstallPathLabel[] = "No game install path in: ";
const char kNotThere[] = " (not found)";
const char kFolderLabel[] = "Folder on this machine: ";

FileId IdOf(const struct stat& info) {
  return FileId{static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino)};
}

// `text` with every control character shown as '?', so that a name
// printed never breaks a line or drives the terminal.
std::string Printable(std::string text) {
  const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
  std::replace_if(text.begin(), text.end(), control, '?');
  return text;
}

class PosixSaveFile : public SaveFile {
 public:
  explicit PosixSaveFile(int descriptor) : descriptor_(descriptor) {}
  ~PosixSaveFile() override { close(descriptor_); }

  long Read(unsigned char* into, std::size_t size) override { return ReadSome(descriptor_, into, size); }

  long long Length() override {
    struct stat info;
    return fstat(descriptor_, &info) == 0 ? static_cast<long long>(info.st_size) : -1;
  }

  bool ReadByte(long long offset, unsigned char* byte) override {
    return pread(descriptor_, byte, 1, static_cast<off_t>(offset)) == 1;
  }

  bool WriteByte(long long offset, unsigned char byte) override {
    return pwrite(descriptor_, &byte, 1, static_cast<off_t>(offset)) == 1;
  }

  bool Identify(FileId* id) override {
    struct stat info;
    if (fstat(descriptor_, &info) != 0) return false;
    *id = IdOf(info);
    return true;
  }

 private:
  int descriptor_;
};

// Splits `path` into its folder, up to its last '/', and the name behind it.
void SplitAtLastSlash(const std::string& path, std::string* folder, std::string* name) {
  const std::size_t at = path.rfind('/') + 1;  // 0 without a '/'
  *folder = path.substr(0, at);
  *name = path.substr(at);
}

// The key is there, without a string value to read the install path from.
bool HoldsKeyWithoutPath(WineRegistryLookup found) {
  return found == WineRegistryLookup::kNoValue || found == WineRegistryLookup::kNotString;
}

// The saves' files as a Windows program under Wine reaches them: an entry
// is the exact name if it exists, else the entry of the same name in
// another case. With a prefix, the install is one found through the
// registry, whose Windows paths resolve as Wine resolves them in the prefix;
// without, a folder or one save named on the command line, whose Unix paths
// are found as Wine finds the names in them.
class PosixInstall : public Install {
 public:
  // `found` and `path` are what the look-up that found the install read of
  // its registry value; a named folder's path is its own (absolute, ending
  // in '/'), found. `only` is the one save named, or empty.
  PosixInstall(std::string label, std::optional<WinePrefix> prefix, WineRegistryLookup found, std::string path,
               std::string only)
      : label_(std::move(label)), prefix_(std::move(prefix)), found_(found), path_(std::move(path)),
        only_(std::move(only)) {}
  ~PosixInstall() override {
    for (const auto& folder : folders_) {
      if (folder.second >= 0) close(folder.second);
    }
  }

  std::string Label() const override { return label_; }
  bool IsSaveFolder() const override { return !prefix_; }

  InstallPath ReadInstallPath(char* buffer) override {
    if (HoldsKeyWithoutPath(found_)) return InstallPath::kNotUsable;
    const bool read = found_ == WineRegistryLookup::kFound && PutInPathBuffer(path_, buffer);
    return read ? InstallPath::kRead : InstallPath::kNotInRegistry;
  }

  // The folder on this machine the existing part of `path` names, then the
  // components that do not exist, marked as not found; for a drive the
  // prefix lacks, where its link would be. Empty where a path names no place
  // at all. The folder is taken in the full form Wine gives the search for
  // its entries, so that the folders above it are the ones the search
  // reaches. A drive's folder is what its link in dosdevices/ names, spelt
  // from the prefix as the run names it (the prefix's own links kept):
  // "../drive_c" is the prefix's drive_c, "/" the root.
  std::string DescribeFolder(const char* path) override {
    std::string full;
    if (!prefix_ || !ToFullPath(*prefix_, std::string(path) + "*", &full) || full.back() != '*') return std::string();
    full.pop_back();
    const std::string devices = prefix_->root + "/dosdevices/";
    std::string missing;
    std::string folder;
    while (!ToPrefixPath(*prefix_, "\\??\\" + full, &folder)) {
      full.erase(full.find_last_not_of("\\/") + 1);
      const std::size_t cut = full.find_last_of("\\/");
      if (cut == std::string::npos && full.size() == 2 && full[1] == ':') {
        return kFolderLabel + Printable(devices + AsciiLower(full[0]) + ":" + missing) + kNotThere + "\n";
      }
      if (cut == std::string::npos) return std::string();
      missing.insert(0, "/" + full.substr(cut + 1));
      full.erase(cut + 1);
    }
    folder.erase(folder.find_last_not_of('/') + 1);  // the root: ""
    if (folder.compare(0, devices.size(), devices) == 0) {
      const std::size_t drive_end = std::min(folder.find('/', devices.size()), folder.size());
      char link[4096];
      const ssize_t length = readlink(folder.substr(0, drive_end).c_str(), link, sizeof link - 1);
      if (length > 0) {
        std::string drive(link, static_cast<std::size_t>(length));
        if (drive[0] != '/') {
          drive = drive.compare(0, 3, "../") == 0 ? JoinPath(prefix_->root, drive.substr(3)) : JoinPath(devices, drive);
        }
        drive.erase(drive.find_last_not_of('/') + 1);
        folder = drive + folder.substr(drive_end);
      }
    }
    if (folder.empty() && missing.empty()) folder = "/";
    return kFolderLabel + Printable(folder + missing) + (missing.empty() ? "" : kNotThere) + "\n";
  }

  Listed ListSaves(const char* pattern, std::vector<std::string>* names) override {
    std::string directory;
    std::string wildcard;
    std::vector<std::string> all;
    if (prefix_) {
      if (!ToPrefixSearch(*prefix_, pattern, &directory, &wildcard)) return Listed::kNothing;
    } else {
      SplitAtLastSlash(pattern, &directory, &wildcard);
    }
    if (!ListMatchingEntries(directory, wildcard, &all, prefix_ ? &prefix_->index : &index_)) return Listed::kNothing;
    // A name that does not fit the search record is never returned.
    for (std::string& name : all) {
      if (name.size() < kEntryNameSize && (only_.empty() || name == only_)) names->push_back(std::move(name));
    }
    return Listed::kListed;
  }

  Opened OpenSave(const char* path, std::unique_ptr<SaveFile>* save) override {
    int folder;
    std::string name;
    const int descriptor = ToEntry(path, &folder, &name) ? OpenRegularFileAt(folder, name.c_str(), O_RDWR) : -1;
    if (descriptor < 0) return Opened::kFailed;
    *save = std::make_unique<PosixSaveFile>(descriptor);
    return Opened::kOpened;
  }

  std::unique_ptr<NewBackup> CreateBackup(const char* backup_path) override;

  // The entry `path` names, as the folder it lies in, open for the run, and
  // its name there.
  bool ToEntry(const char* path, int* folder, std::string* name) {
    std::string directory;
    if (!Resolve(path, &directory, name) || name->empty()) return false;
    const auto [known, added] = folders_.try_emplace(directory, -1);
    // O_DIRECTORY refuses anything else before it is opened: a pipe never blocks.
    if (added) known->second = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    *folder = known->second;
    return *folder >= 0;
  }

 private:
  // The Unix folder `path` lies in and the entry it names there.
  bool Resolve(const std::string& path, std::string* directory, std::string* name) {
    if (prefix_) return ToPrefixEntry(*prefix_, path, directory, name);
    SplitAtLastSlash(path, directory, name);
    return FindEntry(*directory, *name, name, &index_) != Lookup::kFailed;
  }

  std::string label_;
  std::optional<WinePrefix> prefix_;
  WineRegistryLookup found_;
  std::string path_;
  std::string only_;
  DirectoryIndex index_;  // a named folder's; a prefix keeps its own
  // Each folder a file was reached in, opened once and kept for the run (-1:
  // it could not be opened). A folder moved or replaced meanwhile is not
  // followed, so a link put in its place never leads the run elsewhere.
  std::unordered_map<std::string, int> folders_;
};

// The new file is made in the backup's folder, open for the run, and every
// call names it relative to that folder, so that the file written, the
// entry looked at and the entry replaced are all in the one folder.
class PosixBackup : public NewBackup {
 public:
  PosixBackup(PosixInstall& install, std::string backup_path, int folder, std::string name, int descriptor)
      : install_(install), backup_path_(std::move(backup_path)), folder_(folder), name_(std::move(name)),
        descriptor_(descriptor) {}
  ~PosixBackup() override {
    if (descriptor_ >= 0) close(descriptor_);
    if (!moved_) unlinkat(folder_, name_.c_str(), 0);
  }

  bool Write(const unsigned char* bytes, std::size_t size) override {
    while (size > 0) {
      const ssize_t written = write(descriptor_, bytes, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      bytes += written;
      size -= static_cast<std::size_t>(written);
    }
    return true;
  }

  bool Sync() override { return fsync(descriptor_) == 0; }

  bool Close() override {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    return close(descriptor) == 0;
  }

  // Wine takes a file with no write permission at all as read-only.
  bool LookAtTarget(BackupTarget* target) override {
    int folder;
    if (!install_.ToEntry(backup_path_.c_str(), &folder, &target_name_) || folder != folder_) return false;
    struct stat info;
    *target = BackupTarget();
    if (fstatat(folder_, target_name_.c_str(), &info, 0) != 0) return errno == ENOENT;
    target->exists = true;
    target->regular_file = S_ISREG(info.st_mode);
    target->read_only = (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    target->id = IdOf(info);
    return true;
  }

  // The move is durable once the folder that holds it is on the disk.
  bool MoveIntoPlace() override {
    moved_ = !target_name_.empty() && renameat(folder_, name_.c_str(), folder_, target_name_.c_str()) == 0;
    return moved_ && fsync(folder_) == 0;
  }

 private:
  PosixInstall& install_;
  std::string backup_path_;
  int folder_;
  std::string name_;
  int descriptor_;
  std::string target_name_;  // the entry LookAtTarget found
  bool moved_ = false;
};

// The new file is "savefix-N.tmp", the first N whose name is free.
std::unique_ptr<NewBackup> PosixInstall::CreateBackup(const char* backup_path) {
  int folder;
  std::string name;
  if (!ToEntry(backup_path, &folder, &name)) return nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string copy = "savefix-" + std::to_string(attempt) + ".tmp";
    const int descriptor = openat(folder, copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor >= 0) return std::make_unique<PosixBackup>(*this, backup_path, folder, copy, descriptor);
    if (errno != EEXIST) break;
  }
  return nullptr;
}

// The install of `prefix`, named as the look-up in it found the game. Where
// a folder that is no prefix holds a Proton prefix in its pfx/, as
// compatdata/<appid>/ does, the prefix is there.
std::unique_ptr<Install> InPrefix(const std::string& prefix, WineRegistryLookup found, std::string value) {
  const char* name = found == WineRegistryLookup::kMalformed ? kNotAPrefixLabel
                     : HoldsKeyWithoutPath(found)            ? kNoInstallPathLabel
                                                             : kWinePrefixLabel;
  std::string label = name + Printable(prefix) + "\n";
  struct stat info;
  const std::string proton = JoinPath(prefix, "pfx");
  if (found == WineRegistryLookup::kMalformed && stat((proton + "/system.reg").c_str(), &info) == 0) {
    label += "Its Wine prefix is " + Printable(proton) + ": add /pfx to WINEPREFIX\n";
  }
  return std::make_unique<PosixInstall>(label, WinePrefix{prefix, UnixWorkingDirectory(std::getenv("PWD"))}, found,
                                        std::move(value), "");
}

}  // namespace

const char* RegistryFailedHint() { return "To fix the saves in a folder, name it: savefix FOLDER\n"; }

const char* WhereInstallsAreFound() {
  return "It reads the game's Wine prefix: the one WINEPREFIX names, else\n"
         "~/.wine and the Proton prefixes of every Steam library, each that\n"
         "holds the game.\n";
}

// Every prefix that holds the key; the prefix WINEPREFIX names is always
// taken, labelled as no prefix if it holds no registry Wine would read. The
// registry value is read on the way, so that each system.reg is read once,
// into `text`, room kept from prefix to prefix.
std::vector<std::unique_ptr<Install>> FindInstalls(const char* key_path, const char* value_name) {
  const char* chosen = std::getenv("WINEPREFIX");
  const bool named = chosen != nullptr && chosen[0] != '\0';
  const WinePrefixes found = FindWinePrefixes(chosen, std::getenv("HOME"));
  std::vector<std::unique_ptr<Install>> installs;
  std::string text;
  std::string data;
  for (const std::string& prefix : found.prefixes) {
    const int descriptor = OpenRegularFile(prefix + "/system.reg");
    const WineRegistryLookup lookup =
        descriptor < 0 ? WineRegistryLookup::kMalformed
                       : ReadWineRegistryString(descriptor, kMaxRegistryFileSize, key_path, value_name, &text, &data);
    if (descriptor >= 0) close(descriptor);
    if (named || lookup == WineRegistryLookup::kFound || HoldsKeyWithoutPath(lookup)) {
      installs.push_back(InPrefix(prefix, lookup, std::move(data)));
    }
  }
  // WINEPREFIX names no folder.
  if (named && installs.empty()) installs.push_back(InPrefix(chosen, WineRegistryLookup::kMalformed, ""));
  if (installs.empty()) {
    std::string label;
    for (const PrefixPlace& place : found.places) {
      label += kNotFoundLabel + Printable(place.path) + (place.found ? "" : kNotThere) + "\n";
    }
    installs.push_back(std::make_unique<PosixInstall>(label, WinePrefix{"", UnixWorkingDirectory(nullptr)},
                                                      WineRegistryLookup::kNoKey, "", ""));
  }
  return installs;
}

// The named folder, or the one save named in its folder. The name is made
// absolute against the working directory, with "." components and doubled
// slashes dropped (".." is kept: a link may lead anywhere).
std::unique_ptr<Install> NamedInstall(const char* name) {
  struct stat info;
  if (name[0] == '\0' || stat(name, &info) != 0) return nullptr;
  std::string path = name;
  if (path[0] != '/') path = UnixWorkingDirectory(std::getenv("PWD")).value_or("") + "/" + path;
  std::string clean;
  for (std::size_t start = 0, end; start < path.size(); start = end + 1) {
    end = std::min(path.find('/', start), path.size());
    const std::string component = path.substr(start, end - start);
    if (!component.empty() && component != ".") clean += "/" + component;
  }
  if (S_ISDIR(info.st_mode)) clean += '/';
  std::string folder;
  std::string save;
  SplitAtLastSlash(clean, &folder, &save);
  return std::make_unique<PosixInstall>("", std::nullopt, WineRegistryLookup::kFound, folder, save);
}

std::string FileNameKey(const char* name) { return NameKey(name); }

bool IsDeviceName(const char* name) { return IsDeviceNameUnits(Utf8ToUtf16(name)); }
