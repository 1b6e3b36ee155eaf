// Feeds arbitrary bytes to the system.reg reader and traps when a result
// breaks its promises. The address and undefined behaviour sanitizers catch
// reads past the input, which libFuzzer hands over in a buffer of exactly
// `size` bytes. The first bytes also go through the Unicode helpers the
// reader is built on.
#include <cstddef>
#include <cstdint>
#include <string>

#include "wine/names.h"
#include "wine/registry_file.h"

namespace {

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

int Sign(int value) { return (value > 0) - (value < 0); }

void CheckLookup(const char* text, std::size_t size) {
  std::string data = "stale";
  WineRegistryLookup result =
      FindWineRegistryString(text, size, "Software\\Quarrelstone\\Vellmoor\\1.0", "AppPath", &data);
  if (result != WineRegistryLookup::kFound) {
    Check(data.empty());
  } else {
    // Every unit comes from at least one byte of the text and takes at most
    // three bytes of UTF-8; one more unit for the terminator.
    Check(data.size() <= 3 * size + 3);
    Check(Utf16ToUtf8(Utf8ToUtf16(data)) == data);  // valid UTF-8
  }

  // Sections passed over give what reading every line gives, whatever the pieces.
  for (std::size_t piece : {0, 5}) {
    std::string piece_data;
    WineRegistryLookup in_pieces = FindWineRegistryStringInPieces(
        text, size, piece, "Software\\Quarrelstone\\Vellmoor\\1.0", "AppPath", &piece_data);
    Check(in_pieces == result && piece_data == data);
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
  Check(Sign(CompareInWineOrder(a, b)) == -Sign(CompareInWineOrder(b, a)));
  Check((CompareInWineOrder(a, b) == 0) == (Utf8ToUtf16(b) == wide));
  Check(SameNameIgnoringCase(a, b) == (Upcase(Utf8ToUtf16(a)) == Upcase(Utf8ToUtf16(b))));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(bytes);
  CheckLookup(text, size);
  CheckUnicode(text, size < 512 ? size : 512);
  return 0;
}
