// Windows paths inside a Wine prefix: the Unix file a path names there, as
// Wine resolves it for a Windows program running in that prefix.
#ifndef SAVEFIX_WINE_WINDOWS_PATH_H
#define SAVEFIX_WINE_WINDOWS_PATH_H

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "wine/directory.h"

// The Unix directory Wine starts a Windows program in when it is run from
// here: `pwd` (the shell's $PWD, which keeps the links it went through) if it
// names the same directory as getcwd(), else getcwd(). Where getcwd() fails
// (the folder was removed), `pwd` as it is, even empty (a shell started
// there empties $PWD); none without it.
std::optional<std::string> UnixWorkingDirectory(const char* pwd);

// A Wine prefix as a Windows program started in one Unix directory sees it.
// What a path's resolution finds out about the prefix (its directories'
// listings, its drives, the program's working directory) is kept for the
// next one.
struct WinePrefix {
  std::string root;
  std::optional<std::string> unix_working_directory;
  DirectoryIndex index = {};
  std::string windows_working_directory = {};  // empty until needed
  // Windows directory paths already resolved, to their Unix directories.
  struct Parent {
    std::string directory;
    bool with_case;  // names below match only with case
  };
  std::unordered_map<std::string, Parent> parents = {};
  // The drives in dosdevices/, each by the device and inode of its root,
  // the first letter of several kept; read on first need.
  std::optional<std::map<std::pair<dev_t, ino_t>, char>> drives = {};
};

// Turns a Windows path into a path inside `prefix` as Wine does, for a
// program started in the prefix's Unix working directory:
// - "\\?\" and "\??\" paths are taken as written: no clean-up, and "." or
//   ".." components or doubled separators are refused; "\\?\unix\..." is a
//   Unix path, matched with case.
// - Other paths are first made full and cleaned up: '/' and '\' both
//   separate, doubled separators collapse, "." and ".." go (never above the
//   drive, "\\.\" or the working directory's root), trailing dots and spaces
//   of the last component are dropped. "\\.\X:\..." names drive X. A path
//   rooted without a drive ("\dir") starts at the root of the working
//   directory's drive, unless it starts with a single '/' and Wine takes it
//   as a Unix path under a drive: one free of *?<>|" up to its first
//   backslash, whose components, split at backslashes only, exist as written
//   but for the last ("/x/y\z" needs the folder /x/y). "X:dir" continues the
//   working directory when that is on drive X, else X's root; "dir" always
//   continues it.
// - The working directory: the Unix one under the drive whose root is its
//   nearest ancestor, else as a Unix path ("unix\..."; "unix\" for an empty
//   one), whose "\dir" paths start at its first component; C:\windows\ if
//   that is no directory or none is known.
// - Drive X: is dosdevices/x:. Each component is the exact name if it
//   exists, else the first entry the directory lists that matches without
//   regard to case, by name or, for an 8.3 name, by the alias Wine gives a
//   name that is none; a last component that does not exist is kept as written.
// False: a drive or device the prefix lacks, a name Wine rejects (".." left
// over, *?<>|" or control characters), or a directory component that is missing.
bool ToPrefixPath(WinePrefix& prefix, const std::string& windows_path, std::string* unix_path);

// The path Wine opens for `windows_path` before it looks at the disk: made
// full against the working directory and cleaned up ("C:\dir\x", or
// "unix\..." or "UNC\..."), as "\??\" followed by it is taken as written.
bool ToFullPath(WinePrefix& prefix, const std::string& windows_path, std::string* nt_path);

// ToPrefixPath's file as the Unix directory it lies in and its name there;
// the name is empty where the path ends with a separator. `with_case`, if
// not null, tells whether names in that directory match only with case.
bool ToPrefixEntry(WinePrefix& prefix, const std::string& windows_path, std::string* directory, std::string* name,
                   bool* with_case = nullptr);

// Where the Windows folder `windows_folder` (ending in a separator) is on
// this machine: the Unix folder its existing part names, a drive's folder as
// the drive's link in dosdevices/ names it, spelt from the prefix's root
// ("../drive_c" is the prefix's drive_c); then, in `missing`, the components
// below that do not exist, each behind a '/'. For a drive the prefix lacks,
// where its link would be. False where the path names no place at all.
bool FolderOnMachine(WinePrefix& prefix, const std::string& windows_folder, std::string* existing,
                     std::string* missing);

// False for names Wine refuses as a component of a path: empty, "." and
// "..", and names holding a '/', a control character or one of *?<>|".
bool IsValidName(const std::string& name);

// Splits a Windows search pattern ("C:\dir\*.HDR") into the Unix directory it
// searches, resolved as ToPrefixPath does, and the wildcard of its last
// component. False if the directory is not found or there is no wildcard.
bool ToPrefixSearch(WinePrefix& prefix, const std::string& windows_pattern, std::string* unix_directory,
                    std::string* wildcard);

#endif
