#include "platform/windows_rules.h"

#include <cstring>
#include <string_view>

bool IsDeviceNameUnits(const std::u16string& name) {
  std::u16string base = name.substr(0, name.find_first_of(u".:"));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  for (char16_t& unit : base) unit = unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
  for (const char16_t* device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
    if (base == device) return true;
  }
  const bool port = base.size() == 4 && (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0);
  return port && std::u16string_view(u"123456789\u00B9\u00B2\u00B3").find(base[3]) != std::u16string_view::npos;
}

bool EndRegistryString(char* buffer, std::size_t size, std::size_t capacity) {
  if (size > capacity) return false;
  if (std::memchr(buffer, '\0', size) != nullptr) return true;
  if (size == capacity) return false;
  buffer[size] = '\0';
  return true;
}

bool PutInPathBuffer(const std::string& text, char* buffer) {
  if (text.size() > kPathBufferSize) return false;
  std::memcpy(buffer, text.data(), text.size());
  return EndRegistryString(buffer, text.size(), kPathBufferSize);
}

SaveDirectory AppendSaveFolder(char* path, const char* below, const char* pattern) {
  if (std::strlen(path) + std::strlen(below) + std::strlen(pattern) + 1 > kPathBufferSize) return SaveDirectory::kTooLong;
  std::strcat(path, below);
  return SaveDirectory::kRead;
}
