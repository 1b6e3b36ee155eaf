// Steam's libraryfolders.vdf: the libraries whose compatdata folders hold
// Proton prefixes.
#ifndef SAVEFIX_WINE_STEAM_LIBRARY_LIST_H
#define SAVEFIX_WINE_STEAM_LIBRARY_LIST_H

#include <string>
#include <vector>

// A library list is a few kilobytes; anything far larger is not one.
constexpr std::size_t kMaxLibraryFoldersSize = 1 << 20;

// The absolute library paths a libraryfolders.vdf text lists, in file order
// (nested "path" entries and the old numbered entries). A text that is
// malformed or too large lists none.
std::vector<std::string> ParseLibraryFolders(const std::string& vdf);

// True for a non-empty run of ASCII digits (an app id, a library number).
bool IsAllDigits(const std::string& text);

#endif
