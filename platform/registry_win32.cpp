#include <windows.h>

#include "platform/platform.h"
#include "platform/registry_value.h"

std::vector<Install> FindInstalls(const char*, const char*) { return {Install{}}; }

std::string DescribeFolder(const Install&, const char*) { return std::string(); }

const char* WhereInstallsAreFound() {
  return "It finds the game's folder through the registry entry that\n"
         "the game's installer made.\n";
}

// A 32-bit program asking for no particular view reads the key that 32-bit
// programs see on 64-bit Windows, which is where the game's installer wrote it.
bool ReadRegistryString(const Install&, const char* key_path, const char* value_name, char* buffer) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = REG_NONE;
  DWORD size = static_cast<DWORD>(kPathBufferSize);
  LONG status = RegQueryValueExA(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return false;
  // An expandable string is used as stored, without expanding it.
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  return EndRegistryString(buffer, size, kPathBufferSize);
}
