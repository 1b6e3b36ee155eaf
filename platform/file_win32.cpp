#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/device_name.h"
#include "platform/platform.h"

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

// The new file goes through the wide call, which, like the C runtime's own
// opens, is not held to MAX_PATH under Wine.
std::FILE* CreateNewFile(const char* path) {
  std::wstring wide = ToWide(path);
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
    return nullptr;
  }
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* stream = _fdopen(descriptor, "wb");
  if (stream == nullptr) _close(descriptor);
  return stream;
}

HANDLE StreamHandle(std::FILE* stream) {
  int descriptor = _fileno(stream);
  return descriptor < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// Opens `path` for no access to its data, sharing everything, so that it
// disturbs no other program.
HANDLE OpenForQuery(const wchar_t* path) {
  return CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// `to` with its last component spelt as the existing entry that matches it
// without regard to case, so that "x.bak" keeps its name.
std::wstring ExistingSpelling(const std::wstring& to) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(to.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return to;
  FindClose(search);
  std::size_t name_at = to.find_last_of(L"\\/") + 1;
  if (CompareStringOrdinal(to.c_str() + name_at, -1, found.cFileName, -1, TRUE) != CSTR_EQUAL) return to;
  return to.substr(0, name_at) + found.cFileName;
}

}  // namespace

// The C runtime's fopen shares the file with other processes, as the game
// and other tools expect. Under Wine a pipe or a device in the folder opens
// like a file; it is closed before anything reads it.
std::FILE* OpenFileStream(const Install&, const char* path, const char* mode) {
  if (std::strcmp(mode, "wbx") == 0) return CreateNewFile(path);
  std::FILE* stream = std::fopen(path, mode);
  if (stream != nullptr && GetFileType(StreamHandle(stream)) != FILE_TYPE_DISK) {
    std::fclose(stream);
    errno = EINVAL;
    return nullptr;
  }
  return stream;
}

bool SyncStream(std::FILE* stream) {
  if (std::fflush(stream) != 0) return false;
  HANDLE handle = StreamHandle(stream);
  return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
}

bool RemoveFile(const Install&, const char* path) { return std::remove(path) == 0; }

// Under Wine a pipe or a device has no attributes at all (the call fails
// with another error than "not found"); on Windows the file type tells.
bool CanReplace(const Install&, const char* path) {
  std::wstring wide = ToWide(path);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE)) return false;
  HANDLE handle = OpenForQuery(wide.c_str());
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool is_file = GetFileType(handle) == FILE_TYPE_DISK;
  CloseHandle(handle);
  return is_file;
}

bool MoveFileOver(const Install&, const char* from, const char* to) {
  std::wstring wide_from = ToWide(from);
  std::wstring wide_to = ToWide(to);
  if (wide_from.empty() || wide_to.empty()) return false;
  return MoveFileExW(wide_from.c_str(), ExistingSpelling(wide_to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

// A file's identity is its volume serial number and file index.
bool IsSameFile(const Install&, std::FILE* stream, const char* path) {
  HANDLE open_handle = StreamHandle(stream);
  BY_HANDLE_FILE_INFORMATION open_file;
  if (open_handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(open_handle, &open_file)) {
    return false;
  }
  HANDLE named_handle = OpenForQuery(ToWide(path).c_str());
  if (named_handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION named_file;
  bool same = GetFileInformationByHandle(named_handle, &named_file) && SameIdentity(open_file, named_file);
  CloseHandle(named_handle);
  return same;
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

bool IsTooLongForSystem(const char* path) { return ToWide(path).size() >= MAX_PATH; }

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }
