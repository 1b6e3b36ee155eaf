// Rules of Windows that both builds follow: the names it keeps for devices,
// and how a string read from the registry is made a C string.
#ifndef SAVEFIX_PLATFORM_WINDOWS_RULES_H
#define SAVEFIX_PLATFORM_WINDOWS_RULES_H

#include <cstddef>
#include <string>

#include "platform/install.h"

// True if `name` (UTF-16), taken up to its first '.' or ':' and without its
// trailing spaces, is CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, COM or LPT
// with a superscript 1-3, CONIN$ or CONOUT$, in any case. Windows 10 and
// Wine open such a name, extension or not, as the device.
bool IsDeviceNameUnits(const std::u16string& name);

// `buffer` holds `size` bytes of string data (size <= capacity). The string
// ends at its first zero byte; data without one is ended right behind it if
// there is room. False when the data fills the whole capacity with no zero
// byte, so the string cannot be ended inside the buffer.
bool EndRegistryString(char* buffer, std::size_t size, std::size_t capacity);

// `text` as a C string in the path buffer `buffer`, ended as above; false
// if it does not fit.
bool PutInPathBuffer(const std::string& text, char* buffer);

// Appends `below` to the install path in the path buffer `path`, making it
// the save directory, if that and `pattern` behind it fit the buffer.
SaveDirectory AppendSaveFolder(char* path, const char* below, const char* pattern);

#endif
