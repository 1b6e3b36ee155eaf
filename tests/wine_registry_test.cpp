// The system.reg reader, on a text at hand and on a file. Expected results
// were measured with Wine 8.0 (a 32-bit probe calling RegQueryValueExA).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <ostream>
#include <string>

#include "wine/read_file.h"
#include "wine/registry_file.h"

static void PrintTo(WineRegistryLookup result, std::ostream* out) {
  static const char* const kNames[] = {"kFound", "kMalformed", "kNoKey", "kNoValue", "kNotString"};
  *out << kNames[static_cast<int>(result)];
}

namespace {

using namespace std::string_literals;
using R = WineRegistryLookup;

const char* const kKey = "Software\\Quarrelstone\\Vellmoor\\1.0";
const std::string kHeader =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n";
const std::string kWin64 = kHeader + "#arch=win64\n\n";
const std::string kWin32 = kHeader + "#arch=win32\n\n";
const std::string kKey32 = "[Software\\\\Quarrelstone\\\\Vellmoor\\\\1.0] 1796639462\n#time=1dd8\n";
const std::string kKeyWow = "[Software\\\\Wow6432Node\\\\Quarrelstone\\\\Vellmoor\\\\1.0] 1\n";

struct Case {
  const char* name;
  std::string text;
  R expected;
  std::string data = "";  // for kFound
  std::string key = kKey;
  const char* value = "AppPath";
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

std::string Repeat(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? "\r\n" : std::string(1, c);
  return out;
}

// The AppPath line `data` in the game's key of a win32 prefix.
std::string Value32(const std::string& data) {
  return kWin32 + kKey32 + "\"AppPath\"=" + data + "\n";
}

const Case kCases[] = {
    {"PlainString", Value32(R"("C:\\Games\\")"), R::kFound, "C:\\Games\\\0"s},
    {"Escapes", Value32(R"("a\\b\"c\a\t\e\[\]\q\ ")"), R::kFound, "a\\b\"c\a\t\x1b[]q \0"s},
    {"HexEscapesOneToFourDigits", Value32(R"("\xe9|\x00e9a|\x65e5|\x41424|\xG")"), R::kFound,
     "\xC3\xA9|\xC3\xA9"
     "a|\xE6\x97\xA5|\xE4\x85\x82"
     "4|xG\0"s},
    {"OctalEscapes", Value32(R"("\101\1012\7\0x\777")"), R::kFound, "AA2\a\0x\xC7\xBF\0"s},
    {"SurrogatePairAndLoneSurrogate", Value32(R"("\xd83d\xde00 \xd800")"), R::kFound,
     "\xF0\x9F\x98\x80 \xEF\xBF\xBD\0"s},
    {"RawUtf8ReadAndBrokenBytesDropped", Value32("\"Caf\xC3\xA9 \xFF\xC3(\""), R::kFound,
     "Caf\xC3\xA9 (\0"s},
    {"RawUtf8CutOffByQuoteKeepsByteBehind", Value32("\"a\xE6(\""), R::kFound, "a(\0"s},
    {"RawUtf8OverlongAndBeyondUnicodeDropped",
     Value32("\"a\xE0\x80\x80"
             "b\xF0\x80\x80\x80"
             "c\xF4\x90\x80\x80"
             "d\xF5\x80"
             "e\xED\xA0\x80"
             "f\""),
     R::kFound, "abcde\xEF\xBF\xBD"
                "f\0"s},
    {"HexContinuationLines", Value32("hex(1):41,00,\\\n  42,00,\\\n  00,00"), R::kFound, "AB\0"s},
    {"SpacesCrlfAndTrailingText", kWin32 + kKey32 + "\"AppPath\" = \"x\" junk\r\n", R::kFound,
     "x\0"s},
    {"NamesIgnoreCase",
     kWin32 + "[software\\\\QUARRELSTONE\\\\vellmoor\\\\1.0]\n\"APPPATH\"=\"u\"\n", R::kFound,
     "u\0"s},
    {"NonAsciiNamesIgnoreCase", kWin32 + "[Caf\\xe9\\\\K\\]]\n\"\\xdcn\"=\"n\"\n", R::kFound,
     "n\0"s, "CAF\xC3\x89\\k]", "\xC3\xBCN"},
    {"DefaultValue", Value32("\"x\"\n@=\"d\""), R::kFound, "d\0"s, kKey, ""},
    {"LaterLineOfSameKeyWins",
     Value32("\"a\"\n[Other]\n\"AppPath\"=\"b\"\n[software\\\\quarrelstone\\\\vellmoor\\\\1.0]\n"
             "\"apppath\"=\"c\""),
     R::kFound, "c\0"s},
    {"KeyAndValueOptionsIgnored",
     kWin32 + kKey32 + "#class=\"x\"\n#link\n; note\n\"AppPath\"=\"o\"\n", R::kFound, "o\0"s},

    // Types.
    {"StrForm", Value32("str:\"s\""), R::kFound, "s\0"s},
    {"ExpandStringNotExpanded", Value32("str(2):\"%PATH%\""), R::kFound, "%PATH%\0"s},
    {"MultiString", Value32("str(7):\"a\\0b\\0\""), R::kNotString},
    {"Dword", Value32("dword:00000001"), R::kNotString},
    {"DwordTakesNoNextLine", Value32("dword:1,\\\n\"AppPath\"=\"x\""), R::kFound, "x\0"s},
    {"Binary", Value32("hex:41,00"), R::kNotString},
    {"HexMultiString", Value32("hex(7):41,00,00,00"), R::kNotString},
    {"HexNone", Value32("hex(0):41,00"), R::kNotString},
    {"HexStringWithoutTerminator", Value32("hex(1):41,00,42,00"), R::kFound, "AB"},
    {"HexStringOddLength", Value32("hex(1):41,00,42"), R::kFound, "A"},
    {"HexStringOneByte", Value32("hex(1):41"), R::kFound, ""},
    {"HexStringEmpty", Value32("hex(1):"), R::kFound, ""},
    {"HexStringZeroInside", Value32("hex(1):41,00,00,00,42,00"), R::kFound, "A\0B"s},
    {"HexStringNonAscii", Value32("hex(1):e9,00,e5,65"), R::kFound, "\xC3\xA9\xE6\x97\xA5"},
    {"HexExpandStringOddLength", Value32("hex(2):25,00,41,00,25"), R::kFound, "%A"},

    // The 32-bit view.
    {"Win64ThroughWow6432Node",
     kWin64 + kKey32 + "\"AppPath\"=\"64\"\n" + kKeyWow + "\"AppPath\"=\"32\"\n", R::kFound,
     "32\0"s},
    {"Win64KeyOnlyIn64BitView",
     kWin64 + kKey32 + "\"AppPath\"=\"64\"\n[Software\\\\Wow6432Node\\\\X]\n", R::kNoKey},
    {"Win32IgnoresWow6432Node", kWin32 + kKeyWow + "\"AppPath\"=\"32\"\n", R::kNoKey},
    {"NoArchIsWin32", kHeader + kKeyWow + "\"AppPath\"=\"w\"\n" + kKey32 + "\"AppPath\"=\"d\"\n",
     R::kFound, "d\0"s},
    {"Win64RedirectAfterLastComponent",
     kWin64 + "[T\\\\A]\n\"V\"=\"plain\"\n[T\\\\A\\\\Wow6432Node]\n\"V\"=\"w\"\n", R::kFound,
     "w\0"s, "T\\A", "V"},
    {"Win64NestedAndExplicitWow6432Node",
     kWin64 + "[T\\\\Wow6432Node\\\\B\\\\Wow6432Node\\\\C]\n\"V\"=\"n\"\n", R::kFound, "n\0"s,
     "T\\B\\Wow6432Node\\C", "V"},
    {"Win64NoRedirectOutOfWow6432Node",
     kWin64 + "[Z\\\\Wow6432Node\\\\Y]\n\"V\"=\"zw\"\n[Z\\\\Wow6432Node\\\\Wow6432Node\\\\Y]\n",
     R::kFound, "zw\0"s, "Z\\Wow6432Node\\Y", "V"},
    {"KeyWithOnlySubkeysExists",
     kWin64 + "[Software\\\\Wow6432Node\\\\Quarrelstone\\\\Vellmoor\\\\1.0\\\\S]\n", R::kNoValue},

    // Where wineserver gives up: it takes no key from the text.
    {"EmptyText", "", R::kMalformed},
    {"WrongHeader", "WINE REGISTRY Version 1\n" + kKey32 + "\"AppPath\"=\"x\"\n", R::kMalformed},
    {"HeaderAsWrittenOnly", "WINE REGISTRY Version 2 \n" + kKey32 + "\"AppPath\"=\"x\"\n",
     R::kMalformed},
    {"UnknownArch", kHeader + "#arch=arm64\n" + kKey32, R::kMalformed},
    {"ArchAsWrittenOnly", kHeader + "#arch=win64 \n" + kKey32, R::kMalformed},
    {"MismatchedArch", kWin64 + "#arch=win32\n" + kKey32, R::kMalformed},
    {"ArchStopsAfterKeysKeepingThem",
     Value32("\"x\"\n[Bad\n#arch=arm64\n") + kKey32 + "\"AppPath\"=\"y\"\n", R::kFound,
     "x\0"s},
    {"ArchBehindRefusedKeyLineTaken",
     kHeader + kKey32 + "\"AppPath\"=\"64\"\n[Bad\n#arch=win64\n" + kKeyWow +
         "\"AppPath\"=\"32\"\n",
     R::kFound, "32\0"s},
    {"ArchUnderKeyIsKeyOption", Value32("\"x\"\n#arch=arm64\n\"AppPath\"=\"y\""), R::kFound,
     "y\0"s},

    // Lines wineserver passes over.
    {"StrayTextLine", kWin32 + "[Other]\nno registry line\n" + kKey32 + "\"AppPath\"=\"x\"\n",
     R::kFound, "x\0"s},
    {"UnknownDataFormElsewhere", kWin32 + "[Other]\n\"x\"=garbage\n" + kKey32 +
                                     "\"AppPath\"=\"x\"\n",
     R::kFound, "x\0"s},
    {"ValueBeforeAnyKey", kWin32 + "\"AppPath\"=\"x\"\n" + kKey32, R::kNoValue},
    {"ValueWithoutEquals", kWin32 + kKey32 + "\"AppPath\" \"x\"\n", R::kNoValue},
    {"KeyStartingWithSeparatorTaken",
     Value32("\"x\"\n[\\\\Software\\\\Quarrelstone\\\\Vellmoor\\\\1.0]\n\"AppPath\"=\"y\""),
     R::kFound, "y\0"s},
    {"UnterminatedKeyDropsItsValues",
     Value32("\"x\"\n[Software\\\\Quarrelstone\\\\Vellmoor\\\\1.0\n\"AppPath\"=\"y\""), R::kFound,
     "x\0"s},
    {"KeyNameOver256UnitsRefused",
     kWin32 + "[T\\\\" + std::string(257, 'a') + "]\n#arch=arm64\n" + kKey32 +
         "\"AppPath\"=\"x\"\n",
     R::kNoKey},
    {"KeyNameOver256UnitsMakesKeysBeforeIt",
     kWin64 + kKeyWow + "\"AppPath\"=\"x\"\n" +
         "[Software\\\\Wow6432Node\\\\Quarrelstone\\\\Vellmoor\\\\1.0\\\\Wow6432Node\\\\" +
         std::string(257, 'a') + "]\n",
     R::kNoValue},
    {"KeyNameOf256UnitsTaken", kWin32 + "[T\\\\" + Repeat("\\x41", 256) + "]\n\"V\"=\"v\"\n",
     R::kFound, "v\0"s, "T\\" + std::string(256, 'A'), "V"},
    // The first key line leaves the names at "Foo"; the second, alike up to
    // the byte behind the escaped separator, goes on to name a key.
    {"KeyLineAlikeUpToByteBehindSeparator", kWin32 + "[T\\\\Foo\\x5c-]\n[T\\\\Foo\\x5cc]\n\"V\"=\"v\"\n", R::kFound,
     "v\0"s, "T\\Foo\xD7\x8C", "V"},
    {"KeyLinesDecidedByEscapes",
     kWin32 + "[\\x5q]\n[\\x53oftware\\\\Quarrelstone\\\\Vellmoor\\\\1.0]\n\"AppPath\"=\"x\"\n",
     R::kFound, "x\0"s},
    // Sections of other keys passed over in one go still end where wineserver ends them.
    {"KeyLineBehindSpacesElsewhere",
     kWin32 + "[Other]\n\"a\"=\"b\"\n \t[Software\\\\Quarrelstone\\\\Vellmoor\\\\1.0]\n\"AppPath\"=\"x\"\n",
     R::kFound, "x\0"s},
    {"UnclosedKeyLineAmongAlike",
     kWin32 + "[Software\\\\Other\\\\a]\n[Software\\\\Other\\\\b\n" + kKey32 + "\"AppPath\"=\"x\"\n",
     R::kFound, "x\0"s},
    {"KeyTextBehindKeyLineAmongAlike",
     kWin32 + "[Software\\\\Other\\\\a]\n[Software\\\\Other\\\\b] " + kKey32 + "\"AppPath\"=\"x\"\n", R::kNoKey},
    {"HexBehindKeyLineAmongAlike",
     kWin32 + "[Software\\\\Other\\\\a]\n[Software\\\\Other\\\\b] \"y\"=hex:01,\\\n\"z\"=hex:02,\\\n" + kKey32 +
         "\"AppPath\"=\"x\"\n",
     R::kNoKey},
    {"EscapedBracketAmongAlike",
     kWin32 + "[Software\\\\Other\\\\a]\n[Software\\\\Other\\\\b\\]\n#arch=arm64\n" + kKey32 +
         "\"AppPath\"=\"x\"\n",
     R::kNoKey},
    {"OverlongNameAmongAlike",
     kWin32 + "[Software\\\\Other\\\\a]\n[Software\\\\Other\\\\" + std::string(257, 'a') +
         "]\n#arch=arm64\n" + kKey32 + "\"AppPath\"=\"x\"\n",
     R::kNoKey},
    // savefix's own bound: a key path of more than 100 components is not looked up.
    {"PathOf100ComponentsLookedUp", kWin32 + "[" + Repeat("a\\\\", 99) + "a]\n\"V\"=\"v\"\n", R::kFound, "v\0"s,
     Repeat("a\\", 99) + "a", "V"},
    {"PathOf101ComponentsNotLookedUp", kWin32 + "[" + Repeat("a\\\\", 100) + "a]\n\"V\"=\"v\"\n", R::kNoKey, "",
     Repeat("a\\", 100) + "a", "V"},
    {"ZeroFirstUnitNamesRoot", kWin32 + "[\\0Software]\n\"V\"=\"r\"\n", R::kFound, "r\0"s, "", "V"},
    {"ZeroByteElsewhere", Value32("\"x\"\n[Other]\n\"y\"=\"a\0b\"") + "\0"s, R::kFound, "x\0"s},
    {"ZeroByteCutsValue", Value32("\"ab\0cd\""s), R::kNotString},
    // By then wineserver's line buffer has grown to 63 bytes: the text
    // behind the first 62 characters of the line is read as the next line.
    {"ZeroByteLineGoesOnBehindBuffer",
     Value32("\"x\"\n[Other]\n\"y\"=\"\0"s + std::string(56, '.') +
             "[Software\\\\Quarrelstone\\\\Vellmoor\\\\1.0] junk\n\"AppPath\"=\"z\""),
     R::kFound, "z\0"s},
    {"ZeroFilledTail", Value32("\"x\"") + std::string(100, '\0'), R::kFound, "x\0"s},
    // A crash left the end zero-filled. The long line in the other key's
    // section, read all the same, grew the line buffer past the line holding
    // a zero byte, so the rest of that line is lost with it.
    {"CrashZeroTailAndZeroLineBehindLongLine",
     kWin64 + "[Other]\n\"long\"=\"" + std::string(300, '.') + "\"\n" + kKeyWow + "\"AppPath\"=\"early\"\n\"y\"=\"\0"s +
         std::string(56, '.') + "[Other3] junk\n\"AppPath\"=\"late\"\n" + std::string(1000, '\0'),
     R::kFound, "late\0"s},
    {"ZeroFilledTailCutsValue", Value32("\"x\"\n\"AppPath\"=\"C:\\\\Ga") + std::string(100, '\0'),
     R::kNotString},
    {"CrlfEverywhere", Crlf(Value32("hex(1):41,00,\\\n  42,00,\\\n  00,00")), R::kFound, "AB\0"s},
    {"HexBytesWithSpaces", Value32("hex(1):5a, 00, 3a ,00,\\\n  5c,00 ,00,00"), R::kFound,
     "Z:\\\0"s},
    {"HexBytesAsStrtoulReadsThem", Value32("hex(1):0x41,00,0042,0,0,0"), R::kFound, "AB\0"s},
    {"HexTypeAsStrtoulReadsIt", Value32("hex(0x1):41,00"), R::kFound, "A"},
    {"HexTypeSignedAndSpaced", Value32("hex( +2):41,00"), R::kFound, "A"},
    {"HexTypeLow32Bits", Value32("hex(100000001):41,00"), R::kFound, "A"},
    {"HexTypeTooLargeSaturates", Value32("hex(10000000000000001):41,00"), R::kNotString},
    {"HexTypeEmptyIsNone", Value32("hex():41,00"), R::kNotString},
    {"HexContinuedBehindBackslashTakesNextLine",
     kWin32 + kKey32 + "\"AppPath\"=\"x\"\n[Other]\n\"y\"=hex:41,\\ text\n" + kKey32 +
         "\"AppPath\"=\"z\"\n",
     R::kFound, "x\0"s},
    {"HexNotContinuedWithoutKey",
     kWin32 + "[Bad\n\"y\"=hex:41,\\\n" + kKey32 + "\"AppPath\"=\"x\"\n", R::kFound, "x\0"s},
    {"FaultAfterTheKey", Value32("\"x\"\n[Other]\n\"y\"=hex:zz"), R::kFound, "x\0"s},
    {"TruncatedInsideString", Value32("\"x\"\n\"Other\"=\"ab"), R::kFound, "x\0"s},
    {"TruncatedAfterHexDigitStillReads", Value32("\"x\"\n\"Other\"=hex:41,4"), R::kFound, "x\0"s},

    // Data wineserver cannot read leaves the value as REG_NONE, without data.
    {"BadDataReplacesValue", Value32("\"x\"\n\"AppPath\"=garbage"), R::kNotString},
    {"UnknownDataForm", Value32("str(3):\"x\""), R::kNotString},
    {"UnterminatedString", Value32("\"x"), R::kNotString},
    {"BackslashEndsString", Value32("\"x\\\""), R::kNotString},
    {"HexByteTooLarge", Value32("hex(1):141,00"), R::kNotString},
    {"HexSpaceBeforeFirstByte", Value32("hex(1): 41,00"), R::kNotString},
    {"HexPrefixWithoutDigits", Value32("hex(1):0x,00"), R::kNotString},
    {"HexContinuationAtEndOfText", Value32("hex(1):41,\\"), R::kNotString},
};

// A file holding `text`, open for reading as a prefix's system.reg is; -1
// if it cannot be made.
int FileHolding(const std::string& text) {
  std::string path = testing::TempDir() + "system.reg.XXXXXX";
  const int made = mkstemp(&path[0]);
  if (made < 0) return -1;
  const bool written = write(made, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(made);
  const int descriptor = written ? OpenRegularFile(path) : -1;
  unlink(path.c_str());
  return descriptor;
}

class WineRegistryTest : public testing::TestWithParam<Case> {};

// The text at hand, then the same text as a file: read with one byte less
// than its size as the limit, which no registry is taken from, and then,
// from its start again, with its size.
TEST_P(WineRegistryTest, Lookup) {
  const Case& c = GetParam();
  const std::string expected_data = c.expected == R::kFound ? c.data : "";
  std::string data = "stale";
  EXPECT_EQ(FindWineRegistryString(c.text.data(), c.text.size(), c.key.c_str(), c.value, &data), c.expected);
  EXPECT_EQ(data, expected_data);

  const int descriptor = FileHolding(c.text);
  ASSERT_GE(descriptor, 0);
  std::string text = "room left from an earlier file";
  if (!c.text.empty()) {
    data = "stale";
    EXPECT_EQ(ReadWineRegistryString(descriptor, c.text.size() - 1, c.key.c_str(), c.value, &text, &data), R::kMalformed);
    EXPECT_EQ(data, "");
  }
  data = "stale";
  EXPECT_EQ(ReadWineRegistryString(descriptor, c.text.size(), c.key.c_str(), c.value, &text, &data), c.expected) << "file";
  EXPECT_EQ(data, expected_data) << "file";
  close(descriptor);
}

INSTANTIATE_TEST_SUITE_P(Cases, WineRegistryTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
