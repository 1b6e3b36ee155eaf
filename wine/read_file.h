// Reading the files a prefix holds: its saves, system.reg, Steam's library lists.
#ifndef SAVEFIX_WINE_READ_FILE_H
#define SAVEFIX_WINE_READ_FILE_H

#include <cstddef>
#include <string>

// Opens the entry `name` of the folder open on `folder` (AT_FDCWD: the
// working directory) with the open(2) `flags`, only if, links followed, it
// is a regular file: a named pipe or a device put where a file belongs is
// refused, never opened nor waited on. -1 otherwise.
int OpenRegularFileAt(int folder, const char* name, int flags);

// OpenRegularFileAt for reading the file at `path`.
int OpenRegularFile(const std::string& path);

// read(2), tried again when a signal cuts it short.
long ReadSome(int descriptor, void* into, std::size_t size);

// Reads `descriptor` from where it stands to its end into `text` (its room
// is kept, so a buffer can serve file after file). False if it cannot be
// read or holds more than `limit` bytes; `text` is then emptied.
bool ReadToEnd(int descriptor, std::size_t limit, std::string* text);

// Reads the whole of the regular file `path` into `text`, as above.
bool ReadRegularFile(const std::string& path, std::size_t limit, std::string* text);

#endif
