// HKEY_LOCAL_MACHINE for the native build: the system.reg of each Wine
// prefix that holds the game, read the way a 32-bit Windows program running
// in that prefix would read it.
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

namespace {

// A fresh prefix's system.reg is a few MB; far more is no registry file.
constexpr std::size_t kMaxRegistryFileSize = 256u * 1024 * 1024;

const char kWinePrefixLabel[] = "Wine prefix: ";

WineRegistryLookup LookUp(const std::string& prefix, const char* key_path, const char* value_name,
                          std::string* text, std::string* data) {
  if (!ReadRegularFile(prefix + "/system.reg", kMaxRegistryFileSize, text)) return WineRegistryLookup::kNoKey;
  return FindWineRegistryString(text->data(), text->size(), key_path, value_name, data);
}

bool HoldsKey(WineRegistryLookup found) {
  return found == WineRegistryLookup::kFound || found == WineRegistryLookup::kNoValue ||
         found == WineRegistryLookup::kNotString;
}

Install InPrefix(const std::string& prefix) {
  return Install{kWinePrefixLabel + prefix + "\n", prefix, std::make_shared<InstallState>()};
}

}  // namespace

const char* WhereInstallsAreFound() {
  return "It reads the game's Wine prefix: the one WINEPREFIX names, else ~/.wine\n"
         "and the Proton prefixes of every Steam library, each that holds the game.\n";
}

// Every prefix that holds the key; the prefix WINEPREFIX names is always taken.
std::vector<Install> FindInstalls(const char* key_path) {
  const char* chosen = std::getenv("WINEPREFIX");
  const bool prefix_chosen = chosen != nullptr && chosen[0] != '\0';
  std::vector<Install> installs;
  std::string text;
  std::string data;
  for (const std::string& prefix : FindWinePrefixes(chosen, std::getenv("HOME"))) {
    if (prefix_chosen || HoldsKey(LookUp(prefix, key_path, "", &text, &data))) installs.push_back(InPrefix(prefix));
  }
  if (installs.empty()) installs.push_back(prefix_chosen ? InPrefix(chosen) : Install{});
  return installs;
}

bool ReadRegistryString(const Install& install, const char* key_path, const char* value_name, char* buffer) {
  if (install.root.empty()) return false;
  std::string text;
  std::string data;
  if (LookUp(install.root, key_path, value_name, &text, &data) != WineRegistryLookup::kFound) return false;
  if (data.size() > kPathBufferSize) return false;
  std::memcpy(buffer, data.data(), data.size());
  return EndRegistryString(buffer, data.size(), kPathBufferSize);
}
