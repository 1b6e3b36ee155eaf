#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/device_name.h"
#include "platform/install_state_posix.h"
#include "platform/platform.h"
#include "wine/names.h"
#include "wine/windows_path.h"

namespace {

// The file `path` names inside the install's prefix, for a program started
// from this process's working directory; false (errno ENOENT) if it names none there.
bool ToNativePath(const Install& install, const char* path, std::string* native) {
  if (install.root.empty() ||
      !ToPrefixPath(install.root, path, WorkingDirectory(install), native, Directories(install))) {
    errno = ENOENT;
    return false;
  }
  return true;
}

struct OpenMode {
  const char* mode;
  int flags;
  const char* stdio_mode;
  bool unbuffered;
};

// A new file is the copy of a save, written in chunks each flushed at once:
// a buffer would save no write, and stdio would stat the file to size it.
const OpenMode kOpenModes[] = {
    {"rb", O_RDONLY, "rb", false},
    {"r+b", O_RDWR, "r+b", false},
    {"wb", O_WRONLY | O_CREAT | O_TRUNC, "wb", false},
    {"wbx", O_WRONLY | O_CREAT | O_EXCL, "wb", true},
};

bool IsRegular(int descriptor) {
  struct stat info;
  return fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
}

// Opens `native` without ever waiting on a pipe, and only if, links
// followed, it is a regular file. The stat before the open keeps a device
// from ever being opened; the check after it catches an entry swapped in
// between, which O_NONBLOCK keeps from blocking the open. The flag stays
// set: on Linux it has no effect on a regular file. A file that O_EXCL
// created is a new regular file and needs no check.
std::FILE* OpenRegularFile(const std::string& native, const OpenMode& mode) {
  struct stat info;
  if ((mode.flags & O_CREAT) == 0) {
    if (stat(native.c_str(), &info) != 0) return nullptr;
    if (!S_ISREG(info.st_mode)) {
      errno = EINVAL;
      return nullptr;
    }
  }
  int descriptor = open(native.c_str(), mode.flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (descriptor < 0) return nullptr;
  std::FILE* stream = nullptr;
  if ((mode.flags & O_EXCL) != 0 || IsRegular(descriptor)) stream = fdopen(descriptor, mode.stdio_mode);
  if (stream == nullptr) {
    close(descriptor);
  } else if (mode.unbuffered) {
    std::setvbuf(stream, nullptr, _IONBF, 0);
  }
  return stream;
}

}  // namespace

// Where an entry of the same name in another case exists, it is the one
// opened, its name kept, as under Wine.
std::FILE* OpenFileStream(const Install& install, const char* path, const char* mode) {
  std::string native;
  if (!ToNativePath(install, path, &native)) return nullptr;
  for (const OpenMode& known : kOpenModes) {
    if (std::strcmp(known.mode, mode) == 0) return OpenRegularFile(native, known);
  }
  errno = EINVAL;
  return nullptr;
}

// A stream without a descriptor of its own has nothing the system could sync.
bool SyncStream(std::FILE* stream) {
  if (std::fflush(stream) != 0) return false;
  int descriptor = fileno(stream);
  return descriptor < 0 || fsync(descriptor) == 0;
}

bool RemoveFile(const Install& install, const char* path) {
  std::string native;
  return ToNativePath(install, path, &native) && std::remove(native.c_str()) == 0;
}

// Wine takes a file with no write permission at all as read-only, and
// refuses to replace a directory or anything that is not a file.
bool CanReplace(const Install& install, const char* path) {
  std::string native;
  if (!ToNativePath(install, path, &native)) return false;
  struct stat info;
  if (stat(native.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode) && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

bool MoveFileOver(const Install& install, const char* from, const char* to) {
  std::string native_from;
  std::string native_to;
  return ToNativePath(install, from, &native_from) && ToNativePath(install, to, &native_to) &&
         std::rename(native_from.c_str(), native_to.c_str()) == 0;
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

std::string FileNameKey(const char* name) { return NameKey(name); }

bool IsDeviceName(const char* name) { return IsDeviceNameUnits(Utf8ToUtf16(name)); }

// The native program reaches long paths; only the 500-byte buffer limits them.
bool IsTooLongForSystem(const char*) { return false; }

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }
