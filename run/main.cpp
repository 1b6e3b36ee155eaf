// savefix: backs up every saved game of the installed game, or of the
// folders and saves named on its command line, then sets the patch byte in
// each. Answers --help and --version.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/console.h"
#include "platform/install.h"
#include "run/run_sequence.h"

namespace {

constexpr int kExitUsage = 2;

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

// Handles the first argument, if it is an option: prints the usage or the
// version (status 0), or names an unknown option (status 2). Returns true
// with `status` set when the run ends there; false when the usual run goes
// ahead (no argument, or one that is not an option, such as a file dropped
// on the program). Other options are refused rather than run the fix.
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

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  if (HandleOption(argc, argv, &status)) return status;
  // Every name is checked before anything is touched.
  std::vector<std::unique_ptr<Install>> named;
  for (int i = 1; i < argc; ++i) {
    named.push_back(NamedInstall(argv[i]));
    if (!named.back()) return ReportUsageError("savefix: '%s' is neither a folder nor a save\n\n", argv[i]);
  }
  SetUpConsoleOutput();
  const BufferSource heap = {std::malloc, std::free};
  if (named.empty()) return RunSavefix(heap, FindInstalls);
  return RunSavefix(heap, [&named](const char*, const char*) { return std::move(named); });
}
