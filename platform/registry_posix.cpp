// HKEY_LOCAL_MACHINE for the native build: the system.reg of the game's Wine
// prefix, read the way savefix.exe running in that prefix would read it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/native_path_posix.h"
#include "platform/platform.h"
#include "platform/registry_value.h"
#include "platform/wine_prefix_posix.h"
#include "platform/wine_registry_posix.h"

namespace {

const char kGameKey[] = "Software\\Quarrelstone\\Vellmoor\\1.0";
const char kInstallPathValue[] = "AppPath";

// A fresh prefix's system.reg is a few MB; far more is no registry file.
constexpr std::size_t kMaxRegistryFileSize = 256u * 1024 * 1024;

struct Install {
  std::string prefix;
  bool read = false;  // `data` holds the value as read
  std::string data;
};

std::vector<Install> installs;
std::size_t next_install = 0;
bool installs_listed = false;
const Install* selected = nullptr;

// Reads the game's value out of `prefix`'s registry into `install`; true if
// the prefix holds the game's key at all.
bool LookUpGameKey(const std::string& prefix, Install* install) {
  static std::string text;
  install->prefix = prefix;
  if (!ReadRegularFile(prefix + "/system.reg", kMaxRegistryFileSize, &text)) return false;
  WineRegistryLookup found =
      FindWineRegistryString(text.data(), text.size(), kGameKey, kInstallPathValue, &install->data);
  install->read = found == WineRegistryLookup::kFound;
  return found == WineRegistryLookup::kFound || found == WineRegistryLookup::kNoValue ||
         found == WineRegistryLookup::kNotString;
}

// Every prefix that holds the game's key; the prefix WINEPREFIX names is
// always taken. With none, one entry with no value, so the run reports that
// it could not read the registry.
void ListInstalls() {
  const char* chosen = std::getenv("WINEPREFIX");
  bool prefix_chosen = chosen != nullptr && chosen[0] != '\0';
  for (const std::string& prefix : FindWinePrefixes()) {
    Install install;
    if (LookUpGameKey(prefix, &install) || prefix_chosen) installs.push_back(std::move(install));
  }
  if (installs.empty()) {
    Install none;
    if (prefix_chosen) none.prefix = chosen;
    installs.push_back(none);
  }
  installs_listed = true;
}

}  // namespace

bool SelectNextInstall(std::string* label) {
  if (!installs_listed) ListInstalls();
  if (next_install >= installs.size()) return false;
  selected = &installs[next_install++];
  UseWinePrefix(selected->prefix);
  *label = selected->prefix;
  return true;
}

bool ReadInstallPath(char* buffer) {
  if (selected == nullptr || !selected->read || selected->data.size() > kPathBufferSize) return false;
  std::memcpy(buffer, selected->data.data(), selected->data.size());
  return EndRegistryString(buffer, selected->data.size(), kPathBufferSize);
}
