#include <windows.h>

#include "platform/platform.h"
#include "platform/registry_value.h"

namespace {
const char kGameKey[] = "SOFTWARE\\Quarrelstone\\Vellmoor\\1.0";
const char kInstallPathValue[] = "AppPath";
}  // namespace

bool SelectNextInstall(std::string* label) {
  static bool selected = false;
  if (selected) return false;
  selected = true;
  label->clear();
  return true;
}

// A 32-bit program asking for no particular view reads the key that 32-bit
// programs see on 64-bit Windows, which is where the game's installer wrote it.
bool ReadInstallPath(char* buffer) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kGameKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = REG_NONE;
  DWORD size = static_cast<DWORD>(kPathBufferSize);
  LONG status = RegQueryValueExA(key, kInstallPathValue, nullptr, &type,
                                 reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return false;
  // An expandable string is used as stored, without expanding it.
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  return EndRegistryString(buffer, size, kPathBufferSize);
}
