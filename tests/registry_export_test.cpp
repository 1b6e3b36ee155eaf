#include "platform/registry_export_posix.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

// Lets a failed comparison show the result by name.
static void PrintTo(ExportLookup result, std::ostream* out) {
  static const char* const kNames[] = {"kFound",   "kMalformed", "kNoKey",
                                       "kNoValue", "kNotString", "kTooLong"};
  *out << kNames[static_cast<int>(result)];
}

namespace {

using namespace std::string_literals;

const char* const kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarrelstone\\Vellmoor\\1.0";

const std::string kV5 = "Windows Registry Editor Version 5.00\n\n";
const std::string kSection = R"([HKEY_LOCAL_MACHINE\SOFTWARE\Quarrelstone\Vellmoor\1.0])"
                             "\n";
const std::string kAppPath = R"("AppPath"="C:\\Games\\Vellmoor")"
                             "\n";
const char* const kGamePath = "C:\\Games\\Vellmoor";

// Long binary value the way regedit wraps it, a backslash ending each line.
const std::string kWrappedHex =
    "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\n"
    "  15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,\\\n"
    "  2e,2f\n";

std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

struct Case {
  const char* name;
  std::string text;
  const char* key;
  const char* value;
  std::size_t capacity;
  ExportLookup expected;
  const char* expected_data;  // only for kFound
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

Case Found(const char* name, std::string text, const char* data, const char* value = "AppPath",
           std::size_t capacity = 64) {
  return Case{name, std::move(text), kKey, value, capacity, ExportLookup::kFound, data};
}

Case Result(const char* name, std::string text, ExportLookup expected, std::size_t capacity = 64) {
  return Case{name, std::move(text), kKey, "AppPath", capacity, expected, nullptr};
}

Case Malformed(const char* name, std::string text) {
  return Result(name, std::move(text), ExportLookup::kMalformed);
}

const Case kCases[] = {
    // Headers, byte-order mark, line ends, comments.
    Found("Version5Header", kV5 + kSection + kAppPath, kGamePath),
    Found("Regedit4Header", "REGEDIT4\n\n" + kSection + kAppPath, kGamePath),
    Found("HeaderWithTrailingBlanks", "REGEDIT4 \t\r\n" + kSection + kAppPath, kGamePath),
    Found("ByteOrderMark", "\xEF\xBB\xBF" + kV5 + kSection + kAppPath, kGamePath),
    Found("CrlfLineEnds", Crlf(kV5 + kSection + kWrappedHex + kAppPath), kGamePath),
    Found("NoNewlineAtEnd", kV5 + kSection + R"("AppPath"="C:\\Games\\Vellmoor")", kGamePath),
    Found("CommentsAndBlankLines",
          kV5 + "; exported by hand\n\n" + kSection + "   ; indented comment\n\t\n" + kAppPath +
              ";[not a key\n",
          kGamePath),
    Found("TrailingBlanksAfterString", kV5 + kSection + R"("AppPath"="x y"  )" "\t\n", "x y"),

    // Matching of key paths and value names.
    Found("KeyMatchesAnyCase",
          kV5 + R"([hkey_local_machine\Software\QUARRELSTONE\vellmoor\1.0])" "\n" + kAppPath,
          kGamePath),
    Found("ValueNameMatchesAnyCase", kV5 + kSection + R"("APPPATH"="x")" "\n", "x"),
    Found("DefaultValue", kV5 + kSection + kAppPath + R"(@="default")" "\n", "default", ""),
    Found("EscapedQuoteInName", kV5 + kSection + R"("App\"Path"="q")" "\n", "q", "App\"Path"),
    Found("EscapedBackslashInName", kV5 + kSection + R"("App\\Path"="b")" "\n", "b",
          "App\\Path"),
    Result("ParentKeyOnly", kV5 + R"([HKEY_LOCAL_MACHINE\SOFTWARE\Quarrelstone\Vellmoor])" "\n" +
                                kAppPath,
           ExportLookup::kNoKey),
    Result("LongerKeyOnly",
           kV5 + R"([HKEY_LOCAL_MACHINE\SOFTWARE\Quarrelstone\Vellmoor\1.01])" "\n" + kAppPath,
           ExportLookup::kNoKey),
    Result("ValueOnlyInSubkey",
           kV5 + kSection + R"([HKEY_LOCAL_MACHINE\SOFTWARE\Quarrelstone\Vellmoor\1.0\Sub])"
                            "\n" + kAppPath,
           ExportLookup::kNoValue),
    Result("OtherValueOnly", kV5 + kSection + R"("AppPathX"="x")" "\n" R"("App"="x")" "\n",
           ExportLookup::kNoValue),
    Result("EmptyExport", kV5, ExportLookup::kNoKey),

    // Data bytes.
    Found("Escapes", kV5 + kSection + R"("AppPath"="a \"q\" b\\")" "\n", "a \"q\" b\\"),
    Found("EmptyString", kV5 + kSection + R"("AppPath"="")" "\n", ""),
    Found("Utf8PassesThrough", kV5 + kSection + "\"AppPath\"=\"C:\\\\Spi\xC3\xA4le\"\n",
          "C:\\Spi\xC3\xA4le"),
    Found("EqualsSignAndSemicolonInData", kV5 + kSection + R"("AppPath"="a=b;c[d]")" "\n",
          "a=b;c[d]"),

    // Sections naming the same key merge; a later value replaces an earlier one.
    Found("SecondSectionOfSameKey",
          kV5 + kSection + R"("Other"="o")" "\n\n"
                R"([HKEY_LOCAL_MACHINE\SOFTWARE\Other])" "\n" R"("AppPath"="wrong")" "\n\n" +
              kSection + kAppPath,
          kGamePath),
    Found("LaterValueReplaces", kV5 + kSection + kAppPath + kSection + R"("AppPath"="new")" "\n",
          "new"),
    Found("StringReplacesTyped", kV5 + kSection + R"("AppPath"=dword:00000001)" "\n" + kAppPath,
          kGamePath),
    Result("TypedReplacesString", kV5 + kSection + kAppPath + R"("AppPath"=hex:01)" "\n",
           ExportLookup::kNotString),

    // Deleted keys and values.
    Result("DeletedKey",
           kV5 + kSection + kAppPath +
               R"([-HKEY_LOCAL_MACHINE\SOFTWARE\Quarrelstone\Vellmoor\1.0])" "\n",
           ExportLookup::kNoKey),
    Result("DeletedParentKey",
           kV5 + kSection + kAppPath + R"([-hkey_local_machine\software\quarrelstone])" "\n",
           ExportLookup::kNoKey),
    Found("DeletedKeyThatIsOnlyANamePrefix",
          kV5 + kSection + kAppPath + R"([-HKEY_LOCAL_MACHINE\SOFTWARE\Quarrel])" "\n",
          kGamePath),
    Found("DeletedSubkey",
          kV5 + kSection + kAppPath +
              R"([-HKEY_LOCAL_MACHINE\SOFTWARE\Quarrelstone\Vellmoor\1.0\Sub])" "\n",
          kGamePath),
    Result("DeletedKeyRecreatedWithoutValue",
           kV5 + kSection + kAppPath +
               R"([-HKEY_LOCAL_MACHINE\SOFTWARE\Quarrelstone\Vellmoor\1.0])" "\n" + kSection +
               R"("Other"="o")" "\n",
           ExportLookup::kNoValue),
    Found("DeletedKeyRecreatedWithValue",
          kV5 + kSection + kAppPath +
              R"([-HKEY_LOCAL_MACHINE\SOFTWARE\Quarrelstone\Vellmoor\1.0])" "\n" + kSection +
              R"("AppPath"="again")" "\n",
          "again"),
    Result("ValuesAfterDeletedKeyLineBelongToNoKey",
           kV5 + R"([-HKEY_LOCAL_MACHINE\SOFTWARE\Quarrelstone\Vellmoor\1.0])" "\n" + kAppPath,
           ExportLookup::kNoKey),
    Result("DeletedValue", kV5 + kSection + kAppPath + R"("apppath"=-)" "\n",
           ExportLookup::kNoValue),
    Found("DeletedValueSetAgain",
          kV5 + kSection + kAppPath + R"("AppPath"=-)" "\n" R"("AppPath"="back")" "\n", "back"),

    // Typed values.
    Result("Dword", kV5 + kSection + R"("AppPath"=dword:0000ffFF)" "\n", ExportLookup::kNotString),
    Result("ShortDword", kV5 + kSection + R"("AppPath"=dword:1)" "\n", ExportLookup::kNotString),
    Result("Hex", kV5 + kSection + R"("AppPath"=hex:43,3a,5C,00)" "\n", ExportLookup::kNotString),
    Result("EmptyHex", kV5 + kSection + R"("AppPath"=hex:)" "\n", ExportLookup::kNotString),
    Found("ExpandStringWrappedUsedAsRead",
          kV5 + kSection + "\"AppPath\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,\\\r\n"
                           "  00,00\r\n",
          "%PATH%"),
    Result("HexWrappedRightAfterType",
           kV5 + kSection + "\"AppPath\"=hex(7):\\\n  41,00,00,00\n", ExportLookup::kNotString),
    Found("WrappedHexBeforeWantedValue", kV5 + kSection + kWrappedHex + kAppPath, kGamePath),
    Found("DefaultDwordDoesNotHideNamedString",
          kV5 + kSection + "@=dword:00000002\n" + kAppPath, kGamePath),

    // Malformed text, wherever the fault is.
    Malformed("EmptyText", ""),
    Malformed("OnlyByteOrderMark", "\xEF\xBB\xBF"),
    Malformed("WrongVersion", "Windows Registry Editor Version 4.00\n" + kSection + kAppPath),
    Malformed("HeaderInOtherCase", "regedit4\n" + kSection + kAppPath),
    Malformed("HeaderWithLeadingBlank", " REGEDIT4\n" + kSection + kAppPath),
    Malformed("BlankLineBeforeHeader", "\nREGEDIT4\n" + kSection + kAppPath),
    Malformed("NoHeader", kSection + kAppPath),
    Malformed("Utf16Text", "\xFF\xFEW\0i\0n\0d\0o\0w\0s\0"s),
    Malformed("KeyWithoutClosingBracket",
              kV5 + R"([HKEY_LOCAL_MACHINE\SOFTWARE\Quarrelstone\Vellmoor\1.0)" "\n" + kAppPath),
    Malformed("LoneBracketAtEnd", kV5 + kSection + kAppPath + "["),
    Malformed("EmptyKeyName", kV5 + "[]\n"),
    Malformed("EmptyDeletedKeyName", kV5 + "[-]\n"),
    Malformed("UnknownEscape", kV5 + kSection + R"("AppPath"="C:\Games")" "\n"),
    Malformed("UnknownEscapeInName", kV5 + kSection + R"("App\Path"="x")" "\n"),
    Malformed("UnterminatedString", kV5 + kSection + R"("AppPath"="C:\\Games)" "\n"),
    Malformed("EscapedClosingQuote", kV5 + kSection + R"("AppPath"="C:\")" "\n"),
    Malformed("UnterminatedStringAtEndOfText", kV5 + kSection + R"("AppPath"="abc)"),
    Malformed("UnterminatedName", kV5 + kSection + R"("AppPath=)" "\n"),
    Malformed("TextAfterString", kV5 + kSection + R"("AppPath"="x" y)" "\n"),
    Malformed("QuoteInsideString", kV5 + kSection + R"("AppPath"="a"b")" "\n"),
    Malformed("CommentAfterString", kV5 + kSection + R"("AppPath"="x" ;c)" "\n"),
    Malformed("MissingEquals", kV5 + kSection + R"("AppPath""x")" "\n"),
    Malformed("MissingData", kV5 + kSection + R"("AppPath"=)" "\n"),
    Malformed("BlanksAroundEquals", kV5 + kSection + R"("AppPath" = "x")" "\n"),
    Malformed("ValueBeforeKey", kV5 + kAppPath + kSection + kAppPath),
    Malformed("GarbageLine", kV5 + kSection + "AppPath=C:\\Games\n"),
    Malformed("StrayContinuationLine", kV5 + kSection + "  00,01\n" + kAppPath),
    Malformed("FaultAfterWantedValue", kV5 + kSection + kAppPath + "\n[Broken\n"),
    Malformed("FaultInLaterSection",
              kV5 + kSection + kAppPath + R"([HKEY_LOCAL_MACHINE\SOFTWARE\X])" "\n" "oops\n"),
    Malformed("DwordTooLong", kV5 + kSection + R"("AppPath"=dword:000000001)" "\n"),
    Malformed("DwordEmpty", kV5 + kSection + R"("AppPath"=dword:)" "\n"),
    Malformed("DwordNotHex", kV5 + kSection + R"("AppPath"=dword:0000000g)" "\n"),
    Malformed("UnknownType", kV5 + kSection + R"("AppPath"=qword:00)" "\n"),
    Malformed("HexByteOneDigit", kV5 + kSection + R"("AppPath"=hex:0,01)" "\n"),
    Malformed("HexByteThreeDigits", kV5 + kSection + R"("AppPath"=hex:001)" "\n"),
    Malformed("HexTrailingComma", kV5 + kSection + R"("AppPath"=hex:00,)" "\n"),
    Malformed("HexNotHex", kV5 + kSection + R"("AppPath"=hex:zz)" "\n"),
    Malformed("HexTypeEmpty", kV5 + kSection + R"("AppPath"=hex():00)" "\n"),
    Malformed("HexTypeUnclosed", kV5 + kSection + R"("AppPath"=hex(2:00)" "\n"),
    Malformed("ContinuationAtEndOfText", kV5 + kSection + "\"AppPath\"=hex:00,\\"),
    Malformed("ContinuationOntoBlankLine", kV5 + kSection + "\"Blob\"=hex:00,\\\n\n" + kAppPath),
    Malformed("ContinuationOntoKeyLine", kV5 + kSection + "\"Blob\"=hex:00,\\\n" + kSection),
    Malformed("ContinuationAfterString", kV5 + kSection + "\"AppPath\"=\"x\"\\\n  00\n"),
    Malformed("ZeroByteInString", kV5 + kSection + "\"AppPath\"=\"C:\\\\Ga\0mes\"\n"s),
    Malformed("ZeroByteInComment", kV5 + "; a\0b\n"s + kSection + kAppPath),

    // Capacity, counted in decoded bytes plus the terminator.
    Found("FillsCapacityExactly", kV5 + kSection + R"("AppPath"="abcdefg")" "\n", "abcdefg",
          "AppPath", 8),
    Result("OneByteTooLong", kV5 + kSection + R"("AppPath"="abcdefgh")" "\n",
           ExportLookup::kTooLong, 8),
    Result("EscapedStringOneByteTooLong", kV5 + kSection + R"("AppPath"="a\\b\\c\\d\"")" "\n",
           ExportLookup::kTooLong, 8),
    Found("EscapesCountOnce", kV5 + kSection + R"("AppPath"="a\\b\\c\\d")" "\n", "a\\b\\c\\d",
          "AppPath", 8),
    Found("EmptyStringInOneByte", kV5 + kSection + R"("AppPath"="")" "\n", "", "AppPath", 1),
    Result("EmptyStringInNoRoom", kV5 + kSection + R"("AppPath"="")" "\n", ExportLookup::kTooLong,
           0),
};

class FindExportedStringTest : public testing::TestWithParam<Case> {};

TEST_P(FindExportedStringTest, FindsOrRejects) {
  const Case& c = GetParam();
  // An exactly sized heap copy lets the address sanitizer catch a read past
  // the end; the text has no terminator to stop at.
  std::unique_ptr<char[]> text(new char[c.text.size()]);
  std::memcpy(text.get(), c.text.data(), c.text.size());
  constexpr char kUntouched = '#';
  std::vector<char> data(c.capacity + 16, kUntouched);
  std::size_t data_size = 12345;

  ExportLookup result = FindExportedString(text.get(), c.text.size(), c.key, c.value,
                                           data.data(), c.capacity, &data_size);

  ASSERT_EQ(result, c.expected);
  std::size_t written = 0;
  if (c.expected == ExportLookup::kFound) {
    written = std::strlen(c.expected_data) + 1;
    ASSERT_EQ(data_size, written);
    EXPECT_EQ(std::string(data.data(), written), std::string(c.expected_data, written));
  } else {
    EXPECT_EQ(data_size, 0u);
  }
  for (std::size_t i = written; i < data.size(); ++i) {
    ASSERT_EQ(data[i], kUntouched) << "byte " << i << " written";
  }
}

INSTANTIATE_TEST_SUITE_P(Exports, FindExportedStringTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
