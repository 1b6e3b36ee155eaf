#include "platform/platform.h"

namespace {
StreamOpener current_opener = OpenFileStream;
}

StreamOpener ReplaceStreamOpener(StreamOpener opener) {
  StreamOpener previous = current_opener;
  current_opener = opener;
  return previous;
}

std::FILE* OpenStream(const Install& install, const char* path, const char* mode) {
  return current_opener(install, path, mode);
}
