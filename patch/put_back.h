// Putting a save back as it was before it was fixed, from its backup.
#ifndef SAVEFIX_PATCH_PUT_BACK_H
#define SAVEFIX_PATCH_PUT_BACK_H

#include <cstddef>

#include "patch/patch_save_file.h"
#include "platform/install.h"

constexpr char kNoBackupMessage[] = "No backup %s... Skipping file\n";
constexpr char kNotThisSavesBackupMessage[] = "Backup is not this save's %s... Skipping file\n";
constexpr char kChangedSinceFixedMessage[] =
    "Changed since it was fixed %s... Skipping file (putting it back would lose that play)\n";
constexpr char kAlreadyOriginalMessage[] = "Already original %s... Skipping file\n";
constexpr char kPutBackMessage[] = "Original put back from %s\n";
constexpr char kFailedToPutBackMessage[] = "Failed to put back %s... Skipping file\n";
constexpr char kPutBackCountMessage[] = "Saves put back: %s";
constexpr char kAlreadyOriginalCountMessage[] = ", already original: %s";
constexpr char kNotPutBackCountMessage[] = ", not put back: %s\n";

// Puts the backup of the save whose path is in `path` (a 500-byte buffer,
// the save's folder its first `save_dir_length` characters) back as the
// save, only where the backup is that save's original: as long as the save,
// the two differing at most at the patch byte, which holds the patch value
// in the save. The backup's bytes go into a new file, which replaces the
// save once it is whole and on the disk; the backup stays as it is.
// Reports every step on standard output; kFixed stands for a save put back,
// kAlreadyFixed for one that is its backup already. On return the buffer
// holds the backup path, or the save path if no backup name could be formed.
Outcome PutBackSaveFile(Install& install, char* path, std::size_t save_dir_length);

#endif
