#include "platform/console.h"

#include <cstdio>
#include <vector>

// An unbuffered console stream is written at once, so every message shows as
// it is printed. Each message goes in one write: a stream unbuffered may
// otherwise be written a character at a time (a system call each under Wine).
void SetUpConsoleOutput() {
  if (StdoutIsConsole()) std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void PrintMessage(const char* format, const char* text) {
  char message[1024];
  const int length = std::snprintf(message, sizeof message, format, text);
  if (length < 0) return;
  const std::size_t size = static_cast<std::size_t>(length);
  if (size < sizeof message) {
    std::fwrite(message, 1, size, stdout);
    return;
  }
  std::vector<char> longer(size + 1);
  std::snprintf(longer.data(), longer.size(), format, text);
  std::fwrite(longer.data(), 1, size, stdout);
}
