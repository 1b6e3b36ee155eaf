// What the native build keeps about an install (a Wine prefix) for the run.
#ifndef SAVEFIX_PLATFORM_INSTALL_STATE_POSIX_H
#define SAVEFIX_PLATFORM_INSTALL_STATE_POSIX_H

#include <cstdlib>
#include <string>
#include <unordered_map>

#include "platform/platform.h"
#include "wine/directory.h"
#include "wine/windows_path.h"

// The registry value read while the install was found, so that its
// system.reg is read once.
struct RegistryValue {
  std::string key_path;
  std::string value_name;
  bool found = false;
  std::string data;
};

// The folders the install's files were reached in, each opened when first
// needed and kept open for the run (-1: it could not be opened). A folder
// moved or replaced during the run is not followed: its files are still
// those of the folder the run started on, and a link put in its place never
// leads the run elsewhere.
struct OpenFolders {
  std::unordered_map<std::string, int> descriptors;
  OpenFolders() = default;
  OpenFolders(const OpenFolders&) = delete;
  OpenFolders& operator=(const OpenFolders&) = delete;
  ~OpenFolders();
};

struct InstallState {
  DirectoryIndex directories;  // each directory of the prefix listed at most once
  RegistryValue value;
  OpenFolders folders;
  // The Unix directory Wine would start savefix.exe in, taken once.
  std::string working_directory = UnixWorkingDirectory(std::getenv("PWD"));
};

// The install's directory index; null for an install without state.
inline DirectoryIndex* Directories(const Install& install) {
  return install.state ? &install.state->directories : nullptr;
}

// The Unix working directory relative Windows paths of the install start from.
inline std::string WorkingDirectory(const Install& install) {
  return install.state ? install.state->working_directory : UnixWorkingDirectory(std::getenv("PWD"));
}

#endif
