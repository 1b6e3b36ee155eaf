#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "platform/native_path_posix.h"
#include "platform/platform.h"
#include "platform/unicode_posix.h"

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

bool IsSameFile(std::FILE* stream, const char* path) {
  int descriptor = fileno(stream);
  char native[kPathBufferSize];
  struct stat open_file;
  struct stat named_file;
  if (descriptor < 0 || fstat(descriptor, &open_file) != 0) return false;
  if (!ToNativePath(path, native) || stat(native, &named_file) != 0) return false;
  return open_file.st_dev == named_file.st_dev && open_file.st_ino == named_file.st_ino;
}

bool IsSameFileName(const char* a, const char* b) { return SameNameIgnoringCase(a, b); }
