// Console messages. On a console every message is written out whole as it
// is printed; to a file or a pipe output goes in blocks, completed at exit.
#ifndef SAVEFIX_PLATFORM_CONSOLE_H
#define SAVEFIX_PLATFORM_CONSOLE_H

// Call once, before anything is printed.
void SetUpConsoleOutput();

// Prints `format`, in which a "%s" (at most one) stands for `text`.
void PrintMessage(const char* format, const char* text = "");

// True if standard output is a console (a terminal on POSIX).
bool StdoutIsConsole();

#endif
