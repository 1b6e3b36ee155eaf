#include "wine/directory.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "wine/names.h"

namespace {

// Wine's wildcard match on upper-cased UTF-16 names, kept with its quirks so
// both programs list the same entries: after '*' the next mask unit is looked
// for literally (so "*?" needs a '?' in the name); once the mask is used up
// with name left, matching goes on from the last '*' without backing up (so
// "*abab" misses "ababab"); '.' and '*' left at the end of the mask need
// nothing in the name ("q." finds "q").
bool MatchesWildcard(const std::u16string& name, const std::u16string& mask) {
  const std::size_t kNoJoker = std::u16string::npos;
  std::size_t n = 0;
  std::size_t m = 0;
  std::size_t joker = kNoJoker;
  std::size_t retry = 0;
  while (n < name.size() && m < mask.size()) {
    if (mask[m] == u'*') {
      while (m < mask.size() && mask[m] == u'*') ++m;
      if (m == mask.size()) return true;
      joker = m;
      while (n < name.size() && name[n] != mask[m]) ++n;
      retry = n;
    } else if (mask[m] == u'?') {
      ++m;
      ++n;
    } else if (mask[m] == name[n]) {
      ++m;
      ++n;
      if (m == mask.size()) {
        if (n == name.size()) return true;
        if (joker != kNoJoker) m = joker;
      }
    } else if (joker != kNoJoker) {
      m = joker;
      n = ++retry;
    } else {
      return false;
    }
  }
  while (m < mask.size() && (mask[m] == u'.' || mask[m] == u'*')) ++m;
  return n == name.size() && m == mask.size();
}

}  // namespace

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (!directory.empty() && directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

bool IsDirectory(const std::string& path, struct stat* info) {
  return stat(path.c_str(), info) == 0 && S_ISDIR(info->st_mode);
}

bool ListDirectory(const std::string& directory, std::vector<std::string>* names) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return false;
  names->clear();
  bool complete = false;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
      complete = errno == 0;
      break;
    }
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names->emplace_back(entry->d_name);
    }
  }
  closedir(dir);
  return complete;
}

Lookup FindEntry(const std::string& directory, const std::string& name, std::string* found) {
  struct stat info;
  if (stat(JoinPath(directory, name).c_str(), &info) == 0) {
    *found = name;
    return Lookup::kFound;
  }
  std::vector<std::string> entries;
  if (!ListDirectory(directory, &entries)) return Lookup::kFailed;
  for (const std::string& entry : entries) {
    if (SameNameIgnoringCase(entry, name)) {
      *found = entry;
      return Lookup::kFound;
    }
  }
  return Lookup::kMissing;
}

bool ListMatchingEntries(const std::string& directory, const std::string& wildcard,
                         std::vector<std::string>* names) {
  std::vector<std::string> entries;
  if (!ListDirectory(directory, &entries)) return false;
  const std::u16string mask = Upcase(Utf8ToUtf16(wildcard));
  names->clear();
  for (const std::string& entry : entries) {
    if (MatchesWildcard(Upcase(Utf8ToUtf16(entry)), mask)) names->push_back(entry);
  }
  std::sort(names->begin(), names->end(),
            [](const std::string& a, const std::string& b) { return CompareInWineOrder(a, b) < 0; });
  return true;
}
