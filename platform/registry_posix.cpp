// HKEY_LOCAL_MACHINE for the native build: the system.reg of each Wine
// prefix that holds the game, read the way a 32-bit Windows program running
// in that prefix would read it.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/install_state_posix.h"
#include "platform/platform.h"
#include "platform/registry_value.h"
#include "wine/prefixes.h"
#include "wine/read_file.h"
#include "wine/registry_file.h"
#include "wine/windows_path.h"

namespace {

// A fresh prefix's system.reg is a few MB; far more is no registry file.
constexpr std::size_t kMaxRegistryFileSize = 256u * 1024 * 1024;

const char kWinePrefixLabel[] = "Wine prefix: ";
const char kNotAPrefixLabel[] = "Not a Wine prefix: ";
const char kNotFoundLabel[] = "Game not found in: ";
const char kFolderLabel[] = "Folder on this machine: ";

WineRegistryLookup LookUp(const std::string& prefix, const char* key_path, const char* value_name,
                          std::string* data) {
  int descriptor = OpenRegularFile(prefix + "/system.reg");
  if (descriptor < 0) return WineRegistryLookup::kMalformed;
  WineRegistryLookup found = ReadWineRegistryString(descriptor, kMaxRegistryFileSize, key_path, value_name, data);
  close(descriptor);
  return found;
}

bool HoldsKey(WineRegistryLookup found) {
  return found == WineRegistryLookup::kFound || found == WineRegistryLookup::kNoValue ||
         found == WineRegistryLookup::kNotString;
}

// The install of `prefix`, keeping what the look-up that found it read.
Install InPrefix(const std::string& prefix, const char* key_path, const char* value_name,
                 WineRegistryLookup found, std::string* data) {
  Install install{kWinePrefixLabel + prefix + "\n", prefix, std::make_shared<InstallState>()};
  RegistryValue& value = install.state->value;
  value.key_path = key_path;
  value.value_name = value_name;
  value.found = found == WineRegistryLookup::kFound;
  value.data.swap(*data);
  return install;
}

}  // namespace

const char* WhereInstallsAreFound() {
  return "It reads the game's Wine prefix: the one WINEPREFIX names, else ~/.wine\n"
         "and the Proton prefixes of every Steam library, each that holds the game.\n";
}

// Every prefix that holds the key; the prefix WINEPREFIX names is always
// taken, labelled as no prefix if it holds no registry Wine would read.
std::vector<Install> FindInstalls(const char* key_path, const char* value_name) {
  const char* chosen = std::getenv("WINEPREFIX");
  const bool prefix_chosen = chosen != nullptr && chosen[0] != '\0';
  const WinePrefixes found = FindWinePrefixes(chosen, std::getenv("HOME"));
  std::string data;
  if (prefix_chosen) {
    const WineRegistryLookup lookup = found.prefixes.empty() ? WineRegistryLookup::kMalformed
                                                             : LookUp(chosen, key_path, value_name, &data);
    Install install = InPrefix(chosen, key_path, value_name, lookup, &data);
    if (lookup == WineRegistryLookup::kMalformed) install.label = kNotAPrefixLabel + std::string(chosen) + "\n";
    return {install};
  }
  std::vector<Install> installs;
  for (const std::string& prefix : found.prefixes) {
    const WineRegistryLookup lookup = LookUp(prefix, key_path, value_name, &data);
    if (HoldsKey(lookup)) installs.push_back(InPrefix(prefix, key_path, value_name, lookup, &data));
  }
  if (installs.empty()) {
    Install none;
    for (const std::string& place : found.places) none.label += kNotFoundLabel + place + "\n";
    installs.push_back(none);
  }
  return installs;
}

// The folder on this machine that a Windows path of the install names: the
// real folder if it exists, else where it would be, marked as not found.
std::string DescribeFolder(const Install& install, const char* path) {
  if (install.root.empty()) return std::string();
  std::string folder;
  std::string rest;
  std::string windows(path);
  while (!ToPrefixPath(install.root, windows, WorkingDirectory(install), &folder, nullptr)) {
    // Drop the last component and try the folder above it.
    const std::size_t cut =
        windows.size() < 2 ? std::string::npos : windows.find_last_of('\\', windows.size() - 2);
    if (cut == std::string::npos) {
      folder = install.root + "/dosdevices/" + static_cast<char>(std::tolower(static_cast<unsigned char>(path[0]))) + ":";
      rest = std::string(path).substr(2);
      break;
    }
    rest = windows.substr(cut) + rest;
    windows.erase(cut + 1);
  }
  char* real = realpath(folder.c_str(), nullptr);
  if (real != nullptr) {
    folder = real;
    std::free(real);
  }
  std::replace(rest.begin(), rest.end(), '\\', '/');
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  return kFolderLabel + folder + rest + (rest.empty() ? "" : " (not found)") + "\n";
}

bool ReadRegistryString(const Install& install, const char* key_path, const char* value_name, char* buffer) {
  if (install.root.empty()) return false;
  std::string data;
  bool found;
  const RegistryValue* read = install.state ? &install.state->value : nullptr;
  if (read != nullptr && read->key_path == key_path && read->value_name == value_name) {
    found = read->found;
    data = read->data;
  } else {
    found = LookUp(install.root, key_path, value_name, &data) == WineRegistryLookup::kFound;
  }
  if (!found || data.size() > kPathBufferSize) return false;
  std::memcpy(buffer, data.data(), data.size());
  return EndRegistryString(buffer, data.size(), kPathBufferSize);
}
