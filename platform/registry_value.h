// How a string read from the registry is made a C string in the path buffer.
#ifndef SAVEFIX_PLATFORM_REGISTRY_VALUE_H
#define SAVEFIX_PLATFORM_REGISTRY_VALUE_H

#include <cstddef>

// `buffer` holds `size` bytes of string data (size <= capacity). The string
// ends at its first zero byte; data without one is ended right behind it if
// there is room. False when the data fills the whole capacity with no zero
// byte, so the string cannot be ended inside the buffer.
bool EndRegistryString(char* buffer, std::size_t size, std::size_t capacity);

#endif
