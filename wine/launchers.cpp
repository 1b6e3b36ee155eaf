#include "wine/launchers.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace {

// `text` without the blanks at either end.
std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

// Reads the JSON string whose opening quote stands before `*at`, leaving
// `*at` behind its closing quote. `value` gets its text, or nothing where it
// holds an escape other than \\ \" \/ or a control character. False if the
// string never ends.
bool ReadJsonString(const std::string& text, std::size_t* at, std::optional<std::string>* value) {
  value->emplace();
  while (*at < text.size()) {
    char c = text[(*at)++];
    if (c == '"') return true;
    if (c == '\\' && *at < text.size()) {
      c = text[(*at)++];
      if (c != '\\' && c != '"' && c != '/') value->reset();
    }
    if (static_cast<unsigned char>(c) < 0x20) value->reset();
    if (*value) (*value)->push_back(c);
  }
  return false;
}

}  // namespace

// Lines are read one by one: a line starting at the left margin opens a
// top-level block; blank lines and comments change nothing.
std::vector<std::string> LutrisGamePrefixes(const std::string& yaml) {
  constexpr std::string_view kPrefixKey = "  prefix:";
  std::vector<std::string> prefixes;
  bool in_game = false;
  for (std::size_t start = 0, end; start < yaml.size(); start = end + 1) {
    end = std::min(yaml.find('\n', start), yaml.size());
    const std::string_view line = std::string_view(yaml).substr(start, end - start);
    if (Trimmed(line).empty() || line[0] == '#') continue;
    if (line[0] != ' ') in_game = Trimmed(line) == "game:";
    const bool goes_on = end < yaml.size() && yaml.compare(end + 1, 3, "   ") == 0;  // a longer value folded
    if (!in_game || line.substr(0, kPrefixKey.size()) != kPrefixKey || goes_on) continue;
    const std::string_view rest = line.substr(kPrefixKey.size());
    std::string_view value = Trimmed(rest);
    if (value.empty() || rest[0] != ' ') continue;
    if (value[0] == '\'' || value[0] == '"') {
      if (value.size() < 2 || value.back() != value[0]) continue;
      value = value.substr(1, value.size() - 2);
      if (value.find_first_of("'\"\\") != std::string_view::npos) continue;
    } else if (value.find(" #") != std::string_view::npos) {
      continue;
    }
    if (!value.empty() && value[0] == '/') prefixes.emplace_back(value);
  }
  return prefixes;
}

// Every string is read whole from its opening quote, so text inside a string
// is never taken for a key.
std::vector<std::string> HeroicGamePrefixes(const std::string& json) {
  const auto blanks_end = [&json](std::size_t at) {
    return std::min(json.find_first_not_of(" \t\r\n", at), json.size());
  };
  std::vector<std::string> prefixes;
  std::optional<std::string> key;
  std::optional<std::string> value;
  for (std::size_t at = json.find('"'); at != std::string::npos; at = json.find('"', at)) {
    if (!ReadJsonString(json, &++at, &key)) break;
    at = blanks_end(at);
    if (at == json.size() || json[at] != ':') continue;
    at = blanks_end(at + 1);
    if (at == json.size() || json[at] != '"') continue;
    if (!ReadJsonString(json, &++at, &value)) break;
    if (key == "winePrefix" && value && !value->empty() && value->front() == '/') prefixes.push_back(*value);
  }
  return prefixes;
}
