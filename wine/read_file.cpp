#include "wine/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

int OpenRegularFile(const std::string& path) {
  int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return -1;
  struct stat info;
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(descriptor);
    return -1;
  }
  return descriptor;
}

// Reads straight into the string's own room, which grows only past what it
// already holds; one byte more than the file's size sees the end without
// another call.
bool ReadToEnd(int descriptor, std::size_t limit, std::string* text) {
  struct stat info;
  std::size_t length = 0;
  std::size_t room = (fstat(descriptor, &info) == 0 ? static_cast<std::size_t>(info.st_size) : 0) + 1;
  for (;;) {
    if (room > limit + 1) room = limit + 1;
    if (text->size() < room) text->resize(room);
    ssize_t got = read(descriptor, &(*text)[length], room - length);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || length + static_cast<std::size_t>(got) > limit) {
      text->clear();
      return false;
    }
    if (got == 0) break;
    length += static_cast<std::size_t>(got);
    if (length == room) room += room / 2 + 4096;
  }
  text->resize(length);
  return true;
}

bool ReadRegularFile(const std::string& path, std::size_t limit, std::string* text) {
  int descriptor = OpenRegularFile(path);
  if (descriptor < 0) {
    text->clear();
    return false;
  }
  bool read_whole = ReadToEnd(descriptor, limit, text);
  close(descriptor);
  return read_whole;
}
