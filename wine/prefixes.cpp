#include "wine/prefixes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string_view>
#include <tuple>
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
  std::vector<PrefixPlace> places;
  std::set<FileId> seen;
  std::set<std::string> missing;
  // A library reached again (a root through a link, or listed twice) is no new place.
  const auto add = [&](const std::string& library, bool listed) {
    struct stat info;
    if (IsDirectory(library, &info)) {
      if (seen.insert({info.st_dev, info.st_ino}).second) places.push_back({library, true});
    } else if (listed && missing.insert(library).second) {
      places.push_back({library, false});
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

// Where a folder stands in compatdata: app ids first, in numeric order (any
// length: shortcut ids exceed 32 bits, so by the digits behind their leading
// zeros, fewest first), then other names in byte order.
auto CompatdataOrder(const std::string& name) {
  const bool is_id = IsAllDigits(name);
  const std::string_view digits =
      is_id ? std::string_view(name).substr(std::min(name.find_first_not_of('0'), name.size())) : std::string_view();
  return std::make_tuple(!is_id, digits.size(), digits, std::string_view(name));
}

bool ComesBeforeInCompatdata(const std::string& a, const std::string& b) {
  return CompatdataOrder(a) < CompatdataOrder(b);
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
    const std::string compatdata = JoinPath(library.path, "steamapps/compatdata");
    std::vector<std::string> ids;
    if (!library.found || !ListDirectory(compatdata, &ids)) continue;
    std::sort(ids.begin(), ids.end(), ComesBeforeInCompatdata);
    for (const std::string& id : ids) {
      AddNewDirectory(JoinPath(JoinPath(compatdata, id), "pfx"), &seen, &found.prefixes);
    }
  }
  return found;
}


namespace {

// A fresh prefix's system.reg is a few MB; far more is no registry file.
constexpr std::size_t kMaxRegistryFileSize = 256u * 1024 * 1024;

// Where a folder that is no prefix holds a Proton prefix in its pfx/, as
// compatdata/<appid>/ does, the prefix is there.
std::string ProtonPrefixIn(const std::string& folder) {
  struct stat info;
  const std::string proton = JoinPath(folder, "pfx");
  return stat((proton + "/system.reg").c_str(), &info) == 0 ? proton : std::string();
}

}  // namespace

GameSearch FindGame(const char* wineprefix, const char* home, const char* key_path, const char* value_name) {
  const bool named = wineprefix != nullptr && wineprefix[0] != '\0';
  WinePrefixes prefixes = FindWinePrefixes(wineprefix, home);
  GameSearch search{{}, std::move(prefixes.places)};
  std::string text;
  for (const std::string& prefix : prefixes.prefixes) {
    GameInPrefix game{prefix, WineRegistryLookup::kMalformed, "", ""};
    const int descriptor = OpenRegularFile(prefix + "/system.reg");
    if (descriptor >= 0) {
      game.lookup = ReadWineRegistryString(descriptor, kMaxRegistryFileSize, key_path, value_name, &text, &game.value);
      close(descriptor);
    }
    if (named || (game.lookup != WineRegistryLookup::kMalformed && game.lookup != WineRegistryLookup::kNoKey)) {
      if (game.lookup == WineRegistryLookup::kMalformed) game.proton_prefix = ProtonPrefixIn(prefix);
      search.found.push_back(std::move(game));
    }
  }
  if (named && search.found.empty()) search.found.push_back({wineprefix, WineRegistryLookup::kMalformed, "", ""});
  return search;
}
