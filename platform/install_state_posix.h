// What the native build keeps about an install (a Wine prefix) for the run.
#ifndef SAVEFIX_PLATFORM_INSTALL_STATE_POSIX_H
#define SAVEFIX_PLATFORM_INSTALL_STATE_POSIX_H

#include "platform/platform.h"
#include "wine/directory.h"

struct InstallState {
  DirectoryIndex directories;  // each directory of the prefix listed at most once
};

// The install's directory index; null for an install without state.
inline DirectoryIndex* Directories(const Install& install) {
  return install.state ? &install.state->directories : nullptr;
}

#endif
