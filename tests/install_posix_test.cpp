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

constexpr Game kTestGame = {"SOFTWARE\\Quarrelstone\\Vellmoor\\1.0", "AppPath", "SaveGames\\", "*.HDR"};

struct FoundCase {
  const char* label;
  std::string prefix;  // WINEPREFIX, below the test's root; laid out with `registry`
  std::string laid_out = "";  // where the prefix is laid out, if not at `prefix`
  Registry registry = Registry::kString;
  Found::How how;
  std::string proton = "";  // below the test's root
};

TEST(FindInstalls, SaysHowThePrefixWineprefixNamesHoldsTheGame) {
  const FoundCase cases[] = {
      {.label = "Prefix", .prefix = "pfx", .how = Found::How::kPrefix},
      {.label = "KeyWithoutPath", .prefix = "pfx", .registry = Registry::kKeyNoValue,
       .how = Found::How::kNoInstallPath},
      {.label = "ProtonFolderWithoutPfx", .prefix = "compatdata/7", .laid_out = "compatdata/7/pfx",
       .how = Found::How::kNotAPrefix, .proton = "compatdata/7/pfx"},
  };
  for (const FoundCase& c : cases) {
    TempDir root;
    const std::string where = root.path() + (c.laid_out.empty() ? c.prefix : c.laid_out);
    ASSERT_TRUE(LayOutPrefix(where, SystemReg("C:\\Game\\", c.registry))) << c.label;
    const std::vector<std::unique_ptr<Install>> installs =
        ThisMachine({root.path() + c.prefix, {}, {}})->FindInstalls(kTestGame);
    ASSERT_EQ(installs.size(), 1u) << c.label;
    const Found found = installs[0]->HowFound();
    EXPECT_EQ(found.how, c.how) << c.label;
    EXPECT_EQ(found.prefix, root.path() + c.prefix) << c.label;
    EXPECT_EQ(found.proton_prefix, c.proton.empty() ? "" : root.path() + c.proton) << c.label;
  }
}

struct FolderCase {
  std::string app_path;
  std::string expected;  // the folder; "@" stands for the prefix, "|" starts the part not there
  bool from_drive_c = false;  // started in the prefix's drive_c, not on Z:
};

// The save folder where it is on this machine, the part that is not there
// apart, with no doubled separator and no part of a drive's link.
TEST(DescribeFolder, NamesTheFolderOnThisMachine) {
  const FolderCase cases[] = {
      {"C:\\Game\\", "@/drive_c/Game/SaveGames"},
      {"c:\\game\\", "@/drive_c/Game/SaveGames"},
      {"C:\\Games\\Missing\\", "@/drive_c|/Games/Missing/SaveGames"},
      {"Q:\\Game\\", "@/dosdevices/q:|/Game/SaveGames"},
      // A link relative to dosdevices/ that does not leave it.
      {"E:\\Game\\", "@/dosdevices/elsewhere|/Game/SaveGames"},
      {"\\Games\\Missing\\", "@/drive_c|/Games/Missing/SaveGames", true},
      // Not a Unix path, as no such folder exists: rooted on the current drive.
      {"/nosuch/game/", "@/drive_c|/nosuch/game/SaveGames", true},
  };
  TempDir root;
  const std::string prefix = root.path() + "pfx";
  ASSERT_TRUE(LayOutPrefix(prefix, SystemReg("C:\\Game\\")));
  ASSERT_EQ(symlink("../drive_c", (prefix + "/dosdevices/c:").c_str()), 0);
  ASSERT_EQ(symlink("elsewhere", (prefix + "/dosdevices/e:").c_str()), 0);
  ASSERT_TRUE(MakeDirectories(prefix + "/dosdevices/elsewhere"));
  ASSERT_TRUE(MakeDirectories(prefix + "/drive_c/Game/SaveGames"));
  const std::string from = CurrentDirectory();
  std::vector<std::unique_ptr<Install>> installs[2];
  for (int on_c = 0; on_c < 2; ++on_c) {
    const std::string start = on_c ? prefix + "/drive_c" : from;
    ASSERT_EQ(chdir(start.c_str()), 0);
    installs[on_c] = ThisMachine({prefix, {}, start})->FindInstalls(kTestGame);
    ASSERT_EQ(installs[on_c].size(), 1u);
  }
  ASSERT_EQ(chdir(from.c_str()), 0);
  for (const FolderCase& c : cases) {
    std::string expected = c.expected;
    expected.replace(expected.find('@'), 1, prefix);
    const std::optional<MachineFolder> folder =
        installs[c.from_drive_c].front()->FolderOnMachine((c.app_path + "SaveGames\\").c_str());
    ASSERT_TRUE(folder) << c.app_path;
    EXPECT_EQ(folder->existing + (folder->missing.empty() ? "" : "|" + folder->missing), expected) << c.app_path;
  }
}

}  // namespace
