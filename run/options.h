// The command line: folders and saves to fix, or --help and --version;
// other options are refused rather than run the fix.
#ifndef SAVEFIX_RUN_OPTIONS_H
#define SAVEFIX_RUN_OPTIONS_H

constexpr int kExitUsage = 2;

// Handles the first argument, if it is an option: prints the usage or the
// version (status 0), or names an unknown option and prints the usage on
// standard error (status 2). Returns true with `status` set when the run
// ends there; false when the usual run goes ahead (no argument, or one that
// is not an option, such as a file dropped on the program).
bool HandleOption(int argc, const char* const* argv, int* status);

// Names `name` as neither a folder nor a save and prints the usage, on
// standard error; returns the status to end with.
int ReportBadName(const char* name);

#endif
