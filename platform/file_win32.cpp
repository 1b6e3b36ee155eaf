#include "platform/platform.h"

#include <cstdio>

// The C runtime's fopen shares the file with other processes, as the game
// and other tools expect.
std::FILE* OpenFileStream(const char* path, const char* mode) {
  return std::fopen(path, mode);
}

bool RemoveFile(const char* path) { return std::remove(path) == 0; }
