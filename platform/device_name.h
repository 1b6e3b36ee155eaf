// The names Windows keeps for devices.
#ifndef SAVEFIX_PLATFORM_DEVICE_NAME_H
#define SAVEFIX_PLATFORM_DEVICE_NAME_H

#include <string>

// True if `name` (UTF-16), taken up to its first '.' or ':' and without its
// trailing spaces, is CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, COM or LPT
// with a superscript 1-3, CONIN$ or CONOUT$, in any case. Windows 10 and
// Wine open such a name, extension or not, as the device.
bool IsDeviceNameUnits(const std::u16string& name);

#endif
