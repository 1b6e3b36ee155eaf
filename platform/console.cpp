#include "platform/console.h"

#include <cstdio>

namespace {

// The longest message with a path that fills the 500-byte buffer fits.
constexpr int kMessageSize = 1024;

bool flush_each_message = false;

}  // namespace

// An unbuffered console stream may be written a character at a time (one
// system call per character under Wine); a buffer flushed after every
// message writes each message in one go and still shows it at once.
void SetUpConsoleOutput() {
  flush_each_message = StdoutIsConsole();
  if (flush_each_message) std::setvbuf(stdout, nullptr, _IOFBF, kMessageSize);
}

void PrintMessage(const char* format, const char* text) {
  char message[kMessageSize];
  int length = std::snprintf(message, sizeof message, format, text);
  if (length < 0) return;
  if (length >= kMessageSize) {
    std::printf(format, text);
  } else {
    std::fwrite(message, 1, static_cast<std::size_t>(length), stdout);
  }
  if (flush_each_message) std::fflush(stdout);
}
