// The upper-case table of the native build, generated from Wine's own by
// scripts/gen-upcase-table.sh.
#ifndef SAVEFIX_WINE_CASE_TABLE_H
#define SAVEFIX_WINE_CASE_TABLE_H

#include <cstddef>

// Units first..last (every one when step is 1, every other one from first
// when step is 2) upper-case to the unit plus delta, modulo 2^16.
struct UpcaseRange {
  char16_t first;
  char16_t last;
  char16_t delta;
  unsigned char step;
};

// Sorted by `first`, not overlapping. Units in no range are their own upper case.
extern const UpcaseRange kUpcaseRanges[];
extern const std::size_t kUpcaseRangeCount;

#endif
