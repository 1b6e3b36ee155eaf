// The narrow layer between savefix and the operating system: opening and
// removing files, reading the install path from the registry, and the
// directory search. The *_win32 files make the real Windows calls; the
// *_posix files read a Wine prefix from Linux the way those calls would
// inside it.
#ifndef SAVEFIX_PLATFORM_PLATFORM_H
#define SAVEFIX_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdio>
#include <string>

// Size of the path buffer and of the search-pattern buffer, terminator included.
constexpr std::size_t kPathBufferSize = 500;

// Room for one entry name returned by the directory search, terminator included.
constexpr std::size_t kEntryNameSize = 260;

// ---- Files ---------------------------------------------------------------

// Opens a buffered stream on `path` with the C mode string `mode`; null on
// failure. Paths are Windows paths; natively they are resolved inside the
// chosen Wine prefix.
std::FILE* OpenFileStream(const char* path, const char* mode);

// Deletes the file at `path`; true if it is gone.
bool RemoveFile(const char* path);

// True if `path` names the very file `stream` has open (a hard or symbolic
// link to it included). False when it names another file, none, or the
// stream's file cannot be told.
bool IsSameFile(std::FILE* stream, const char* path);

// True if the file system takes the entry names `a` and `b` for the same
// name: equal without regard to case, non-ASCII letters included.
bool IsSameFileName(const char* a, const char* b);

// Every stream the program opens goes through this seam, so tests can hand
// out streams that fail on cue. Returns the opener that was in place.
using StreamOpener = std::FILE* (*)(const char* path, const char* mode);
StreamOpener ReplaceStreamOpener(StreamOpener opener);
std::FILE* OpenStream(const char* path, const char* mode);

// ---- Registry ------------------------------------------------------------

// Chooses the next registry to read the install path from and puts what
// tells it apart in `label`: on Windows there is one, this machine's, with an
// empty label; natively one per Wine prefix holding the game's key, labelled
// by the prefix directory (the prefix WINEPREFIX names is always taken). The
// first call always chooses one, even when no registry holds the key. False
// when none is left.
bool SelectNextInstall(std::string* label);

// Reads the "AppPath" string of the game's key under HKEY_LOCAL_MACHINE into
// `buffer` (kPathBufferSize bytes) and ends it with a zero byte. False if the
// key or value is missing, is not a string, or does not fit.
bool ReadInstallPath(char* buffer);

// ---- Directory search ----------------------------------------------------

struct DirectorySearch;

// Starts a search for `pattern` (a directory path followed by a wildcard
// name, matched without regard to case). Puts the first entry's name in
// `name` and returns the open search, or null when nothing matches.
DirectorySearch* FindFirstEntry(const char* pattern, char (&name)[kEntryNameSize]);

// Puts the next entry's name in `name`; false when there is none.
bool FindNextEntry(DirectorySearch* search, char (&name)[kEntryNameSize]);

// Ends a search started by FindFirstEntry.
void CloseSearch(DirectorySearch* search);

#endif
