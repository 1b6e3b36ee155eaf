#include "platform/registry_value.h"

#include <cstring>

bool EndRegistryString(char* buffer, std::size_t size, std::size_t capacity) {
  if (size > capacity) return false;
  if (std::memchr(buffer, '\0', size) != nullptr) return true;
  if (size == capacity) return false;
  buffer[size] = '\0';
  return true;
}
