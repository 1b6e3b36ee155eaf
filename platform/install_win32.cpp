// The Windows build's install: this machine, through the Windows calls.
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/install.h"
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

// Every read and write names its offset, so that a read of one byte never
// moves where the copy reads on.
class WindowsSaveFile : public SaveFile {
 public:
  explicit WindowsSaveFile(HANDLE handle) : handle_(handle) {}
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

 private:
  HANDLE handle_;
  long long position_ = 0;
};

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
    moved_ = !target_.empty() &&
             MoveFileExW(path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    return moved_;
  }

 private:
  std::wstring backup_;  // the backup's path as the save's name gave it
  std::wstring path_;    // the new file's
  HANDLE handle_;
  std::wstring target_;  // the entry LookAtTarget found, as it is spelt
  bool moved_ = false;
};

// This machine's install, found through the registry, or a folder or one
// save named on the command line.
class WindowsInstall : public Install {
 public:
  WindowsInstall(const char* key_path, const char* value_name) : key_path_(key_path), value_name_(value_name) {}
  WindowsInstall(std::string folder, std::string only) : folder_(std::move(folder)), only_(std::move(only)) {}

  bool IsSaveFolder() const override { return key_path_ == nullptr; }

  InstallPath ReadInstallPath(char* buffer) override {
    const bool read = IsSaveFolder() ? PutInPathBuffer(folder_, buffer) : ReadRegistryString(buffer);
    return read ? InstallPath::kRead : InstallPath::kNotInRegistry;
  }

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
      std::string name(found.cFileName, strnlen(found.cFileName, sizeof found.cFileName));
      if (only_.empty() || name == only_) names->push_back(std::move(name));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return Listed::kListed;
  }

  // Shared with other programs for reading and writing, as the game and
  // other tools expect. Under Wine a pipe or a device in the folder opens
  // like a file; it is closed before anything reads it.
  Opened OpenSave(const char* path, std::unique_ptr<SaveFile>* save) override {
    HANDLE handle = CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_DISK) {
      CloseHandle(handle);
      handle = INVALID_HANDLE_VALUE;
    }
    if (handle == INVALID_HANDLE_VALUE) return IsTooLongForSystem(path) ? Opened::kTooLong : Opened::kFailed;
    *save = std::make_unique<WindowsSaveFile>(handle);
    return Opened::kOpened;
  }

  // The new file is "savefix-N.tmp", the first N whose name is free. The
  // wide call, like the C runtime's opens, is not held to MAX_PATH under Wine.
  std::unique_ptr<NewBackup> CreateBackup(const char* backup_path) override {
    const std::wstring backup = ToWide(backup_path);
    if (backup.empty()) return nullptr;
    const std::wstring folder = backup.substr(0, NameStart(backup));
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::wstring path = folder + L"savefix-" + std::to_wstring(attempt) + L".tmp";
      HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle != INVALID_HANDLE_VALUE) return std::make_unique<WindowsBackup>(backup, std::move(path), handle);
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return nullptr;
  }

 private:
  // A 32-bit program asking for no particular view reads the key that 32-bit
  // programs see on 64-bit Windows, which is where the game's installer wrote it.
  bool ReadRegistryString(char* buffer) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path_, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(kPathBufferSize);
    const LONG status = RegQueryValueExA(key, value_name_, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    // An expandable string is used as stored, without expanding it.
    return status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) &&
           EndRegistryString(buffer, size, kPathBufferSize);
  }

  const char* key_path_ = nullptr;
  const char* value_name_ = nullptr;
  std::string folder_;  // named: full, ending in a separator
  std::string only_;    // named: the one save, or empty
};

}  // namespace

std::vector<std::unique_ptr<Install>> FindInstalls(const char* key_path, const char* value_name) {
  std::vector<std::unique_ptr<Install>> installs;
  installs.push_back(std::make_unique<WindowsInstall>(key_path, value_name));
  return installs;
}

// Windows makes the name full and clean; a save keeps the long name the
// search gives it.
std::unique_ptr<Install> NamedInstall(const char* name) {
  const DWORD attributes = GetFileAttributesA(name);
  const DWORD size = GetFullPathNameA(name, 0, nullptr, nullptr);
  if (attributes == INVALID_FILE_ATTRIBUTES || size == 0) return nullptr;
  std::string full(size, '\0');
  const DWORD length = GetFullPathNameA(name, size, &full[0], nullptr);
  if (length == 0 || length >= size) return nullptr;
  full.resize(length);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    if (full.back() != '\\') full += '\\';
    return std::make_unique<WindowsInstall>(full, std::string());
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(full.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return nullptr;
  FindClose(search);
  return std::make_unique<WindowsInstall>(full.substr(0, full.find_last_of('\\') + 1), found.cFileName);
}

const char* RegistryFailedHint() { return ""; }

const char* WhereInstallsAreFound() {
  return "It finds the game's folder through the registry entry that the\n"
         "game's installer made.\n";
}

// Names come in the ANSI code page; the file system compares their UTF-16
// forms upper-cased, as the invariant locale upper-cases them.
std::string FileNameKey(const char* name) {
  std::wstring wide = ToWide(name);
  if (wide.empty()) return name;
  LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.c_str(), static_cast<int>(wide.size()), &wide[0],
               static_cast<int>(wide.size()));
  return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

bool IsDeviceName(const char* name) {
  std::wstring wide = ToWide(name);
  return IsDeviceNameUnits(std::u16string(wide.begin(), wide.end()));
}
