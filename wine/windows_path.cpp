#include "wine/windows_path.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "wine/directory.h"

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Wine's clean-up of a path below a drive root; `path` starts with the root's
// separator, which nothing climbs above. Slashes become backslashes, doubled
// separators collapse, "." and ".." components go, a directory component
// loses one trailing dot and the last component all trailing dots and spaces.
void CollapsePath(std::string* path) {
  std::string& p = *path;
  std::replace(p.begin(), p.end(), '/', '\\');
  p.erase(std::unique(p.begin(), p.end(), [](char a, char b) { return a == '\\' && b == '\\'; }), p.end());
  const std::size_t root = 1;
  std::size_t at = root;
  while (at < p.size()) {
    if (p[at] == '.') {
      const char second = at + 1 < p.size() ? p[at + 1] : '\0';
      const char third = at + 2 < p.size() ? p[at + 2] : '\0';
      if (second == '\\') {  // ".\"
        p.erase(at, 2);
        continue;
      }
      if (second == '\0') {  // a final "."
        p.erase(at > root ? at - 1 : at);
        break;
      }
      if (second == '.' && (third == '\\' || third == '\0')) {  // "..\" or a final ".."
        std::size_t start = at;
        if (start > root) {
          --start;
          while (start > root && p[start - 1] != '\\') --start;
        }
        if (third == '\\') {
          p.erase(start, at + 3 - start);
          at = start;
          continue;
        }
        p.erase(start > root ? start - 1 : start);
        break;
      }
    }
    while (at < p.size() && p[at] != '\\') ++at;
    if (at == p.size()) break;
    if (at > root && p[at - 1] == '.') {
      p.erase(at - 1, 1);  // at now starts the next component
    } else {
      ++at;
    }
  }
  std::size_t end = p.size();
  while (end > root && (p[end - 1] == ' ' || p[end - 1] == '.')) --end;
  p.erase(end);
}

// False for names Wine refuses in a path: "." and "..", control characters
// and the characters *?<>|".
bool IsValidName(const std::string& name) {
  if (name == "." || name == "..") return false;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("*?<>|\"", c) != nullptr) return false;
  }
  return true;
}

// "\a\b" gives {"a", "b"}; a trailing separator gives an empty last name.
std::vector<std::string> SplitComponents(const std::string& path) {
  std::vector<std::string> components;
  std::size_t start = 1;
  for (;;) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    components.push_back(path.substr(start, end - start));
    if (end == path.size()) return components;
    start = end + 1;
  }
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The directory of drive `letter`: only the link named by the lower-case letter counts.
bool FindDrive(const std::string& prefix, char letter, std::string* directory) {
  const char name[] = {AsciiLower(letter), ':', '\0'};
  *directory = JoinPath(JoinPath(prefix, "dosdevices"), name);
  struct stat info;
  return IsDirectory(*directory, &info);
}

// Resolves every component of `windows_path` but the last, which comes back
// cleaned up but not looked up (empty when the path ends with a separator).
bool ResolveParent(const std::string& prefix, const std::string& windows_path, std::string* directory,
                   std::string* last, DirectoryIndex* index) {
  if (windows_path.size() < 2 || !IsDriveLetter(windows_path[0]) || windows_path[1] != ':') return false;
  // "C:name" is relative to the drive's current directory, which is its root
  // for a program that never changed to that drive.
  std::string path = "\\" + windows_path.substr(2);
  CollapsePath(&path);
  if (!FindDrive(prefix, windows_path[0], directory)) return false;
  const std::vector<std::string> components = SplitComponents(path);
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    std::string found;
    if (!IsValidName(components[i]) || FindEntry(*directory, components[i], &found, index) != Lookup::kFound) {
      return false;
    }
    *directory = JoinPath(*directory, found);
  }
  *last = components.back();
  return true;
}

// ResolveParent, once per directory: a path whose last component is a plain
// name (no "." or "..", no trailing dot or space) reuses the resolution of
// the directory before it, so file after file in one folder costs a lookup.
bool ResolveParentOnce(const std::string& prefix, const std::string& windows_path, std::string* directory,
                       std::string* last, DirectoryIndex* index) {
  const std::size_t cut = windows_path.find_last_of("\\/");
  if (index == nullptr || cut == std::string::npos) return ResolveParent(prefix, windows_path, directory, last, index);
  const std::string name = windows_path.substr(cut + 1);
  if (name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ') {
    return ResolveParent(prefix, windows_path, directory, last, index);
  }
  const std::string key = prefix + '\0' + windows_path.substr(0, cut + 1);
  auto known = index->parents.find(key);
  if (known != index->parents.end()) {
    *directory = known->second;
    *last = name;
    return true;
  }
  if (!ResolveParent(prefix, windows_path, directory, last, index)) return false;
  index->parents.emplace(key, *directory);
  return true;
}

}  // namespace

bool ToPrefixPath(const std::string& prefix, const std::string& windows_path, std::string* unix_path,
                  DirectoryIndex* index) {
  std::string directory;
  std::string last;
  if (!ResolveParentOnce(prefix, windows_path, &directory, &last, index)) return false;
  if (last.empty()) {
    *unix_path = JoinPath(directory, "");
    return true;
  }
  if (!IsValidName(last)) return false;
  std::string found;
  switch (FindEntry(directory, last, &found, index)) {
    case Lookup::kFound:
      *unix_path = JoinPath(directory, found);
      return true;
    case Lookup::kMissing:
      *unix_path = JoinPath(directory, last);
      return true;
    case Lookup::kFailed:
      break;
  }
  return false;
}

bool ToPrefixSearch(const std::string& prefix, const std::string& windows_pattern,
                    std::string* unix_directory, std::string* wildcard, DirectoryIndex* index) {
  return ResolveParent(prefix, windows_pattern, unix_directory, wildcard, index) && !wildcard->empty();
}

