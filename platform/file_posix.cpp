#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/native_path_posix.h"
#include "platform/platform.h"
#include "platform/unicode_posix.h"
#include "platform/wine_prefix_posix.h"

namespace {
std::string current_prefix;
}  // namespace

void UseWinePrefix(const std::string& prefix) { current_prefix = prefix; }

const std::string& CurrentWinePrefix() { return current_prefix; }

bool ToNativePath(const char* path, std::string* native) {
  if (current_prefix.empty() || !ToPrefixPath(current_prefix, path, native)) {
    errno = ENOENT;
    return false;
  }
  return true;
}

// Where an entry of the same name in another case exists, it is the one
// opened (and, for "wb", emptied), its name kept, as under Wine.
std::FILE* OpenFileStream(const char* path, const char* mode) {
  std::string native;
  if (!ToNativePath(path, &native)) return nullptr;
  return std::fopen(native.c_str(), mode);
}

bool RemoveFile(const char* path) {
  std::string native;
  return ToNativePath(path, &native) && std::remove(native.c_str()) == 0;
}

bool IsSameFile(std::FILE* stream, const char* path) {
  int descriptor = fileno(stream);
  std::string native;
  struct stat open_file;
  struct stat named_file;
  if (descriptor < 0 || fstat(descriptor, &open_file) != 0) return false;
  if (!ToNativePath(path, &native) || stat(native.c_str(), &named_file) != 0) return false;
  return open_file.st_dev == named_file.st_dev && open_file.st_ino == named_file.st_ino;
}

bool IsSameFileName(const char* a, const char* b) { return SameNameIgnoringCase(a, b); }
