#include "wine/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Reads `descriptor` to its end into `text`, straight into the string's own
// room, which grows only past what it already holds.
bool ReadToEnd(int descriptor, std::size_t expected, std::size_t limit, std::string* text) {
  std::size_t length = 0;
  std::size_t room = expected + 1;  // one more, to see the end without another call
  for (;;) {
    if (room > limit + 1) room = limit + 1;
    if (text->size() < room) text->resize(room);
    ssize_t got = read(descriptor, &(*text)[length], room - length);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    length += static_cast<std::size_t>(got);
    if (length > limit) return false;
    if (length == room) room += room / 2 + 4096;
  }
  text->resize(length);
  return true;
}

}  // namespace

bool ReadRegularFile(const std::string& path, std::size_t limit, std::string* text) {
  int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    text->clear();
    return false;
  }
  struct stat info;
  bool read_whole = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
                    ReadToEnd(descriptor, static_cast<std::size_t>(info.st_size), limit, text);
  close(descriptor);
  if (!read_whole) text->clear();
  return read_whole;
}
