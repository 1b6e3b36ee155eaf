// Reading the text files a prefix holds (system.reg, Steam's library lists).
#ifndef SAVEFIX_WINE_READ_FILE_H
#define SAVEFIX_WINE_READ_FILE_H

#include <cstddef>
#include <string>

// Reads the whole of `path` into `text` (its room is kept, so a buffer can
// serve file after file). False if it is not a regular file, cannot be read,
// or holds more than `limit` bytes. A named pipe or a device put where a
// registry or library list belongs is refused rather than waited on.
bool ReadRegularFile(const std::string& path, std::size_t limit, std::string* text);

#endif
