#include <windows.h>

#include <cstring>
#include <new>

#include "platform/platform.h"

struct DirectorySearch {
  HANDLE handle;
};

namespace {

void CopyEntryName(const WIN32_FIND_DATAA& found, char (&name)[kEntryNameSize]) {
  static_assert(sizeof found.cFileName <= kEntryNameSize, "entry name room");
  std::memcpy(name, found.cFileName, sizeof found.cFileName);
  name[sizeof found.cFileName - 1] = '\0';
}

}  // namespace

// The ANSI search refuses a pattern of more than MAX_PATH units, under Wine
// as on Windows without long path support.
DirectorySearch* FindFirstEntry(const Install&, const char* pattern, char (&name)[kEntryNameSize],
                                bool* too_long) {
  WIN32_FIND_DATAA found;
  HANDLE handle = FindFirstFileA(pattern, &found);
  *too_long = false;
  if (handle == INVALID_HANDLE_VALUE) {
    *too_long = GetLastError() == ERROR_FILENAME_EXCED_RANGE || IsTooLongForSystem(pattern);
    return nullptr;
  }
  DirectorySearch* search = new (std::nothrow) DirectorySearch{handle};
  if (search == nullptr) {
    FindClose(handle);
    return nullptr;
  }
  CopyEntryName(found, name);
  return search;
}

bool FindNextEntry(DirectorySearch* search, char (&name)[kEntryNameSize]) {
  WIN32_FIND_DATAA found;
  if (!FindNextFileA(search->handle, &found)) return false;
  CopyEntryName(found, name);
  return true;
}

void CloseSearch(DirectorySearch* search) {
  FindClose(search->handle);
  delete search;
}
