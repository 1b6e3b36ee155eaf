#include <io.h>

#include <cstdio>

#include "platform/console.h"

bool StdoutIsConsole() { return _isatty(_fileno(stdout)) != 0; }
