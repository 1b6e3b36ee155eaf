#include "wine/steam_library_list.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/ascii.h"

namespace {

enum class VdfToken { kString, kOpen, kClose, kEnd, kBad };

struct VdfReader {
  const std::string& text;
  std::size_t at;
};

void SkipBlanksAndComments(VdfReader* reader) {
  const std::string& text = reader->text;
  for (;;) {
    reader->at = std::min(text.find_first_not_of(" \t\r\n", reader->at), text.size());
    if (text.compare(reader->at, 2, "//") != 0) return;
    reader->at = std::min(text.find('\n', reader->at), text.size());
  }
}

// A quoted string ("\\" and "\"" stand for one character), a bare word, or a brace.
VdfToken NextVdfToken(VdfReader* reader, std::string* word) {
  SkipBlanksAndComments(reader);
  const std::string& text = reader->text;
  if (reader->at == text.size()) return VdfToken::kEnd;
  const char first = text[reader->at++];
  if (first == '{') return VdfToken::kOpen;
  if (first == '}') return VdfToken::kClose;
  word->clear();
  if (first != '"') {
    word->push_back(first);
    while (reader->at < text.size() && std::strchr(" \t\r\n{}\"", text[reader->at]) == nullptr) {
      word->push_back(text[reader->at++]);
    }
    return VdfToken::kString;
  }
  while (reader->at < text.size()) {
    char c = text[reader->at++];
    if (c == '"') return VdfToken::kString;
    if (c == '\\' && reader->at < text.size() && (text[reader->at] == '\\' || text[reader->at] == '"')) {
      c = text[reader->at++];
    }
    word->push_back(c);
  }
  return VdfToken::kBad;
}

// `a` equals the lower-case ASCII word `lower` without regard to case.
bool SameAsciiIgnoringCase(const std::string& a, std::string_view lower) {
  return std::equal(a.begin(), a.end(), lower.begin(), lower.end(), [](char c, char l) { return AsciiLower(c) == l; });
}

// Where a library path stands: a numbered value directly in the
// "libraryfolders" block (the old form), or "path" one block deeper.
struct VdfPlace {
  std::size_t depth = 0;
  bool in_folders = false;
  bool in_entry = false;
};

bool IsLibraryPath(const VdfPlace& place, const std::string& key, const std::string& value) {
  if (value.empty() || value[0] != '/') return false;
  if (place.depth == 1) return place.in_folders && IsAllDigits(key);
  return place.depth == 2 && place.in_entry && SameAsciiIgnoringCase(key, "path");
}

}  // namespace

bool IsAllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::vector<std::string> ParseLibraryFolders(const std::string& vdf) {
  if (vdf.size() > kMaxLibraryFoldersSize) return {};
  VdfReader reader{vdf, vdf.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3u : 0u};
  VdfPlace place;
  std::vector<std::string> paths;
  std::string key;
  std::string value;
  for (;;) {
    VdfToken token = NextVdfToken(&reader, &key);
    if (token == VdfToken::kEnd && place.depth == 0) return paths;
    if (token == VdfToken::kClose && place.depth > 0) {
      if (--place.depth <= 1) place.in_entry = false;
      if (place.depth == 0) place.in_folders = false;
      continue;
    }
    if (token != VdfToken::kString) return {};
    token = NextVdfToken(&reader, &value);
    if (token == VdfToken::kOpen) {
      if (place.depth == 0) place.in_folders = SameAsciiIgnoringCase(key, "libraryfolders");
      if (place.depth == 1) place.in_entry = place.in_folders;
      ++place.depth;
    } else if (token != VdfToken::kString) {
      return {};
    } else if (IsLibraryPath(place, key, value)) {
      paths.push_back(value);
    }
  }
}

