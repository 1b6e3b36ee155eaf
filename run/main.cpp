// savefix: backs up every saved game of the installed game, then sets the
// patch byte in each. Takes no arguments.
#include <cstdlib>

#include "platform/console.h"
#include "run/run_sequence.h"

int main() {
  SetUpConsoleOutput();
  const BufferSource heap = {std::malloc, std::free};
  return RunSavefix(heap);
}
