#include "wine/registry_file.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "wine/names.h"
#include "wine/read_file.h"

// The rules below follow what wineserver (Wine 8.0) does when it loads the
// file (load_keys and what it calls, in server/registry.c, and parse_strW)
// and what a 32-bit program then gets. They are taken from Wine's source;
// the unit tests pin each one, and the differential test checks those a
// prefix can show against savefix.exe under Wine.
//
// wineserver reads the file line by line and passes over what it cannot
// parse: a line it does not recognise, a value before any key or behind a
// key line it could not take, a value name it cannot read. A value whose
// data it cannot read is still made, as REG_NONE without data. It gives up
// on the file only when the first line is not "WINE REGISTRY Version 2", or
// at an "#arch=" line it refuses (read where no key is open: before the
// first key, or behind a key line it could not take); keys read before
// that one stay.
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
//
// The file is read whole, then line by line as wineserver reads it. The
// value lines of keys off the wanted path are not decoded: only hex data
// continued behind a backslash matters there, as it takes the next line
// whatever that holds.

namespace {

constexpr char16_t kSeparator = u'\\';
const char16_t kWow6432Node[] = u"WOW6432NODE";
const char kHeader[] = "WINE REGISTRY Version 2";

// Key paths longer than this many components are not looked up.
constexpr std::size_t kMaxPathComponents = 100;

// wineserver makes no key whose name is longer than this many units.
constexpr std::size_t kMaxKeyNameUnits = 256;

// The first `c` in [p, end), or `end`.
const char* Find(const char* p, const char* end, char c) {
  const void* found = std::memchr(p, c, static_cast<std::size_t>(end - p));
  return found != nullptr ? static_cast<const char*>(found) : end;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* SkipSpaces(const char* p, const char* end) {
  while (p < end && IsSpace(*p)) ++p;
  return p;
}

// The value of the hex digit `c`, or 16 if it is none.
unsigned HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 16;
}

bool StartsWith(const char* p, const char* end, const char* word) {
  return std::string_view(p, static_cast<std::size_t>(end - p)).substr(0, std::strlen(word)) == word;
}

// ---- Lines as wineserver reads them ----------------------------------------

// wineserver reads each line with fgets into a buffer that starts at 4 bytes
// and grows by half whenever a line does not fit, and takes the line's text
// to end at the first zero byte. Of a line holding a zero byte it keeps the
// text before it and loses the rest of what that fgets call read (up to the
// line end, or as much as the buffer held); the rest of a longer line is
// read as the next line. The buffer's size is therefore part of the state;
// it decides nothing in lines without a zero byte.
struct Line {
  const char* begin;
  const char* end;  // before the zero byte, or the line end ("\n" or "\r\n")
};

struct LineReader {
  const char* next;
  const char* end;
  const char* zero;        // the first zero byte at or behind `next`, or `end`
  std::size_t buffer = 4;  // wineserver's line buffer size
};

bool ReadLine(LineReader* reader, Line* line) {
  const char* begin = reader->next;
  if (begin == reader->end) return false;
  for (;;) {
    // One fgets call: what fits in the buffer behind the text read so far,
    // up to and including a line end.
    const bool fits = static_cast<std::size_t>(reader->end - begin) < reader->buffer;  // the rest of the text
    const char* stop = fits ? reader->end : begin + reader->buffer - 1;
    const char* newline = Find(reader->next, stop, '\n');
    reader->next = newline < stop ? newline + 1 : stop;
    if (reader->zero < reader->next) {
      *line = Line{begin, reader->zero};
      reader->zero = Find(reader->next, reader->end, '\0');
      return true;
    }
    if (newline < stop || fits) {  // a line end, or the end of the text
      *line = Line{begin, newline < stop && newline > begin && newline[-1] == '\r' ? newline - 1 : newline};
      return true;
    }
    reader->buffer += reader->buffer / 2;
  }
}

// ---- Escaped text ----------------------------------------------------------

// The first `delimiter` not escaped by a backslash in [p, end); null when
// the line ends first (a backslash ending the line escapes nothing).
// Whatever an escape or a UTF-8 sequence takes is never a delimiter or a
// backslash, so a backslash escapes exactly the character behind it here,
// and a delimiter is escaped when an odd run of backslashes stands before it.
const char* FindDelimiter(const char* p, const char* end, char delimiter) {
  for (const char* stop = Find(p, end, delimiter); stop != end; stop = Find(stop + 1, end, delimiter)) {
    const char* run = stop;
    while (run > p && run[-1] == '\\') --run;
    if ((stop - run) % 2 == 0) return stop;
  }
  return nullptr;
}

// Appends the unit, or surrogate pair, that the escaped text at `*p` stands
// for to `units` and moves `*p` behind it. False at `end`. Behind a
// backslash, "\x" and one to four hex digits, or one to three octal digits,
// stand for the unit they make; a control letter for its control; any other
// character ("\x" alone an 'x') for itself. A byte above 0x7F starts UTF-8
// (Wine writes none, but reads them) and a broken sequence appends nothing.
bool DecodeNext(const char** p, const char* end, std::u16string* units) {
  static const char kLetters[] = "abtnvfre";
  static const char kControls[] = "\a\b\t\n\v\f\r\x1B";
  if (*p == end) return false;
  unsigned char c = static_cast<unsigned char>(*(*p)++);
  if (c == '\\' && *p < end) {
    const bool hex = **p == 'x';
    const unsigned base = hex ? 16 : 8;
    const char* digits = hex ? *p + 1 : *p;
    const char* q = digits;
    unsigned value = 0;
    for (; q < end && q - digits < (hex ? 4 : 3) && HexDigit(*q) < base; ++q) {
      value = value * base + HexDigit(*q);
    }
    if (q > digits) {
      units->push_back(static_cast<char16_t>(value));
      *p = q;
      return true;
    }
    c = static_cast<unsigned char>(*(*p)++);
    if (const char* control = c != '\0' ? std::strchr(kLetters, c) : nullptr) {
      c = static_cast<unsigned char>(kControls[control - kLetters]);
    }
  }
  if (c < 0x80) {
    units->push_back(c);
    return true;
  }
  const char32_t code = DecodeUtf8(c, p, end, Utf8Rules::kRegistryText);
  if (code != kBadUtf8) AppendUtf16(code, units);
  return true;
}

std::u16string DecodeEscaped(const char* p, const char* end) {
  std::u16string units;
  while (DecodeNext(&p, end, &units)) continue;
  return units;
}

// ---- Key paths -------------------------------------------------------------

// The names a lookup can pass through, upper-cased: Wow6432Node, then the
// wanted path's components in order. A path through them is written as a
// string of one byte per component, the index of the name's first
// occurrence plus one.
using Names = std::vector<std::u16string>;
constexpr char kWow6432NodeCode = 1;

// The code of the upper-cased name `upcased`, or 0 if it is none of `names`.
char CodeOf(const Names& names, const std::u16string& upcased) {
  const auto found = std::find(names.begin(), names.end(), upcased);
  return found != names.end() ? static_cast<char>(found - names.begin() + 1) : 0;
}

// The names of the upper-cased path `path`: Wow6432Node, then its
// components, split at its separators; empty components (doubled or
// trailing separators) are dropped.
Names NamesOf(const std::u16string& path) {
  Names names{kWow6432Node};
  for (std::size_t start = 0, stop; start <= path.size(); start = stop + 1) {
    stop = std::min(path.find(kSeparator, start), path.size());
    if (stop > start) names.push_back(path.substr(start, stop - start));
  }
  return names;
}

// Reads the component of a key path at `*p`, upper-cased, into `name`: the
// units up to the next separator (taken too) or `end`. False at `end`.
bool ReadComponent(const char** p, const char* end, std::u16string* name) {
  name->clear();
  if (*p == end) return false;
  while (DecodeNext(p, end, name) && (name->empty() || name->back() != kSeparator)) continue;
  if (!name->empty() && name->back() == kSeparator) name->pop_back();
  for (char16_t& unit : *name) unit = UpcaseUnit(unit);
  return true;
}

// What a key line leaves open for the value lines behind it: no key (they
// are passed over), a key off the wanted path, or one whose whole path runs
// through the names.
enum class Section { kNoKey, kOtherKey, kPathKey };

// What reading key lines keeps from line to line: the last line's key, its
// path as far as it runs through the names, and whether the line made any
// key. Key lines come sorted, and most leave the names where the key line
// before did: the text read up to there, and the byte behind it that
// decoding may have looked at, decide them again. A line decided as one
// before it was makes that line's keys again: no path, nothing made.
struct KeyLines {
  std::string code;
  bool made = false;
  std::u16string name;  // room to decode a name in
  std::string decided;  // empty: nothing decided yet
};

// The key a key line names, from the escaped text behind its '[' up to the
// line end, made with the keys on its path, into `lines`; read only as far
// as the path runs through `names` where no name can be too long, and what
// decided that is kept. kNoKey where wineserver leaves no key open for the
// lines behind: no closing ']', or a name of more than 256 units (the keys
// before that name are made all the same). An empty path, or one whose
// first unit is zero, names the hive's root. Leading, doubled and trailing
// separators are passed over.
Section ReadKeyLine(const char* begin, const char* end, const Names& names, KeyLines* lines) {
  lines->code.clear();
  lines->made = false;
  end = FindDelimiter(begin, end, ']');
  if (end == nullptr) return Section::kNoKey;
  // Each unit comes from at least one byte: in short text no name is too
  // long, and reading can stop where the path leaves the names.
  const bool whole = static_cast<std::size_t>(end - begin) > kMaxKeyNameUnits;
  if (!whole && !lines->decided.empty() && StartsWith(begin, end, lines->decided.c_str())) return Section::kOtherKey;
  std::u16string& name = lines->name;
  name.clear();
  for (const char* p = begin; name.empty() && DecodeNext(&p, end, &name);) continue;
  // The root is read as an empty path: no component.
  const bool root = !name.empty() && name[0] == 0;
  bool through_names = true;
  for (const char* p = root ? end : begin; ReadComponent(&p, end, &name);) {
    if (name.size() > kMaxKeyNameUnits) return Section::kNoKey;
    if (name.empty()) continue;
    lines->made = true;
    // A resolved path is at most each wanted component (every name but the
    // first) with a Wow6432Node before it, plus one: a longer one is off it.
    const char code = through_names && lines->code.size() < 2 * names.size() - 1 ? CodeOf(names, name) : 0;
    through_names = code != 0;
    if (through_names) {
      lines->code.push_back(code);
    } else if (!whole) {
      if (p < end) lines->decided.assign(begin, p + 1);
      break;
    }
  }
  lines->made = true;
  return through_names ? Section::kPathKey : Section::kOtherKey;
}

// ---- Value lines -----------------------------------------------------------

// What a value line sets: the registry type (REG_SZ is 1, REG_EXPAND_SZ 2)
// and the data as the UTF-16 units RegQueryValueExA converts: a string's,
// terminator included, or those of the bytes of hex data, an odd last byte
// dropped. Data wineserver cannot read leaves REG_NONE and no data.
struct Value {
  std::uint32_t type = 0;
  std::u16string units;
};

// strtoul(p, &stop, 16) on an unsigned long of 64 bits, as the 64-bit
// wineserver calls it: leading spaces, a sign and "0x" are taken, a number
// too large gives the largest value, and with no digits `*stop` is `p`.
std::uint64_t ReadHexNumber(const char* p, const char* end, const char** stop) {
  const char* q = SkipSpaces(p, end);
  const bool negative = q < end && *q == '-';
  if (q < end && (*q == '-' || *q == '+')) ++q;
  if (end - q >= 3 && q[0] == '0' && (q[1] == 'x' || q[1] == 'X') && HexDigit(q[2]) < 16) q += 2;
  std::uint64_t value = 0;
  bool too_large = false;
  for (*stop = q; *stop < end && HexDigit(**stop) < 16; ++*stop) {
    too_large = too_large || (value >> 60) != 0;
    value = value * 16 + HexDigit(**stop);
  }
  if (*stop == q) *stop = p;
  return too_large ? UINT64_MAX : negative ? 0 - value : value;
}

// Hex bytes ("41,00,..."), each read by strtoul, as far as they go; then the
// data ends with the line, or goes on to the next line from `reader` behind
// a backslash (whatever follows it on this line). False where wineserver
// finds the data malformed. Bytes go to `bytes` unless it is null. Spaces
// may follow a byte, never lead the first.
bool ReadHexData(const char* p, const char* end, LineReader* reader, std::vector<unsigned char>* bytes) {
  for (;;) {
    while (p < end && HexDigit(*p) < 16) {
      const char* stop;
      const std::uint64_t value = ReadHexNumber(p, end, &stop);
      if (value > 0xFF) return false;
      if (bytes != nullptr) bytes->push_back(static_cast<unsigned char>(value));
      p = SkipSpaces(stop, end);
      if (p < end && *p == ',') ++p;
      p = SkipSpaces(p, end);
    }
    if (p == end) return true;
    Line next;
    if (*p != '\\' || !ReadLine(reader, &next)) return false;
    p = SkipSpaces(next.begin, next.end);
    end = next.end;
  }
}

// The data behind "name"=, as wineserver reads it; continued hex data is
// read on from `reader`. With `value` null only the lines are taken. Text
// behind a string's closing quote is ignored.
void ReadData(const char* p, const char* end, LineReader* reader, Value* value) {
  if (value == nullptr && (p == end || *p != 'h')) return;  // only hex data goes on
  // Each form's tag and registry type; "hex(" names the type in hex, and
  // the strings' tags end in their opening quote.
  static const std::pair<const char*, std::uint32_t> kForms[] = {
      {"\"", 1}, {"str:\"", 1}, {"str(2):\"", 2}, {"str(7):\"", 7}, {"hex:", 3}, {"dword:", 4}, {"hex(", 0}};
  const auto form = std::find_if(std::begin(kForms), std::end(kForms),
                                 [p, end](const auto& tag_type) { return StartsWith(p, end, tag_type.first); });
  if (form == std::end(kForms)) return;
  p += std::strlen(form->first);
  std::uint32_t type = form->second;
  if (p[-1] == '"') {
    if (const char* close = FindDelimiter(p, end, '"')) {
      value->type = type;
      value->units = DecodeEscaped(p, close);
      value->units.push_back(0);
    }
    return;
  }
  if (type == 4) {
    value->type = 4;  // whatever follows is read as a number
    return;
  }
  if (type == 0) {
    type = static_cast<std::uint32_t>(ReadHexNumber(p, end, &p));
    if (!StartsWith(p, end, "):")) return;
    p += 2;
  }
  std::vector<unsigned char> bytes;
  if (!ReadHexData(p, end, reader, value != nullptr ? &bytes : nullptr) || value == nullptr) return;
  value->type = type;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    value->units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
}

// A value line, `p` at its '"' or '@', under a key wineserver took. True
// when it sets the value named `wanted` (upper-cased; null when no value of
// this key is wanted), which `value` then holds. The lines continued hex
// data takes are read from `reader` either way.
bool ReadValueLine(const char* p, const char* end, LineReader* reader, const std::u16string* wanted,
                   Value* value) {
  const char* name_begin = p + 1;
  const char* name_end = *p == '"' ? FindDelimiter(name_begin, end, '"') : name_begin;  // "@" names the default value
  if (name_end == nullptr) return false;
  p = SkipSpaces(*p == '"' ? name_end + 1 : name_begin, end);
  if (p == end || *p != '=') return false;
  p = SkipSpaces(p + 1, end);
  const bool is_wanted = wanted != nullptr && Upcase(DecodeEscaped(name_begin, name_end)) == *wanted;
  if (is_wanted) *value = Value();
  ReadData(p, end, reader, is_wanted ? value : nullptr);
  return is_wanted;
}

// ---- The whole text --------------------------------------------------------

struct Registry {
  std::string arch;                    // as the first "#arch=" line named it, or empty
  std::set<std::string> key_codes;     // every key made, its path as far as it runs through the names
  std::map<std::string, Value> found;  // the wanted value as last set, by its key's complete path
};

// An option line read where no key is open. False for an "#arch=" line
// wineserver refuses: unknown, or other than the one taken before.
bool ReadGlobalOption(const char* p, const char* end, std::string* arch) {
  if (!StartsWith(p, end, "#arch=")) return true;
  const std::string name(p + std::strlen("#arch="), end);
  if (name != "win32" && name != "win64") return false;
  if (arch->empty()) *arch = name;
  return *arch == name;
}

// In the section of a key off the wanted path: moves `next` from the
// section's first line to the next line that only spaces and a '[' begin,
// or to the end. Nothing in between changes what is read, unless the line
// before that one holds a backslash, which may carry hex data on into it:
// then `next` stays and false says to read the section line by line. So too
// while a zero byte lies ahead, as the lines passed over would grow the
// line buffer that decides where a line holding one is cut.
bool SkipSection(LineReader* reader) {
  if (reader->zero != reader->end) return false;
  const char* from = reader->next;
  for (const char* p = Find(from, reader->end, '['); p != reader->end; p = Find(p + 1, reader->end, '[')) {
    const char* start = p;
    while (start > from && start[-1] != '\n' && IsSpace(start[-1])) --start;
    if (start > from && start[-1] != '\n') continue;
    // The line before, from its end back to its start.
    for (const char* q = start > from ? start - 1 : start; q > from && q[-1] != '\n'; --q) {
      if (q[-1] == '\\') return false;
    }
    reader->next = start;
    return true;
  }
  reader->next = reader->end;
  return true;
}

// Reads the text line by line as wineserver does. Key lines are decoded as
// far as their path runs through `names`; values are decoded only in the
// sections of keys whose whole path does, and only if named `wanted`. False
// if wineserver takes nothing from the text: it gives up before any key.
bool ReadRegistry(LineReader* reader, const Names& names, const std::u16string& wanted, Registry* registry) {
  Line line;
  if (!ReadLine(reader, &line) || std::string(line.begin, line.end) != kHeader) return false;
  KeyLines key;
  Section section = Section::kNoKey;
  bool line_by_line = false;
  Value value;
  for (;;) {
    if (section == Section::kOtherKey && !line_by_line) line_by_line = !SkipSection(reader);
    if (!ReadLine(reader, &line)) return true;
    const char* p = SkipSpaces(line.begin, line.end);
    if (p == line.end) continue;
    if (*p == '[') {
      section = ReadKeyLine(p + 1, line.end, names, &key);
      line_by_line = false;
      if (key.made) registry->key_codes.insert(key.code);
    } else if ((*p == '"' || *p == '@') && section != Section::kNoKey) {
      if (ReadValueLine(p, line.end, reader, section == Section::kPathKey ? &wanted : nullptr, &value)) {
        registry->found[key.code] = std::move(value);
      }
    } else if (*p == '#' && section == Section::kNoKey && !ReadGlobalOption(p, line.end, &registry->arch)) {
      return !registry->key_codes.empty();
    }
    // Other lines: options of the open key (#time, #class, #link change
    // nothing read here), comments and lines wineserver does not recognise.
  }
}

// ---- The lookup ------------------------------------------------------------

// True if the key `path` (codes) was made, or a key below it.
bool KeyExists(const Registry& registry, const std::string& path) {
  const auto it = registry.key_codes.lower_bound(path);
  return it != registry.key_codes.end() && it->compare(0, path.size(), path) == 0;
}

// Walks `wanted` (codes) the way Wine opens a key for a 32-bit program in a
// 64-bit prefix: before each component and after the last, from a key not
// itself named Wow6432Node that has a Wow6432Node child, it goes into that
// child, unless the next component is Wow6432Node. False if a key is missing.
// Keys that are symbolic links (#link, as Wine makes for keys both views
// share) are not followed; the keys savefix reads are none.
bool ResolvePath(const Registry& registry, const std::string& wanted, std::string* path) {
  path->clear();
  for (std::size_t i = 0;; ++i) {
    const bool may_redirect = registry.arch == "win64" && (path->empty() || path->back() != kWow6432NodeCode) &&
                              (i == wanted.size() || wanted[i] != kWow6432NodeCode);
    if (may_redirect && KeyExists(registry, *path + kWow6432NodeCode)) path->push_back(kWow6432NodeCode);
    if (i == wanted.size()) return true;
    path->push_back(wanted[i]);
    if (!KeyExists(registry, *path)) return false;
  }
}

}  // namespace

WineRegistryLookup FindWineRegistryString(const char* text, std::size_t size, const char* key_path,
                                          const char* value_name, std::string* data) {
  data->clear();
  const Names names = NamesOf(Upcase(Utf8ToUtf16(key_path)));
  if (names.size() > kMaxPathComponents + 1) return WineRegistryLookup::kNoKey;
  std::string wanted;
  for (std::size_t i = 1; i < names.size(); ++i) wanted.push_back(CodeOf(names, names[i]));
  Registry registry;
  LineReader reader{text, text + size, Find(text, text + size, '\0')};
  if (!ReadRegistry(&reader, names, Upcase(Utf8ToUtf16(value_name)), &registry)) {
    return WineRegistryLookup::kMalformed;
  }
  std::string path;
  if (!ResolvePath(registry, wanted, &path)) return WineRegistryLookup::kNoKey;
  auto found = registry.found.find(path);
  if (found == registry.found.end()) return WineRegistryLookup::kNoValue;
  if (found->second.type != 1 && found->second.type != 2) return WineRegistryLookup::kNotString;
  *data = Utf16ToUtf8(found->second.units);
  return WineRegistryLookup::kFound;
}

WineRegistryLookup ReadWineRegistryString(int descriptor, std::size_t limit, const char* key_path,
                                          const char* value_name, std::string* text, std::string* data) {
  if (lseek(descriptor, 0, SEEK_SET) != 0 || !ReadToEnd(descriptor, limit, text)) {
    data->clear();
    return WineRegistryLookup::kMalformed;
  }
  return FindWineRegistryString(text->data(), text->size(), key_path, value_name, data);
}
