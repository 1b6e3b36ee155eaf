// The case of ASCII letters, the same in every locale: Windows and Wine
// compare drive letters, device names and Steam's keys so.
#ifndef SAVEFIX_WINE_ASCII_H
#define SAVEFIX_WINE_ASCII_H

template <typename Char>
constexpr Char AsciiLower(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c + ('a' - 'A')) : c;
}

template <typename Char>
constexpr Char AsciiUpper(Char c) {
  return c >= 'a' && c <= 'z' ? static_cast<Char>(c - ('a' - 'A')) : c;
}

#endif
