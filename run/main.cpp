// savefix: backs up every saved game of the installed game, or of the
// folders and saves named on its command line, then sets the patch byte in
// each. Answers --help and --version.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/console.h"
#include "platform/install.h"
#include "run/run_sequence.h"

namespace {

constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: savefix [--help | --version | --restore] [FOLDER | SAVE.HDR]...\n"
    "\n"
    "Backs up every saved game of Vellmoor, then fixes it. In the game's\n"
    "SaveGames folder, each save file (*.HDR) is first copied beside it,\n"
    "with .BAK in place of .HDR, then the byte 252 bytes before its end is\n"
    "set to 4.\n"
    "%s"
    "Named on the command line (or dropped on the program), a FOLDER has its\n"
    "saves fixed the same way, and a SAVE.HDR that one save: no registry.\n"
    "\n"
    "A save that is already fixed is left alone and keeps its first backup,\n"
    "so running savefix again never loses an original save.\n"
    "\n"
    "  --restore       put each save back as it was before it was fixed,\n"
    "                  from its .BAK, only where the .BAK is its original\n"
    "                  and the save was not played on since\n"
    "  -h, --help, /?  show this help\n"
    "  --version       show the version\n";

const char kFoundThroughRegistry[] =
    "It finds the game's folder through the registry entry that the\n"
    "game's installer made.\n";

const char kFoundInWinePrefixes[] =
    "It reads the game's Wine prefix: the one WINEPREFIX names, else each\n"
    "one holding the game: ~/.wine, the Proton prefixes of every Steam\n"
    "library and the prefixes of Lutris, Heroic, Bottles, PlayOnLinux and\n"
    "CrossOver.\n";

bool IsHelp(const char* arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "/?") == 0;
}

std::optional<std::string> Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

// Prints the usage on `stream`.
void PrintUsage(std::FILE* stream, const World& world) {
  std::fprintf(stream, kUsage, world.FindsWinePrefixes() ? kFoundInWinePrefixes : kFoundThroughRegistry);
}

// Names what was wrong, then prints the usage, on standard error; returns
// the status to end with.
int ReportUsageError(const World& world, const char* format, const char* text) {
  std::fprintf(stderr, format, text);
  PrintUsage(stderr, world);
  return kExitUsage;
}

// Handles the first argument, if it is an option: prints the usage or the
// version (status 0), or names an unknown option (status 2). Returns true
// with `status` set when the run ends there; false when the usual run goes
// ahead (no argument, or one that is not an option, such as a file dropped
// on the program). Other options are refused rather than run the fix.
bool HandleOption(int argc, const char* const* argv, const World& world, int* status) {
  if (argc < 2 || (argv[1][0] != '-' && !IsHelp(argv[1])) || std::strcmp(argv[1], "--restore") == 0) return false;
  const char* arg = argv[1];
  *status = 0;
  if (IsHelp(arg)) {
    PrintUsage(stdout, world);
  } else if (std::strcmp(arg, "--version") == 0) {
    std::printf("savefix %s\n", SAVEFIX_VERSION);
  } else {
    *status = ReportUsageError(world, "savefix: unknown option '%s'\n\n", arg);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::unique_ptr<World> world = ThisMachine({Variable("WINEPREFIX"), Variable("HOME"), Variable("PWD")});
  int status = 0;
  if (HandleOption(argc, argv, *world, &status)) return status;
  const Mode mode = argc > 1 && std::strcmp(argv[1], "--restore") == 0 ? Mode::kPutBack : Mode::kFix;
  SetUpConsoleOutput();
  // Every name is checked before anything is touched. A name dropped on the
  // program opened its window: the run ends at the prompt, so that what was
  // wrong can be read there.
  std::vector<std::unique_ptr<Install>> named;
  for (int i = mode == Mode::kFix ? 1 : 2; i < argc; ++i) {
    std::unique_ptr<Install> install = world->NamedInstall(kGame, argv[i]);
    if (!install) {
      ReportUsageError(*world, "savefix: '%s' is neither a folder nor a save\n\n", argv[i]);
      WaitForEnter();
      return kExitUsage;
    }
    // Saves of one folder are one install.
    const auto takes = [&install](const std::unique_ptr<Install>& earlier) { return earlier->TakeSavesOf(*install); };
    if (std::none_of(named.begin(), named.end(), takes)) named.push_back(std::move(install));
  }
  return RunSavefix({std::malloc, std::free}, *world, std::move(named), mode);
}
