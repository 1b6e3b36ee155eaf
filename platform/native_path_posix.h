// The native build reads the game's Wine prefix: the Windows paths savefix
// works with reach the files inside that prefix as Wine would resolve them.
#ifndef SAVEFIX_PLATFORM_NATIVE_PATH_POSIX_H
#define SAVEFIX_PLATFORM_NATIVE_PATH_POSIX_H

#include <string>

// From now on Windows paths are resolved inside the prefix directory `prefix`.
void UseWinePrefix(const std::string& prefix);

// The prefix paths are resolved in; empty before one is chosen.
const std::string& CurrentWinePrefix();

// The file `path` names inside the current prefix; false (errno ENOENT) if
// it names none there.
bool ToNativePath(const char* path, std::string* native);

#endif
