#include "wine/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

bool ReadRegularFile(const std::string& path, std::size_t limit, std::string* text) {
  text->clear();
  int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat info;
  std::FILE* file = nullptr;
  if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode)) file = fdopen(descriptor, "rb");
  if (file == nullptr) {
    close(descriptor);
    return false;
  }
  char chunk[65536];
  bool fits = true;
  std::size_t got;
  while (fits && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    fits = text->size() + got <= limit;
    if (fits) text->append(chunk, got);
  }
  const bool read_error = std::ferror(file) != 0;
  std::fclose(file);
  return fits && !read_error;
}

