#include "run/options.h"

#include <cstdio>
#include <cstring>

#include "platform/install.h"

namespace {

const char kUsage[] =
    "Usage: savefix [--help | --version]\n"
    "\n"
    "Backs up every saved game of Vellmoor, then fixes it. In the game's\n"
    "SaveGames folder, each save file (*.HDR) is first copied beside it, with\n"
    ".BAK in place of .HDR, then the byte 252 bytes before its end is set to 4.\n"
    "%s"
    "A save that is already fixed is left alone and keeps its first backup,\n"
    "so running savefix again never loses an original save.\n"
    "\n"
    "To put a save back, delete the fixed X.HDR and rename X.BAK to X.HDR.\n"
    "\n"
    "  -h, --help, /?  show this help\n"
    "  --version       show the version\n";

bool IsHelp(const char* arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "/?") == 0;
}

}  // namespace

bool HandleOption(int argc, const char* const* argv, int* status) {
  if (argc < 2) return false;
  const char* arg = argv[1];
  if (IsHelp(arg)) {
    std::printf(kUsage, WhereInstallsAreFound());
    *status = 0;
    return true;
  }
  if (std::strcmp(arg, "--version") == 0) {
    std::printf("savefix %s\n", SAVEFIX_VERSION);
    *status = 0;
    return true;
  }
  if (arg[0] != '-') return false;
  std::fprintf(stderr, "savefix: unknown option '%s'\n\n", arg);
  std::fprintf(stderr, kUsage, WhereInstallsAreFound());
  *status = kExitUsage;
  return true;
}
