// Directories as Wine shows them to a Windows program: entries found
// without regard to case, wildcard searches and Wine's listing order.
#ifndef SAVEFIX_WINE_DIRECTORY_H
#define SAVEFIX_WINE_DIRECTORY_H

#include <sys/stat.h>

#include <string>
#include <vector>

// `directory` and `name` joined by one '/'.
std::string JoinPath(const std::string& directory, const std::string& name);

// True if `path` is a directory (links followed); `info` receives its status.
bool IsDirectory(const std::string& path, struct stat* info);

// The names in `directory` except "." and "..", in the order the system
// lists them. False if it cannot be read to the end.
bool ListDirectory(const std::string& directory, std::vector<std::string>* names);

enum class Lookup { kFound, kMissing, kFailed };

// The entry of `directory` that `name` means: the exact name if it exists,
// else the first entry listed that matches without regard to case.
Lookup FindEntry(const std::string& directory, const std::string& name, std::string* found);

// The entries of `directory` (not "." and "..") whose names match the
// Windows wildcard ('*' any run, '?' one UTF-16 unit, without regard to
// case), in Wine's directory order. False if the directory cannot be listed.
bool ListMatchingEntries(const std::string& directory, const std::string& wildcard,
                         std::vector<std::string>* names);

#endif
