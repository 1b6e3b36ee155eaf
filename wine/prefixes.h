// Where Wine prefixes are on this machine: WINEPREFIX, ~/.wine and the
// Proton prefixes of every Steam library.
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
// empty; otherwise `home`/.wine, then each Steam library's
// steamapps/compatdata/<appid>/pfx. Only directories that exist; a directory
// reached twice (same device and inode) counts once, under the first
// spelling. The places looked in are `home`/.wine and each Steam library,
// a library listed that is not there (a card not mounted) included (none
// for `wineprefix`). Either argument may be null.
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
