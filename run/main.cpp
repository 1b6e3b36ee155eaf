// savefix: backs up every saved game of the installed game, or of the
// folders and saves named on its command line, then sets the patch byte in
// each. Answers --help and --version.
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/console.h"
#include "platform/install.h"
#include "run/options.h"
#include "run/run_sequence.h"

int main(int argc, char** argv) {
  int status = 0;
  if (HandleOption(argc, argv, &status)) return status;
  // Every name is checked before anything is touched.
  std::vector<std::unique_ptr<Install>> named;
  for (int i = 1; i < argc; ++i) {
    named.push_back(NamedInstall(argv[i]));
    if (!named.back()) return ReportBadName(argv[i]);
  }
  SetUpConsoleOutput();
  const BufferSource heap = {std::malloc, std::free};
  if (named.empty()) return RunSavefix(heap, FindInstalls);
  return RunSavefix(heap, [&named](const char*, const char*) { return std::move(named); });
}
