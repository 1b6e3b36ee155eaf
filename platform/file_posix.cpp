#include <cerrno>
#include <cstdio>

#include "platform/native_path_posix.h"
#include "platform/platform.h"

bool ToNativePath(const char* path, char (&native)[kPathBufferSize]) {
  std::size_t i = 0;
  for (; path[i] != '\0'; ++i) {
    if (i + 1 >= kPathBufferSize) {
      errno = ENAMETOOLONG;
      return false;
    }
    native[i] = path[i] == '\\' ? '/' : path[i];
  }
  native[i] = '\0';
  return true;
}

std::FILE* OpenFileStream(const char* path, const char* mode) {
  char native[kPathBufferSize];
  if (!ToNativePath(path, native)) return nullptr;
  return std::fopen(native, mode);
}

bool RemoveFile(const char* path) {
  char native[kPathBufferSize];
  return ToNativePath(path, native) && std::remove(native) == 0;
}
