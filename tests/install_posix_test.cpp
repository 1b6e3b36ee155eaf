// How the native build names the prefixes it finds: each label as the
// player reads it, before anything else is printed about the prefix.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/install.h"
#include "tests/test_support.h"

namespace {

std::string CurrentDirectory() {
  char here[4096];
  return getcwd(here, sizeof here) != nullptr ? here : "/";
}

struct LabelCase {
  const char* label;
  std::string prefix;  // WINEPREFIX, below the test's root; laid out with `registry`
  std::string laid_out = "";  // where the prefix is laid out, if not at `prefix`
  Registry registry = Registry::kString;
  std::string expected;  // "@" stands for the test's root
};

TEST(FindInstalls, NamesTheChosenPrefixAsThePlayerNeedsIt) {
  const LabelCase cases[] = {
      {.label = "Prefix", .prefix = "pfx", .expected = "Wine prefix: @pfx\n"},
      {.label = "KeyWithoutPath", .prefix = "pfx", .registry = Registry::kKeyNoValue,
       .expected = "No game install path in: @pfx\n"},
      {.label = "ProtonFolderWithoutPfx", .prefix = "compatdata/7", .laid_out = "compatdata/7/pfx",
       .expected = "Not a Wine prefix: @compatdata/7\nIts Wine prefix is @compatdata/7/pfx: add /pfx to WINEPREFIX\n"},
      {.label = "ControlCharacterInName", .prefix = "a\nb\x1b", .expected = "Wine prefix: @a?b?\n"},
  };
  for (const LabelCase& c : cases) {
    TempDir root;
    const std::string where = root.path() + (c.laid_out.empty() ? c.prefix : c.laid_out);
    ASSERT_TRUE(LayOutPrefix(where, SystemReg("C:\\Game\\", c.registry))) << c.label;
    setenv("WINEPREFIX", (root.path() + c.prefix).c_str(), 1);
    const std::vector<std::unique_ptr<Install>> installs = FindInstalls("SOFTWARE\\Quarrelstone\\Vellmoor\\1.0", "AppPath");
    ASSERT_EQ(installs.size(), 1u) << c.label;
    std::string expected = c.expected;
    for (std::size_t at; (at = expected.find('@')) != std::string::npos;) expected.replace(at, 1, root.path());
    EXPECT_EQ(installs[0]->Label(), expected) << c.label;
  }
}

struct FolderCase {
  std::string app_path;
  std::string expected;  // the folder line; "@" stands for the prefix
  bool from_drive_c = false;  // started in the prefix's drive_c, not on Z:
};

// The folder line names the save folder where it is on this machine, the
// part that is not there marked, with no doubled separator, no part of a
// drive's link and no control character.
TEST(DescribeFolder, NamesTheFolderOnThisMachine) {
  const FolderCase cases[] = {
      {"C:\\Game\\", "@/drive_c/Game/SaveGames"},
      {"c:\\game\\", "@/drive_c/Game/SaveGames"},
      {"C:\\Games\\Missing\\", "@/drive_c/Games/Missing/SaveGames (not found)"},
      {"C:\\Game\\Mis\nsing\\", "@/drive_c/Game/Mis?sing/SaveGames (not found)"},
      {"Q:\\Game\\", "@/dosdevices/q:/Game/SaveGames (not found)"},
      // A link relative to dosdevices/ that does not leave it.
      {"E:\\Game\\", "@/dosdevices/elsewhere/Game/SaveGames (not found)"},
      {"\\Games\\Missing\\", "@/drive_c/Games/Missing/SaveGames (not found)", true},
      // Not a Unix path, as no such folder exists: rooted on the current drive.
      {"/nosuch/game/", "@/drive_c/nosuch/game/SaveGames (not found)", true},
  };
  TempDir root;
  const std::string prefix = root.path() + "pfx";
  ASSERT_TRUE(LayOutPrefix(prefix, SystemReg("C:\\Game\\")));
  ASSERT_EQ(symlink("../drive_c", (prefix + "/dosdevices/c:").c_str()), 0);
  ASSERT_EQ(symlink("elsewhere", (prefix + "/dosdevices/e:").c_str()), 0);
  ASSERT_TRUE(MakeDirectories(prefix + "/dosdevices/elsewhere"));
  ASSERT_TRUE(MakeDirectories(prefix + "/drive_c/Game/SaveGames"));
  setenv("WINEPREFIX", prefix.c_str(), 1);
  const std::string from = CurrentDirectory();
  std::vector<std::unique_ptr<Install>> installs[2];
  for (int on_c = 0; on_c < 2; ++on_c) {
    const std::string start = on_c ? prefix + "/drive_c" : from;
    ASSERT_EQ(chdir(start.c_str()), 0);
    setenv("PWD", start.c_str(), 1);
    installs[on_c] = FindInstalls("SOFTWARE\\Quarrelstone\\Vellmoor\\1.0", "AppPath");
    ASSERT_EQ(installs[on_c].size(), 1u);
  }
  ASSERT_EQ(chdir(from.c_str()), 0);
  setenv("PWD", from.c_str(), 1);
  for (const FolderCase& c : cases) {
    std::string expected = "Folder on this machine: " + c.expected + "\n";
    expected.replace(expected.find('@'), 1, prefix);
    Install& install = *installs[c.from_drive_c].front();
    EXPECT_EQ(install.DescribeFolder((c.app_path + "SaveGames\\").c_str()), expected) << c.app_path;
  }
}

}  // namespace
