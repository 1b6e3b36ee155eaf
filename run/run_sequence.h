// The run sequence: from the registry to the closing prompt.
#ifndef SAVEFIX_RUN_RUN_SEQUENCE_H
#define SAVEFIX_RUN_RUN_SEQUENCE_H

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/install.h"

// The game: where its installer records the install directory, and where
// below that directory its saves are.
constexpr Game kGame = {"SOFTWARE\\Quarrelstone\\Vellmoor\\1.0", "AppPath", "SaveGames\\", "*.HDR"};

constexpr char kInsufficientMemoryMessage[] = "Insufficient Memory\n";
constexpr char kRegistryFailedMessage[] = "Failed reading registry\n";
constexpr char kSaveDirectoryTooLongMessage[] = "Save game directory path too long\n";
constexpr char kSaveDirectoryMessage[] = "Save game directory: %s\n";
constexpr char kNoSaveGameMessage[] = "No save game found\n";
constexpr char kInvalidFileNameMessage[] = "Invalid file name %s... Skipping file\n";
constexpr char kClosePrompt[] = "Press any key to close...";

constexpr int kExitOk = 0;
constexpr int kExitNoMemory = 1;

// What the run does to each save: fix it, or put its original back.
enum class Mode { kFix, kPutBack };

// Where the run gets its two buffers from; tests hand in one that fails.
struct BufferSource {
  void* (*obtain)(std::size_t size);
  void (*release)(void* buffer);
};

// Backs up and patches every save file of `named`, the installs named on the
// command line, or, with none named, of every install `world` finds of the
// game (or puts back the original of each); then prompts and waits for a
// line of standard input. Returns the exit status.
int RunSavefix(const BufferSource& buffers, World& world, std::vector<std::unique_ptr<Install>> named,
               Mode mode = Mode::kFix);

// Shows the closing prompt, then reads and discards one line of input (or
// up to the end of input).
void WaitForEnter();

#endif
