// Wine prefixes on Linux: finding them (plain Wine and Steam's Proton), and
// resolving Windows paths and wildcard searches inside one with Wine's rules,
// so the native program sees the same files savefix.exe sees in that prefix.
#include "platform/wine_prefix_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "platform/unicode_posix.h"

namespace {

// ---- The file system -----------------------------------------------------

using FileId = std::pair<dev_t, ino_t>;

// A Steam library list is a few kilobytes; anything far larger is not one.
constexpr std::size_t kMaxLibraryFoldersSize = 1 << 20;

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (!directory.empty() && directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

bool IsDirectory(const std::string& path, struct stat* info) {
  return stat(path.c_str(), info) == 0 && S_ISDIR(info->st_mode);
}

// The names in `directory` except "." and "..", in the order the system
// lists them. False if it cannot be read to the end.
bool ListDirectory(const std::string& directory, std::vector<std::string>* names) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return false;
  names->clear();
  bool complete = false;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
      complete = errno == 0;
      break;
    }
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names->emplace_back(entry->d_name);
    }
  }
  closedir(dir);
  return complete;
}

// Appends `path` to `list` if it is a directory not reached before.
void AddNewDirectory(const std::string& path, std::set<FileId>* seen, std::vector<std::string>* list) {
  struct stat info;
  if (IsDirectory(path, &info) && seen->insert({info.st_dev, info.st_ino}).second) list->push_back(path);
}

// ---- Steam's libraryfolders.vdf ------------------------------------------

enum class VdfToken { kString, kOpen, kClose, kEnd, kBad };

struct VdfReader {
  const std::string& text;
  std::size_t at;
};

void SkipBlanksAndComments(VdfReader* reader) {
  const std::string& text = reader->text;
  while (reader->at < text.size()) {
    const char c = text[reader->at];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++reader->at;
    } else if (c == '/' && text.compare(reader->at, 2, "//") == 0) {
      reader->at = std::min(text.find('\n', reader->at), text.size());
    } else {
      break;
    }
  }
}

// A quoted string ("\\" and "\"" stand for one character), a bare word, or a brace.
VdfToken NextVdfToken(VdfReader* reader, std::string* word) {
  SkipBlanksAndComments(reader);
  const std::string& text = reader->text;
  if (reader->at == text.size()) return VdfToken::kEnd;
  const char first = text[reader->at++];
  if (first == '{') return VdfToken::kOpen;
  if (first == '}') return VdfToken::kClose;
  word->clear();
  if (first != '"') {
    word->push_back(first);
    while (reader->at < text.size() && std::strchr(" \t\r\n{}\"", text[reader->at]) == nullptr) {
      word->push_back(text[reader->at++]);
    }
    return VdfToken::kString;
  }
  while (reader->at < text.size()) {
    char c = text[reader->at++];
    if (c == '"') return VdfToken::kString;
    if (c == '\\' && reader->at < text.size() && (text[reader->at] == '\\' || text[reader->at] == '"')) {
      c = text[reader->at++];
    }
    word->push_back(c);
  }
  return VdfToken::kBad;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// `a` equals the lower-case ASCII word `lower` without regard to case.
bool SameAsciiIgnoringCase(const std::string& a, const char* lower) {
  if (a.size() != std::strlen(lower)) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != lower[i]) return false;
  }
  return true;
}

bool IsAllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Where a library path stands: a numbered value directly in the
// "libraryfolders" block (the old form), or "path" one block deeper.
struct VdfPlace {
  std::size_t depth = 0;
  bool in_folders = false;
  bool in_entry = false;
};

bool IsLibraryPath(const VdfPlace& place, const std::string& key, const std::string& value) {
  if (value.empty() || value[0] != '/') return false;
  if (place.depth == 1) return place.in_folders && IsAllDigits(key);
  return place.depth == 2 && place.in_entry && SameAsciiIgnoringCase(key, "path");
}

// ---- Steam libraries and their prefixes ----------------------------------

std::vector<std::string> SteamLibraries(const std::string& home) {
  static const char* const kSteamRoots[] = {".steam/steam", ".local/share/Steam",
                                            ".var/app/com.valvesoftware.Steam/.local/share/Steam"};
  std::vector<std::string> libraries;
  std::set<FileId> seen;
  for (const char* root : kSteamRoots) {
    // A root reached twice lists the same libraries twice; they count once.
    const std::string root_path = JoinPath(home, root);
    AddNewDirectory(root_path, &seen, &libraries);
    std::string vdf;
    if (!ReadRegularFile(JoinPath(root_path, "steamapps/libraryfolders.vdf"), kMaxLibraryFoldersSize, &vdf)) {
      continue;
    }
    for (const std::string& library : ParseLibraryFolders(vdf)) {
      AddNewDirectory(library, &seen, &libraries);
    }
  }
  return libraries;
}

// The digits of an app id without its leading zeros.
std::size_t SignificantDigits(const std::string& id) {
  return id.size() - std::min(id.find_first_not_of('0'), id.size());
}

// App ids in numeric order (any length: shortcut ids exceed 32 bits), then
// other names in byte order.
bool ComesBeforeInCompatdata(const std::string& a, const std::string& b) {
  const bool a_is_id = IsAllDigits(a);
  const bool b_is_id = IsAllDigits(b);
  if (a_is_id != b_is_id) return a_is_id;
  if (a_is_id) {
    const std::size_t a_digits = SignificantDigits(a);
    const std::size_t b_digits = SignificantDigits(b);
    if (a_digits != b_digits) return a_digits < b_digits;
    const int order = a.compare(a.size() - a_digits, a_digits, b, b.size() - b_digits, b_digits);
    if (order != 0) return order < 0;
  }
  return a < b;
}

void AddCompatdataPrefixes(const std::string& library, std::set<FileId>* seen,
                           std::vector<std::string>* prefixes) {
  const std::string compatdata = JoinPath(library, "steamapps/compatdata");
  std::vector<std::string> ids;
  if (!ListDirectory(compatdata, &ids)) return;
  std::sort(ids.begin(), ids.end(), ComesBeforeInCompatdata);
  for (const std::string& id : ids) AddNewDirectory(JoinPath(JoinPath(compatdata, id), "pfx"), seen, prefixes);
}

// ---- Windows paths -------------------------------------------------------

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

enum class Lookup { kFound, kMissing, kFailed };

// The entry of `directory` that `name` means: the exact name if it exists,
// else the first entry listed that matches without regard to case.
Lookup FindEntry(const std::string& directory, const std::string& name, std::string* found) {
  struct stat info;
  if (stat(JoinPath(directory, name).c_str(), &info) == 0) {
    *found = name;
    return Lookup::kFound;
  }
  std::vector<std::string> entries;
  if (!ListDirectory(directory, &entries)) return Lookup::kFailed;
  for (const std::string& entry : entries) {
    if (SameNameIgnoringCase(entry, name)) {
      *found = entry;
      return Lookup::kFound;
    }
  }
  return Lookup::kMissing;
}

// Resolves every component of `windows_path` but the last, which comes back
// cleaned up but not looked up (empty when the path ends with a separator).
bool ResolveParent(const std::string& prefix, const std::string& windows_path, std::string* directory,
                   std::string* last) {
  if (windows_path.size() < 2 || !IsDriveLetter(windows_path[0]) || windows_path[1] != ':') return false;
  // "C:name" is relative to the drive's current directory, which is its root
  // for a program that never changed to that drive.
  std::string path = "\\" + windows_path.substr(2);
  CollapsePath(&path);
  if (!FindDrive(prefix, windows_path[0], directory)) return false;
  const std::vector<std::string> components = SplitComponents(path);
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    std::string found;
    if (!IsValidName(components[i]) || FindEntry(*directory, components[i], &found) != Lookup::kFound) {
      return false;
    }
    *directory = JoinPath(*directory, found);
  }
  *last = components.back();
  return true;
}

// ---- Wildcards -----------------------------------------------------------

// Wine's wildcard match on upper-cased UTF-16 names, kept with its quirks so
// both programs list the same entries: after '*' the next mask unit is looked
// for literally (so "*?" needs a '?' in the name); once the mask is used up
// with name left, matching goes on from the last '*' without backing up (so
// "*abab" misses "ababab"); '.' and '*' left at the end of the mask need
// nothing in the name ("q." finds "q").
bool MatchesWildcard(const std::u16string& name, const std::u16string& mask) {
  const std::size_t kNoJoker = std::u16string::npos;
  std::size_t n = 0;
  std::size_t m = 0;
  std::size_t joker = kNoJoker;
  std::size_t retry = 0;
  while (n < name.size() && m < mask.size()) {
    if (mask[m] == u'*') {
      while (m < mask.size() && mask[m] == u'*') ++m;
      if (m == mask.size()) return true;
      joker = m;
      while (n < name.size() && name[n] != mask[m]) ++n;
      retry = n;
    } else if (mask[m] == u'?') {
      ++m;
      ++n;
    } else if (mask[m] == name[n]) {
      ++m;
      ++n;
      if (m == mask.size()) {
        if (n == name.size()) return true;
        if (joker != kNoJoker) m = joker;
      }
    } else if (joker != kNoJoker) {
      m = joker;
      n = ++retry;
    } else {
      return false;
    }
  }
  while (m < mask.size() && (mask[m] == u'.' || mask[m] == u'*')) ++m;
  return n == name.size() && m == mask.size();
}

}  // namespace

// ---- The public calls ----------------------------------------------------

bool ReadRegularFile(const std::string& path, std::size_t limit, std::string* text) {
  text->clear();
  int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat info;
  std::FILE* file = nullptr;
  if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode)) file = fdopen(descriptor, "rb");
  if (file == nullptr) {
    close(descriptor);
    return false;
  }
  char chunk[65536];
  bool fits = true;
  std::size_t got;
  while (fits && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    fits = text->size() + got <= limit;
    if (fits) text->append(chunk, got);
  }
  const bool read_error = std::ferror(file) != 0;
  std::fclose(file);
  return fits && !read_error;
}

std::vector<std::string> ParseLibraryFolders(const std::string& vdf) {
  if (vdf.size() > kMaxLibraryFoldersSize) return {};
  VdfReader reader{vdf, vdf.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3u : 0u};
  VdfPlace place;
  std::vector<std::string> paths;
  std::string key;
  std::string value;
  for (;;) {
    VdfToken token = NextVdfToken(&reader, &key);
    if (token == VdfToken::kEnd && place.depth == 0) return paths;
    if (token == VdfToken::kClose && place.depth > 0) {
      if (--place.depth <= 1) place.in_entry = false;
      if (place.depth == 0) place.in_folders = false;
      continue;
    }
    if (token != VdfToken::kString) return {};
    token = NextVdfToken(&reader, &value);
    if (token == VdfToken::kOpen) {
      if (place.depth == 0) place.in_folders = SameAsciiIgnoringCase(key, "libraryfolders");
      if (place.depth == 1) place.in_entry = place.in_folders;
      ++place.depth;
    } else if (token != VdfToken::kString) {
      return {};
    } else if (IsLibraryPath(place, key, value)) {
      paths.push_back(value);
    }
  }
}

std::vector<std::string> FindWinePrefixes(const char* wineprefix, const char* home) {
  std::vector<std::string> prefixes;
  std::set<FileId> seen;
  if (wineprefix != nullptr && wineprefix[0] != '\0') {
    AddNewDirectory(wineprefix, &seen, &prefixes);
    return prefixes;
  }
  if (home == nullptr || home[0] == '\0') return prefixes;
  AddNewDirectory(JoinPath(home, ".wine"), &seen, &prefixes);
  for (const std::string& library : SteamLibraries(home)) AddCompatdataPrefixes(library, &seen, &prefixes);
  return prefixes;
}

std::vector<std::string> FindWinePrefixes() {
  return FindWinePrefixes(std::getenv("WINEPREFIX"), std::getenv("HOME"));
}

bool ToPrefixPath(const std::string& prefix, const std::string& windows_path, std::string* unix_path) {
  std::string directory;
  std::string last;
  if (!ResolveParent(prefix, windows_path, &directory, &last)) return false;
  if (last.empty()) {
    *unix_path = JoinPath(directory, "");
    return true;
  }
  if (!IsValidName(last)) return false;
  std::string found;
  switch (FindEntry(directory, last, &found)) {
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
                    std::string* unix_directory, std::string* wildcard) {
  return ResolveParent(prefix, windows_pattern, unix_directory, wildcard) && !wildcard->empty();
}

bool ListMatchingEntries(const std::string& directory, const std::string& wildcard,
                         std::vector<std::string>* names) {
  std::vector<std::string> entries;
  if (!ListDirectory(directory, &entries)) return false;
  const std::u16string mask = Upcase(Utf8ToUtf16(wildcard));
  names->clear();
  for (const std::string& entry : entries) {
    if (MatchesWildcard(Upcase(Utf8ToUtf16(entry)), mask)) names->push_back(entry);
  }
  std::sort(names->begin(), names->end(),
            [](const std::string& a, const std::string& b) { return CompareInWineOrder(a, b) < 0; });
  return true;
}
