#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "platform/device_name.h"
#include "platform/install_state_posix.h"
#include "platform/platform.h"
#include "wine/names.h"
#include "wine/windows_path.h"

namespace {

// The file `path` names inside the install's prefix, for a program started
// from this process's working directory, as a name within an open folder:
// calls made relative to the folder do not walk its long path through the
// prefix (dosdevices/, the drive's link) again each time. Where the folder
// cannot be opened, the name is the whole path and the folder the working
// directory. False (errno ENOENT) if it names no file there.
struct NativeEntry {
  int folder = AT_FDCWD;
  std::string name;
};

bool ToNativeEntry(const Install& install, const char* path, NativeEntry* entry) {
  std::string directory;
  std::string name;
  if (install.root.empty() || !ToPrefixEntry(install.root, path, WorkingDirectory(install), &directory, &name,
                                             Directories(install))) {
    errno = ENOENT;
    return false;
  }
  if (install.state && !name.empty()) {
    std::unordered_map<std::string, int>& open_folders = install.state->folders.descriptors;
    auto known = open_folders.find(directory);
    if (known == open_folders.end()) {
      // O_DIRECTORY refuses anything else before it is opened: a pipe never blocks.
      known = open_folders.emplace(directory, open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)).first;
    }
    if (known->second >= 0) {
      entry->folder = known->second;
      entry->name = std::move(name);
      return true;
    }
  }
  entry->folder = AT_FDCWD;
  entry->name = JoinPath(directory, name);
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
std::FILE* OpenRegularStream(const NativeEntry& native, const OpenMode& mode) {
  struct stat info;
  if ((mode.flags & O_CREAT) == 0) {
    if (fstatat(native.folder, native.name.c_str(), &info, 0) != 0) return nullptr;
    if (!S_ISREG(info.st_mode)) {
      errno = EINVAL;
      return nullptr;
    }
  }
  int descriptor = openat(native.folder, native.name.c_str(), mode.flags | O_NONBLOCK | O_CLOEXEC, 0666);
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

OpenFolders::~OpenFolders() {
  for (const auto& folder : descriptors) {
    if (folder.second >= 0) close(folder.second);
  }
}

// Where an entry of the same name in another case exists, it is the one
// opened, its name kept, as under Wine.
std::FILE* OpenFileStream(const Install& install, const char* path, const char* mode) {
  NativeEntry native;
  if (!ToNativeEntry(install, path, &native)) return nullptr;
  for (const OpenMode& known : kOpenModes) {
    if (std::strcmp(known.mode, mode) == 0) return OpenRegularStream(native, known);
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

// As remove(): a directory is removed as one.
bool RemoveFile(const Install& install, const char* path) {
  NativeEntry native;
  if (!ToNativeEntry(install, path, &native)) return false;
  return unlinkat(native.folder, native.name.c_str(), 0) == 0 ||
         (errno == EISDIR && unlinkat(native.folder, native.name.c_str(), AT_REMOVEDIR) == 0);
}

// Wine takes a file with no write permission at all as read-only, and
// refuses to replace a directory or anything that is not a file.
bool CanReplace(const Install& install, const char* path) {
  NativeEntry native;
  if (!ToNativeEntry(install, path, &native)) return false;
  struct stat info;
  if (fstatat(native.folder, native.name.c_str(), &info, 0) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode) && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

bool MoveFileOver(const Install& install, const char* from, const char* to) {
  NativeEntry native_from;
  NativeEntry native_to;
  return ToNativeEntry(install, from, &native_from) && ToNativeEntry(install, to, &native_to) &&
         renameat(native_from.folder, native_from.name.c_str(), native_to.folder, native_to.name.c_str()) == 0;
}

bool IsSameFile(const Install& install, std::FILE* stream, const char* path) {
  int descriptor = fileno(stream);
  NativeEntry native;
  struct stat open_file;
  struct stat named_file;
  if (descriptor < 0 || fstat(descriptor, &open_file) != 0) return false;
  if (!ToNativeEntry(install, path, &native) || fstatat(native.folder, native.name.c_str(), &named_file, 0) != 0) {
    return false;
  }
  return open_file.st_dev == named_file.st_dev && open_file.st_ino == named_file.st_ino;
}

std::string FileNameKey(const char* name) { return NameKey(name); }

bool IsDeviceName(const char* name) { return IsDeviceNameUnits(Utf8ToUtf16(name)); }

// The native program reaches long paths; only the 500-byte buffer limits them.
bool IsTooLongForSystem(const char*) { return false; }

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }
