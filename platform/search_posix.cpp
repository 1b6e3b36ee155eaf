// The directory search for the POSIX build: lists the pattern's directory and
// matches names against its last component without regard to case, in a
// stable order, as the Windows search would return them.
#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/native_path_posix.h"
#include "platform/platform.h"

struct DirectorySearch {
  std::vector<std::string> names;
  std::size_t next = 0;
};

namespace {

bool SameLetter(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// Wildcard match with '*' (any run) and '?' (any one character), ignoring
// case. Iterative, backtracking only to the last '*', so it stays linear-ish.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern != '\0' && (*pattern == '?' || SameLetter(*pattern, *name))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

bool ComesBefore(const std::string& a, const std::string& b) {
  int folded = strcasecmp(a.c_str(), b.c_str());
  return folded != 0 ? folded < 0 : a < b;
}

// Splits `native` at its last slash: the directory part keeps the slash
// ("." when there is none) and the wildcard is the rest.
const char* SplitPattern(char (&native)[kPathBufferSize], std::string& directory) {
  char* slash = std::strrchr(native, '/');
  if (slash == nullptr) {
    directory = ".";
    return native;
  }
  directory.assign(native, static_cast<std::size_t>(slash - native) + 1);
  return slash + 1;
}

bool ListMatches(const char* pattern, std::vector<std::string>& names) {
  char native[kPathBufferSize];
  if (!ToNativePath(pattern, native)) return false;
  std::string directory;
  const char* wildcard = SplitPattern(native, directory);
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return false;
  while (const dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (std::strlen(name) >= kEntryNameSize) continue;
    if (WildcardMatch(wildcard, name)) names.emplace_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end(), ComesBefore);
  return true;
}

void CopyName(const std::string& from, char (&name)[kEntryNameSize]) {
  std::memcpy(name, from.c_str(), from.size() + 1);
}

}  // namespace

DirectorySearch* FindFirstEntry(const char* pattern, char (&name)[kEntryNameSize]) {
  DirectorySearch* search = new (std::nothrow) DirectorySearch;
  if (search == nullptr) return nullptr;
  if (!ListMatches(pattern, search->names) || search->names.empty()) {
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
