// The 8.3 aliases Wine gives names that are not 8.3 names themselves
// ("Vellmoor Game" is VELL~G3P), by which a Windows program may reach them.
#ifndef SAVEFIX_WINE_SHORT_NAMES_H
#define SAVEFIX_WINE_SHORT_NAMES_H

#include <string>

// True if Wine takes `name` as an 8.3 name: at most 8 units, or at most 8
// and one dot and 1 to 3 more; all ASCII, none of *?<>|"+=,;[]:/\ or space;
// no leading dot but in "." and "..". Such a name has no alias.
bool IsShortName(const std::u16string& name);

// The alias Wine makes for `name`, a name that is not an 8.3 name, in upper
// case: up to 4 units from its start but not from its extension, '~' to
// make 5, 3 letters or digits of a hash of the name in lower case, then a
// dot and the first 3 units of its extension (what follows its last dot,
// one in first or last place aside); '_' for a unit no 8.3 name may hold,
// '.' and '~' included.
std::u16string ShortNameAlias(const std::u16string& name);

#endif
