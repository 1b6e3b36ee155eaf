#include "wine/registry_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
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

namespace {

constexpr char16_t kSeparator = u'\\';
const char16_t kWow6432Node[] = u"WOW6432NODE";
const char kHeader[] = "WINE REGISTRY Version 2";

// Key paths longer than this many components are not looked up.
constexpr std::size_t kMaxPathComponents = 100;

// wineserver makes no key whose name is longer than this many units.
constexpr std::size_t kMaxKeyNameUnits = 256;

// ---- Lines as wineserver reads them ----------------------------------------

// wineserver reads each line with fgets into a buffer that starts at 4 bytes
// and grows by half whenever a line does not fit, and takes the line's text
// to end at the first zero byte. Of a line holding a zero byte it keeps the
// text before it and loses the rest of what that fgets call read (up to the
// line end, or as much as the buffer held); the rest of a longer line is
// read as the next line. The buffer's size is therefore part of the state.
constexpr std::size_t kFirstBufferSize = 4;

struct Line {
  const char* begin;
  const char* end;  // before the zero byte, or the line end ("\n" or "\r\n")
};

// Text read in pieces: the pieces so far, less what is read already, in one
// buffer ending in a zero byte. Lines then end at "\n" alone, which holds
// while the text has no zero byte of its own; meeting one, reading stops
// and the whole text is read again line by line (`zero`).
struct Pieces {
  int descriptor;       // read from, unless `text` is set
  const char* text;     // else handed out from here, `piece` bytes at a time
  std::size_t size;
  std::size_t offset;
  std::size_t piece;
  std::size_t limit;    // the most bytes read before giving up
  std::string buffer;
  std::size_t total = 0;
  bool zero = false;
  bool failed = false;  // a read failed or the text went past `limit`
};

struct LineReader {
  const char* next;
  const char* end;
  const char* zero;     // the first zero byte at or behind `next`, or `end`
  std::size_t buffer;   // wineserver's line buffer size
  Pieces* pieces;       // null: the whole text is at hand
};

const char* FindZero(const char* p, const char* end) {
  const void* zero = std::memchr(p, '\0', static_cast<std::size_t>(end - p));
  return zero != nullptr ? static_cast<const char*>(zero) : end;
}

LineReader StartReading(const char* text, std::size_t size) {
  return LineReader{text, text + size, FindZero(text, text + size), kFirstBufferSize, nullptr};
}

LineReader StartReadingPieces(Pieces* pieces) {
  pieces->buffer.assign(1, '\0');
  const char* start = pieces->buffer.data();
  return LineReader{start, start, start, kFirstBufferSize, pieces};
}

long ReadPiece(Pieces* pieces, char* into, std::size_t room) {
  if (pieces->text != nullptr) {
    std::size_t length = std::min({room, pieces->piece, pieces->size - pieces->offset});
    std::memcpy(into, pieces->text + pieces->offset, length);
    pieces->offset += length;
    return static_cast<long>(length);
  }
  for (;;) {
    ssize_t got = read(pieces->descriptor, into, std::min(room, pieces->piece));
    if (got >= 0 || errno != EINTR) return static_cast<long>(got);
  }
}

// Reads the next piece behind the text at hand, keeping what lies from
// `keep` on. Returns where the kept text now starts (`next` moves with it),
// or null at the end of the text or when reading failed.
const char* ReadOn(LineReader* reader, const char* keep) {
  Pieces* pieces = reader->pieces;
  std::size_t kept = static_cast<std::size_t>(reader->end - keep);
  std::size_t next = static_cast<std::size_t>(reader->next - keep);
  std::memmove(&pieces->buffer[0], keep, kept);
  if (pieces->buffer.size() < kept + pieces->piece + 1) {
    pieces->buffer.resize(std::max(2 * pieces->buffer.size(), kept + pieces->piece + 1));
  }
  char* start = &pieces->buffer[0];
  long got = ReadPiece(pieces, start + kept, pieces->buffer.size() - kept - 1);
  pieces->total += got > 0 ? static_cast<std::size_t>(got) : 0;
  pieces->failed = got < 0 || pieces->total > pieces->limit;
  const bool more = got > 0 && !pieces->failed;
  const std::size_t length = kept + (more ? static_cast<std::size_t>(got) : 0);
  start[length] = '\0';
  reader->next = start + next;
  reader->end = start + length;
  return more ? start : nullptr;
}

// What stopped strchr at `p`: the end of the text at hand, or else a zero
// byte of the text's own, after which nothing more is read.
bool AtEndOfPiece(LineReader* reader, const char* p) {
  if (p + std::strlen(p) == reader->end) return true;
  reader->pieces->zero = true;
  reader->next = reader->end;
  return false;
}

bool ReadLineOfPieces(LineReader* reader, Line* line) {
  std::size_t searched = 0;  // bytes behind `next` known to hold no line end
  for (;;) {
    const char* newline = std::strchr(reader->next + searched, '\n');
    if (newline != nullptr) {
      const char* end = newline;
      if (end > reader->next && end[-1] == '\r') --end;
      *line = Line{reader->next, end};
      reader->next = newline + 1;
      return true;
    }
    if (!AtEndOfPiece(reader, reader->next + searched)) return false;
    searched = static_cast<std::size_t>(reader->end - reader->next);
    if (ReadOn(reader, reader->next) == nullptr) {
      if (reader->next == reader->end || reader->pieces->failed) return false;
      *line = Line{reader->next, reader->end};  // the text ends without a line end
      reader->next = reader->end;
      return true;
    }
  }
}

bool ReadLine(LineReader* reader, Line* line) {
  if (reader->pieces != nullptr) return ReadLineOfPieces(reader, line);
  if (reader->next == reader->end) return false;
  const char* begin = reader->next;
  for (;;) {
    // One fgets call: what fits in the buffer behind the text read so far,
    // up to and including a line end.
    const char* chunk = reader->next;
    std::size_t room = reader->buffer - 1 - static_cast<std::size_t>(chunk - begin);
    std::size_t length = std::min(room, static_cast<std::size_t>(reader->end - chunk));
    const void* newline = std::memchr(chunk, '\n', length);
    if (newline != nullptr) {
      length = static_cast<std::size_t>(static_cast<const char*>(newline) - chunk) + 1;
    }
    reader->next = chunk + length;
    if (reader->zero < reader->next) {
      *line = Line{begin, reader->zero};
      reader->zero = FindZero(reader->next, reader->end);
      return true;
    }
    if (newline != nullptr) {
      const char* end = reader->next - 1;
      if (end > begin && end[-1] == '\r') --end;
      *line = Line{begin, end};
      return true;
    }
    if (length < room || reader->next == reader->end) {  // the text ends without a line end
      *line = Line{begin, reader->next};
      return true;
    }
    reader->buffer += reader->buffer / 2;
  }
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

// True if an odd run of backslashes, reaching back no further than
// `begin`, stands right before `p`: the character at `p` is escaped.
bool IsEscaped(const char* begin, const char* p) {
  const char* run = p;
  while (run > begin && run[-1] == '\\') --run;
  return (p - run) % 2 != 0;
}

// Finds the first `delimiter` not escaped by a backslash in [p, end). False
// when the line ends first (a backslash ending the line escapes nothing).
// Whatever an escape or a UTF-8 sequence takes is never a delimiter or a
// backslash, so a backslash escapes exactly the character behind it here,
// and a delimiter is escaped when an odd run of backslashes stands before it.
bool FindDelimiter(const char* p, const char* end, char delimiter, const char** found) {
  const char* begin = p;
  while (p < end) {
    const void* stop_at = std::memchr(p, delimiter, static_cast<std::size_t>(end - p));
    const char* stop = static_cast<const char*>(stop_at);
    if (stop == nullptr) return false;
    if (!IsEscaped(begin, stop)) {
      *found = stop;
      return true;
    }
    p = stop + 1;
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
// by wineserver's rules: a lead byte outside C2..F4 is dropped; a sequence
// broken off is dropped and the byte that broke it off is read again; a whole
// sequence that is overlong or lies past U+10FFFF is dropped; surrogates pass.
bool DecodeRawUtf8(unsigned char lead, UnitReader* reader, char16_t* unit) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(reader->p);
  char32_t code = DecodeUtf8(lead, &p, reinterpret_cast<const unsigned char*>(reader->end), Utf8Rules::kRegistryText);
  reader->p = reinterpret_cast<const char*>(p);
  if (code == kBadUtf8) return false;
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

// Plain ASCII and escaped backslashes, most of the text, take the short way.
inline bool NextUnit(UnitReader* reader, char16_t* unit) {
  if (reader->pending == 0 && reader->p < reader->end) {
    unsigned char c = static_cast<unsigned char>(*reader->p);
    if (c < 0x80 && c != '\\') {
      ++reader->p;
      *unit = c;
      return true;
    }
    if (c == '\\' && reader->end - reader->p >= 2 && reader->p[1] == '\\') {
      reader->p += 2;
      *unit = u'\\';
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

// The keys a key line makes: their path as far as it runs through `names`,
// at most `max_length` components; `complete` tells whether that is the
// whole path, `made` whether the line made any key at all.
struct KeyCode {
  std::string code;
  bool complete;
  bool made;
};

// True if a name in the escaped path [begin, end) is longer than wineserver
// takes. Each unit comes from at least one byte, so short text has none.
bool HasOverlongName(const char* begin, const char* end) {
  if (static_cast<std::size_t>(end - begin) <= kMaxKeyNameUnits) return false;
  for (const std::u16string& name : SplitPath(DecodeEscaped(begin, end))) {
    if (name.size() > kMaxKeyNameUnits) return true;
  }
  return false;
}

// A path holding a name longer than wineserver takes: it makes the keys
// up to the one before that name, one by one, and then refuses the line.
void ReadCutKeyPath(const char* begin, const char* end, const Names& names, std::size_t max_length,
                    KeyCode* key) {
  bool through_names = true;
  for (const std::u16string& name : SplitPath(DecodeEscaped(begin, end))) {
    if (name.size() > kMaxKeyNameUnits) return;
    key->made = true;
    char code = through_names ? CodeOf(names, Upcase(name)) : 0;
    through_names = code != 0 && key->code.size() < max_length;
    if (through_names) key->code.push_back(code);
  }
}

// One component of a key path, matched against the names as it is read.
struct Component {
  bool empty;  // no units before the separator or the end
  bool more;   // a separator ended it
  char code;   // the index plus one of the name it spells, or 0
};

// Reads units from `reader` up to the next separator, as long as they spell
// the start of a name without regard to case. On a mismatch (code 0) the
// reader stops inside the component.
Component MatchName(const Names& names, UnitReader* reader, std::vector<std::size_t>* candidates) {
  candidates->clear();
  for (std::size_t i = 0; i < names.upcased.size(); ++i) candidates->push_back(i);
  std::size_t length = 0;
  char16_t unit = 0;
  bool more;
  while ((more = NextUnit(reader, &unit)) && unit != kSeparator) {
    unit = UpcaseUnit(unit);
    auto kept = candidates->begin();
    for (std::size_t index : *candidates) {
      const std::u16string& name = names.upcased[index];
      if (length < name.size() && name[length] == unit) *kept++ = index;
    }
    candidates->erase(kept, candidates->end());
    ++length;
    if (candidates->empty()) return Component{false, more, 0};
  }
  for (std::size_t index : *candidates) {
    if (names.upcased[index].size() == length) {
      return Component{length == 0, more, static_cast<char>(index + 1)};
    }
  }
  return Component{length == 0, more, 0};
}

// What reading key lines keeps from line to line. Key lines come sorted,
// and most leave the wanted names at the same place as the line before: the
// escaped text read up to that place, and the byte behind it that the
// decoder may have looked at, decide the result again.
struct KeyLineReader {
  std::vector<std::size_t> candidates;
  std::string decided_text;  // empty, or text that decides an incomplete path
  std::string decided_code;
};

// The key a key line names, from the escaped text behind its '[' up to the
// line end, made with the keys on its path. False where wineserver leaves
// no key open for the lines behind: no closing ']', or a name of more than
// 256 units (the keys before that name are made all the same). An empty
// path, or one whose first unit is zero, names the hive's root. Leading,
// doubled and trailing separators are passed over.
bool ReadKeyLine(const char* begin, const char* end, const Names& names, std::size_t max_length,
                 KeyLineReader* state, KeyCode* key) {
  key->code.clear();
  key->complete = false;
  key->made = false;
  if (!FindDelimiter(begin, end, ']', &end)) return false;
  key->made = true;
  UnitReader reader{begin, end, 0};
  char16_t first = 0;
  if (!NextUnit(&reader, &first) || first == 0) {
    key->complete = true;
    return true;
  }
  if (HasOverlongName(begin, end)) {
    key->made = false;
    ReadCutKeyPath(begin, end, names, max_length, key);
    return false;
  }
  const std::string& decided = state->decided_text;
  if (!decided.empty() && static_cast<std::size_t>(end - begin) >= decided.size() &&
      std::memcmp(begin, decided.data(), decided.size()) == 0) {
    key->code = state->decided_code;
    return true;
  }
  reader = UnitReader{begin, end, 0};
  for (;;) {
    Component component = MatchName(names, &reader, &state->candidates);
    if (!component.empty) {
      if (component.code == 0 || key->code.size() == max_length) {
        if (reader.p < end && reader.pending == 0) {
          state->decided_text.assign(begin, reader.p + 1);
          state->decided_code = key->code;
        }
        return true;
      }
      key->code.push_back(component.code);
    }
    if (!component.more) break;
  }
  key->complete = true;
  return true;
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
  bool negative = q < end && *q == '-';
  if (q < end && (*q == '-' || *q == '+')) ++q;
  if (end - q >= 3 && q[0] == '0' && (q[1] == 'x' || q[1] == 'X') && IsHexDigit(q[2])) q += 2;
  if (q == end || !IsHexDigit(*q)) {
    *stop = p;
    return 0;
  }
  std::uint64_t value = 0;
  bool too_large = false;
  for (; q < end && IsHexDigit(*q); ++q) {
    too_large = too_large || (value >> 60) != 0;
    value = value * 16 + HexValue(*q);
  }
  *stop = q;
  if (too_large) return UINT64_MAX;
  return negative ? 0 - value : value;
}

// Hex bytes ("41,00,..."), each read by strtoul, as far as they go; then the
// data ends with the line, or goes on to the next line from `reader` behind
// a backslash (whatever follows it on this line). False where wineserver
// finds the data malformed. Bytes go to `bytes` unless it is null.
bool ReadHexData(const char* p, const char* end, LineReader* reader,
                 std::vector<unsigned char>* bytes) {
  for (;;) {
    // Wine writes "xx," runs; they take the short way. Spaces may follow a
    // byte, never lead the first.
    const char* run = p;
    while (end - p >= 3 && IsHexDigit(p[0]) && IsHexDigit(p[1]) && p[2] == ',') {
      if (bytes != nullptr)
        bytes->push_back(static_cast<unsigned char>(HexValue(p[0]) * 16 + HexValue(p[1])));
      p += 3;
    }
    if (p != run) p = SkipSpaces(p, end);
    while (p < end && IsHexDigit(*p)) {
      const char* stop;
      std::uint64_t value = ReadHexNumber(p, end, &stop);
      if (value > 0xFF) return false;
      if (bytes != nullptr) bytes->push_back(static_cast<unsigned char>(value));
      p = SkipSpaces(stop, end);
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

struct StringForm {
  const char* tag;
  std::uint32_t type;
};

const StringForm kStringForms[] = {
    {"\"", 1},
    {"str:\"", 1},
    {"str(2):\"", 2},
    {"str(7):\"", 7},
};

// The data behind "name"=, as wineserver reads it; continued hex data is
// read on from `reader`. With `value` null only the lines are taken.
void ReadData(const char* p, const char* end, LineReader* reader, Value* value) {
  if (value == nullptr && (p == end || *p != 'h')) return;  // only hex data goes on
  for (const StringForm& form : kStringForms) {
    if (!StartsWith(p, end, form.tag)) continue;
    if (value == nullptr) return;
    // Text behind the closing quote is ignored.
    const char* text = p + std::strlen(form.tag);
    const char* close;
    if (!FindDelimiter(text, end, '"', &close)) return;
    value->type = form.type;
    value->units = DecodeEscaped(text, close);
    value->units.push_back(0);
    return;
  }
  if (StartsWith(p, end, "dword:")) {
    if (value != nullptr) value->type = 4;  // whatever follows is read as a number
    return;
  }
  std::uint32_t type = 3;
  if (StartsWith(p, end, "hex(")) {
    const char* stop;
    type = static_cast<std::uint32_t>(ReadHexNumber(p + 4, end, &stop));
    if (!StartsWith(stop, end, "):")) return;
    p = stop + 2;
  } else if (StartsWith(p, end, "hex:")) {
    p += 4;
  } else {
    return;
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
  const char* name_begin;
  const char* name_end;
  if (*p == '@') {
    name_begin = name_end = ++p;
  } else {
    name_begin = p + 1;
    if (!FindDelimiter(name_begin, end, '"', &name_end)) return false;
    p = name_end + 1;
  }
  p = SkipSpaces(p, end);
  if (p == end || *p != '=') return false;
  p = SkipSpaces(p + 1, end);
  if (wanted == nullptr || Upcase(DecodeEscaped(name_begin, name_end)) != *wanted) {
    ReadData(p, end, reader, nullptr);
    return false;
  }
  *value = Value();
  ReadData(p, end, reader, value);
  return true;
}

// ---- The whole text --------------------------------------------------------

struct Registry {
  bool win64 = false;
  bool any_key = false;                // wineserver made at least one key
  std::vector<std::string> key_codes;  // every key taken, its path as far as it runs through Names
  std::map<std::string, Value> found;  // the wanted value as last set, by its key's complete path
};

enum class Arch { kUnknown, kWin32, kWin64 };

// An option line read where no key is open. False for an "#arch=" line
// wineserver refuses: unknown, or other than the one taken before.
bool ReadGlobalOption(const char* p, const char* end, Arch* arch) {
  if (!StartsWith(p, end, "#arch=")) return true;
  p += std::strlen("#arch=");
  std::string name(p, end);
  Arch named = name == "win32" ? Arch::kWin32 : name == "win64" ? Arch::kWin64 : Arch::kUnknown;
  if (named == Arch::kUnknown || (*arch != Arch::kUnknown && *arch != named)) return false;
  *arch = named;
  return true;
}

// The ']' that closes a key line at `bracket` (text up to `end` at hand),
// if that key line makes a key of the path `decided` settles (the text of
// an earlier key line, up to where it left the wanted names): its text
// starts so, a ']' closes it on the line and no name in it can be too long.
// Null where the line is to be read as usual.
const char* SameKeyLineClose(const char* bracket, const char* end, const std::string& decided) {
  const char* begin = bracket + 1;
  if (static_cast<std::size_t>(end - begin) < decided.size() ||
      std::memcmp(begin, decided.data(), decided.size()) != 0) {
    return nullptr;
  }
  const char* close = std::strpbrk(begin + decided.size(), "]\n");
  if (close == nullptr || *close != ']' || static_cast<std::size_t>(close - begin) > kMaxKeyNameUnits) {
    return nullptr;
  }
  return IsEscaped(begin, close) ? nullptr : close;
}

// In the section of a key off the wanted path, read in pieces: moves
// `next` from the section's first line to the next line that only spaces
// and a '[' begin, or to the end. Nothing in between changes what is read,
// unless the line before that one holds a backslash, which may carry hex
// data on into it: then `next` goes to the start of the section's first
// line not yet passed over and false says to read line by line from there.
// Key lines that make a key of the same path as the section's, settled by
// `decided` (null: none), are passed over as well.
bool SkipSection(LineReader* reader, const std::string* decided) {
  const char* from = reader->next;  // where the section's text begins
  bool from_line_start = true;      // false: inside a key line passed over, behind its ']'
  const char* search = from;
  for (;;) {
    const char* bracket = std::strchr(search, '[');
    if (bracket == nullptr) {
      if (!AtEndOfPiece(reader, search)) return true;
      std::size_t searched = static_cast<std::size_t>(reader->end - from);
      reader->next = from;
      from = ReadOn(reader, from);
      if (from == nullptr) {
        reader->next = reader->end;
        return true;
      }
      search = from + searched;
      continue;
    }
    const char* start = bracket;
    while (start > from && start[-1] != '\n' && IsSpace(start[-1])) --start;
    if (start > from ? start[-1] != '\n' : !from_line_start) {
      search = bracket + 1;
      continue;
    }
    // The line before, unless it is a key line or empty.
    const char* previous_end = start - 1;
    if (start > from && previous_end > from && previous_end[-1] != '\n') {
      const void* before = memrchr(from, '\n', static_cast<std::size_t>(previous_end - from));
      if (before != nullptr || from_line_start) {
        const char* previous = before != nullptr ? static_cast<const char*>(before) + 1 : from;
        if (std::memchr(previous, '\\', static_cast<std::size_t>(previous_end - previous)) != nullptr) {
          reader->next = from_line_start ? from : std::strchr(from, '\n') + 1;
          return false;
        }
      }
    }
    const char* close = decided != nullptr ? SameKeyLineClose(bracket, reader->end, *decided) : nullptr;
    if (close == nullptr) {
      reader->next = start;
      return true;
    }
    from = search = close + 1;
    from_line_start = false;
  }
}

// Reads the text line by line as wineserver does. Key lines are decoded as
// far as their path runs through `names`; values are decoded only in the
// sections of keys whose whole path does, and only if named `wanted`. Text
// read in pieces passes over the sections of other keys. False if
// wineserver takes nothing from the text.
bool ReadRegistry(LineReader* reader, const Names& names, std::size_t max_length,
                  const std::u16string& wanted, Registry* registry) {
  Line line;
  if (!ReadLine(reader, &line) || std::string(line.begin, line.end) != kHeader) return false;
  KeyLineReader key_lines;
  Arch arch = Arch::kUnknown;
  enum { kNoKey, kOtherKey, kPathKey } section = kNoKey;
  bool line_by_line = false;
  KeyCode key;
  Value value;
  bool stopped = false;
  for (;;) {
    if (section == kOtherKey && reader->pieces != nullptr && !line_by_line) {
      bool same = !key_lines.decided_text.empty() && key.code == key_lines.decided_code;
      line_by_line = !SkipSection(reader, same ? &key_lines.decided_text : nullptr);
    }
    if (stopped || !ReadLine(reader, &line)) break;
    const char* p = SkipSpaces(line.begin, line.end);
    if (p == line.end) continue;
    if (*p == '[') {
      bool taken = ReadKeyLine(p + 1, line.end, names, max_length, &key_lines, &key);
      section = !taken ? kNoKey : key.complete ? kPathKey : kOtherKey;
      line_by_line = false;
      registry->any_key = registry->any_key || key.made;
      if (key.made && (registry->key_codes.empty() || registry->key_codes.back() != key.code)) {
        registry->key_codes.push_back(key.code);
      }
    } else if (*p == '"' || *p == '@') {
      if (section == kNoKey) continue;
      if (ReadValueLine(p, line.end, reader, section == kPathKey ? &wanted : nullptr, &value)) {
        registry->found[key.code] = std::move(value);
      }
    } else if (*p == '#' && section == kNoKey) {
      stopped = !ReadGlobalOption(p, line.end, &arch);
    }
    // Other lines: options of the open key (#time, #class, #link change
    // nothing read here), comments and lines wineserver does not recognise.
  }
  registry->win64 = arch == Arch::kWin64;
  std::sort(registry->key_codes.begin(), registry->key_codes.end());
  return registry->any_key || !stopped;
}

// ---- The lookup ------------------------------------------------------------

bool KeyExists(const Registry& registry, const std::string& path) {
  if (path.empty()) return true;  // the hive's root
  auto it = std::lower_bound(registry.key_codes.begin(), registry.key_codes.end(), path);
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

bool IsString(const Value& value) { return value.type == 1 || value.type == 2; }

// The whole text of `pieces`, for reading it line by line: the text at
// hand, or the file read again from its start into `storage`.
bool WholeText(const Pieces& pieces, std::string* storage, const char** text, std::size_t* size) {
  if (pieces.text == nullptr) {
    if (lseek(pieces.descriptor, 0, SEEK_SET) != 0 || !ReadToEnd(pieces.descriptor, pieces.limit, storage)) {
      return false;
    }
    *text = storage->data();
    *size = storage->size();
    return true;
  }
  *text = pieces.text;
  *size = pieces.size;
  return true;
}

// Looks the value up in the text of `pieces`, read from its start. A text
// holding a zero byte, or read with piece 0, is read whole, line by line.
WineRegistryLookup LookUp(Pieces* pieces, const char* key_path, const char* value_name, std::string* data) {
  data->clear();
  std::vector<std::u16string> components = SplitPath(Utf8ToUtf16(key_path));
  if (components.size() > kMaxPathComponents) return WineRegistryLookup::kNoKey;
  Names names;
  std::string wanted;
  for (const std::u16string& component : components) wanted.push_back(AddName(&names, component));
  names.wow6432node = AddName(&names, kWow6432Node);
  std::u16string wanted_value = Upcase(Utf8ToUtf16(value_name));

  // A resolved path is at most every component with a Wow6432Node before it, plus one.
  std::size_t max_length = 2 * wanted.size() + 1;
  Registry registry;
  bool taken = false;
  if (pieces->piece != 0) {
    LineReader reader = StartReadingPieces(pieces);
    taken = ReadRegistry(&reader, names, max_length, wanted_value, &registry);
    if (pieces->failed) return WineRegistryLookup::kMalformed;
  }
  if (pieces->piece == 0 || pieces->zero) {
    std::string storage;
    const char* text = nullptr;
    std::size_t size = 0;
    if (!WholeText(*pieces, &storage, &text, &size)) return WineRegistryLookup::kMalformed;
    registry = Registry();
    LineReader reader = StartReading(text, size);
    taken = ReadRegistry(&reader, names, max_length, wanted_value, &registry);
  }
  if (!taken) return WineRegistryLookup::kMalformed;
  std::string path;
  if (!ResolvePath(registry, wanted, names.wow6432node, &path)) {
    return WineRegistryLookup::kNoKey;
  }
  auto found = registry.found.find(path);
  if (found == registry.found.end()) return WineRegistryLookup::kNoValue;
  if (!IsString(found->second)) return WineRegistryLookup::kNotString;
  *data = Utf16ToUtf8(found->second.units);
  return WineRegistryLookup::kFound;
}

// Read in pieces of this size, a file stays in the processor's cache
// between the kernel's copy and the search for key lines.
constexpr std::size_t kPieceSize = 128 * 1024;

}  // namespace

WineRegistryLookup FindWineRegistryString(const char* text, std::size_t size, const char* key_path,
                                          const char* value_name, std::string* data) {
  return FindWineRegistryStringInPieces(text, size, kPieceSize, key_path, value_name, data);
}

WineRegistryLookup FindWineRegistryStringInPieces(const char* text, std::size_t size, std::size_t piece,
                                                  const char* key_path, const char* value_name,
                                                  std::string* data) {
  Pieces pieces{-1, text, size, 0, piece, size, std::string()};
  return LookUp(&pieces, key_path, value_name, data);
}

WineRegistryLookup ReadWineRegistryString(int descriptor, std::size_t limit, const char* key_path,
                                          const char* value_name, std::string* data) {
  Pieces pieces{descriptor, nullptr, 0, 0, kPieceSize, limit, std::string()};
  return LookUp(&pieces, key_path, value_name, data);
}
