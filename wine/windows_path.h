// Windows paths inside a Wine prefix: the Unix file a path names there, as
// Wine resolves it for a Windows program running in that prefix.
#ifndef SAVEFIX_WINE_WINDOWS_PATH_H
#define SAVEFIX_WINE_WINDOWS_PATH_H

#include <string>

#include "wine/directory.h"

// Turns a Windows path into a path inside `prefix` as Wine does: the drive
// through dosdevices/x:, '/' and '\' both separate, "." and ".." resolved
// (never above the drive root), trailing dots and spaces of the last component
// dropped, each component found exactly or else as the first entry the
// directory lists that matches without regard to case. A last component that
// does not exist is kept as written. False: no drive letter, a drive the
// prefix lacks, a name Wine rejects (".." left over, *?<>|" or control
// characters), or a directory component that is missing. Directories are
// listed through `index` (null: anew for each lookup).
bool ToPrefixPath(const std::string& prefix, const std::string& windows_path, std::string* unix_path,
                  DirectoryIndex* index);

// Splits a Windows search pattern ("C:\dir\*.HDR") into the Unix directory it
// searches, resolved as ToPrefixPath does, and the wildcard of its last
// component. False if the directory is not found or there is no wildcard.
bool ToPrefixSearch(const std::string& prefix, const std::string& windows_pattern,
                    std::string* unix_directory, std::string* wildcard, DirectoryIndex* index);

#endif
