// Wine prefixes seen from Linux: where they are, and how a Windows path and a
// wildcard search reach the files inside one, the way Wine itself resolves
// them for a Windows program running in that prefix.
#ifndef SAVEFIX_PLATFORM_WINE_PREFIX_POSIX_H
#define SAVEFIX_PLATFORM_WINE_PREFIX_POSIX_H

#include <cstddef>
#include <string>
#include <vector>

// Reads the whole of `path` into `text` (its room is kept, so a buffer can
// serve file after file). False if it is not a regular file, cannot be read,
// or holds more than `limit` bytes. A named pipe or a device put where a
// registry or library list belongs is refused rather than waited on.
bool ReadRegularFile(const std::string& path, std::size_t limit, std::string* text);

// The Wine prefixes to look in, in order: $WINEPREFIX alone when set and not
// empty; otherwise $HOME/.wine, then each Steam library's
// steamapps/compatdata/<appid>/pfx. Only directories that exist; a directory
// reached twice (same device and inode) counts once, under the first spelling.
std::vector<std::string> FindWinePrefixes();

// The same, from given values instead of the environment; either may be null.
std::vector<std::string> FindWinePrefixes(const char* wineprefix, const char* home);

// The absolute library paths a Steam libraryfolders.vdf text lists, in file
// order (nested "path" entries and the old numbered entries). A text that is
// malformed or too large lists none.
std::vector<std::string> ParseLibraryFolders(const std::string& vdf);

// Turns a Windows path into a path inside `prefix` as Wine does: the drive
// through dosdevices/x:, '/' and '\' both separate, "." and ".." resolved
// (never above the drive root), trailing dots and spaces of the last component
// dropped, each component found exactly or else as the first entry the
// directory lists that matches without regard to case. A last component that
// does not exist is kept as written. False: no drive letter, a drive the
// prefix lacks, a name Wine rejects (".." left over, *?<>|" or control
// characters), or a directory component that is missing.
bool ToPrefixPath(const std::string& prefix, const std::string& windows_path, std::string* unix_path);

// Splits a Windows search pattern ("C:\dir\*.HDR") into the Unix directory it
// searches, resolved as ToPrefixPath does, and the wildcard of its last
// component. False if the directory is not found or there is no wildcard.
bool ToPrefixSearch(const std::string& prefix, const std::string& windows_pattern,
                    std::string* unix_directory, std::string* wildcard);

// The entries of Unix directory `directory` (not "." and "..") whose names
// match the Windows wildcard ('*' any run, '?' one UTF-16 unit, without regard
// to case), in Wine's directory order. False if the directory cannot be listed.
bool ListMatchingEntries(const std::string& directory, const std::string& wildcard,
                         std::vector<std::string>* names);

#endif
