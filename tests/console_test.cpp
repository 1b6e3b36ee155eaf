// Console messages, printed whole whatever their length.
#include "platform/console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

TEST(PrintMessage, PrintsTheWholeMessageWhateverItsLength) {
  struct Case {
    const char* format;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"Press any key to close...", ""},
      {"Processing file %s\n", "C:\\Games\\SaveGames\\A.HDR"},
      {"Processing file %s\n", std::string(499, 'p')},
      // Longer than any message the program forms.
      {"File name too long %s... Skipping file\n", std::string(3000, 'n')},
  };
  for (const Case& c : cases) {
    StdoutCapture capture;
    PrintMessage(c.format, c.text.c_str());
    std::string expected = c.format;
    std::size_t at = expected.find("%s");
    if (at != std::string::npos) expected.replace(at, 2, c.text);
    EXPECT_EQ(capture.Finish(), expected);
  }
}

}  // namespace
