// What the native build keeps about an install (a Wine prefix) for the run.
#ifndef SAVEFIX_PLATFORM_INSTALL_STATE_POSIX_H
#define SAVEFIX_PLATFORM_INSTALL_STATE_POSIX_H

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "wine/directory.h"
#include "wine/windows_path.h"

struct InstallState {
  DirectoryIndex directories;  // each directory of the prefix listed at most once
  std::string registry;  // the prefix's system.reg, read once
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
