#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

// The C runtime's fopen shares the file with other processes, as the game
// and other tools expect.
std::FILE* OpenFileStream(const Install&, const char* path, const char* mode) {
  return std::fopen(path, mode);
}

bool RemoveFile(const Install&, const char* path) { return std::remove(path) == 0; }

namespace {

bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

// A file's identity is its volume serial number and file index; opening the
// path asks for no access to the data and shares everything, so it disturbs
// no other program.
bool IsSameFile(const Install&, std::FILE* stream, const char* path) {
  int descriptor = _fileno(stream);
  if (descriptor < 0) return false;
  HANDLE open_handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  BY_HANDLE_FILE_INFORMATION open_file;
  if (open_handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(open_handle, &open_file)) {
    return false;
  }
  HANDLE named_handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named_handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION named_file;
  bool same = GetFileInformationByHandle(named_handle, &named_file) && SameIdentity(open_file, named_file);
  CloseHandle(named_handle);
  return same;
}

// Names come in the ANSI code page; the comparison the file system makes
// without regard to case is an ordinal one on the UTF-16 names.
bool IsSameFileName(const char* a, const char* b) {
  wchar_t wide_a[MAX_PATH];
  wchar_t wide_b[MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, 0, a, -1, wide_a, MAX_PATH) == 0 ||
      MultiByteToWideChar(CP_ACP, 0, b, -1, wide_b, MAX_PATH) == 0) {
    return std::strcmp(a, b) == 0;
  }
  return CompareStringOrdinal(wide_a, -1, wide_b, -1, TRUE) == CSTR_EQUAL;
}
