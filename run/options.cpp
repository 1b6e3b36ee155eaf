#include "run/options.h"

#include <cstdio>
#include <cstring>

#include "platform/install.h"

namespace {

const char kUsage[] =
    "Usage: savefix [--help | --version] [FOLDER | SAVE.HDR]...\n"
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
    "so running savefix again never loses an original save. To put a save\n"
    "back, delete the fixed X.HDR and rename X.BAK to X.HDR.\n"
    "\n"
    "  -h, --help, /?  show this help\n"
    "  --version       show the version\n";

bool IsHelp(const char* arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "/?") == 0;
}

// Names what was wrong, then prints the usage, on standard error; returns
// the status to end with.
int ReportUsageError(const char* format, const char* text) {
  std::fprintf(stderr, format, text);
  std::fprintf(stderr, kUsage, WhereInstallsAreFound());
  return kExitUsage;
}

}  // namespace

int ReportBadName(const char* name) {
  return ReportUsageError("savefix: '%s' is neither a folder nor a save\n\n", name);
}

bool HandleOption(int argc, const char* const* argv, int* status) {
  if (argc < 2 || (argv[1][0] != '-' && !IsHelp(argv[1]))) return false;
  const char* arg = argv[1];
  *status = 0;
  if (IsHelp(arg)) {
    std::printf(kUsage, WhereInstallsAreFound());
  } else if (std::strcmp(arg, "--version") == 0) {
    std::printf("savefix %s\n", SAVEFIX_VERSION);
  } else {
    *status = ReportUsageError("savefix: unknown option '%s'\n\n", arg);
  }
  return true;
}
