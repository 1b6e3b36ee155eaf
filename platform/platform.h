// The narrow layer between savefix and the operating system: the installs
// of the game, opening and removing files, reading a string from the
// registry, and the directory search. The *_win32 files make the real
// Windows calls; the *_posix files reach the same files and registry from
// Linux, through the model of Wine in wine/.
#ifndef SAVEFIX_PLATFORM_PLATFORM_H
#define SAVEFIX_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Size of the path buffer and of the search-pattern buffer, terminator included.
constexpr std::size_t kPathBufferSize = 500;

// Room for one entry name returned by the directory search, terminator included.
constexpr std::size_t kEntryNameSize = 260;

// ---- Installs ------------------------------------------------------------

// One place the game may be installed: a registry and the files its paths
// name. Every registry, file and search call is made within one.
struct Install {
  std::string label;  // printed before the install's messages; empty for none
  std::string root;   // where its Windows paths resolve; empty: the system's own
};

// The installs to patch, in order, for the game whose key (below
// HKEY_LOCAL_MACHINE) is `key_path`. On Windows there is one, this machine's;
// elsewhere one for each place the platform finds that holds the key. Never
// empty: with none found, one whose registry holds nothing, so that the run
// says it could not read the registry.
std::vector<Install> FindInstalls(const char* key_path);

// Reads the string value `value_name` of `key_path` under HKEY_LOCAL_MACHINE
// of `install` into `buffer` (kPathBufferSize bytes) and ends it with a zero
// byte. False if the key or value is missing, is not a string, or does not fit.
bool ReadRegistryString(const Install& install, const char* key_path, const char* value_name, char* buffer);

// ---- Files ---------------------------------------------------------------

// Opens a buffered stream on `path` with the C mode string `mode`; null on
// failure. Paths are Windows paths, resolved within `install`.
std::FILE* OpenFileStream(const Install& install, const char* path, const char* mode);

// Deletes the file at `path`; true if it is gone.
bool RemoveFile(const Install& install, const char* path);

// True if `path` names the very file `stream` has open (a hard or symbolic
// link to it included). False when it names another file, none, or the
// stream's file cannot be told.
bool IsSameFile(const Install& install, std::FILE* stream, const char* path);

// True if the file system takes the entry names `a` and `b` for the same
// name: equal without regard to case, non-ASCII letters included.
bool IsSameFileName(const char* a, const char* b);

// Every stream the program opens goes through this seam, so tests can hand
// out streams that fail on cue. Returns the opener that was in place.
using StreamOpener = std::FILE* (*)(const Install& install, const char* path, const char* mode);
StreamOpener ReplaceStreamOpener(StreamOpener opener);
std::FILE* OpenStream(const Install& install, const char* path, const char* mode);

// ---- Directory search ----------------------------------------------------

struct DirectorySearch;

// Starts a search for `pattern` (a directory path followed by a wildcard
// name, matched without regard to case). Puts the first entry's name in
// `name` and returns the open search, or null when nothing matches.
DirectorySearch* FindFirstEntry(const Install& install, const char* pattern, char (&name)[kEntryNameSize]);

// Puts the next entry's name in `name`; false when there is none.
bool FindNextEntry(DirectorySearch* search, char (&name)[kEntryNameSize]);

// Ends a search started by FindFirstEntry.
void CloseSearch(DirectorySearch* search);

#endif
