// The run sequence: from the registry to the closing prompt.
#ifndef SAVEFIX_RUN_RUN_SEQUENCE_H
#define SAVEFIX_RUN_RUN_SEQUENCE_H

#include <cstddef>

// The game: where its installer records the install directory, and where
// below that directory its saves are.
constexpr char kGameKey[] = "SOFTWARE\\Quarrelstone\\Vellmoor\\1.0";
constexpr char kInstallPathValue[] = "AppPath";
constexpr char kSaveDirectoryName[] = "SaveGames\\";
constexpr char kSaveFilePattern[] = "*.HDR";

constexpr char kInsufficientMemoryMessage[] = "Insufficient Memory\n";
constexpr char kRegistryFailedMessage[] = "Failed reading registry\n";
constexpr char kSaveDirectoryTooLongMessage[] = "Save game directory path too long\n";
constexpr char kSaveDirectoryMessage[] = "Save game directory: %s\n";
constexpr char kNoSaveGameMessage[] = "No save game found\n";
constexpr char kInvalidFileNameMessage[] = "Invalid file name %s... Skipping file\n";
constexpr char kBackupAlreadyMadeMessage[] = "Backup already made %s... Skipping file\n";
constexpr char kClosePrompt[] = "Press any key to close...";

constexpr int kExitOk = 0;
constexpr int kExitNoMemory = 1;

// Where the run gets its two buffers from; tests hand in one that fails.
struct BufferSource {
  void* (*obtain)(std::size_t size);
  void (*release)(void* buffer);
};

// Finds the game's save directory through the registry, backs up and patches
// every save file found there, then prompts and waits for a line of standard
// input. Returns the exit status.
int RunSavefix(const BufferSource& buffers);

#endif
