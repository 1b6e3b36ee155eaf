#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "wine/names.h"
#include "wine/windows_path.h"

namespace {

// The file `path` names inside the install's prefix; false (errno ENOENT)
// if it names none there.
bool ToNativePath(const Install& install, const char* path, std::string* native) {
  if (install.root.empty() || !ToPrefixPath(install.root, path, native)) {
    errno = ENOENT;
    return false;
  }
  return true;
}

}  // namespace

// Where an entry of the same name in another case exists, it is the one
// opened (and, for "wb", emptied), its name kept, as under Wine.
std::FILE* OpenFileStream(const Install& install, const char* path, const char* mode) {
  std::string native;
  if (!ToNativePath(install, path, &native)) return nullptr;
  return std::fopen(native.c_str(), mode);
}

bool RemoveFile(const Install& install, const char* path) {
  std::string native;
  return ToNativePath(install, path, &native) && std::remove(native.c_str()) == 0;
}

bool IsSameFile(const Install& install, std::FILE* stream, const char* path) {
  int descriptor = fileno(stream);
  std::string native;
  struct stat open_file;
  struct stat named_file;
  if (descriptor < 0 || fstat(descriptor, &open_file) != 0) return false;
  if (!ToNativePath(install, path, &native) || stat(native.c_str(), &named_file) != 0) return false;
  return open_file.st_dev == named_file.st_dev && open_file.st_ino == named_file.st_ino;
}

bool IsSameFileName(const char* a, const char* b) { return SameNameIgnoringCase(a, b); }
