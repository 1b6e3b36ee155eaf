// Names the way Wine sees them. Expected results were measured with Wine 8.0
// (a 32-bit probe calling CharUpperBuffW and FindFirstFileW).
#include "wine/names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TEST(UnicodeTest, UpcaseFollowsWineTable) {
  const char16_t kPairs[][2] = {{u'a', u'A'}, {u'Z', u'Z'}, {u'é', u'É'},   {u'ω', u'Ω'},
                                {u'ÿ', u'Ÿ'}, {u'ß', u'ß'}, {u'µ', u'µ'},   {u'ı', u'ı'},
                                {u'ſ', u'ſ'}, {u'ǅ', u'ǅ'}, {u'ａ', u'Ａ'}, {0xD83D, 0xD83D},
                                {u'ⓐ', u'Ⓐ'}, {u'ա', u'Ա'}, {u'z', u'Z'}, {u'{', u'{'},
                                // A range of every other unit: its ends, and an upper-case unit inside.
                                {0x0101, 0x0100}, {0x012F, 0x012E}, {0x0102, 0x0102}, {0x0130, 0x0130}};
  for (const auto& pair : kPairs) EXPECT_EQ(UpcaseUnit(pair[0]), pair[1]) << int(pair[0]);
  EXPECT_EQ(NameKey("SAUVÉ.HDR"), NameKey("Sauvé.HDR"));
  EXPECT_NE(NameKey("ſ"), NameKey("S"));
}

TEST(UnicodeTest, WineDirectoryOrder) {
  const std::vector<std::string> kMeasured = {
      "a\\b.HDR",   "Eclair2.HDR", "Omega.HDR", "Save1.HDR1", "SaveA.HDR",  "savea2.HDR",
      "Save_1.HDR", "x~y.HDR",     "Zeta.HDR",  "[x].HDR",    "éclair.HDR", "ſ"};
  std::vector<std::string> names(kMeasured.rbegin(), kMeasured.rend());
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return ComesFirstInWineOrder(WineSortKey(a), WineSortKey(b));
  });
  EXPECT_EQ(names, kMeasured);
  EXPECT_TRUE(ComesFirstInWineOrder(WineSortKey("A"), WineSortKey("a")));  // equal upper case: exact units decide
  EXPECT_FALSE(ComesFirstInWineOrder(WineSortKey("a"), WineSortKey("a")));
}

TEST(UnicodeTest, BrokenUtf8AsWineShowsIt) {
  EXPECT_EQ(Utf8ToUtf16("a\xFF"
                        "b"),
            u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD");  // surrogate: lead pair, then the rest
  EXPECT_EQ(Utf8ToUtf16("\xE0\x80\x80"), u"\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(Utf8ToUtf16("n\xE2x"), u"n\uFFFD");             // cut off by the end: rest swallowed
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

}  // namespace
