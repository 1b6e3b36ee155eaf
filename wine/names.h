// Names the way Wine sees them: Unix names are UTF-8, Windows programs see
// UTF-16, and names compare without regard to case through one upper-case
// table compiled into the program (never the process locale, which a static
// binary may not have).
#ifndef SAVEFIX_WINE_NAMES_H
#define SAVEFIX_WINE_NAMES_H

#include <string>

// The two ways Wine reads a UTF-8 sequence. ntdll, turning Unix names into
// UTF-16, stops at the first byte that shows the sequence can make no
// character (overlong, a surrogate, past U+10FFFF), that byte taken, and
// takes a sequence cut off by the end of the text with the rest of the
// text. wineserver, reading registry text, takes every continuation byte
// the sequence has and only then judges it; surrogates pass. Each follows
// Wine's decoder byte for byte, so that broken text reads as the same units
// Wine makes of it.
enum class Utf8Rules { kFileNames, kRegistryText };

// What DecodeUtf8 gives for a sequence that makes no character.
constexpr char32_t kBadUtf8 = 0xFFFFFFFF;

// Decodes the sequence whose lead byte `lead` (>= 0x80) was just taken from
// `*p`, moving `*p` past the bytes `rules` take with it: a byte that cannot
// continue the sequence is left, unless ntdll's rules swallow a cut-off tail.
char32_t DecodeUtf8(unsigned char lead, const char** p, const char* end, Utf8Rules rules);

// Appends `code` to `out` as UTF-16: one unit, or a surrogate pair past U+FFFF.
void AppendUtf16(char32_t code, std::u16string* out);

// UTF-8 to UTF-16 by ntdll's rules. A byte that does not start a valid UTF-8
// sequence comes out as U+FFFD, as Wine shows such a name to Windows programs.
std::u16string Utf8ToUtf16(const std::string& text);

// UTF-16 to UTF-8. A lone surrogate comes out as U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

// The upper-case form of one UTF-16 unit (units without one map to themselves).
char16_t UpcaseUnit(char16_t unit);

// `text` with every unit upper-cased.
std::u16string Upcase(std::u16string text);

// The UTF-8 name `name` upper-cased: names equal without regard to case have
// equal keys.
std::string NameKey(const std::string& name);


// A name in the two forms Wine sorts directory listings by.
struct SortKey {
  std::u16string upcased;
  std::u16string exact;
};
SortKey WineSortKey(const std::string& name);

// Wine's directory order: by the upper-cased UTF-16 names, ties broken by the
// exact UTF-16 units.
bool ComesFirstInWineOrder(const SortKey& a, const SortKey& b);

#endif
