#include "wine/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

// The look before the open keeps a device from ever being opened; the check
// after it catches an entry swapped in between, which O_NONBLOCK keeps from
// blocking the open. The flag stays set: it changes nothing for a regular file.
int OpenRegularFileAt(int folder, const char* name, int flags) {
  struct stat info;
  if (fstatat(folder, name, &info, 0) != 0) return -1;
  if (S_ISREG(info.st_mode)) {
    const int descriptor = openat(folder, name, flags | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return -1;
    if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode)) return descriptor;
    close(descriptor);
  }
  errno = EINVAL;
  return -1;
}

int OpenRegularFile(const std::string& path) { return OpenRegularFileAt(AT_FDCWD, path.c_str(), O_RDONLY); }

long ReadSome(int descriptor, void* into, std::size_t size) {
  for (;;) {
    const ssize_t got = read(descriptor, into, size);
    if (got >= 0 || errno != EINTR) return static_cast<long>(got);
  }
}

// Reads straight into the string's own room, which grows only past what it
// already holds; one byte more than the file's size sees the end without
// another call. A file already longer than `limit` is not read at all.
bool ReadToEnd(int descriptor, std::size_t limit, std::string* text) {
  struct stat info;
  const std::size_t size = fstat(descriptor, &info) == 0 ? static_cast<std::size_t>(info.st_size) : 0;
  std::size_t length = 0;
  std::size_t room = size + 1;
  while (size <= limit) {
    if (room > limit + 1) room = limit + 1;
    if (text->size() < room) text->resize(room);
    const long got = ReadSome(descriptor, &(*text)[length], room - length);
    if (got < 0 || length + static_cast<std::size_t>(got) > limit) break;
    if (got == 0) {
      text->resize(length);
      return true;
    }
    length += static_cast<std::size_t>(got);
    if (length == room) room += room / 2 + 4096;
  }
  text->clear();
  return false;
}

bool ReadRegularFile(const std::string& path, std::size_t limit, std::string* text) {
  const int descriptor = OpenRegularFile(path);
  const bool read_whole = descriptor >= 0 && ReadToEnd(descriptor, limit, text);
  if (descriptor >= 0) close(descriptor);
  if (!read_whole) text->clear();
  return read_whole;
}
