#include "platform/wine_registry_posix.h"

#include <cstring>
#include <set>
#include <vector>

#include "platform/unicode_posix.h"

// The rules below follow what wineserver (Wine 8.0) does when it loads the
// file and what a 32-bit program then gets; each was checked against Wine.
//
// A 32-bit program's RegQueryValueExA turns string data into the ANSI code
// page unit by unit, zero units included, and reports as its size exactly
// the bytes it converted. Data of odd length loses its last byte. Data
// without a terminating zero unit gets none counted (behind data of at least
// one unit Wine writes an uncounted zero when the buffer has room; the
// caller's end-of-string handling does the same), and data of fewer than two
// bytes comes back empty, the buffer untouched.
// Measured: hex(1):41,00,42,00 gives 2 bytes "AB"; hex(1):41,00,42 gives 1
// byte "A"; hex(1):41 and hex(1): give 0 bytes; "AB" gives 3 bytes "AB\0";
// hex(1):41,00,00,00,42,00 gives 3 bytes "A\0B". hex(2) reads the same way.

namespace {

constexpr char16_t kSeparator = u'\\';
const char16_t kWow6432Node[] = u"WOW6432NODE";

// Key paths longer than this many components are not looked up.
constexpr std::size_t kMaxPathComponents = 100;

struct Line {
  const char* begin;
  const char* end;  // before the line end ("\n" or "\r\n")
};

struct LineReader {
  const char* next;
  const char* end;
};

bool ReadLine(LineReader* reader, Line* line) {
  if (reader->next == reader->end) return false;
  const char* begin = reader->next;
  std::size_t rest = static_cast<std::size_t>(reader->end - begin);
  const char* newline = static_cast<const char*>(std::memchr(begin, '\n', rest));
  const char* end = newline != nullptr ? newline : reader->end;
  reader->next = newline != nullptr ? newline + 1 : reader->end;
  if (end > begin && end[-1] == '\r') --end;
  *line = Line{begin, end};
  return true;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* SkipSpaces(const char* p, const char* end) {
  while (p < end && IsSpace(*p)) ++p;
  return p;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return static_cast<unsigned>(c - 'A' + 10);
}

bool IsOctalDigit(char c) { return c >= '0' && c <= '7'; }

bool StartsWith(const char* p, const char* end, const char* word) {
  for (; *word != '\0'; ++p, ++word) {
    if (p == end || *p != *word) return false;
  }
  return true;
}

// ---- Escaped text ----------------------------------------------------------

const char* Find(const char* p, const char* end, char c) {
  return static_cast<const char*>(std::memchr(p, c, static_cast<std::size_t>(end - p)));
}

// Finds the first `delimiter` not escaped by a backslash in [p, end). False
// when the line ends first (a backslash ending the line escapes nothing).
bool FindDelimiter(const char* p, const char* end, char delimiter, const char** found) {
  const char* stop = Find(p, end, delimiter);
  while (stop != nullptr) {
    const char* backslash = Find(p, stop, '\\');
    if (backslash == nullptr) {
      *found = stop;
      return true;
    }
    p = backslash + 2;
    if (p > stop) stop = Find(p, end, delimiter);  // that one was escaped
  }
  return false;
}

// Hands out, one by one, the UTF-16 units of escaped text found by FindDelimiter.
struct UnitReader {
  const char* p;
  const char* end;
  char16_t pending;  // second unit of a surrogate pair, or 0
};

// Backslash escapes with a meaning of their own; `*p` is behind the backslash.
bool DecodeEscape(UnitReader* reader, char16_t* unit) {
  const char* p = reader->p;
  const char* end = reader->end;
  char c = *p++;
  unsigned value = 0;
  static const char kLetters[] = "abtnvfre";
  static const unsigned char kControls[] = {'\a', '\b', '\t', '\n', '\v', '\f', '\r', 0x1B};
  const char* control = c != '\0' ? std::strchr(kLetters, c) : nullptr;
  if (control != nullptr) {
    value = kControls[control - kLetters];
  } else if (c == 'x') {
    if (p == end || !IsHexDigit(*p)) return false;  // "\x" alone is an 'x'
    for (int digits = 0; digits < 4 && p < end && IsHexDigit(*p); ++digits) {
      value = value * 16 + HexValue(*p++);
    }
  } else if (IsOctalDigit(c)) {
    value = static_cast<unsigned>(c - '0');
    for (int digits = 1; digits < 3 && p < end && IsOctalDigit(*p); ++digits) {
      value = value * 8 + static_cast<unsigned>(*p++ - '0');
    }
  } else {
    return false;
  }
  reader->p = p;
  *unit = static_cast<char16_t>(value);
  return true;
}

// A byte above 0x7F starts UTF-8 (Wine writes none, but reads them), taken
// as wineserver takes it: a lead byte outside C2..F4 is dropped; a sequence
// broken off is dropped and the byte that broke it off is read again; a whole
// sequence that is overlong or lies past U+10FFFF is dropped; surrogates pass.
bool DecodeRawUtf8(unsigned char lead, UnitReader* reader, char16_t* unit) {
  int length = lead < 0xC2 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF5 ? 3 : 0;
  if (length == 0) return false;
  static const unsigned kLeadMask[] = {0x7F, 0x1F, 0x0F, 0x07};
  static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  char32_t code = lead & kLeadMask[length];
  for (int i = 0; i < length; ++i) {
    if (reader->p == reader->end) return false;
    unsigned bits = static_cast<unsigned char>(*reader->p) ^ 0x80u;
    if (bits >= 0x40) return false;
    code = (code << 6) | bits;
    ++reader->p;
  }
  if (code < kSmallest[length] || code > 0x10FFFF) return false;
  if (code <= 0xFFFF) {
    *unit = static_cast<char16_t>(code);
    return true;
  }
  code -= 0x10000;
  *unit = static_cast<char16_t>(0xD800 | (code >> 10));
  reader->pending = static_cast<char16_t>(0xDC00 | (code & 0x3FF));
  return true;
}

bool NextUnitSlowly(UnitReader* reader, char16_t* unit) {
  if (reader->pending != 0) {
    *unit = reader->pending;
    reader->pending = 0;
    return true;
  }
  while (reader->p < reader->end) {
    unsigned char c = static_cast<unsigned char>(*reader->p++);
    if (c == '\\' && reader->p < reader->end) {
      if (DecodeEscape(reader, unit)) return true;
      c = static_cast<unsigned char>(*reader->p++);  // any other character stands for itself
    }
    if (c < 0x80) {
      *unit = c;
      return true;
    }
    if (DecodeRawUtf8(c, reader, unit)) return true;
  }
  return false;
}

// Plain ASCII, most of the text, takes the short way.
inline bool NextUnit(UnitReader* reader, char16_t* unit) {
  if (reader->pending == 0 && reader->p < reader->end) {
    unsigned char c = static_cast<unsigned char>(*reader->p);
    if (c < 0x80 && c != '\\') {
      ++reader->p;
      *unit = c;
      return true;
    }
  }
  return NextUnitSlowly(reader, unit);
}

std::u16string DecodeEscaped(const char* begin, const char* end) {
  std::u16string units;
  UnitReader reader{begin, end, 0};
  char16_t unit;
  while (NextUnit(&reader, &unit)) units.push_back(unit);
  return units;
}

// ---- Key paths -------------------------------------------------------------

// The names a lookup can pass through: the wanted path's components and
// Wow6432Node, upper-cased. A path through them is written as a string of
// one byte per component, the name's index plus one.
struct Names {
  std::vector<std::u16string> upcased;
  char wow6432node;
};

char CodeOf(const Names& names, const std::u16string& upcased) {
  for (std::size_t i = 0; i < names.upcased.size(); ++i) {
    if (names.upcased[i] == upcased) return static_cast<char>(i + 1);
  }
  return 0;
}

char AddName(Names* names, const std::u16string& name) {
  std::u16string upcased = Upcase(name);
  char code = CodeOf(*names, upcased);
  if (code != 0) return code;
  names->upcased.push_back(upcased);
  return static_cast<char>(names->upcased.size());
}

// Splits a path at its separators; empty components (doubled or trailing
// separators) are dropped.
std::vector<std::u16string> SplitPath(const std::u16string& path) {
  std::vector<std::u16string> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t stop = path.find(kSeparator, start);
    if (stop == std::u16string::npos) stop = path.size();
    if (stop > start) components.push_back(path.substr(start, stop - start));
    start = stop + 1;
  }
  return components;
}

// A key line's path as far as it runs through `names`, at most `max_length`
// components; `complete` tells whether that is the whole path.
struct KeyCode {
  std::string code;
  bool complete;
};

// False for a path Wine refuses (one starting with a separator).
bool EncodeKeyPath(const char* begin, const char* end, const Names& names, std::size_t max_length,
                   std::u16string* scratch, KeyCode* key) {
  UnitReader reader{begin, end, 0};
  key->code.clear();
  key->complete = false;
  bool first = true;
  for (;;) {
    scratch->clear();
    char16_t unit = 0;
    bool more = false;
    while ((more = NextUnit(&reader, &unit)) && unit != kSeparator) {
      scratch->push_back(UpcaseUnit(unit));
    }
    if (first && more && scratch->empty()) return false;
    first = false;
    if (!scratch->empty()) {
      char code = CodeOf(names, *scratch);
      if (code == 0 || key->code.size() == max_length) return true;
      key->code.push_back(code);
    }
    if (!more) break;
  }
  key->complete = true;
  return true;
}

// ---- Value lines -----------------------------------------------------------

enum class DataKind { kString, kMultiString, kHex, kDword };

struct Value {
  const char* name_begin;  // escaped name; empty for '@'
  const char* name_end;
  DataKind kind;
  unsigned long type;      // the registry type (REG_SZ is 1, REG_EXPAND_SZ 2)
  const char* text_begin;  // escaped string data, for kString and kMultiString
  const char* text_end;
};

// Reads the bytes of hex data; a backslash where a byte could follow carries
// the data on to the next line. Bytes go to `bytes` unless it is null.
bool ParseHexData(const char* p, const char* end, LineReader* reader,
                  std::vector<unsigned char>* bytes) {
  for (;;) {
    // Wine writes "xx," runs; they take the short way.
    while (end - p >= 3 && IsHexDigit(p[0]) && IsHexDigit(p[1]) && p[2] == ',') {
      if (bytes != nullptr)
        bytes->push_back(static_cast<unsigned char>(HexValue(p[0]) * 16 + HexValue(p[1])));
      p += 3;
    }
    while (p < end && IsHexDigit(*p)) {
      unsigned value = 0;
      while (p < end && IsHexDigit(*p)) {
        value = value * 16 + HexValue(*p++);
        if (value > 0xFF) return false;
      }
      if (bytes != nullptr) bytes->push_back(static_cast<unsigned char>(value));
      p = SkipSpaces(p, end);
      if (p < end && *p == ',') ++p;
      p = SkipSpaces(p, end);
    }
    if (p == end) return true;
    if (*p != '\\') return false;
    Line next;
    if (!ReadLine(reader, &next)) return false;
    p = SkipSpaces(next.begin, next.end);
    end = next.end;
  }
}

// "hex(N):" with N in hex; `*p` is behind "hex(".
bool ParseHexType(const char** p, const char* end, unsigned long* type) {
  *type = 0;
  int digits = 0;
  for (; *p < end && IsHexDigit(**p); ++*p) {
    if (++digits > 8) return false;
    *type = *type * 16 + HexValue(**p);
  }
  if (!StartsWith(*p, end, "):")) return false;
  *p += 2;
  return true;
}

struct QuotedForm {
  const char* tag;
  DataKind kind;
  unsigned long type;
};

const QuotedForm kQuotedForms[] = {
    {"\"", DataKind::kString, 1},
    {"str:\"", DataKind::kString, 1},
    {"str(2):\"", DataKind::kString, 2},
    {"str(7):\"", DataKind::kMultiString, 7},
};

// The data behind "name"=; continued hex lines are taken from `reader`.
bool ParseData(const char* p, const char* end, LineReader* reader, Value* value,
               std::vector<unsigned char>* bytes) {
  for (const QuotedForm& form : kQuotedForms) {
    if (!StartsWith(p, end, form.tag)) continue;
    value->kind = form.kind;
    value->type = form.type;
    value->text_begin = p + std::strlen(form.tag);
    // Text behind the closing quote is ignored.
    return FindDelimiter(value->text_begin, end, '"', &value->text_end);
  }
  if (StartsWith(p, end, "dword:")) {
    value->kind = DataKind::kDword;
    value->type = 4;
    return true;  // Wine takes whatever follows (no digits at all read as 0)
  }
  value->kind = DataKind::kHex;
  value->type = 3;
  if (StartsWith(p, end, "hex:")) return ParseHexData(p + 4, end, reader, bytes);
  if (!StartsWith(p, end, "hex(")) return false;
  p += 4;
  return ParseHexType(&p, end, &value->type) && ParseHexData(p, end, reader, bytes);
}

// `p` is at the '"' or '@' starting a value line.
bool ParseValueLine(const char* p, const char* end, LineReader* reader, Value* value,
                    std::vector<unsigned char>* bytes) {
  if (*p == '@') {
    value->name_begin = value->name_end = ++p;
  } else {
    value->name_begin = p + 1;
    if (!FindDelimiter(p + 1, end, '"', &value->name_end)) return false;
    p = value->name_end + 1;
  }
  p = SkipSpaces(p, end);
  if (p == end || *p != '=') return false;
  return ParseData(SkipSpaces(p + 1, end), end, reader, value, bytes);
}

// ---- The whole text --------------------------------------------------------

struct Section {
  std::string code;  // complete key path
  const char* body_begin;
  const char* body_end;
};

struct Registry {
  bool win64 = false;
  std::set<std::string> key_codes;  // every key line's path, as far as it runs through Names
  std::vector<Section> sections;    // key lines whose whole path runs through Names
};

bool ParseArch(const char* p, const char* end, Registry* registry) {
  p += std::strlen("#arch=");
  while (end > p && IsSpace(end[-1])) --end;
  std::size_t length = static_cast<std::size_t>(end - p);
  if (length == 5 && std::memcmp(p, "win64", 5) == 0) {
    registry->win64 = true;
  } else if (length == 5 && std::memcmp(p, "win32", 5) == 0) {
    registry->win64 = false;
  } else {
    return false;
  }
  return true;
}

// Reads every line, so that a fault anywhere makes the text malformed, as
// Wine would complain about it; text Wine ignores is ignored.
bool ParseRegistry(const char* text, std::size_t size, const Names& names, std::size_t max_length,
                   Registry* registry) {
  LineReader reader{text, text + size};
  Line line;
  if (!ReadLine(&reader, &line) || std::string(line.begin, line.end) != "WINE REGISTRY Version 2") {
    return false;
  }
  std::u16string scratch;
  bool any_key = false;
  bool open_section = false;  // the last section in `registry` is still being read
  while (ReadLine(&reader, &line)) {
    const char* p = SkipSpaces(line.begin, line.end);
    if (p == line.end || *p == ';') continue;
    if (*p == '[') {
      if (open_section) registry->sections.back().body_end = line.begin;
      const char* close;
      KeyCode key;
      if (!FindDelimiter(p + 1, line.end, ']', &close) ||
          !EncodeKeyPath(p + 1, close, names, max_length, &scratch, &key)) {
        return false;
      }
      open_section = key.complete;
      if (open_section) registry->sections.push_back(Section{key.code, reader.next, nullptr});
      registry->key_codes.insert(std::move(key.code));
      any_key = true;
    } else if (*p == '"' || *p == '@') {
      Value value;
      if (!any_key || !ParseValueLine(p, line.end, &reader, &value, nullptr)) return false;
    } else if (*p == '#') {
      // Options of a key (#time, #class, #link) change nothing read here.
      if (!any_key && StartsWith(p, line.end, "#arch=") && !ParseArch(p, line.end, registry)) {
        return false;
      }
    } else {
      return false;
    }
  }
  if (open_section) registry->sections.back().body_end = text + size;
  return true;
}

// ---- The lookup ------------------------------------------------------------

bool KeyExists(const Registry& registry, const std::string& path) {
  if (path.empty()) return true;  // the hive's root
  auto it = registry.key_codes.lower_bound(path);
  return it != registry.key_codes.end() && it->compare(0, path.size(), path) == 0;
}

// Walks `wanted` (codes) the way Wine opens a key for a 32-bit program in a
// 64-bit prefix: before each component and after the last, from a key not
// itself named Wow6432Node that has a Wow6432Node child, it goes into that
// child, unless the next component is Wow6432Node. False if a key is missing.
// Keys that are symbolic links (#link, as Wine makes for keys both views
// share) are not followed; the keys savefix reads are none.
bool ResolvePath(const Registry& registry, const std::string& wanted, char wow6432node,
                 std::string* path) {
  path->clear();
  auto redirect = [&]() {
    if (!registry.win64 || (!path->empty() && path->back() == wow6432node)) return;
    std::string inside = *path + wow6432node;
    if (KeyExists(registry, inside)) *path = inside;
  };
  for (char component : wanted) {
    if (component != wow6432node) redirect();
    path->push_back(component);
    if (!KeyExists(registry, *path)) return false;
  }
  redirect();
  return true;
}

bool SameName(const Value& value, const std::u16string& upcased) {
  return Upcase(DecodeEscaped(value.name_begin, value.name_end)) == upcased;
}

// The last value named `upcased` in the key's sections, which follow in file
// order; later lines replace earlier ones, as when Wine loads them.
bool FindValue(const Registry& registry, const std::string& path, const std::u16string& upcased,
               Value* found, std::vector<unsigned char>* found_bytes) {
  bool any = false;
  std::vector<unsigned char> bytes;
  for (const Section& section : registry.sections) {
    if (section.code != path) continue;
    LineReader reader{section.body_begin, section.body_end};
    Line line;
    while (ReadLine(&reader, &line)) {
      const char* p = SkipSpaces(line.begin, line.end);
      if (p == line.end || (*p != '"' && *p != '@')) continue;
      Value value;
      bytes.clear();
      if (!ParseValueLine(p, line.end, &reader, &value, &bytes)) continue;
      if (!SameName(value, upcased)) continue;
      *found = value;
      found_bytes->swap(bytes);
      any = true;
    }
  }
  return any;
}

// The units RegQueryValueExA converts: the string's, or those of the bytes
// of hex data, an odd last byte dropped.
std::u16string StringUnits(const Value& value, const std::vector<unsigned char>& bytes) {
  if (value.kind == DataKind::kString) {
    std::u16string units = DecodeEscaped(value.text_begin, value.text_end);
    units.push_back(0);
    return units;
  }
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return units;
}

bool IsString(const Value& value) {
  return (value.kind == DataKind::kString || value.kind == DataKind::kHex) &&
         (value.type == 1 || value.type == 2);
}

}  // namespace

WineRegistryLookup FindWineRegistryString(const char* text, std::size_t size, const char* key_path,
                                          const char* value_name, std::string* data) {
  data->clear();
  // A zero byte cuts Wine's line short; no file Wine writes holds one.
  if (size == 0 || std::memchr(text, '\0', size) != nullptr) return WineRegistryLookup::kMalformed;

  std::vector<std::u16string> components = SplitPath(Utf8ToUtf16(key_path));
  if (components.size() > kMaxPathComponents) return WineRegistryLookup::kNoKey;
  Names names;
  std::string wanted;
  for (const std::u16string& component : components) wanted.push_back(AddName(&names, component));
  names.wow6432node = AddName(&names, kWow6432Node);

  // A resolved path is at most every component with a Wow6432Node before it, plus one.
  Registry registry;
  if (!ParseRegistry(text, size, names, 2 * wanted.size() + 1, &registry)) {
    return WineRegistryLookup::kMalformed;
  }
  std::string path;
  if (!ResolvePath(registry, wanted, names.wow6432node, &path)) {
    return WineRegistryLookup::kNoKey;
  }
  Value value;
  std::vector<unsigned char> bytes;
  if (!FindValue(registry, path, Upcase(Utf8ToUtf16(value_name)), &value, &bytes)) {
    return WineRegistryLookup::kNoValue;
  }
  if (!IsString(value)) return WineRegistryLookup::kNotString;
  *data = Utf16ToUtf8(StringUnits(value, bytes));
  return WineRegistryLookup::kFound;
}
