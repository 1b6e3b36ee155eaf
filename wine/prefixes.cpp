#include "wine/prefixes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string_view>
#include <tuple>
#include <utility>

#include "wine/directory.h"
#include "wine/launchers.h"
#include "wine/read_file.h"
#include "wine/steam_library_list.h"

namespace {

using FileId = std::pair<dev_t, ino_t>;

// What a launcher's place holds: prefixes as its folders, itself a prefix
// too, or game files naming prefixes.
enum class Holds { kFolders, kItselfAndFolders, kLutrisGames, kHeroicGames };

constexpr struct {
  const char* path;  // below the home folder
  Holds holds;
} kLauncherPlaces[] = {{".config/lutris/games", Holds::kLutrisGames},
                       {".local/share/lutris/games", Holds::kLutrisGames},
                       {"Games", Holds::kFolders},
                       {".config/heroic/GamesConfig", Holds::kHeroicGames},
                       {"Games/Heroic/Prefixes/default", Holds::kItselfAndFolders},
                       {".local/share/bottles/bottles", Holds::kFolders},
                       {".var/app/com.usebottles.bottles/data/bottles/bottles", Holds::kFolders},
                       {".PlayOnLinux/wineprefix", Holds::kFolders},
                       {".cxoffice", Holds::kFolders}};

const char* const kSteamRoots[] = {".steam/steam", ".local/share/Steam",
                                   ".var/app/com.valvesoftware.Steam/.local/share/Steam"};

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

bool EndsWith(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The prefixes and places found so far, each once.
class Finder {
 public:
  WinePrefixes found;

  // Appends `path` to the prefixes if it is a directory not reached before.
  void AddPrefix(const std::string& path) {
    struct stat info;
    if (IsDirectory(path, &info) && prefixes_seen_.insert({info.st_dev, info.st_ino}).second) {
      found.prefixes.push_back(path);
    }
  }

  // Names `path` among the places unless it was reached before (the same
  // directory, or the same spelling of one not there). True if it is a
  // directory not looked in yet.
  bool AddPlace(const std::string& path) {
    struct stat info;
    if (!IsDirectory(path, &info)) {
      if (missing_.insert(path).second) found.places.push_back({path, false});
      return false;
    }
    if (!places_seen_.insert({info.st_dev, info.st_ino}).second) return false;
    found.places.push_back({path, true});
    return true;
  }

  void LookInSteamLibrary(const std::string& library) {
    if (!AddPlace(library)) return;
    const std::string compatdata = JoinPath(library, "steamapps/compatdata");
    std::vector<std::string> ids;
    if (!ListDirectory(compatdata, &ids)) return;
    std::sort(ids.begin(), ids.end(), ComesBeforeInCompatdata);
    for (const std::string& id : ids) AddPrefix(JoinPath(JoinPath(compatdata, id), "pfx"));
  }

  // Only the entries right in the place are looked at, and of a game file
  // only the prefixes it names.
  void LookInLauncherPlace(const std::string& place, Holds holds) {
    if (!AddPlace(place)) return;
    if (holds == Holds::kItselfAndFolders) AddPrefix(place);
    std::vector<std::string> names;
    if (!ListDirectory(place, &names)) return;
    std::sort(names.begin(), names.end());
    const bool lutris = holds == Holds::kLutrisGames;
    std::string text;
    for (const std::string& name : names) {
      const std::string path = JoinPath(place, name);
      if (holds == Holds::kFolders || holds == Holds::kItselfAndFolders) {
        AddPrefix(path);
      } else if (EndsWith(name, lutris ? ".yml" : ".json") && ReadRegularFile(path, kMaxLauncherFileSize, &text)) {
        for (const std::string& prefix : lutris ? LutrisGamePrefixes(text) : HeroicGamePrefixes(text)) {
          AddPrefix(prefix);
        }
      }
    }
  }

 private:
  std::set<FileId> prefixes_seen_;
  std::set<FileId> places_seen_;
  std::set<std::string> missing_;
};

}  // namespace

WinePrefixes FindWinePrefixes(const char* wineprefix, const char* home) {
  Finder finder;
  if (wineprefix != nullptr && wineprefix[0] != '\0') {
    finder.AddPrefix(wineprefix);
    return finder.found;
  }
  if (home == nullptr || home[0] == '\0') return finder.found;
  const std::string wine = JoinPath(home, ".wine");
  if (finder.AddPlace(wine)) finder.AddPrefix(wine);
  // A root's own list is read even where the root was reached before as a
  // library: it may list more.
  for (const char* root : kSteamRoots) {
    const std::string root_path = JoinPath(home, root);
    finder.LookInSteamLibrary(root_path);
    std::string vdf;
    if (ReadRegularFile(JoinPath(root_path, "steamapps/libraryfolders.vdf"), kMaxLibraryFoldersSize, &vdf)) {
      for (const std::string& library : ParseLibraryFolders(vdf)) finder.LookInSteamLibrary(library);
    }
  }
  for (const auto& place : kLauncherPlaces) finder.LookInLauncherPlace(JoinPath(home, place.path), place.holds);
  return finder.found;
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
