#include <unistd.h>

#include "platform/console.h"

bool StdoutIsConsole() { return isatty(STDOUT_FILENO) != 0; }
