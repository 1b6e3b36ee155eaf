#include "platform/registry_export_posix.h"

#include <cstring>
#include <string>

namespace {

// One line of the text, its line end and trailing blanks cut off.
struct Line {
  const char* begin;
  const char* end;
};

struct LineReader {
  const char* next;
  const char* text_end;
};

// The raw bytes between a pair of quotes, escapes still in them.
struct Quoted {
  const char* begin;
  const char* end;
};

enum class Held { kNothing, kString, kExpandString, kTyped };

// What the walk through the text knows about the wanted value so far.
struct LookupState {
  const char* key_path;
  const char* value_name;
  bool any_key_line = false;
  bool in_wanted_key = false;  // the current section is the wanted key
  bool key_exists = false;
  Held held = Held::kNothing;
  Quoted string{};  // valid while held == Held::kString
  std::string expand_bytes;  // UTF-16LE data, valid while held == Held::kExpandString
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsTrailingSpace(char c) { return IsBlank(c) || c == '\r'; }

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool ReadLine(LineReader* reader, Line* line) {
  const char* begin = reader->next;
  if (begin == reader->text_end) return false;
  std::size_t rest = static_cast<std::size_t>(reader->text_end - begin);
  const char* newline = static_cast<const char*>(std::memchr(begin, '\n', rest));
  const char* end = newline != nullptr ? newline : reader->text_end;
  reader->next = newline != nullptr ? newline + 1 : reader->text_end;
  while (end > begin && IsTrailingSpace(end[-1])) --end;
  *line = Line{begin, end};
  return true;
}

const char* SkipBlanks(const char* p, const char* end) {
  while (p < end && IsBlank(*p)) ++p;
  return p;
}

bool StartsWith(const char* p, const char* end, const char* word) {
  std::size_t length = std::strlen(word);
  return static_cast<std::size_t>(end - p) >= length && std::memcmp(p, word, length) == 0;
}

bool LineIs(const Line& line, const char* word) {
  return StartsWith(line.begin, line.end, word) &&
         line.end - line.begin == static_cast<std::ptrdiff_t>(std::strlen(word));
}

std::size_t CountHexDigits(const char* p, const char* end) {
  const char* start = p;
  while (p < end && IsHexDigit(*p)) ++p;
  return static_cast<std::size_t>(p - start);
}

// `*p` is at an opening quote. Finds the closing quote on the line, checking
// that every backslash starts a \\ or \" escape, and moves `*p` past it.
bool ScanQuoted(const char** p, const char* line_end, Quoted* quoted) {
  const char* q = *p + 1;
  quoted->begin = q;
  while (q < line_end) {
    if (*q == '"') {
      quoted->end = q;
      *p = q + 1;
      return true;
    }
    if (*q == '\\') {
      if (line_end - q < 2 || (q[1] != '\\' && q[1] != '"')) return false;
      q += 2;
    } else {
      ++q;
    }
  }
  return false;
}

// Decodes one byte of scanned quoted text; returns where the next one starts.
// ScanQuoted has made sure every backslash is followed by a byte.
const char* NextDecoded(const char* q, char* c) {
  if (*q == '\\') ++q;
  *c = *q;
  return q + 1;
}

bool DecodedNameIs(const Quoted& name, const char* wanted) {
  for (const char* q = name.begin; q < name.end; ++wanted) {
    char c;
    q = NextDecoded(q, &c);
    if (*wanted == '\0' || FoldCase(c) != FoldCase(*wanted)) return false;
  }
  return *wanted == '\0';
}

std::size_t DecodedLength(const Quoted& quoted) {
  std::size_t length = 0;
  char c;
  for (const char* q = quoted.begin; q < quoted.end; ++length) q = NextDecoded(q, &c);
  return length;
}

void CopyDecoded(const Quoted& quoted, char* out) {
  for (const char* q = quoted.begin; q < quoted.end; ++out) q = NextDecoded(q, out);
}

// True when `path` starts with the `length` bytes at `key`, ignoring case.
bool PathStartsWith(const char* path, const char* key, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (path[i] == '\0' || FoldCase(path[i]) != FoldCase(key[i])) return false;
  }
  return true;
}

// Checks the comma-separated bytes of a hex value. A backslash ending a line
// where a byte is due carries the list on to the next line, as regedit wraps
// long values; the leading blanks of that line are skipped.
bool ParseHexBytes(const char* p, const char* end, LineReader* reader, std::string* bytes) {
  if (p == end) return true;  // an empty value
  for (;;) {
    if (end - p == 1 && *p == '\\') {
      Line next;
      if (!ReadLine(reader, &next)) return false;
      p = SkipBlanks(next.begin, next.end);
      end = next.end;
    }
    if (end - p < 2 || !IsHexDigit(p[0]) || !IsHexDigit(p[1])) return false;
    if (bytes != nullptr) *bytes += static_cast<char>(HexValue(p[0]) * 16 + HexValue(p[1]));
    p += 2;
    if (p == end) return true;
    if (*p != ',') return false;
    ++p;
  }
}

// Checks typed data; hex(2): data, an expandable string, is kept in `bytes`
// and `*expandable` set.
bool ParseTypedData(const char* p, const char* end, LineReader* reader, std::string* bytes,
                    bool* expandable) {
  *expandable = false;
  if (StartsWith(p, end, "dword:")) {
    std::size_t digits = CountHexDigits(p + 6, end);
    return digits >= 1 && digits <= 8 && p + 6 + digits == end;
  }
  if (StartsWith(p, end, "hex:")) return ParseHexBytes(p + 4, end, reader, nullptr);
  if (!StartsWith(p, end, "hex(")) return false;
  p += 4;
  std::size_t digits = CountHexDigits(p, end);
  if (digits < 1 || digits > 8) return false;
  *expandable = digits == 1 && *p == '2';
  p += digits;
  if (!StartsWith(p, end, "):")) return false;
  return ParseHexBytes(p + 2, end, reader, *expandable ? bytes : nullptr);
}

// UTF-16LE `bytes` up to the first zero unit, in UTF-8.
std::string DecodeUtf16(const std::string& bytes) {
  std::string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    unsigned unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (unit == 0) break;
    if (unit < 0x80) {
      text += static_cast<char>(unit);
    } else if (unit < 0x800) {
      text += static_cast<char>(0xC0 | unit >> 6);
      text += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | unit >> 12);
      text += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return text;
}

// `p` is at the '[' of a key line: "[path]" opens a section, "[-path]"
// deletes the key and its subkeys.
bool ParseKeyLine(const char* p, const char* end, LookupState* state) {
  if (end[-1] != ']' || end - p < 3) return false;
  bool deletes = p[1] == '-';
  const char* key = p + (deletes ? 2 : 1);
  if (key >= end - 1) return false;  // no name between the brackets
  std::size_t length = static_cast<std::size_t>(end - 1 - key);
  bool prefix = PathStartsWith(state->key_path, key, length);
  char after = prefix ? state->key_path[length] : 'x';
  state->any_key_line = true;
  state->in_wanted_key = !deletes && prefix && after == '\0';
  if (state->in_wanted_key) state->key_exists = true;
  if (deletes && prefix && (after == '\0' || after == '\\')) {
    state->key_exists = false;
    state->held = Held::kNothing;
  }
  return true;
}

// `p` is at the '"' or '@' starting a value line; continuation lines of hex
// data are read from `reader`.
bool ParseValueLine(const char* p, const char* end, LineReader* reader, LookupState* state) {
  Quoted name{p, p};  // '@', the default value, has the empty name
  if (*p == '@') {
    ++p;
  } else if (!ScanQuoted(&p, end, &name)) {
    return false;
  }
  if (p == end || *p != '=' || !state->any_key_line) return false;
  ++p;
  Held found = Held::kTyped;
  Quoted string{};
  std::string bytes;
  bool expandable = false;
  if (p < end && *p == '"') {
    if (!ScanQuoted(&p, end, &string) || p != end) return false;
    found = Held::kString;
  } else if (end - p == 1 && *p == '-') {
    found = Held::kNothing;  // "name"=- deletes the value
  } else if (!ParseTypedData(p, end, reader, &bytes, &expandable)) {
    return false;
  } else if (expandable) {
    found = Held::kExpandString;
  }
  if (state->in_wanted_key && DecodedNameIs(name, state->value_name)) {
    state->held = found;
    state->string = string;
    state->expand_bytes = bytes;
  }
  return true;
}

bool ParseHeader(LineReader* reader) {
  static const char kBom[] = "\xEF\xBB\xBF";
  if (StartsWith(reader->next, reader->text_end, kBom)) reader->next += sizeof kBom - 1;
  Line line;
  if (!ReadLine(reader, &line)) return false;
  return LineIs(line, "Windows Registry Editor Version 5.00") || LineIs(line, "REGEDIT4");
}

// Walks every line, so a fault anywhere in the text is seen, not only one
// before the wanted key.
bool ParseExport(LineReader* reader, LookupState* state) {
  if (!ParseHeader(reader)) return false;
  Line line;
  while (ReadLine(reader, &line)) {
    const char* p = SkipBlanks(line.begin, line.end);
    if (p == line.end || *p == ';') continue;
    bool well_formed = false;
    if (*p == '[') {
      well_formed = ParseKeyLine(p, line.end, state);
    } else if (*p == '"' || *p == '@') {
      well_formed = ParseValueLine(p, line.end, reader, state);
    }
    if (!well_formed) return false;
  }
  return true;
}

}  // namespace

ExportLookup FindExportedString(const char* text, std::size_t size, const char* key_path,
                                const char* value_name, char* data, std::size_t capacity,
                                std::size_t* data_size) {
  *data_size = 0;
  // A zero byte has no place in an export; rejecting it up front also keeps
  // found strings free of zero bytes before their terminator.
  if (size == 0 || std::memchr(text, '\0', size) != nullptr) return ExportLookup::kMalformed;
  LineReader reader{text, text + size};
  LookupState state;
  state.key_path = key_path;
  state.value_name = value_name;
  if (!ParseExport(&reader, &state)) return ExportLookup::kMalformed;
  if (!state.key_exists) return ExportLookup::kNoKey;
  if (state.held == Held::kNothing) return ExportLookup::kNoValue;
  if (state.held == Held::kTyped) return ExportLookup::kNotString;
  if (state.held == Held::kExpandString) {
    // An expandable string is used as stored, without expanding it.
    std::string string = DecodeUtf16(state.expand_bytes);
    if (string.size() >= capacity) return ExportLookup::kTooLong;
    std::memcpy(data, string.c_str(), string.size() + 1);
    *data_size = string.size() + 1;
    return ExportLookup::kFound;
  }
  std::size_t length = DecodedLength(state.string);
  if (length >= capacity) return ExportLookup::kTooLong;
  CopyDecoded(state.string, data);
  data[length] = '\0';
  *data_size = length + 1;
  return ExportLookup::kFound;
}
