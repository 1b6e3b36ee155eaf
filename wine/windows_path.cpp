#include "wine/windows_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "wine/ascii.h"
#include "wine/names.h"

namespace {

// Where Wine starts a program whose working directory it cannot open.
const char kWindowsDirectory[] = "C:\\windows\\";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The character at `at`, or '\0' past the end.
char CharAt(const std::string& text, std::size_t at) { return at < text.size() ? text[at] : '\0'; }

// Wine's clean-up of a full path; nothing in its first `mark` characters (the
// drive, "\\.\" or a share) changes or is climbed above. Slashes become
// backslashes, doubled separators collapse, "." and ".." components go, a
// directory component loses one trailing dot and the last component all
// trailing dots and spaces.
void CollapsePath(std::string* path, std::size_t mark) {
  std::string& p = *path;
  std::replace(p.begin(), p.end(), '/', '\\');
  const std::size_t root = std::min(mark, p.size());
  const auto doubled = [](char a, char b) { return a == '\\' && b == '\\'; };
  const auto from = p.begin() + static_cast<std::ptrdiff_t>(root > 0 ? root - 1 : 0);
  p.erase(std::unique(from, p.end(), doubled), p.end());
  std::size_t at = root;  // where a component starts
  while (at < p.size()) {
    const std::size_t end = std::min(p.find('\\', at), p.size());
    const std::string name = p.substr(at, end - at);
    if (name == "." || name == "..") {
      // A ".." goes with the component before it.
      std::size_t start = at;
      if (name == ".." && start > root) {
        --start;
        while (start > root && p[start - 1] != '\\') --start;
      }
      if (end == p.size()) {  // a final "." or "..": the separator before it goes too
        p.erase(start > root ? start - 1 : start);
        break;
      }
      p.erase(start, end + 1 - start);
      at = start;
    } else if (end == p.size()) {
      break;
    } else if (end > root && p[end - 1] == '.') {
      p.erase(end - 1, 1);  // end now starts the next component
      at = end;
    } else {
      at = end + 1;
    }
  }
  p.erase(std::max(root, p.find_last_not_of(" .") + 1));  // npos + 1 is 0
}

// True if `text` holds a character Wine never lets through to a file name:
// a control character or one of *?<>|".
bool HoldsInvalidCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || std::strchr("*?<>|\"", c) != nullptr;
  });
}

// The length of the "\\server\share\" that starts `path`.
std::size_t SkipSharePrefix(const std::string& path) {
  std::size_t at = 2;
  for (int name = 0; name < 2; ++name) {
    while (at < path.size() && !IsSeparator(path[at])) ++at;
    while (at < path.size() && IsSeparator(path[at])) ++at;
  }
  return at;
}

// How Wine reads the start of a Windows path.
enum class PathType { kShare, kDevice, kDeviceRoot, kRooted, kDriveAbsolute, kDriveRelative, kRelative };

PathType TypeOf(const std::string& path) {
  if (IsSeparator(CharAt(path, 0))) {
    if (!IsSeparator(CharAt(path, 1))) return PathType::kRooted;                    // "\dir"
    if (CharAt(path, 2) != '.' && CharAt(path, 2) != '?') return PathType::kShare;  // "\\server"
    if (IsSeparator(CharAt(path, 3))) return PathType::kDevice;                     // "\\.\X:" or "\\?\X:"
    return path.size() > 3 ? PathType::kShare : PathType::kDeviceRoot;              // "\\.x" or "\\."
  }
  if (path.empty() || CharAt(path, 1) != ':') return PathType::kRelative;        // "dir"
  return IsSeparator(CharAt(path, 2)) ? PathType::kDriveAbsolute : PathType::kDriveRelative;  // "X:\" or "X:"
}

// The Windows spelling of the Unix path `unix_path` through the drive whose
// root is the nearest directory it or one of its ancestors names (the first
// letter of several): "X:\" and what follows that directory, its slashes
// left for CollapsePath. Going up, as Wine cuts the path, a "." is skipped
// and each ".." costs one more component. False if no drive's root is among them.
bool ToDrivePath(WinePrefix& prefix, const std::string& unix_path, std::string* windows_path) {
  if (!prefix.drives) {
    prefix.drives.emplace();
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      const std::string device = JoinPath(JoinPath(prefix.root, "dosdevices"), {AsciiLower(letter), ':'});
      struct stat info;
      if (stat(device.c_str(), &info) == 0) prefix.drives->emplace(std::make_pair(info.st_dev, info.st_ino), letter);
    }
  }
  std::size_t length = unix_path.size();
  for (int level = 1;;) {  // components gone up since the last directory tried
    while (length > 1 && unix_path[length - 1] == '/') --length;
    if (level > 0 || length <= 1) {
      struct stat info {};
      const bool directory = IsDirectory(unix_path.substr(0, length), &info);
      const auto drive = prefix.drives->find({info.st_dev, info.st_ino});
      if (directory && drive != prefix.drives->end()) {
        *windows_path = std::string{drive->second, ':', '\\'} + unix_path.substr(length == 1 ? 0 : length);
        return true;
      }
      if (length <= 1) return false;
      level = 0;
    }
    std::size_t start = length;
    while (start > 1 && unix_path[start - 1] != '/') --start;
    const std::string name = unix_path.substr(start, length - start);
    level += name == ".." ? -1 : name == "." ? 0 : 1;
    length = start;
  }
}

// The directory "\??\unix\" paths start at: the prefix's dosdevices/unix
// if there is such an entry, else the Unix root.
std::string UnixRoot(const WinePrefix& prefix) {
  const std::string device = JoinPath(JoinPath(prefix.root, "dosdevices"), "unix");
  struct stat info;
  return lstat(device.c_str(), &info) != 0 && errno == ENOENT ? "/" : device;
}

// Where Wine finds the Unix file "\??\unix" followed by `rest` names (`rest`
// the path without its leading '/'), its components split at backslashes
// only: none may be empty, "." or "..", every one but the last must exist as
// written, and none be longer than a Unix name may be. The Unix path, its
// separators slashes; false if a component does not pass.
bool FindUnixFile(const WinePrefix& prefix, const std::string& rest, std::string* unix_path) {
  std::vector<std::string> names;
  for (std::size_t start = 0, end; start < rest.size(); start = end + 1) {
    end = std::min(rest.find('\\', start), rest.size());
    names.push_back(rest.substr(start, end - start));
    if (names.back().empty() || names.back() == "." || names.back() == "..") return false;
  }
  const std::string root = UnixRoot(prefix);
  std::string slashed = rest;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  *unix_path = JoinPath(root, slashed);
  struct stat info;
  if (stat(unix_path->c_str(), &info) == 0) return true;
  const std::size_t kMaxName = 255;
  std::string directory = root;
  for (std::size_t i = 0; i < names.size(); ++i) {
    directory = JoinPath(directory, names[i]);
    if (names[i].size() > kMaxName || (i + 1 < names.size() && stat(directory.c_str(), &info) != 0)) return false;
  }
  return true;
}

// Wine reads a path that starts with a single '/' as "\??\unix" followed by
// it first. Up to its first backslash it must be free of *?<>|" and control
// characters and, with "unix", at most 255 UTF-16 units long; after that
// anything goes. Its components are split at backslashes only (the first one
// is everything up to the first backslash, slashes included), and it is a
// Unix path when every component but the last exists as written and the
// folder reached lies under a drive. `windows_path` is then that drive's
// spelling of it.
bool ToUnixPathOnDrive(WinePrefix& prefix, const std::string& path, std::string* windows_path) {
  const std::string head = path.substr(0, path.find('\\'));
  const std::size_t kMaxDevice = 255;
  if (HoldsInvalidCharacter(head) || Utf8ToUtf16("unix" + head).size() > kMaxDevice) return false;
  const std::string rest = path.substr(CharAt(path, 1) == '\\' ? 2 : 1);  // one backslash behind "unix/" is skipped
  std::string unix_path;
  return FindUnixFile(prefix, rest, &unix_path) && ToDrivePath(prefix, unix_path, windows_path);
}

// Resolves every component of `windows_path`, made full as ToFullPath makes
// it (a device such as "c:", then its path), but the last, which comes back
// as written (empty when the path ends with a separator). The device is the
// entry of dosdevices/ named by it in lower case; "unix", when there is no
// such entry, is the Unix root. `with_case` tells whether names under the
// device match only with case, as under "unix".
bool ResolveParent(WinePrefix& prefix, const std::string& windows_path, std::string* directory, std::string* last,
                   bool* with_case) {
  std::string nt_path;
  if (!ToFullPath(prefix, windows_path, &nt_path)) return false;
  const std::size_t device_end = nt_path.find('\\');
  if (device_end == std::string::npos || device_end == 0) return false;
  std::string device = nt_path.substr(0, device_end);
  if (device.find('/') != std::string::npos || HoldsInvalidCharacter(device)) return false;
  std::transform(device.begin(), device.end(), device.begin(), AsciiLower<char>);
  *with_case = device == "unix";
  *directory = *with_case ? UnixRoot(prefix) : JoinPath(JoinPath(prefix.root, "dosdevices"), device);
  struct stat info;
  if (!IsDirectory(*directory, &info)) return false;
  std::size_t start = device_end + 1;
  for (std::size_t end; (end = nt_path.find('\\', start)) != std::string::npos; start = end + 1) {
    std::string name = nt_path.substr(start, end - start);  // then the entry it means
    if (!IsValidName(name)) return false;
    if (*with_case ? stat(JoinPath(*directory, name).c_str(), &info) != 0
                   : FindEntry(*directory, name, &name, &prefix.index) != Lookup::kFound) {
      return false;
    }
    *directory = JoinPath(*directory, name);
  }
  *last = nt_path.substr(start);
  return true;
}

// The working directory, with a final separator, that Wine gives a program
// started in the prefix's Unix working directory; found once.
const std::string& WindowsWorkingDirectory(WinePrefix& prefix) {
  std::string& windows_path = prefix.windows_working_directory;
  if (!windows_path.empty()) return windows_path;
  if (!prefix.unix_working_directory) return windows_path = kWindowsDirectory;
  const std::string& unix_directory = *prefix.unix_working_directory;
  if (!ToDrivePath(prefix, unix_directory, &windows_path)) windows_path = "unix" + unix_directory;
  windows_path += '\\';
  CollapsePath(&windows_path, windows_path[1] == ':' ? 3 : 0);  // "unix\..." cleaned up whole, as behind "\\?\"
  std::string directory;
  std::string last;
  bool with_case = false;
  struct stat info;
  if (!ResolveParent(prefix, "\\??\\" + windows_path, &directory, &last, &with_case) || !last.empty() ||
      !IsDirectory(directory, &info)) {
    windows_path = kWindowsDirectory;
  }
  return windows_path;
}

}  // namespace

bool IsValidName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         !HoldsInvalidCharacter(name);
}

std::optional<std::string> UnixWorkingDirectory(const char* pwd) {
  char* const current = getcwd(nullptr, 0);  // in room as long as it needs
  if (current == nullptr) return pwd != nullptr ? std::optional<std::string>(pwd) : std::nullopt;
  const std::string cwd = current;
  free(current);
  struct stat named;
  struct stat here;
  const bool take_pwd = pwd != nullptr && stat(pwd, &named) == 0 &&
                        (stat(cwd.c_str(), &here) != 0 || (named.st_dev == here.st_dev && named.st_ino == here.st_ino));
  return take_pwd ? pwd : cwd;
}

// A path whose last component is a plain name (no "." or "..", no trailing
// dot or space) reuses the resolution of the directory before it, so file
// after file in one folder costs a lookup.
bool ToPrefixEntry(WinePrefix& prefix, const std::string& windows_path, std::string* directory, std::string* name,
                   bool* with_case_out) {
  const std::size_t cut = windows_path.find_last_of("\\/");
  const std::string plain = cut == std::string::npos ? std::string() : windows_path.substr(cut + 1);
  const bool reusable = IsValidName(plain) && plain.back() != '.' && plain.back() != ' ';
  const std::string key = windows_path.substr(0, cut + 1);
  const auto known = reusable ? prefix.parents.find(key) : prefix.parents.end();
  bool with_case = false;
  if (known != prefix.parents.end()) {
    *directory = known->second.directory;
    with_case = known->second.with_case;
    *name = plain;
  } else if (!ResolveParent(prefix, windows_path, directory, name, &with_case)) {
    return false;
  } else if (reusable && *name == plain) {  // kept only where the last component is the name the path ends with
    prefix.parents.emplace(key, WinePrefix::Parent{*directory, with_case});
  }
  if (!name->empty() && !IsValidName(*name)) return false;
  if (with_case_out != nullptr) *with_case_out = with_case;
  // In a directory already listed, a name of which no other spelling was
  // listed needs no look at the disk: file after file in the save folder
  // then costs no lookup of its own.
  return name->empty() || with_case || MeansNameAsWritten(*directory, *name, prefix.index) ||
         FindEntry(*directory, *name, name, &prefix.index) != Lookup::kFailed;
}

bool ToFullPath(WinePrefix& prefix, const std::string& windows_path, std::string* nt_path) {
  if (windows_path.compare(0, 4, "\\\\?\\") == 0 ||
      (windows_path.size() > 4 && windows_path.compare(0, 4, "\\??\\") == 0)) {
    *nt_path = windows_path.substr(4);
    return true;
  }
  if (windows_path.find_first_not_of(' ') == std::string::npos) return false;
  std::string full;
  std::size_t mark = 3;
  const PathType type = TypeOf(windows_path);
  if (type == PathType::kDeviceRoot) return false;
  if (type == PathType::kShare || type == PathType::kDevice || type == PathType::kDriveAbsolute) {
    full = windows_path;
    mark = type == PathType::kShare ? SkipSharePrefix(windows_path) : type == PathType::kDevice ? 4 : 3;
  } else if (type != PathType::kRooted || windows_path[0] != '/' || !ToUnixPathOnDrive(prefix, windows_path, &full)) {
    const std::string& current = WindowsWorkingDirectory(prefix);
    const bool on_drive = current[1] == ':';
    const std::size_t root = on_drive ? 3 : SkipSharePrefix(current);
    if (type == PathType::kRelative || type == PathType::kRooted) {
      full = (type == PathType::kRelative ? current : current.substr(0, on_drive ? 2 : root)) + windows_path;
      mark = root;
    } else if (AsciiLower(current[0]) == AsciiLower(windows_path[0]) && on_drive) {
      full = current + windows_path.substr(2);
    } else {
      full = std::string{windows_path[0], ':', '\\'} + windows_path.substr(2);
    }
  }
  CollapsePath(&full, mark);
  // "\\server\share\x" is "UNC\server\share\x", "\\.\X:\x" is "X:\x".
  const PathType full_type = TypeOf(full);
  *nt_path = full_type == PathType::kShare ? "UNC\\" + full.substr(2)
                                           : full.substr(full_type == PathType::kDevice ? 4 : 0);
  return true;
}

bool ToPrefixPath(WinePrefix& prefix, const std::string& windows_path, std::string* unix_path) {
  std::string name;
  if (!ToPrefixEntry(prefix, windows_path, unix_path, &name)) return false;
  *unix_path = JoinPath(*unix_path, name);
  return true;
}

bool ToPrefixSearch(WinePrefix& prefix, const std::string& windows_pattern, std::string* unix_directory,
                    std::string* wildcard) {
  bool with_case = false;
  return ResolveParent(prefix, windows_pattern, unix_directory, wildcard, &with_case) && !wildcard->empty();
}

// The folder is taken in the full form Wine gives the search for its
// entries, so that the folders above it are the ones the search reaches.
bool FolderOnMachine(WinePrefix& prefix, const std::string& windows_folder, std::string* existing,
                     std::string* missing) {
  std::string full;
  if (!ToFullPath(prefix, windows_folder + "*", &full) || full.back() != '*') return false;
  full.pop_back();
  const std::string devices = prefix.root + "/dosdevices/";
  missing->clear();
  while (!ToPrefixPath(prefix, "\\??\\" + full, existing)) {
    full.erase(full.find_last_not_of("\\/") + 1);
    const std::size_t cut = full.find_last_of("\\/");
    if (cut == std::string::npos && full.size() == 2 && full[1] == ':') {
      *existing = devices + AsciiLower(full[0]) + ":";
      return true;
    }
    if (cut == std::string::npos) return false;
    missing->insert(0, "/" + full.substr(cut + 1));
    full.erase(cut + 1);
  }
  std::string& folder = *existing;
  folder.erase(folder.find_last_not_of('/') + 1);  // the root: ""
  if (folder.compare(0, devices.size(), devices) == 0) {
    const std::size_t drive_end = std::min(folder.find('/', devices.size()), folder.size());
    char link[4096];
    const ssize_t length = readlink(folder.substr(0, drive_end).c_str(), link, sizeof link - 1);
    if (length > 0) {
      std::string drive(link, static_cast<std::size_t>(length));
      if (drive[0] != '/') {
        drive = drive.compare(0, 3, "../") == 0 ? JoinPath(prefix.root, drive.substr(3)) : JoinPath(devices, drive);
      }
      drive.erase(drive.find_last_not_of('/') + 1);
      folder = drive + folder.substr(drive_end);
    }
  }
  if (folder.empty() && missing->empty()) folder = "/";
  return true;
}
