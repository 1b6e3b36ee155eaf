// What both builds take from Windows: the names it keeps for devices, and
// how a string read from the registry is ended.
#include "platform/windows_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct StringCase {
  std::string data;
  std::size_t capacity;
  bool ok;
  std::string result;
};

TEST(EndRegistryString, EndsAtFirstZeroOrBehindTheDataIfThereIsRoom) {
  const std::vector<StringCase> cases = {
      {std::string("C:\\G\\\0", 6), 500, true, "C:\\G\\"},
      {std::string("AB\0CD\0", 6), 500, true, "AB"},
      {"ABC", 500, true, "ABC"},               // stored without a terminator
      {"", 500, true, ""},                     // empty data
      {std::string(499, 'a'), 500, true, std::string(499, 'a')},
      {std::string(500, 'a'), 500, false, ""},  // fills the buffer, no terminator
      {std::string(499, 'a') + '\0', 500, true, std::string(499, 'a')},
  };
  for (const StringCase& c : cases) {
    std::vector<char> buffer(c.capacity, 'Z');
    std::memcpy(buffer.data(), c.data.data(), c.data.size());
    ASSERT_EQ(EndRegistryString(buffer.data(), c.data.size(), c.capacity), c.ok) << c.data.size();
    if (c.ok) {
      EXPECT_EQ(std::string(buffer.data()), c.result);
    }
  }
}

TEST(IsDeviceNameUnits, TakesTheNameUpToItsExtensionWithoutTrailingSpaces) {
  for (const char16_t* name : {u"CON", u"con.HDR", u"AUX .HDR", u"com1.x.HDR", u"LPT\u00B9.HDR", u"CONIN$", u"nul:x"}) {
    EXPECT_TRUE(IsDeviceNameUnits(name)) << std::u16string(name).size();
  }
  for (const char16_t* name : {u"CONX.HDR", u"COM0.HDR", u"COM10", u"xNUL.HDR", u" NUL", u"LPT"}) {
    EXPECT_FALSE(IsDeviceNameUnits(name)) << std::u16string(name).size();
  }
}

}  // namespace
