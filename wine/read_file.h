// Reading the text files a prefix holds (system.reg, Steam's library lists).
#ifndef SAVEFIX_WINE_READ_FILE_H
#define SAVEFIX_WINE_READ_FILE_H

#include <cstddef>
#include <string>

// Opens `path` for reading if, links followed, it is a regular file: a named
// pipe or a device put where a registry or library list belongs is refused
// rather than waited on. -1 otherwise.
int OpenRegularFile(const std::string& path);

// Reads `descriptor` from where it stands to its end into `text` (its room
// is kept, so a buffer can serve file after file). False if it cannot be
// read or holds more than `limit` bytes; `text` is then emptied.
bool ReadToEnd(int descriptor, std::size_t limit, std::string* text);

// Reads the whole of the regular file `path` into `text`, as above.
bool ReadRegularFile(const std::string& path, std::size_t limit, std::string* text);

#endif
