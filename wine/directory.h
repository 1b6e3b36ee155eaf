// Directories as Wine shows them to a Windows program: entries found
// without regard to case, wildcard searches and Wine's listing order.
#ifndef SAVEFIX_WINE_DIRECTORY_H
#define SAVEFIX_WINE_DIRECTORY_H

#include <sys/stat.h>

#include <string>
#include <unordered_map>
#include <vector>

// `directory` and `name` joined by one '/'.
std::string JoinPath(const std::string& directory, const std::string& name);

// True if `path` is a directory (links followed); `info` receives its status.
bool IsDirectory(const std::string& path, struct stat* info);

// The names in `directory` except "." and "..", in the order the system
// lists them. False if it cannot be read to the end.
bool ListDirectory(const std::string& directory, std::vector<std::string>* names);

// Directories as listed once during a run: for each, its entries by their
// upper-cased UTF-16 names and by their 8.3 aliases, the first listed of
// equal ones kept with its place in the listing. Finding a name that does
// not exist exactly then costs a lookup, not a listing. Names created later
// are found by their exact spelling, so the index never needs them.
struct DirectoryIndex {
  struct Entry {
    std::string name;
    std::size_t place;  // in the listing
  };
  using Entries = std::unordered_map<std::u16string, Entry>;
  struct Listed {
    Entries names;
    Entries aliases;
  };
  std::unordered_map<std::string, Listed> directories;
};

enum class Lookup { kFound, kMissing, kFailed };

// The entry of `directory` that `name` means: the exact name if it exists,
// else the first entry listed that matches without regard to case, by its
// name or, where `name` is an 8.3 name, by its alias. The listing comes from
// `index`, made there on first need.
Lookup FindEntry(const std::string& directory, const std::string& name, std::string* found,
                 DirectoryIndex* index);

// Puts `name`, made in `directory` during the run, into `index` if the
// directory is listed there, as an entry listed last.
void AddToIndex(const std::string& directory, const std::string& name, DirectoryIndex* index);

// True when `index` alone tells what FindEntry would give for `name` in
// `directory`: the directory is listed there and holds no other spelling of
// the name, so the entry meant is `name` as written, or none. Nothing on the
// disk is looked at.
bool MeansNameAsWritten(const std::string& directory, const std::string& name, const DirectoryIndex& index);

// The entries of `directory` (not "." and "..") whose names or 8.3 aliases
// match the Windows wildcard ('*' any run, '?' one UTF-16 unit, without
// regard to case), in Wine's directory order. False if the directory cannot be listed.
// The listing goes into `index` unless it is null.
bool ListMatchingEntries(const std::string& directory, const std::string& wildcard,
                         std::vector<std::string>* names, DirectoryIndex* index);

#endif
