#include "wine/prefixes.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>

#include "wine/directory.h"
#include "wine/read_file.h"
#include "wine/steam_library_list.h"

namespace {

using FileId = std::pair<dev_t, ino_t>;

// Appends `path` to `list` if it is a directory not reached before. True if
// it is a directory at all.
bool AddNewDirectory(const std::string& path, std::set<FileId>* seen, std::vector<std::string>* list) {
  struct stat info;
  if (!IsDirectory(path, &info)) return false;
  if (seen->insert({info.st_dev, info.st_ino}).second) list->push_back(path);
  return true;
}

// Every Steam library once, and each library listed but not there once.
std::vector<PrefixPlace> SteamLibraries(const std::string& home) {
  static const char* const kSteamRoots[] = {".steam/steam", ".local/share/Steam",
                                            ".var/app/com.valvesoftware.Steam/.local/share/Steam"};
  std::vector<std::string> libraries;
  std::vector<PrefixPlace> places;
  std::set<FileId> seen;
  std::set<std::string> missing;
  // A library reached again (a root through a link, or listed twice) is no new place.
  const auto add = [&](const std::string& library, bool listed) {
    const std::size_t before = libraries.size();
    if (!AddNewDirectory(library, &seen, &libraries)) {
      if (listed && missing.insert(library).second) places.push_back({library, false});
    } else if (libraries.size() > before) {
      places.push_back({library, true});
    }
  };
  for (const char* root : kSteamRoots) {
    const std::string root_path = JoinPath(home, root);
    add(root_path, false);
    std::string vdf;
    if (ReadRegularFile(JoinPath(root_path, "steamapps/libraryfolders.vdf"), kMaxLibraryFoldersSize, &vdf)) {
      for (const std::string& library : ParseLibraryFolders(vdf)) add(library, true);
    }
  }
  return places;
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

}  // namespace

WinePrefixes FindWinePrefixes(const char* wineprefix, const char* home) {
  WinePrefixes found;
  std::set<FileId> seen;
  if (wineprefix != nullptr && wineprefix[0] != '\0') {
    AddNewDirectory(wineprefix, &seen, &found.prefixes);
    return found;
  }
  if (home == nullptr || home[0] == '\0') return found;
  const std::string wine = JoinPath(home, ".wine");
  found.places.push_back({wine, AddNewDirectory(wine, &seen, &found.prefixes)});
  for (const PrefixPlace& library : SteamLibraries(home)) {
    found.places.push_back(library);
    if (library.found) AddCompatdataPrefixes(library.path, &seen, &found.prefixes);
  }
  return found;
}

