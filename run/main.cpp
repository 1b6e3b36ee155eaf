// savefix: backs up every saved game of the installed game, then sets the
// patch byte in each. Takes no arguments but --help and --version.
#include <cstdlib>

#include "platform/console.h"
#include "run/options.h"
#include "run/run_sequence.h"

int main(int argc, char** argv) {
  int status = 0;
  if (HandleOption(argc, argv, &status)) return status;
  SetUpConsoleOutput();
  const BufferSource heap = {std::malloc, std::free};
  return RunSavefix(heap, FindInstalls);
}
