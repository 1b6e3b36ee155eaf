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

// ---- As players run it: no WINEPREFIX, a home holding ~/.wine and Steam
// libraries. Paths are relative to the test's root; "home" is $HOME.

struct HomeCase {
  std::string label;
  std::vector<std::string> links = {};  // "name>target", made before the prefixes
  std::vector<std::pair<std::string, bool>> prefixes;  // each prefix, and whether it holds the game
  std::string vdf = "";              // home/.local/share/Steam's library list, "@" the root
  std::vector<std::string> files = {};  // "path=text", "@" in the text the root
  std::vector<std::string> found;    // each prefix found, in order, as spelt; or each place looked in
  bool nowhere = false;
};

const std::string kSteam = "home/.local/share/Steam/steamapps/compatdata/";
const std::string kFlatpakBottles = "home/.var/app/com.usebottles.bottles/data/bottles/bottles/";

TEST(FindInstalls, FindsEveryPrefixOnceInOrder) {
  const HomeCase cases[] = {
      // ~/.steam/steam is the same Steam root, reached first: its spelling is kept.
      {.label = "PrefixOrderAndDedupe",
       .links = {"home/.steam/steam>../.local/share/Steam"},
       .prefixes = {{"home/.wine", true}, {kSteam + "20/pfx", true}, {kSteam + "3/pfx", true}},
       .vdf = "\"libraryfolders\" { \"0\" { \"path\" \"@home/.local/share/Steam\" } }",
       .found = {"home/.wine", "home/.steam/steam/steamapps/compatdata/3/pfx",
                 "home/.steam/steam/steamapps/compatdata/20/pfx"}},
      {.label = "WineWithoutTheGameBesideSteam",
       .prefixes = {{"home/.wine", false}, {kSteam + "7/pfx", true}},
       .found = {kSteam + "7/pfx"}},
      // Every place looked in is named, those not there too: no ~/.wine, a
      // library on a card not mounted.
      {.label = "GameNowhere",
       .prefixes = {{"lib/steamapps/compatdata/7/pfx", false}},
       .vdf = "\"libraryfolders\" { \"1\" { \"path\" \"@lib\" } \"2\" { \"path\" \"@card\" } }",
       .found = {"home/.wine (not found)", "home/.steam/steam (not found)", "home/.local/share/Steam", "lib",
                 "card (not found)", "home/.var/app/com.valvesoftware.Steam/.local/share/Steam (not found)"},
       .nowhere = true},
      // One prefix per launcher; H is reached twice, by its game file and in its folder;
      // the game files that are not well formed lead to L2.
      {.label = "EveryLauncher",
       .prefixes = {{"home/.wine", false}, {kSteam + "7/pfx", true}, {"L1", true}, {"L2", true}, {"home/Games/G", true},
                    {"home/Games/Heroic/Prefixes/default/H", true}, {"home/.local/share/bottles/bottles/B", false},
                    {kFlatpakBottles + "F", true}, {"home/.PlayOnLinux/wineprefix/P", true}, {"home/.cxoffice/C", false}},
       .files = {"home/.config/lutris/games/a.yml=game:\n  prefix: @L1\n",
                 "home/.config/lutris/games/0.yml=game:\n  prefix: '@L2/",
                 "home/.config/heroic/GamesConfig/0.json={\"winePrefix\": \"@L2",
                 "home/.config/heroic/GamesConfig/H.json={\"winePrefix\": \"@home/Games/Heroic/Prefixes/default/H\"}"},
       .found = {kSteam + "7/pfx", "L1", "home/Games/G", "home/Games/Heroic/Prefixes/default/H", kFlatpakBottles + "F",
                 "home/.PlayOnLinux/wineprefix/P"}},
  };
  for (const HomeCase& c : cases) {
    TempDir root;
    const std::string r = root.path();
    for (const std::string& link : c.links) {
      const std::size_t mark = link.find('>');
      const std::string path = r + link.substr(0, mark);
      ASSERT_TRUE(MakeDirectories(path.substr(0, path.rfind('/'))));
      ASSERT_EQ(symlink(link.substr(mark + 1).c_str(), path.c_str()), 0);
    }
    for (const auto& [prefix, has_game] : c.prefixes) {
      ASSERT_TRUE(LayOutPrefix(r + prefix, SystemReg("C:\\Game\\", has_game ? Registry::kString : Registry::kOtherKey)));
    }
    if (!c.vdf.empty()) {
      ASSERT_TRUE(MakeDirectories(r + "home/.local/share/Steam/steamapps"));
      std::string vdf = c.vdf;
      for (std::size_t at; (at = vdf.find('@')) != std::string::npos;) vdf.replace(at, 1, r);
      WriteFileBytes(r + "home/.local/share/Steam/steamapps/libraryfolders.vdf", vdf);
    }
    for (std::string file : c.files) {
      for (std::size_t at; (at = file.find('@')) != std::string::npos;) file.replace(at, 1, r);
      const std::string path = r + file.substr(0, file.find('='));
      ASSERT_TRUE(MakeDirectories(path.substr(0, path.rfind('/'))));
      WriteFileBytes(path, file.substr(file.find('=') + 1));
    }
    std::vector<std::string> found;
    for (const std::unique_ptr<Install>& install : ThisMachine({{}, r + "home", {}})->FindInstalls(kTestGame)) {
      const Found how = install->HowFound();
      EXPECT_EQ(how.how, c.nowhere ? Found::How::kNowhere : Found::How::kPrefix) << c.label;
      if (!c.nowhere) found.push_back(how.prefix.substr(r.size()));
      for (const Place& place : how.places) found.push_back(place.path.substr(r.size()) + (place.exists ? "" : " (not found)"));
    }
    std::vector<std::string> nowhere = c.found;  // and then every launcher's place, none there
    for (const std::string& place : kLauncherPlaces) nowhere.push_back("home/" + place + " (not found)");
    EXPECT_EQ(found, c.nowhere ? nowhere : c.found) << c.label;
  }
}

// Started in a folder since removed, with $PWD still naming it, a relative
// install path is taken from Wine's "unix\" folder, as savefix.exe started
// by the wine script takes it, not from C:\windows\.
TEST(FindInstalls, StartedInARemovedFolderAsTheWineScriptStartsIt) {
  TempDir root;
  const std::string prefix = root.path() + "pfx", gone = root.path() + "gone", from = CurrentDirectory();
  ASSERT_TRUE(LayOutPrefix(prefix, SystemReg("Game\\")));
  ASSERT_EQ(symlink("../drive_c", (prefix + "/dosdevices/c:").c_str()), 0);
  ASSERT_TRUE(MakeDirectories(prefix + "/drive_c/windows/Game/SaveGames"));
  WriteFileBytes(prefix + "/drive_c/windows/Game/SaveGames/A.HDR", "save");
  ASSERT_TRUE(MakeDirectories(gone));
  ASSERT_EQ(chdir(gone.c_str()), 0);
  ASSERT_EQ(rmdir(gone.c_str()), 0);
  std::unique_ptr<Install> install = std::move(ThisMachine({prefix, {}, gone})->FindInstalls(kTestGame).front());
  char path[kPathBufferSize];
  std::vector<std::string> names;
  ASSERT_EQ(install->ReadSaveDirectory(path), SaveDirectory::kRead);
  EXPECT_EQ(install->ListSaves((std::string(path) + "*.HDR").c_str(), &names), Listed::kNothing);
  ASSERT_EQ(chdir(from.c_str()), 0);
}

// A folder named on the command line is its save folder as written, made
// absolute and clean; one too long for the path buffer is said to be so.
TEST(NamedInstall, SpellsTheFolderCleanOrSaysItIsTooLong) {
  TempDir root;
  std::string deep = root.path() + "d";
  while (deep.size() < 520) deep += "/" + std::string(100, 'p');
  ASSERT_TRUE(MakeDirectories(deep) && MakeDirectories(root.path() + "Saves"));
  const std::pair<std::string, std::string> cases[] = {
      {"./Saves", root.path() + "Saves/"}, {"Saves/.//", root.path() + "Saves/"}, {deep, ""}};
  const std::string from = CurrentDirectory();
  ASSERT_EQ(chdir(root.path().c_str()), 0);
  for (const auto& [name, folder] : cases) {
    const std::unique_ptr<Install> install = ThisMachine({{}, {}, root.path()})->NamedInstall(kTestGame, name.c_str());
    ASSERT_TRUE(install) << name;
    char path[kPathBufferSize];
    EXPECT_EQ(install->ReadSaveDirectory(path), folder.empty() ? SaveDirectory::kTooLong : SaveDirectory::kRead);
    EXPECT_EQ(folder.empty() ? folder : std::string(path), folder) << name;
  }
  ASSERT_EQ(chdir(from.c_str()), 0);
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
