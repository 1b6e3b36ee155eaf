// The backup-and-patch work on one save file.
#ifndef SAVEFIX_PATCH_PATCH_SAVE_FILE_H
#define SAVEFIX_PATCH_PATCH_SAVE_FILE_H

#include <cstddef>
#include <string>
#include <vector>

#include "platform/install.h"

constexpr char kSaveExtension[] = ".HDR";
constexpr char kBackupExtension[] = ".BAK";
constexpr std::size_t kCopyChunkSize = 100;
constexpr long long kPatchDistanceFromEnd = 252;
constexpr unsigned char kPatchValue = 4;

constexpr char kProcessingFileMessage[] = "Processing file %s\n";
constexpr char kFailedToOpenMessage[] = "Failed to open file %s\n";
constexpr char kFailedBackupMessage[] = "Failed to make backup %s... Skipping file\n";
constexpr char kBackupMadeMessage[] = "Backup made %s\n";
constexpr char kAlreadyFixedMessage[] = "Already fixed %s... Skipping file\n";
constexpr char kBackupAlreadyMadeMessage[] = "Backup already made %s... Skipping file\n";
constexpr char kFileNameTooLongMessage[] = "File name too long %s... Skipping file\n";
constexpr char kParseErrorMessage[] = "Error parsing file?!\n";
constexpr char kFailedToPatchMessage[] = "Failed to patch file %s\n";
constexpr char kFileProcessedMessage[] = "File Processed\n";
constexpr char kEntryEndMessage[] = "\n";
// Why no new file could be made, on the line after kFailedBackupMessage.
constexpr char kNotAllowedMessage[] = "No new file may be made in the save folder (access denied)\n";
constexpr char kDiskFullMessage[] = "No new file can be made in the save folder: the disk is full\n";
constexpr char kNotCreatedMessage[] = "No new file can be made in the save folder\n";

constexpr char kFixedCountMessage[] = "Saves fixed: %s";
constexpr char kAlreadyFixedCountMessage[] = ", already fixed: %s";
constexpr char kNotFixedCountMessage[] = ", not fixed: %s\n";

// Where the patch byte of a file of `length` bytes is; -1 for a file too
// short to have one.
long long PatchOffset(long long length);

// Turns the entry name behind `save_dir_length` in `path` into the backup
// name: the first ".HDR" becomes ".BAK" and the string ends right behind it.
// False, with the buffer untouched, when the name holds no ".HDR".
bool FormBackupPath(char* path, std::size_t save_dir_length);

// Backs up the save file whose path is in `path` (a 500-byte buffer) to the
// same name with ".BAK" in place of the first ".HDR" behind the first
// `save_dir_length` characters, then sets the byte 252 before the end of the
// save to 4, all within `install`. Reports every step on standard output. On
// return the buffer holds the backup path, or the save path if no backup
// name could be formed.
//
// A save that already holds the patch byte is left alone and keeps its first
// backup. Otherwise the copy goes into a new file, which replaces the backup
// only once it is whole and on the disk, so an interrupted run leaves the
// earlier backup whole and the save unpatched. A backup that is the save
// itself, a read-only file, anything but a file, a short alias of another
// entry, or the backup of one of the saves `sharing_backup` (the others in
// the folder whose backup name is the same) that is fixed, is never
// replaced, and its save is not patched.
// What became of one save.
enum class Outcome { kFixed, kAlreadyFixed, kNotFixed };

Outcome PatchSaveFile(Install& install, char* path, std::size_t save_dir_length,
                      const std::vector<std::string>& sharing_backup);

#endif
