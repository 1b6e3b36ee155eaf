// The Windows build's install: this machine, through the Windows calls.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/install.h"
#include "platform/named_folder.h"
#include "platform/windows_rules.h"

namespace {

// `text` in the ANSI code page as UTF-16; empty if it does not convert.
std::wstring ToWide(const char* text) {
  int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], size) != size) return std::wstring();
  wide.pop_back();
  return wide;
}

// The system's own calls refuse a path of MAX_PATH units or more, unless
// long paths are enabled (and under Wine, which takes them).
bool IsTooLongForSystem(const char* path) { return ToWide(path).size() >= MAX_PATH; }

// Where the last component of `path` starts.
std::size_t NameStart(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? 0 : separator + 1;
}

OVERLAPPED At(long long offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(static_cast<unsigned long long>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
  return at;
}

bool IdentifyHandle(HANDLE handle, FileId* id, DWORD* attributes) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  *id = FileId{info.dwVolumeSerialNumber, (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) |
                                              info.nFileIndexLow};
  if (attributes != nullptr) *attributes = info.dwFileAttributes;
  return true;
}

bool SameNameIgnoringCase(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

class WindowsBackup : public NewBackup {
 public:
  WindowsBackup(std::wstring backup, std::wstring path, HANDLE handle)
      : backup_(std::move(backup)), path_(std::move(path)), handle_(handle) {}
  ~WindowsBackup() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    if (!moved_) DeleteFileW(path_.c_str());
  }

  bool Write(const unsigned char* bytes, std::size_t size) override {
    DWORD written = 0;
    return WriteFile(handle_, bytes, static_cast<DWORD>(size), &written, nullptr) && written == size;
  }

 protected:
  bool Sync() override { return FlushFileBuffers(handle_) != 0; }

  bool Close() override {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

  // The entry is opened once, for no access to its data and sharing
  // everything, so that it disturbs no other program, and what it is is asked
  // of that handle; the move then names it as that open did. Its own name as
  // the file system keeps it is what the move replaces, so that "x.bak" keeps
  // its spelling, unless that name is another's (a link followed). A short
  // alias shows in the search, which gives the entry's long name. Under Wine
  // a pipe or a device has no attributes at all: the first call fails with
  // another error than "not found".
  bool LookAtTarget(BackupTarget* target) override {
    *target = BackupTarget();
    target_ = backup_;
    if (GetFileAttributesW(backup_.c_str()) == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    const wchar_t* name = backup_.c_str() + NameStart(backup_);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(backup_.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    HANDLE entry = CreateFileW(backup_.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (entry == INVALID_HANDLE_VALUE) return false;
    DWORD attributes = 0;
    std::wstring own(GetFinalPathNameByHandleW(entry, nullptr, 0, FILE_NAME_NORMALIZED), L'\0');
    const DWORD length =
        GetFinalPathNameByHandleW(entry, &own[0], static_cast<DWORD>(own.size()), FILE_NAME_NORMALIZED);
    const bool known = IdentifyHandle(entry, &target->id, &attributes) && length > 0 && length < own.size();
    const bool is_disk_file = GetFileType(entry) == FILE_TYPE_DISK;
    CloseHandle(entry);
    if (!known) return false;
    own.resize(length);
    own.erase(0, NameStart(own));
    target->exists = true;
    target->regular_file = is_disk_file && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
    target->read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    target->alias = !SameNameIgnoringCase(name, found.cFileName);
    if (SameNameIgnoringCase(name, own.c_str())) target_ = backup_.substr(0, NameStart(backup_)) + own;
    return true;
  }

  bool MoveIntoPlace() override {
    moved_ = MoveFileExW(path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    return moved_;
  }

 private:
  std::wstring backup_;  // the backup's path as the save's name gave it
  std::wstring path_;    // the new file's
  HANDLE handle_;
  std::wstring target_;  // the entry LookAtTarget found, as it is spelt
  bool moved_ = false;
};

// Every read and write names its offset, so that a read of one byte never
// moves where the copy reads on.
class WindowsSaveFile : public SaveFile {
 public:
  WindowsSaveFile(HANDLE handle, std::wstring folder, unsigned& next_temp)
      : handle_(handle), folder_(std::move(folder)), next_temp_(next_temp) {}
  ~WindowsSaveFile() override { CloseHandle(handle_); }

  long Read(unsigned char* into, std::size_t size) override {
    OVERLAPPED at = At(position_);
    DWORD got = 0;
    if (!ReadFile(handle_, into, static_cast<DWORD>(size), &got, &at)) {
      return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    position_ += got;
    return static_cast<long>(got);
  }

  long long Length() override {
    LARGE_INTEGER size;
    return GetFileSizeEx(handle_, &size) ? size.QuadPart : -1;
  }

  bool ReadByte(long long offset, unsigned char* byte) override {
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    return ReadFile(handle_, byte, 1, &got, &at) && got == 1;
  }

  bool WriteByte(long long offset, unsigned char byte) override {
    OVERLAPPED at = At(offset);
    DWORD written = 0;
    return WriteFile(handle_, &byte, 1, &written, &at) && written == 1;
  }

  bool Identify(FileId* id) override { return IdentifyHandle(handle_, id, nullptr); }

 protected:
  // The wide call, like the C runtime's opens, is not held to MAX_PATH under Wine.
  Created CreateNew(const std::string& temp_name, const char* name, std::unique_ptr<NewBackup>* file) override {
    std::wstring path = folder_ + ToWide(temp_name.c_str());
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      *file = std::make_unique<WindowsBackup>(folder_ + ToWide(name), std::move(path), handle);
      return Created::kMade;
    }
    switch (GetLastError()) {
      case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS: return Created::kNameTaken;
      case ERROR_ACCESS_DENIED: case ERROR_WRITE_PROTECT: return Created::kNotAllowed;
      case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return Created::kDiskFull;
      default: return Created::kFailed;
    }
  }

  unsigned& NextTempNumber() override { return next_temp_; }

 private:
  HANDLE handle_;
  std::wstring folder_;
  unsigned& next_temp_;
  long long position_ = 0;
};

// What both kinds of install do alike: the saves are reached through the
// Windows calls.
class WindowsInstall : public Install {
 public:
  // The ANSI search refuses a pattern of MAX_PATH units or more, under Wine
  // as on Windows without long path support.
  Listed ListSaves(const char* pattern, std::vector<std::string>* names) override {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
      const bool too_long = GetLastError() == ERROR_FILENAME_EXCED_RANGE || IsTooLongForSystem(pattern);
      return too_long ? Listed::kTooLong : Listed::kNothing;
    }
    do {
      names->emplace_back(found.cFileName, strnlen(found.cFileName, sizeof found.cFileName));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return Listed::kListed;
  }

  // Shared with other programs for reading and writing, as the game and
  // other tools expect. Under Wine a pipe or a device in the folder opens
  // like a file, and so does a read-only file for root; either is closed
  // before anything reads it.
  Opened OpenSave(const char* path, Access access, std::unique_ptr<SaveFile>* save) override {
    const std::wstring wide = ToWide(path);
    const DWORD rights = access == Access::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    HANDLE handle = CreateFileW(wide.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    // On a read-only disk a save opens for reading: whether it is fixed can
    // still be told. Wine reports such a disk as access denied.
    const DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (error == ERROR_WRITE_PROTECT || error == ERROR_ACCESS_DENIED) {
      handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    FileId id;
    DWORD attributes = 0;
    if (handle != INVALID_HANDLE_VALUE &&
        (GetFileType(handle) != FILE_TYPE_DISK || !IdentifyHandle(handle, &id, &attributes) ||
         (access == Access::kReadWrite && (attributes & FILE_ATTRIBUTE_READONLY) != 0))) {
      CloseHandle(handle);
      handle = INVALID_HANDLE_VALUE;
    }
    if (handle == INVALID_HANDLE_VALUE) return IsTooLongForSystem(path) ? Opened::kTooLong : Opened::kFailed;
    *save = std::make_unique<WindowsSaveFile>(handle, wide.substr(0, NameStart(wide)), next_temp_);
    return Opened::kOpened;
  }

  // Names come in the ANSI code page; the file system compares their UTF-16
  // forms upper-cased, as the invariant locale upper-cases them.
  std::string NameKey(const char* name) override {
    std::wstring wide = ToWide(name);
    if (wide.empty()) return name;
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.c_str(), static_cast<int>(wide.size()), &wide[0],
                 static_cast<int>(wide.size()));
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
  }

  bool IsDeviceName(const char* name) override {
    std::wstring wide = ToWide(name);
    return IsDeviceNameUnits(std::u16string(wide.begin(), wide.end()));
  }

 private:
  unsigned next_temp_ = 0;
};

// This machine's install, found through the registry.
class RegistryInstall : public WindowsInstall {
 public:
  explicit RegistryInstall(const Game& game) : game_(game) {}
  Found HowFound() const override { return {Found::How::kThisMachine}; }

  // A 32-bit program asking for no particular view reads the key that 32-bit
  // programs see on 64-bit Windows, which is where the game's installer wrote it.
  SaveDirectory ReadSaveDirectory(char* path) override {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, game_.key, 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return SaveDirectory::kRegistryFailed;
    }
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(kPathBufferSize);
    const LONG status = RegQueryValueExA(key, game_.value, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    // An expandable string is used as stored, without expanding it.
    const bool read = status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) &&
                      EndRegistryString(path, size, kPathBufferSize);
    return read ? AppendSaveFolder(path, game_.save_folder, game_.pattern) : SaveDirectory::kRegistryFailed;
  }

 private:
  const Game game_;
};

// A folder named on the command line.
using FolderInstall = NamedFolder<WindowsInstall>;

// `text` in UTF-16 as the ANSI code page gives it back; empty if it does not convert.
std::string ToAnsi(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string ansi(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &ansi[0], size, nullptr, nullptr) != size) return std::string();
  ansi.pop_back();
  return ansi;
}

class WindowsWorld : public World {
 public:
  std::vector<std::unique_ptr<Install>> FindInstalls(const Game& game) override {
    std::vector<std::unique_ptr<Install>> installs;
    installs.push_back(std::make_unique<RegistryInstall>(game));
    return installs;
  }

  // Windows makes the name full and clean, through the wide calls, which
  // take paths of any length; a save keeps the long name the search gives
  // it, and must be one its folder's search for saves returns, when that
  // search can run at all.
  std::unique_ptr<Install> NamedInstall(const Game& game, const char* name) override {
    const std::wstring wide = ToWide(name);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (wide.empty() || attributes == INVALID_FILE_ATTRIBUTES || size == 0) return nullptr;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size) return nullptr;
    full.resize(length);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (full.back() != L'\\') full += L'\\';
      // The game's own folder: its saves are in its save folder.
      const std::wstring saves = full + ToWide(game.save_folder);
      const DWORD inside = GetFileAttributesW(saves.c_str());
      const bool game_folder = inside != INVALID_FILE_ATTRIBUTES && (inside & FILE_ATTRIBUTE_DIRECTORY) != 0;
      return std::make_unique<FolderInstall>(game, ToAnsi(game_folder ? saves : full), std::string());
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(full.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return nullptr;
    FindClose(search);
    const std::string folder = ToAnsi(full.substr(0, NameStart(full)));
    const std::string save = ToAnsi(found.cFileName);
    FolderInstall install(game, folder, save);
    std::vector<std::string> saves;
    const Listed listed = install.ListSaves((folder + game.pattern).c_str(), &saves);
    if (folder.empty() || install.IsDeviceName(save.c_str()) ||
        (listed != Listed::kTooLong && std::find(saves.begin(), saves.end(), save) == saves.end())) {
      return nullptr;
    }
    return std::make_unique<FolderInstall>(game, folder, save);
  }

  bool FindsWinePrefixes() const override { return false; }
};

}  // namespace

std::unique_ptr<World> ThisMachine(const Environment&) { return std::make_unique<WindowsWorld>(); }
