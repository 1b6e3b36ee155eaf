// Paths in savefix are written the Windows way; on POSIX a backslash is read
// as the path separator when a path reaches the file system.
#ifndef SAVEFIX_PLATFORM_NATIVE_PATH_POSIX_H
#define SAVEFIX_PLATFORM_NATIVE_PATH_POSIX_H

#include "platform/platform.h"

// Copies `path` into `native` with every backslash turned into a slash.
// False (errno ENAMETOOLONG) if it does not fit.
bool ToNativePath(const char* path, char (&native)[kPathBufferSize]);

#endif
