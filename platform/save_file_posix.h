// An open save of the native build and the new file that becomes its
// backup, both reached through the folder that holds them, open for the run.
#ifndef SAVEFIX_PLATFORM_SAVE_FILE_POSIX_H
#define SAVEFIX_PLATFORM_SAVE_FILE_POSIX_H

#include <memory>
#include <string>

#include "platform/install.h"
#include "wine/directory.h"

// A folder saves were opened in, open for the run, so that a folder moved or
// replaced meanwhile is not followed and a link put in its place never leads
// the run elsewhere.
struct OpenFolder {
  std::string path;
  int descriptor;
  // Where its entries are found as Wine finds them; null where names
  // match only with case.
  DirectoryIndex* index;
  unsigned next_temp = 0;
};

// Opens the entry `name` of `folder` as a save; null if it is no regular file or does not open.
std::unique_ptr<SaveFile> OpenSaveIn(OpenFolder& folder, const std::string& name, Access access);

#endif
