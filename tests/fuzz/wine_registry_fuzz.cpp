// Feeds arbitrary bytes to the system.reg reader and traps when a result
// breaks its promises. The address and undefined behaviour sanitizers catch
// reads past the input, which libFuzzer hands over in a buffer of exactly
// `size` bytes. The same bytes are read again as a file, and the first
// bytes also go through the Unicode helpers the reader is built on.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "wine/names.h"
#include "wine/registry_file.h"

namespace {

const char kKey[] = "Software\\Quarrelstone\\Vellmoor\\1.0";

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// A file in memory holding `text`, written anew for each input and left
// with its offset at its end: the reader reads from its start all the same.
int FileHolding(const char* text, std::size_t size) {
  static const int descriptor = memfd_create("system.reg", MFD_CLOEXEC);
  Check(descriptor >= 0 && ftruncate(descriptor, 0) == 0 && lseek(descriptor, 0, SEEK_SET) == 0);
  for (std::size_t written = 0; written < size;) {
    const ssize_t wrote = write(descriptor, text + written, size - written);
    Check(wrote > 0);
    written += static_cast<std::size_t>(wrote);
  }
  return descriptor;
}

void CheckLookup(const char* text, std::size_t size) {
  std::string data = "stale";
  WineRegistryLookup result = FindWineRegistryString(text, size, kKey, "AppPath", &data);
  if (result != WineRegistryLookup::kFound) {
    Check(data.empty());
  } else {
    // Every unit comes from at least one byte of the text and takes at most
    // three bytes of UTF-8; one more unit for the terminator.
    Check(data.size() <= 3 * size + 3);
    Check(Utf16ToUtf8(Utf8ToUtf16(data)) == data);  // valid UTF-8
  }

  // The file gives what the text gives; a byte less than it holds is too few.
  const int descriptor = FileHolding(text, size);
  std::string file_data = "stale";
  std::string room;
  Check(ReadWineRegistryString(descriptor, size, kKey, "AppPath", &room, &file_data) == result && file_data == data);
  if (size > 0) {
    file_data = "stale";
    Check(ReadWineRegistryString(descriptor, size - 1, kKey, "AppPath", &room, &file_data) ==
              WineRegistryLookup::kMalformed &&
          file_data.empty());
  }

  // Names compare without regard to case, and doubled separators collapse.
  std::string same_data;
  WineRegistryLookup same = FindWineRegistryString(
      text, size, "SOFTWARE\\\\quarrelstone\\VELLMOOR\\1.0\\", "apppath", &same_data);
  Check(same == result && same_data == data);
}

void CheckUnicode(const char* text, std::size_t size) {
  std::size_t half = size / 2;
  std::string a(text, half);
  std::string b(text + half, size - half);
  std::u16string wide = Utf8ToUtf16(a);
  Check(Utf8ToUtf16(Utf16ToUtf8(wide)) == wide);  // decoding makes no lone surrogates
  const SortKey key_a = WineSortKey(a);
  const SortKey key_b = WineSortKey(b);
  const bool a_first = ComesFirstInWineOrder(key_a, key_b);
  const bool b_first = ComesFirstInWineOrder(key_b, key_a);
  Check(!(a_first && b_first));  // an order, not both ways
  Check((!a_first && !b_first) == (Utf8ToUtf16(b) == wide));
  Check((NameKey(a) == NameKey(b)) == (Upcase(Utf8ToUtf16(a)) == Upcase(Utf8ToUtf16(b))));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(bytes);
  CheckLookup(text, size);
  CheckUnicode(text, size < 512 ? size : 512);
  return 0;
}
