// HKEY_LOCAL_MACHINE for the POSIX build: a registry export file named by
// SAVEFIX_REGISTRY, else /etc/savefix/registry.reg.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"
#include "platform/registry_export_posix.h"
#include "platform/registry_value.h"

namespace {

const char kDefaultRegistryFile[] = "/etc/savefix/registry.reg";
const char kGameKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarrelstone\\Vellmoor\\1.0";
const char kInstallPathValue[] = "AppPath";

// An export holding one game's key is a few hundred bytes; anything past
// this is not a registry file we want to read.
constexpr long kMaxRegistryFileSize = 16L * 1024 * 1024;

const char* RegistryFilePath() {
  const char* path = std::getenv("SAVEFIX_REGISTRY");
  return path != nullptr && path[0] != '\0' ? path : kDefaultRegistryFile;
}

bool ReadWholeFile(const char* path, std::vector<char>& text) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  char chunk[4096];
  std::size_t count;
  bool ok = true;
  while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    if (text.size() + count > static_cast<std::size_t>(kMaxRegistryFileSize)) {
      ok = false;
      break;
    }
    text.insert(text.end(), chunk, chunk + count);
  }
  if (std::ferror(file) != 0) ok = false;
  std::fclose(file);
  return ok;
}

}  // namespace

bool ReadInstallPath(char* buffer) {
  std::vector<char> text;
  if (!ReadWholeFile(RegistryFilePath(), text)) return false;
  std::size_t size = 0;
  ExportLookup found = FindExportedString(text.data(), text.size(), kGameKey, kInstallPathValue,
                                          buffer, kPathBufferSize, &size);
  return found == ExportLookup::kFound && EndRegistryString(buffer, size, kPathBufferSize);
}
