#include "wine/directory.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "wine/names.h"
#include "wine/short_names.h"

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
  // readdir() tells the end from a failure only by errno.
  const dirent* entry;
  for (errno = 0; (entry = readdir(dir)) != nullptr; errno = 0) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(std::move(name));
  }
  const bool complete = errno == 0;
  closedir(dir);
  return complete;
}

namespace {

// A directory's names as listed, each with its sort key and alias (empty
// for an 8.3 name) made once.
struct Listing {
  std::vector<std::string> names;
  std::vector<SortKey> keys;
  std::vector<std::u16string> aliases;
};

// Lists `directory` into `listing` and, unless `index` is null, its entries
// into `index`, in place of what it held of the directory.
bool ListUpcased(const std::string& directory, Listing* listing, DirectoryIndex* index) {
  if (!ListDirectory(directory, &listing->names)) return false;
  DirectoryIndex::Listed* listed = index == nullptr ? nullptr : &index->directories[directory];
  if (listed != nullptr) *listed = DirectoryIndex::Listed();
  for (std::size_t i = 0; i < listing->names.size(); ++i) {
    listing->keys.push_back(WineSortKey(listing->names[i]));
    const std::u16string& exact = listing->keys[i].exact;
    listing->aliases.push_back(IsShortName(exact) ? std::u16string() : ShortNameAlias(exact));
    if (listed == nullptr) continue;
    const DirectoryIndex::Entry entry{listing->names[i], i};
    listed->names.emplace(listing->keys[i].upcased, entry);
    if (!listing->aliases[i].empty()) listed->aliases.emplace(listing->aliases[i], entry);
  }
  return true;
}

// The entry Wine's walk through the listing stops at for `name`: the first
// whose name matches without regard to case or, when `name` is an 8.3 name,
// whose alias does. Null if none.
const DirectoryIndex::Entry* EntryMeant(const DirectoryIndex::Listed& listed, const std::string& name) {
  const std::u16string wide = Utf8ToUtf16(name);
  const std::u16string key = Upcase(wide);
  const auto by_name = listed.names.find(key);
  const DirectoryIndex::Entry* meant = by_name == listed.names.end() ? nullptr : &by_name->second;
  if (!IsShortName(wide)) return meant;
  const auto by_alias = listed.aliases.find(key);
  if (by_alias != listed.aliases.end() && (meant == nullptr || by_alias->second.place < meant->place)) {
    meant = &by_alias->second;
  }
  return meant;
}

}  // namespace

Lookup FindEntry(const std::string& directory, const std::string& name, std::string* found,
                 DirectoryIndex* index) {
  struct stat info;
  if (lstat(JoinPath(directory, name).c_str(), &info) == 0) {
    *found = name;
    return Lookup::kFound;
  }
  Listing listing;
  if (index->directories.count(directory) == 0 && !ListUpcased(directory, &listing, index)) return Lookup::kFailed;
  const DirectoryIndex::Entry* entry = EntryMeant(index->directories[directory], name);
  if (entry == nullptr) return Lookup::kMissing;
  *found = entry->name;
  return Lookup::kFound;
}

void AddToIndex(const std::string& directory, const std::string& name, DirectoryIndex* index) {
  const auto listed = index->directories.find(directory);
  if (listed == index->directories.end()) return;
  const std::u16string wide = Utf8ToUtf16(name);
  const DirectoryIndex::Entry entry{name, static_cast<std::size_t>(-1)};
  listed->second.names.emplace(Upcase(wide), entry);
  if (!IsShortName(wide)) listed->second.aliases.emplace(ShortNameAlias(wide), entry);
}

// FindEntry takes the exact name whenever it exists, and otherwise the
// listed entry it means; with no other spelling and no alias of that name
// listed, both are the name as written.
bool MeansNameAsWritten(const std::string& directory, const std::string& name, const DirectoryIndex& index) {
  auto listed = index.directories.find(directory);
  if (listed == index.directories.end()) return false;
  const DirectoryIndex::Entry* entry = EntryMeant(listed->second, name);
  return entry == nullptr || entry->name == name;
}

// Each name converted once, not once per comparison.
bool ListMatchingEntries(const std::string& directory, const std::string& wildcard,
                         std::vector<std::string>* names, DirectoryIndex* index) {
  Listing listing;
  if (!ListUpcased(directory, &listing, index)) return false;
  const std::u16string mask = Upcase(Utf8ToUtf16(wildcard));
  std::vector<std::size_t> matches;
  for (std::size_t i = 0; i < listing.names.size(); ++i) {
    const std::u16string& alias = listing.aliases[i];
    if (MatchesWildcard(listing.keys[i].upcased, mask) || (!alias.empty() && MatchesWildcard(alias, mask))) {
      matches.push_back(i);
    }
  }
  std::sort(matches.begin(), matches.end(), [&listing](std::size_t a, std::size_t b) {
    return ComesFirstInWineOrder(listing.keys[a], listing.keys[b]);
  });
  names->clear();
  for (std::size_t match : matches) names->push_back(listing.names[match]);
  return true;
}
