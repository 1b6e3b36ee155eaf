// Feeds arbitrary bytes to the registry export reader as an export file and
// traps when a result breaks the reader's promises. The address and undefined
// behaviour sanitizers catch reads past the input, which libFuzzer hands over
// in a buffer of exactly `size` bytes.
//
// A found string never holds a zero byte before its terminator: the reader
// rejects any text with a zero byte in it, so none can reach the data.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/registry_export_posix.h"

namespace {

const char* const kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarrelstone\\Vellmoor\\1.0";
const char* const kValue = "AppPath";

constexpr std::size_t kLargeCapacity = 500;
constexpr std::size_t kSmallCapacity = 8;
constexpr char kUntouched = '#';
constexpr std::size_t kSlack = 16;  // bytes behind the capacity that must stay untouched

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

struct Lookup {
  ExportLookup result;
  std::size_t data_size;
  char data[kLargeCapacity + kSlack];
};

void Run(const char* text, std::size_t size, std::size_t capacity, Lookup* lookup) {
  std::memset(lookup->data, kUntouched, sizeof lookup->data);
  lookup->data_size = 12345;
  lookup->result =
      FindExportedString(text, size, kKey, kValue, lookup->data, capacity, &lookup->data_size);

  std::size_t written = 0;
  if (lookup->result == ExportLookup::kFound) {
    written = lookup->data_size;
    Check(written >= 1 && written <= capacity);
    Check(lookup->data[written - 1] == '\0');
    Check(std::memchr(lookup->data, '\0', written - 1) == nullptr);
    Check(written - 1 <= size);  // the string came out of the text
  } else {
    Check(lookup->data_size == 0);
  }
  for (std::size_t i = written; i < sizeof lookup->data; ++i) Check(lookup->data[i] == kUntouched);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(bytes);
  static Lookup large;
  static Lookup small;
  Run(text, size, kLargeCapacity, &large);
  Run(text, size, kSmallCapacity, &small);

  // The capacity may only decide between kFound and kTooLong, and a string
  // that fits both buffers comes out the same in both.
  if (large.result == ExportLookup::kFound && large.data_size <= kSmallCapacity) {
    Check(small.result == ExportLookup::kFound && small.data_size == large.data_size);
    Check(std::memcmp(small.data, large.data, small.data_size) == 0);
  } else if (large.result == ExportLookup::kFound || large.result == ExportLookup::kTooLong) {
    Check(small.result == ExportLookup::kTooLong);
  } else {
    Check(small.result == large.result);
  }
  return 0;
}
