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
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

class PosixSaveFile : public SaveFile {
 public:
  explicit PosixSaveFile(int descriptor) : descriptor_(descriptor) {}
  ~PosixSaveFile() override { close(descriptor_); }
  PosixSaveFile(const PosixSaveFile&) = delete;
  PosixSaveFile& operator=(const PosixSaveFile&) = delete;

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

class PosixInstall;

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
  PosixBackup(const PosixBackup&) = delete;
  PosixBackup& operator=(const PosixBackup&) = delete;

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

  bool LookAtTarget(BackupTarget* target) override;

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

// The saves' files as a Windows program under Wine reaches them: an entry
// is the exact name if it exists, else the entry of the same name in
// another case. How a path names its folder is the kind of install's own.
class PosixInstall : public Install {
 public:
  PosixInstall() = default;
  ~PosixInstall() override {
    for (const auto& folder : folders_) {
      if (folder.second >= 0) close(folder.second);
    }
  }
  PosixInstall(const PosixInstall&) = delete;
  PosixInstall& operator=(const PosixInstall&) = delete;

  Listed ListSaves(const char* pattern, std::vector<std::string>* names) override {
    std::string directory;
    std::string wildcard;
    std::vector<std::string> all;
    if (!ToSearch(pattern, &directory, &wildcard) || !ListMatchingEntries(directory, wildcard, &all, &index())) {
      return Listed::kNothing;
    }
    // A name that does not fit the search record is never returned.
    for (std::string& name : all) {
      if (name.size() < kEntryNameSize && Includes(name)) names->push_back(std::move(name));
    }
    return Listed::kListed;
  }

  Opened OpenSave(const char* path, std::unique_ptr<SaveFile>* save) override {
    int folder;
    std::string name;
    if (!ToEntry(path, &folder, &name)) return Opened::kFailed;
    const int descriptor = OpenRegularFileAt(folder, name.c_str(), O_RDWR);
    if (descriptor < 0) return Opened::kFailed;
    *save = std::make_unique<PosixSaveFile>(descriptor);
    return Opened::kOpened;
  }

  // The new file is "savefix-N.tmp", the first N whose name is free.
  std::unique_ptr<NewBackup> CreateBackup(const char* backup_path) override {
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

  // The entry `path` names, as the folder it lies in, open for the run, and
  // its name there.
  bool ToEntry(const char* path, int* folder, std::string* name) {
    std::string directory;
    if (!Resolve(path, &directory, name) || name->empty()) return false;
    auto known = folders_.find(directory);
    if (known == folders_.end()) {
      // O_DIRECTORY refuses anything else before it is opened: a pipe never blocks.
      known = folders_.emplace(directory, open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)).first;
    }
    *folder = known->second;
    return *folder >= 0;
  }

 protected:
  // The Unix folder `path` lies in and the entry it names there; the search
  // `pattern` as its folder and wildcard.
  virtual bool Resolve(const std::string& path, std::string* directory, std::string* name) = 0;
  virtual bool ToSearch(const std::string& pattern, std::string* directory, std::string* wildcard) = 0;
  // Whether a listed save is one to patch.
  virtual bool Includes(const std::string&) const { return true; }
  virtual DirectoryIndex& index() = 0;

 private:
  // Each folder a file was reached in, opened once and kept for the run (-1:
  // it could not be opened). A folder moved or replaced meanwhile is not
  // followed, so a link put in its place never leads the run elsewhere.
  std::unordered_map<std::string, int> folders_;
};

// The key is there, without a string value to read the install path from.
bool HoldsKeyWithoutPath(WineRegistryLookup found) {
  return found == WineRegistryLookup::kNoValue || found == WineRegistryLookup::kNotString;
}

// A Wine prefix found through the registry: Windows paths, resolved as Wine
// resolves them in the prefix. `found` and `value` are what the look-up
// that found the install read of its registry value.
class PrefixInstall : public PosixInstall {
 public:
  PrefixInstall(std::string label, std::string root, const char* pwd, WineRegistryLookup found, std::string value)
      : label_(std::move(label)), prefix_(std::move(root), UnixWorkingDirectory(pwd)), found_(found),
        value_(std::move(value)) {}

  std::string Label() const override { return label_; }
  bool IsSaveFolder() const override { return false; }

  InstallPath ReadInstallPath(char* buffer) override {
    if (HoldsKeyWithoutPath(found_)) return InstallPath::kNotUsable;
    const bool read = found_ == WineRegistryLookup::kFound && PutInPathBuffer(value_, buffer);
    return read ? InstallPath::kRead : InstallPath::kNotInRegistry;
  }

  std::string DescribeFolder(const char* path) override;

 protected:
  bool Resolve(const std::string& path, std::string* directory, std::string* name) override {
    return ToPrefixEntry(prefix_, path, directory, name);
  }
  bool ToSearch(const std::string& pattern, std::string* directory, std::string* wildcard) override {
    return ToPrefixSearch(prefix_, pattern, directory, wildcard);
  }
  DirectoryIndex& index() override { return prefix_.index; }

 private:
  std::string label_;
  WinePrefix prefix_;
  WineRegistryLookup found_;
  std::string value_;
};

// Splits `path` into its folder, up to its last '/', and the name behind it.
void SplitAtLastSlash(const std::string& path, std::string* folder, std::string* name) {
  const std::size_t at = path.rfind('/') + 1;  // 0 without a '/'
  *folder = path.substr(0, at);
  *name = path.substr(at);
}

// A folder or one save named on the command line: Unix paths, found as
// Wine finds the names in them.
class FolderInstall : public PosixInstall {
 public:
  FolderInstall(std::string folder, std::string only) : folder_(std::move(folder)), only_(std::move(only)) {}

  std::string Label() const override { return std::string(); }
  bool IsSaveFolder() const override { return true; }

  InstallPath ReadInstallPath(char* buffer) override {
    return PutInPathBuffer(folder_, buffer) ? InstallPath::kRead : InstallPath::kNotInRegistry;
  }

  std::string DescribeFolder(const char*) override { return std::string(); }

 protected:
  bool Resolve(const std::string& path, std::string* directory, std::string* name) override {
    SplitAtLastSlash(path, directory, name);
    return FindEntry(*directory, *name, name, &index_) != Lookup::kFailed;
  }
  bool ToSearch(const std::string& pattern, std::string* directory, std::string* wildcard) override {
    SplitAtLastSlash(pattern, directory, wildcard);
    return true;
  }
  bool Includes(const std::string& name) const override { return only_.empty() || name == only_; }
  DirectoryIndex& index() override { return index_; }

 private:
  std::string folder_;  // absolute, ending in '/'
  std::string only_;    // the one save named, or empty
  DirectoryIndex index_;
};

// Wine takes a file with no write permission at all as read-only.
bool PosixBackup::LookAtTarget(BackupTarget* target) {
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

// The folder a drive's link in dosdevices/ names, spelt from the prefix as
// the run names it (the prefix's own links kept): "../drive_c" is the
// prefix's drive_c, "/" the root.
std::string DriveFolder(const std::string& root, const std::string& drive_link) {
  char target[4096];
  const ssize_t length = readlink(drive_link.c_str(), target, sizeof target - 1);
  if (length <= 0) return drive_link;
  std::string folder(target, static_cast<std::size_t>(length));
  if (folder[0] != '/') {
    folder = folder.compare(0, 3, "../") == 0 ? JoinPath(root, folder.substr(3)) : JoinPath(root + "/dosdevices", folder);
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// The folder on this machine the existing part of `path` names, then the
// components that do not exist, marked as not found; for a drive the prefix
// lacks, where its link would be. Empty where a path names no place at all.
// The folder is taken in the full form Wine gives the search for its
// entries, so that the folders above it are the ones the search reaches.
std::string PrefixInstall::DescribeFolder(const char* path) {
  std::string full;
  if (!ToFullPath(prefix_, std::string(path) + "*", &full) || full.back() != '*') return std::string();
  full.pop_back();
  std::string missing;
  std::string folder;
  while (!ToPrefixPath(prefix_, "\\??\\" + full, &folder)) {
    while (!full.empty() && (full.back() == '\\' || full.back() == '/')) full.pop_back();
    const std::size_t cut = full.find_last_of("\\/");
    if (cut == std::string::npos && full.size() == 2 && full[1] == ':') {
      folder = prefix_.root + "/dosdevices/" + AsciiLower(full[0]) + ":";
      return kFolderLabel + Printable(folder + missing) + kNotThere + "\n";
    }
    if (cut == std::string::npos) return std::string();
    missing.insert(0, "/" + full.substr(cut + 1));
    full.erase(cut + 1);
  }
  const std::string devices = prefix_.root + "/dosdevices/";
  if (folder.compare(0, devices.size(), devices) == 0) {
    const std::size_t drive_end = std::min(folder.find('/', devices.size()), folder.size());
    const std::string rest = folder.substr(drive_end);
    folder = DriveFolder(prefix_.root, folder.substr(0, drive_end));
    folder = folder == "/" && !rest.empty() ? rest : folder + rest;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder == "/" && !missing.empty()) folder.clear();
  return kFolderLabel + Printable(folder + missing) + (missing.empty() ? "" : kNotThere) + "\n";
}

// `text` is room for the file, kept from prefix to prefix.
WineRegistryLookup LookUp(const std::string& prefix, const char* key_path, const char* value_name,
                          std::string* text, std::string* data) {
  const int descriptor = OpenRegularFile(prefix + "/system.reg");
  if (descriptor < 0) return WineRegistryLookup::kMalformed;
  const WineRegistryLookup found =
      ReadWineRegistryString(descriptor, kMaxRegistryFileSize, key_path, value_name, text, data);
  close(descriptor);
  return found;
}

// Where a folder holds a Proton prefix in its pfx/, as compatdata/<appid>/
// does, the prefix is there.
std::string ProtonHint(const std::string& folder) {
  struct stat info;
  const std::string prefix = JoinPath(folder, "pfx");
  if (stat((prefix + "/system.reg").c_str(), &info) != 0) return std::string();
  return "Its Wine prefix is " + Printable(prefix) + ": add /pfx to WINEPREFIX\n";
}

// The install of `prefix`, named as the look-up in it found the game.
std::unique_ptr<Install> InPrefix(const std::string& prefix, WineRegistryLookup found, std::string value) {
  const char* name = found == WineRegistryLookup::kMalformed ? kNotAPrefixLabel
                     : HoldsKeyWithoutPath(found)            ? kNoInstallPathLabel
                                                             : kWinePrefixLabel;
  std::string label = name + Printable(prefix) + "\n";
  if (found == WineRegistryLookup::kMalformed) label += ProtonHint(prefix);
  return std::make_unique<PrefixInstall>(label, prefix, std::getenv("PWD"), found, std::move(value));
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
// registry value is read on the way, so that each system.reg is read once.
std::vector<std::unique_ptr<Install>> FindInstalls(const char* key_path, const char* value_name) {
  const char* chosen = std::getenv("WINEPREFIX");
  const WinePrefixes found = FindWinePrefixes(chosen, std::getenv("HOME"));
  std::vector<std::unique_ptr<Install>> installs;
  std::string text;
  std::string data;
  if (chosen != nullptr && chosen[0] != '\0') {
    const WineRegistryLookup lookup =
        found.prefixes.empty() ? WineRegistryLookup::kMalformed : LookUp(chosen, key_path, value_name, &text, &data);
    installs.push_back(InPrefix(chosen, lookup, std::move(data)));
    return installs;
  }
  for (const std::string& prefix : found.prefixes) {
    const WineRegistryLookup lookup = LookUp(prefix, key_path, value_name, &text, &data);
    if (lookup == WineRegistryLookup::kFound || HoldsKeyWithoutPath(lookup)) {
      installs.push_back(InPrefix(prefix, lookup, std::move(data)));
    }
  }
  if (installs.empty()) {
    std::string label;
    for (const PrefixPlace& place : found.places) {
      label += kNotFoundLabel + Printable(place.path) + (place.found ? "" : kNotThere) + "\n";
    }
    installs.push_back(std::make_unique<PrefixInstall>(label, "", nullptr, WineRegistryLookup::kNoKey, ""));
  }
  return installs;
}

// `name` made absolute against the working directory, with "." components
// and doubled slashes dropped (".." is kept: a link may lead anywhere).
std::string AbsolutePath(const char* name) {
  std::string path = name;
  if (path.empty() || path[0] != '/') path = UnixWorkingDirectory(std::getenv("PWD")).value_or("") + "/" + path;
  std::string clean;
  for (std::size_t start = 0, end; start < path.size(); start = end + 1) {
    end = std::min(path.find('/', start), path.size());
    const std::string component = path.substr(start, end - start);
    if (!component.empty() && component != ".") clean += "/" + component;
  }
  return clean;
}

std::unique_ptr<Install> NamedInstall(const char* name) {
  struct stat info;
  if (name[0] == '\0' || stat(name, &info) != 0) return nullptr;
  const std::string path = AbsolutePath(name);  // "" for the root
  if (S_ISDIR(info.st_mode)) return std::make_unique<FolderInstall>(path + "/", "");
  std::string folder;
  std::string save;
  SplitAtLastSlash(path, &folder, &save);
  return std::make_unique<FolderInstall>(folder, save);
}

std::string FileNameKey(const char* name) { return NameKey(name); }

bool IsDeviceName(const char* name) { return IsDeviceNameUnits(Utf8ToUtf16(name)); }
