// The directory search for the native build: the entries of the pattern's
// directory inside the install's Wine prefix that match its wildcard, in the
// order Wine returns them.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/install_state_posix.h"
#include "platform/platform.h"
#include "wine/directory.h"
#include "wine/windows_path.h"

struct DirectorySearch {
  std::vector<std::string> names;
  std::size_t next = 0;
};

namespace {

bool ListMatches(const Install& install, const char* pattern, std::vector<std::string>& names) {
  std::string directory;
  std::string wildcard;
  if (install.root.empty() || !ToPrefixSearch(install.root, pattern, WorkingDirectory(install), &directory,
                                              &wildcard, Directories(install))) {
    return false;
  }
  std::vector<std::string> all;
  if (!ListMatchingEntries(directory, wildcard, &all, Directories(install))) return false;
  // A name that does not fit the search record is never returned.
  for (std::string& name : all) {
    if (name.size() < kEntryNameSize) names.push_back(std::move(name));
  }
  return true;
}

void CopyName(const std::string& from, char (&name)[kEntryNameSize]) {
  std::memcpy(name, from.c_str(), from.size() + 1);
}

}  // namespace

DirectorySearch* FindFirstEntry(const Install& install, const char* pattern, char (&name)[kEntryNameSize],
                                bool* too_long) {
  *too_long = false;
  DirectorySearch* search = new (std::nothrow) DirectorySearch;
  if (search == nullptr) return nullptr;
  if (!ListMatches(install, pattern, search->names) || search->names.empty()) {
    delete search;
    return nullptr;
  }
  CopyName(search->names[0], name);
  search->next = 1;
  return search;
}

bool FindNextEntry(DirectorySearch* search, char (&name)[kEntryNameSize]) {
  if (search->next >= search->names.size()) return false;
  CopyName(search->names[search->next++], name);
  return true;
}

void CloseSearch(DirectorySearch* search) { delete search; }
