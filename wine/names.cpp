#include "wine/names.h"

#include <algorithm>

#include "wine/ascii.h"
#include "wine/case_table.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// True while the characters a sequence can still make, `code` read so far
// and `left` continuation bytes to come, include one that is neither
// overlong (below `smallest`), a surrogate, nor past U+10FFFF.
bool CanMakeCharacter(char32_t code, unsigned left, char32_t smallest) {
  const char32_t lowest = code << (6 * left);
  const char32_t highest = lowest | ((char32_t{1} << (6 * left)) - 1);
  return highest >= smallest && lowest <= 0x10FFFF && (lowest < 0xD800 || highest > 0xDFFF);
}

// The lead byte carries what the 6-bit continuation bytes after it do not.
void AppendUtf8(char32_t code, std::string* out) {
  static const unsigned kLeadMark[] = {0x00, 0xC0, 0xE0, 0xF0};
  const int continuations = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
  out->push_back(static_cast<char>(kLeadMark[continuations] | (code >> (6 * continuations))));
  for (int shift = 6 * (continuations - 1); shift >= 0; shift -= 6) {
    out->push_back(static_cast<char>(0x80 | ((code >> shift) & 0x3F)));
  }
}

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

char32_t DecodeUtf8(unsigned char lead, const char** p, const char* end, Utf8Rules rules) {
  const unsigned length = lead < 0xC2 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF5 ? 3 : 0;
  if (length == 0) return kBadUtf8;
  const bool file_names = rules == Utf8Rules::kFileNames;
  if (file_names && static_cast<std::size_t>(end - *p) < length) {
    *p = end;
    return kBadUtf8;
  }
  static const unsigned kLeadMask[] = {0x7F, 0x1F, 0x0F, 0x07};
  static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  char32_t code = lead & kLeadMask[length];
  for (unsigned left = length; left-- > 0;) {
    const unsigned bits = *p < end ? static_cast<unsigned char>(**p) ^ 0x80u : 0x40u;
    if (bits >= 0x40) return kBadUtf8;
    code = (code << 6) | bits;
    ++*p;
    // ntdll looks at the value after each byte; the bytes it takes are those
    // up to the first that leaves no character to make.
    if (file_names && !CanMakeCharacter(code, left, kSmallest[length])) return kBadUtf8;
  }
  return code < kSmallest[length] || code > 0x10FFFF ? kBadUtf8 : code;
}

// Past U+FFFF: the high surrogate, then the low one.
void AppendUtf16(char32_t code, std::u16string* out) {
  if (code >= 0x10000) {
    out->push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
    code = 0xDC00 + (code & 0x3FF);
  }
  out->push_back(static_cast<char16_t>(code));
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const unsigned char lead = static_cast<unsigned char>(*p++);
    char32_t code = lead < 0x80 ? lead : DecodeUtf8(lead, &p, end, Utf8Rules::kFileNames);
    AppendUtf16(code == kBadUtf8 ? kReplacement : code, &out);
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (IsHighSurrogate(code) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00u);
    } else if (IsHighSurrogate(code) || IsLowSurrogate(code)) {
      code = kReplacement;
    }
    AppendUtf8(code, &out);
  }
  return out;
}

char16_t UpcaseUnit(char16_t unit) {
  if (unit < 0x80) return AsciiUpper(unit);
  // The last range starting at or before `unit`.
  const UpcaseRange* after = std::upper_bound(kUpcaseRanges, kUpcaseRanges + kUpcaseRangeCount, unit,
                                              [](char16_t u, const UpcaseRange& range) { return u < range.first; });
  if (after == kUpcaseRanges) return unit;
  const UpcaseRange& range = after[-1];
  if (unit > range.last || (unit - range.first) % range.step != 0) return unit;
  return static_cast<char16_t>(unit + range.delta);
}

std::u16string Upcase(std::u16string text) {
  for (char16_t& unit : text) unit = UpcaseUnit(unit);
  return text;
}

std::string NameKey(const std::string& name) { return Utf16ToUtf8(Upcase(Utf8ToUtf16(name))); }


SortKey WineSortKey(const std::string& name) {
  const std::u16string exact = Utf8ToUtf16(name);
  return {Upcase(exact), exact};
}

bool ComesFirstInWineOrder(const SortKey& a, const SortKey& b) {
  return a.upcased != b.upcased ? a.upcased < b.upcased : a.exact < b.exact;
}
