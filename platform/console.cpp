#include "platform/console.h"

#include <cstdio>
#include <string>

// An unbuffered console stream is written at once, so every message shows as
// it is printed. Each message goes in one write: a stream unbuffered may
// otherwise be written a character at a time (a system call each under Wine).
void SetUpConsoleOutput() {
  if (StdoutIsConsole()) std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void PrintMessage(const char* format, const char* text) {
  const int length = std::snprintf(nullptr, 0, format, text);
  if (length < 0) return;
  std::string message(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(&message[0], message.size(), format, text);
  std::fwrite(message.data(), 1, message.size() - 1, stdout);
}
