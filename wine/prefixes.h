// Where Wine prefixes are on this machine: WINEPREFIX, ~/.wine, the Proton
// prefixes of every Steam library and those of the other Linux launchers.
#ifndef SAVEFIX_WINE_PREFIXES_H
#define SAVEFIX_WINE_PREFIXES_H

#include <string>
#include <vector>

#include "wine/registry_file.h"

// A place prefixes were looked for in, and whether it is there.
struct PrefixPlace {
  std::string path;
  bool found;
};

struct WinePrefixes {
  std::vector<std::string> prefixes;  // the directories to look in, in order
  std::vector<PrefixPlace> places;    // where they were looked for
};

// The Wine prefixes to look in, in order: `wineprefix` alone when set and not
// empty; otherwise those of each place below `home`, place by place:
//   .wine, itself a prefix;
//   each Steam root (.steam/steam, .local/share/Steam, and the Flatpak's
//     .var/app/com.valvesoftware.Steam/.local/share/Steam), each followed by
//     the libraries its steamapps/libraryfolders.vdf lists: in each,
//     steamapps/compatdata/<appid>/pfx;
//   Lutris: .config/lutris/games and .local/share/lutris/games, the prefix
//     each game's .yml file names; Games, each folder in it;
//   Heroic: .config/heroic/GamesConfig, the prefixes each .json file names;
//     Games/Heroic/Prefixes/default, itself, then each folder in it;
//   Bottles: .local/share/bottles/bottles and the Flatpak's
//     .var/app/com.usebottles.bottles/data/bottles/bottles, each folder in it;
//   PlayOnLinux: .PlayOnLinux/wineprefix, each folder in it;
//   CrossOver: .cxoffice, each folder in it.
// Within a place, folders and game files in byte order of their names (app
// ids in numeric order). Only directories that exist; a directory reached
// twice (same device and inode) counts once, under the first spelling. A
// prefix a game file names counts wherever it is; nothing else out of the
// places is looked at. The places looked in are named in that order, each
// once (a directory reached again, a link or a library listed twice, is not
// named again), those not there too (none for `wineprefix`). Either argument
// may be null.
WinePrefixes FindWinePrefixes(const char* wineprefix, const char* home);

// The game's registry value as one prefix holds it.
struct GameInPrefix {
  std::string prefix;
  WineRegistryLookup lookup;  // kMalformed also where the prefix holds no system.reg
  std::string value;          // the value's data, on kFound
  std::string proton_prefix;  // for a folder that is no prefix, the prefix its pfx/ holds, if any
};

struct GameSearch {
  std::vector<GameInPrefix> found;  // in FindWinePrefixes' order
  std::vector<PrefixPlace> places;
};

// Looks up `value_name` of `key_path` in the system.reg of every prefix
// FindWinePrefixes gives, each read once into the same room. Keeps the
// prefixes holding the key; the one `wineprefix` names is kept whatever it
// holds, even where it names no folder.
GameSearch FindGame(const char* wineprefix, const char* home, const char* key_path, const char* value_name);

#endif
