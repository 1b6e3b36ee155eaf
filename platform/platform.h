// The narrow layer between savefix and the operating system: the installs
// of the game, opening and removing files, reading a string from the
// registry, and the directory search. The *_win32 files make the real
// Windows calls; the *_posix files reach the same files and registry from
// Linux, through the model of Wine in wine/.
#ifndef SAVEFIX_PLATFORM_PLATFORM_H
#define SAVEFIX_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Size of the path buffer and of the search-pattern buffer, terminator included.
constexpr std::size_t kPathBufferSize = 500;

// Room for one entry name returned by the directory search, terminator included.
constexpr std::size_t kEntryNameSize = 260;

// ---- Installs ------------------------------------------------------------

// One place the game may be installed: a registry and the files its paths
// name. Every registry, file and search call is made within one.
struct InstallState;  // what the platform keeps about an install during the run
struct Install {
  std::string label;  // printed before the install's messages; empty for none
  std::string root;   // where its Windows paths resolve; empty: the system's own
  std::shared_ptr<InstallState> state;
};

// The installs to patch, in order, for the game whose key (below
// HKEY_LOCAL_MACHINE) is `key_path`. On Windows there is one, this machine's;
// elsewhere one for each place the platform finds that holds the key, whose
// `value_name` is read on the way, so that ReadRegistryString need not read
// the registry again. Never empty: with none found, one whose registry holds
// nothing, so that the run says it could not read the registry.
std::vector<Install> FindInstalls(const char* key_path, const char* value_name);

// Where FindInstalls looks, in a few lines for the usage text, each ending
// in a line feed.
const char* WhereInstallsAreFound();

// Reads the string value `value_name` of `key_path` under HKEY_LOCAL_MACHINE
// of `install` into `buffer` (kPathBufferSize bytes) and ends it with a zero
// byte. False if the key or value is missing, is not a string, or does not fit.
bool ReadRegistryString(const Install& install, const char* key_path, const char* value_name, char* buffer);

// What to print after the save directory `path` of `install` is named, so
// that the player finds it: empty where the path is the folder's own name.
std::string DescribeFolder(const Install& install, const char* path);

// ---- Files ---------------------------------------------------------------

// Opens a buffered stream on `path` with the C mode string `mode`; null on
// failure. Paths are Windows paths, resolved within `install`. Only regular
// files open: a directory, a pipe or a device gives null without waiting.
// Mode "wbx" creates a new file for writing and fails, with errno EEXIST,
// when anything of that name exists (a link included).
std::FILE* OpenFileStream(const Install& install, const char* path, const char* mode);

// Flushes `stream` and asks the system to put its file on the disk.
bool SyncStream(std::FILE* stream);

// Deletes the file at `path`; true if it is gone.
bool RemoveFile(const Install& install, const char* path);

// True if `path` may be replaced by MoveFileOver: nothing is there (or a link
// to nothing), or, links followed, a regular file that is not read-only.
bool CanReplace(const Install& install, const char* path);

// Moves the file `from` over `to` in one step, so `to` names either its old
// file or the new one, never a part. An entry that matches `to` without
// regard to case keeps its spelling. A link at `to` is replaced itself.
bool MoveFileOver(const Install& install, const char* from, const char* to);

// True if `path` names the very file `stream` has open (a hard or symbolic
// link to it included). False when it names another file, none, or the
// stream's file cannot be told.
bool IsSameFile(const Install& install, std::FILE* stream, const char* path);

// The form under which the file system takes entry names for the same name:
// two names are one if their keys are equal (without regard to case,
// non-ASCII letters included).
std::string FileNameKey(const char* name);

// True if `name` is one the system reserves for a device (NUL, COM1...).
bool IsDeviceName(const char* name);

// True if the system's own calls refuse `path` for its length alone.
bool IsTooLongForSystem(const char* path);

// A number no other running process has.
unsigned long CurrentProcessId();

// Every stream the program opens goes through this seam, so tests can hand
// out streams that fail on cue. Returns the opener that was in place.
using StreamOpener = std::FILE* (*)(const Install& install, const char* path, const char* mode);
StreamOpener ReplaceStreamOpener(StreamOpener opener);
std::FILE* OpenStream(const Install& install, const char* path, const char* mode);

// ---- Directory search ----------------------------------------------------

struct DirectorySearch;

// Starts a search for `pattern` (a directory path followed by a wildcard
// name, matched without regard to case). Puts the first entry's name in
// `name` and returns the open search, or null when nothing matches;
// `too_long` then tells whether the system refused the pattern for its length.
DirectorySearch* FindFirstEntry(const Install& install, const char* pattern, char (&name)[kEntryNameSize],
                                bool* too_long);

// Puts the next entry's name in `name`; false when there is none.
bool FindNextEntry(DirectorySearch* search, char (&name)[kEntryNameSize]);

// Ends a search started by FindFirstEntry.
void CloseSearch(DirectorySearch* search);

#endif
