#include "wine/steam_library_list.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "wine/ascii.h"

namespace {

enum class VdfToken { kString, kOpen, kClose, kEnd, kBad };

// The token at `*at` in `text`, behind blanks and "//" comments: a quoted
// string ("\\" and "\"" stand for one character), a bare word, or a brace.
VdfToken NextVdfToken(const std::string& text, std::size_t* at, std::string* word) {
  for (;;) {
    *at = std::min(text.find_first_not_of(" \t\r\n", *at), text.size());
    if (text.compare(*at, 2, "//") != 0) break;
    *at = std::min(text.find('\n', *at), text.size());
  }
  if (*at == text.size()) return VdfToken::kEnd;
  const char first = text[(*at)++];
  if (first == '{') return VdfToken::kOpen;
  if (first == '}') return VdfToken::kClose;
  word->clear();
  if (first != '"') {
    word->push_back(first);
    while (*at < text.size() && std::strchr(" \t\r\n{}\"", text[*at]) == nullptr) {
      word->push_back(text[(*at)++]);
    }
    return VdfToken::kString;
  }
  while (*at < text.size()) {
    char c = text[(*at)++];
    if (c == '"') return VdfToken::kString;
    if (c == '\\' && *at < text.size() && (text[*at] == '\\' || text[*at] == '"')) {
      c = text[(*at)++];
    }
    word->push_back(c);
  }
  return VdfToken::kBad;
}

// `a` equals the lower-case ASCII word `lower` without regard to case.
bool SameAsciiIgnoringCase(const std::string& a, std::string_view lower) {
  return std::equal(a.begin(), a.end(), lower.begin(), lower.end(), [](char c, char l) { return AsciiLower(c) == l; });
}

}  // namespace

bool IsAllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// A library path is a numbered value directly in the "libraryfolders" block
// (the old form), or a "path" one block deeper.
std::vector<std::string> ParseLibraryFolders(const std::string& vdf) {
  if (vdf.size() > kMaxLibraryFoldersSize) return {};
  std::size_t at = vdf.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  std::size_t depth = 0;
  bool in_folders = false;  // the block at depth 1 is "libraryfolders"
  std::vector<std::string> paths;
  std::string key;
  std::string value;
  for (;;) {
    VdfToken token = NextVdfToken(vdf, &at, &key);
    if (token == VdfToken::kEnd && depth == 0) return paths;
    if (token == VdfToken::kClose && depth > 0) {
      --depth;
      continue;
    }
    if (token != VdfToken::kString) return {};
    token = NextVdfToken(vdf, &at, &value);
    if (token == VdfToken::kOpen) {
      if (depth++ == 0) in_folders = SameAsciiIgnoringCase(key, "libraryfolders");
    } else if (token != VdfToken::kString) {
      return {};
    } else if (in_folders && !value.empty() && value[0] == '/' &&
               (depth == 1 ? IsAllDigits(key) : depth == 2 && SameAsciiIgnoringCase(key, "path"))) {
      paths.push_back(value);
    }
  }
}
