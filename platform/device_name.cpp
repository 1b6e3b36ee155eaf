#include "platform/device_name.h"

#include "platform/ascii.h"

namespace {

bool IsPortDigit(char16_t unit) {
  return (unit >= u'1' && unit <= u'9') || unit == u'\u00B9' || unit == u'\u00B2' || unit == u'\u00B3';
}

}  // namespace

bool IsDeviceNameUnits(const std::u16string& name) {
  std::u16string base = name.substr(0, name.find_first_of(u".:"));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  for (char16_t& unit : base) unit = AsciiUpper(unit);
  if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL" || base == u"CONIN$" ||
      base == u"CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0) &&
         IsPortDigit(base[3]);
}
