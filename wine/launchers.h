// The game files of Linux launchers that name the Wine prefix each game is
// in: Lutris's YAML files and Heroic's GamesConfig JSON files.
#ifndef SAVEFIX_WINE_LAUNCHERS_H
#define SAVEFIX_WINE_LAUNCHERS_H

#include <cstddef>
#include <string>
#include <vector>

// A game's file is a few kilobytes; anything far larger is not one.
constexpr std::size_t kMaxLauncherFileSize = 256u * 1024;

// The prefix a Lutris game file names: the line "  prefix: PATH" in the
// top-level "game:" block, PATH plain or in single or double quotes with no
// quote or backslash inside. A path that is not absolute, that goes on over
// the next line, or any other form is passed over.
std::vector<std::string> LutrisGamePrefixes(const std::string& yaml);

// The prefixes a Heroic GamesConfig file names: every string value of a
// "winePrefix" key, in file order. Of the JSON escapes, \\ \" and \/ are
// read; a value with any other, or not absolute, is passed over.
std::vector<std::string> HeroicGamePrefixes(const std::string& json);

#endif
