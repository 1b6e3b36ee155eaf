#include "wine/short_names.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "wine/ascii.h"
#include "wine/case_table.h"
#include "wine/names.h"

namespace {

// Units no 8.3 name holds, '.' and ':' '/' '\' aside.
bool IsRefusedInShortName(char16_t unit) {
  return unit > 0x7F || std::u16string_view(u"*?<>|\"+=,;[] ").find(unit) != std::u16string_view::npos;
}

// Units Wine writes as '_' when it copies a name into its alias.
bool IsReplacedInAlias(char16_t unit) { return IsRefusedInShortName(unit) || unit == u'~' || unit == u'.'; }

// The lower case of a UTF-16 unit as Wine's hash takes it, made from the
// upper-case table: a unit that has an upper case is lower case already, and
// an upper-case unit is the lowest unit whose upper case it is.
char16_t LowerUnit(char16_t unit) {
  if (unit < 0x80) return AsciiLower(unit);
  if (UpcaseUnit(unit) != unit) return unit;
  char16_t lowest = unit;
  for (std::size_t i = 0; i < kUpcaseRangeCount; ++i) {
    const UpcaseRange& range = kUpcaseRanges[i];
    const char16_t from = static_cast<char16_t>(unit - range.delta);
    if (from >= range.first && from <= range.last && (from - range.first) % range.step == 0 &&
        (lowest == unit || from < lowest)) {
      lowest = from;
    }
  }
  return lowest;
}

// Wine's hash of a name, over its units in lower case, two by two.
std::uint16_t HashOf(const std::u16string& name) {
  std::uint32_t hash = 0xBEEF;
  const auto step = [&hash](std::uint32_t mixed) { hash = ((hash << 3) ^ (hash >> 5) ^ mixed) & 0xFFFF; };
  for (std::size_t i = 0; i + 1 < name.size(); ++i) {
    step(LowerUnit(name[i]) ^ (static_cast<std::uint32_t>(LowerUnit(name[i + 1])) << 8));
  }
  if (!name.empty()) step(LowerUnit(name.back()));
  return static_cast<std::uint16_t>(hash);
}

// Where the extension's dot is: the last dot after the first unit and
// before the last one; npos if none.
std::size_t ExtensionDot(const std::u16string& name) {
  if (name.size() < 3) return std::u16string::npos;
  const std::size_t dot = name.find_last_of(u'.', name.size() - 2);
  return dot == 0 ? std::u16string::npos : dot;
}

char16_t AliasUnit(char16_t unit) { return IsReplacedInAlias(unit) ? u'_' : AsciiUpper(unit); }

}  // namespace

bool IsShortName(const std::u16string& name) {
  if (name.size() > 12) return false;
  if (!name.empty() && name[0] == u'.') return name == u"." || name == u"..";
  const bool refused = std::any_of(name.begin(), name.end(), IsRefusedInShortName) ||
                       name.find_first_of(u":/\\") != std::u16string::npos;
  if (refused) return false;
  const std::size_t dot = name.find(u'.');
  if (dot == std::u16string::npos) return name.size() <= 8;
  return dot == name.rfind(u'.') && dot <= 8 && name.size() - dot > 1 && name.size() - dot < 5;
}

std::u16string ShortNameAlias(const std::u16string& name) {
  static const char kHashLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  const std::size_t dot = ExtensionDot(name);
  const std::size_t stem = std::min<std::size_t>({4, name.size(), dot});
  std::u16string alias;
  for (std::size_t i = 0; i < stem; ++i) alias += AliasUnit(name[i]);
  alias.append(5 - stem, u'~');
  const std::uint16_t hash = HashOf(name);
  for (const int shift : {10, 5, 0}) alias += static_cast<char16_t>(kHashLetters[(hash >> shift) & 0x1F]);
  if (dot == std::u16string::npos) return alias;
  alias += u'.';
  for (std::size_t i = dot + 1; i < name.size() && i <= dot + 3; ++i) alias += AliasUnit(name[i]);
  return alias;
}
