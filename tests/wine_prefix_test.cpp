// Finding Wine prefixes and resolving Windows paths and searches inside one,
// on trees built in a temporary directory.
#include "wine/directory.h"
#include "wine/prefixes.h"
#include "wine/steam_library_list.h"
#include "wine/windows_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

// Builds `entries` under `root`: "a/b/" a directory, "a>target" a symbolic
// link, "a=text" a file; "@" in link targets and texts stands for `root`.
void Build(const std::string& root, const std::vector<std::string>& entries) {
  auto rooted = [&root](std::string text) {
    for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, root);
    return text;
  };
  for (const std::string& entry : entries) {
    const std::size_t mark = entry.find_first_of(">=");
    const std::string path = root + entry.substr(0, mark);
    for (std::size_t slash = path.find('/', root.size()); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      mkdir(path.substr(0, slash).c_str(), 0755);
    }
    if (mark == std::string::npos) continue;
    if (entry[mark] == '=') WriteFileBytes(path, rooted(entry.substr(mark + 1)));
    if (entry[mark] == '>') {
      ASSERT_EQ(0, symlink(rooted(entry.substr(mark + 1)).c_str(), path.c_str())) << path;
    }
  }
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : " ") + name;
  return text;
}

const char* const kLib1 = "li\"b\\1";  // a library whose name needs escapes in the vdf

class WinePrefixTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string ids = std::string(kLib1) + "/steamapps/compatdata/";
    const std::string steam = "home/.local/share/Steam";
    const std::string flatpak = "home/.var/app/com.valvesoftware.Steam/.local/share/Steam";
    const std::string saves = "pfx/drive_c/Games/Vellmoor/SaveGames/";
    const std::string lutris = "home/.config/lutris/games/", heroic = "home/.config/heroic/GamesConfig/";
    Build(root_.path(), {
        // $HOME: .wine, two spellings of one Steam root, the Flatpak root, two more libraries.
        "home/.wine/", steam + "/steamapps/compatdata/5/pfx/", "home/.steam/steam>@" + steam,
        steam + "/steamapps/libraryfolders.vdf=\"libraryfolders\" { \"0\" { \"path\" \"@" + steam +
            "\" }\n \"1\" { \"path\" \"@li\\\"b\\\\1\" \"apps\" { \"10\" \"5\" } }\n"
            " \"2\" { \"path\" \"@liblink\" } \"3\" { \"path\" \"relative\" } }\n",
        "liblink>@" + std::string(kLib1), ids + "10/pfx/", ids + "9/pfx/", ids + "010/pfx/", ids + "2147483649/pfx/",
        ids + "abc/pfx/", ids + "11/", ids + "7/pfx>@home/.wine",
        flatpak + "/steamapps/libraryfolders.vdf=\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\"1\"\n"
            "\t\"ContentStatsID\"\t\"-2\"\n\t\"1\"\t\"@lib2\"\n}\n",
        "lib2/steamapps/compatdata/1/pfx/",
        // Where the vdf's relative "path" would lead from the working directory: never taken.
        "relative/steamapps/compatdata/4/pfx/",
        // One place per launcher; lut/no is where game files that are passed over would lead.
        "lut/1/", "lut/2 x/", "lut/3/", "lut/no/", "lut/no # c/", "home/Games/g/", "home/Games/file=",
        lutris + "a.yml=game:\n  exe: x\n  prefix: '@lut/1'\nsystem:\n  prefix: @lut/no\n",
        lutris + "b.yml=game:\n  prefix: lut/no\n  prefix: '@lut/no/\n  prefix:@lut/no\n# c\n   prefix: @lut/no\n"
            "  prefix: \"@lut/2 x\"\n  prefix: @lut/no # c\nwine:\n  prefix: @lut/no\ngame:\n  prefix: @lut/no\n    x\n",
        lutris + "c.yml.bak=game:\n  prefix: @lut/no\n", "home/.cxoffice/c/",
        "home/.local/share/lutris/games/big.yml=game:\n  prefix: @lut/no\n#" + std::string(300000, 'x'),
        "home/.local/share/lutris/games/d.yml=game:\n  prefix: @home/.PlayOnLinux/wineprefix/p\n",
        heroic + "h.json={\"H\": {\"winePrefix\": \"@home/Games\\/Heroic/Prefixes/default/H\"}}",
        heroic + "x.json={\"winePrefix\": \"@lut/n\\o\", \"a\": [\"winePrefix\", \"@lut/no\"], \"winePrefix\":"
            " {\"winePrefix\": \"lut/no\"}, \"c\": \"\\\"winePrefix\\\": \\\"@lut/no\", \"winePrefix\" : \"@lut/3\"}",
        heroic + "y.json={\"winePrefix\": \"@lut/no", heroic + "z.log={\"winePrefix\": \"@lut/no\"}",
        "home/Games/Heroic/Prefixes/default/H/", "home/.local/share/bottles/bottles/b/", "home/.PlayOnLinux/wineprefix/p/",
        "home/" + kLauncherPlaces[6] + "/fb/", "home/" + kLauncherPlaces[6] + "/link>@home/" + kLauncherPlaces[5] + "/b",
        // A prefix: drives c: and z:, links that are no drives, names in several cases.
        "pfx/dosdevices/c:>../drive_c", "pfx/dosdevices/z:>@zroot", "pfx/dosdevices/E:>../drive_c",
        "pfx/dosdevices/d::>../drive_c", "zroot/file=z", "pfx/secret/f=s", "pfx/drive_c/Data/x=1",
        "pfx/drive_c/DATA/x=2", "pfx/drive_c/Sauvé/", saves + "Save1.HDR=", saves + "save1.bak=",
        saves + "Save_1.HDR=", saves + "SaveA.HDR=", saves + "savea2.HDR=", saves + "[x].HDR=",
        saves + "Zeta.HDR=", saves + "Save1.HDR1=", saves + "D.HDR/", saves + "abab=",
        saves + "ababab=", saves + "x?=", "pfx/drive_c/windows/", "zroot/dot./", "zroot/link>@pfx/drive_c/Games",
        "zroot/sub/clink>@pfx/drive_c",
        "nodrive/Here/x=", "pfx/drive_c/Vellmoor Game/x=", "pfx/drive_c/ÉCOLE/x=",
        // Under C: as Wine roots a Unix path that does not exist on the working directory's drive.
        "pfx/drive_c" + root_.path() + "zroot/mirror/x=", "pfx/drive_c" + root_.path() + "zroot/file="});
    // A library list that is a named pipe is not waited on.
    Build(root_.path(), {"fifohome/.wine/", "fifohome/.local/share/Steam/steamapps/"});
    mkfifo((root_.path() + "fifohome/.local/share/Steam/steamapps/libraryfolders.vdf").c_str(), 0644);
    for (const std::string& fifo : {lutris + "f.yml", heroic + "f.json"}) mkfifo((root_.path() + fifo).c_str(), 0644);
  }
  static TempDir root_;
};
TempDir WinePrefixTest::root_;

TEST_F(WinePrefixTest, FindsPrefixesInOrderOnce) {
  const std::string ids = std::string(" ") + kLib1 + "/steamapps/compatdata/";
  const std::string all = "home/.wine home/.steam/steam/steamapps/compatdata/5/pfx" + ids + "9/pfx" + ids + "010/pfx" +
                          ids + "10/pfx" + ids + "2147483649/pfx" + ids + "abc/pfx lib2/steamapps/compatdata/1/pfx" +
                          " lut/1 lut/2 x home/.PlayOnLinux/wineprefix/p home/Games/Heroic home/Games/g"
                          " home/Games/Heroic/Prefixes/default/H lut/3 home/Games/Heroic/Prefixes/default"
                          " home/.local/share/bottles/bottles/b home/" + kLauncherPlaces[6] + "/fb home/.cxoffice/c";
  // Each place looked in once, "!" behind one not there.
  std::string home_places = "home/.wine home/.steam/steam " + std::string(kLib1) +
                             " home/.var/app/com.valvesoftware.Steam/.local/share/Steam lib2";
  std::string fifo_places = "fifohome/.wine fifohome/.steam/steam! fifohome/.local/share/Steam "
                            "fifohome/.var/app/com.valvesoftware.Steam/.local/share/Steam!";
  for (const std::string& place : kLauncherPlaces) {
    home_places += " home/" + place;
    fifo_places += " fifohome/" + place + "!";
  }
  const struct {
    const char* wineprefix;
    const char* home;
    std::string expected;
    std::string places;
  } kCases[] = {{nullptr, "home", all, home_places}, {"", "home/", all, home_places}, {"pfx", "home", "pfx", ""},
                {"nowhere", "home", "", ""}, {nullptr, nullptr, "", ""}, {nullptr, "", "", ""},
                {nullptr, "fifohome", "fifohome/.wine", fifo_places}};
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(root_.path().c_str()), 0);
  for (const auto& c : kCases) {
    const std::string wineprefix = c.wineprefix && *c.wineprefix ? root_.path() + c.wineprefix : "";
    const std::string home = c.home && *c.home ? root_.path() + c.home : "";
    const WinePrefixes found =
        FindWinePrefixes(c.wineprefix ? wineprefix.c_str() : nullptr, c.home ? home.c_str() : nullptr);
    std::vector<std::string> prefixes = found.prefixes;
    std::vector<std::string> places;
    for (std::string& path : prefixes) path.erase(0, root_.path().size());
    for (const PrefixPlace& place : found.places) {
      places.push_back(place.path.substr(root_.path().size()) + (place.found ? "" : "!"));
    }
    EXPECT_EQ(c.expected, Joined(prefixes)) << wineprefix << " | " << home;
    EXPECT_EQ(c.places, Joined(places)) << wineprefix << " | " << home;
  }
  ASSERT_EQ(chdir(cwd), 0);
}

TEST(LibraryFoldersTest, ListsPathsOrNothing) {
  const std::string kOld = "\"LIBRARYFOLDERS\" { // note\n \"1\" \"/x\" \"Label\" \"/n\" \"2\" \"/y\" }";
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "\"a\" {";
  const struct {
    std::string text;
    const char* expected;
  } kCases[] = {{"\xEF\xBB\xBF" + kOld, "/x /y"}, {kOld + " \"k\" \"v\"", "/x /y"}, {kOld + "}", ""},
                {kOld + " \"k\"", ""}, {"\"libraryfolders\" { \"1\" \"/x\"", ""}, {kOld + " {", ""},
                {"\"libraryfolders\" { \"1\" \"/x\\\" }", ""}, {deep, ""},
                // Only in "libraryfolders", and "path" only one block deeper.
                {"\"other\" { \"1\" \"/o\" \"2\" { \"path\" \"/p\" } }\n" + kOld, "/x /y"},
                {"\"libraryfolders\" { \"0\" { \"path\" \"/a\" \"apps\" { \"path\" \"/deep\" } }\n"
                 "\"1\" \"/b\" }",
                 "/a /b"}};
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, Joined(ParseLibraryFolders(c.text))) << c.text.substr(0, 60);
  }
}

TEST_F(WinePrefixTest, ResolvesWindowsPathsAsWine) {
  const std::string saves = "dosdevices/c:/Games/Vellmoor/SaveGames/";
  std::string root = root_.path();  // "\tmp\dir\"; below_first "\dir\"
  std::replace(root.begin(), root.end(), '/', '\\');
  const std::string below_first = root.substr(root.find('\\', 1));
  const struct {
    std::string windows_path;
    std::string expected;  // relative to the prefix, or with "@" to the test's root; empty when not found
    // Relative to the test's root, Z:\ by default; "" an empty $PWD in a
    // removed folder, null none at all.
    const char* working_directory = "zroot";
  } kCases[] = {
      {"C:\\Games\\Vellmoor\\SaveGames\\Save1.HDR", saves + "Save1.HDR"},
      {"c:/GAMES//vellmoor\\savegames\\SAVE1.hdr", saves + "Save1.HDR"},
      {"C:\\Games\\Vellmoor\\SaveGames\\SAVE1.BAK", saves + "save1.bak"},
      {"C:\\Games\\Vellmoor\\SaveGames\\New.BAK. .", saves + "New.BAK"},
      {"C:\\..\\..\\Games\\.\\x\\..\\Vellmoor.\\SaveGames\\", saves},
      {"C:\\DATA\\x", "dosdevices/c:/DATA/x"}, {"C:\\Data\\x", "dosdevices/c:/Data/x"},
      {"C:\\SAUVÉ\\f", "dosdevices/c:/Sauvé/f"}, {"Z:\\file", "dosdevices/z:/file"},
      {"C:..\\Games", "dosdevices/c:/Games"}, {"C:\\..\\secret\\f", ""}, {"C:\\Games..\\Vellmoor", ""},
      {"C:\\Games\\...\\Games", ""}, {"C:\\Missing\\x", ""}, {"E:\\Games", ""}, {"D:\\Games", ""},
      {"Games\\x", ""}, {"C:\\Games\\*.HDR", ""}, {"C:\\Games\\Vellmoor\\SaveGames\\Save1.HDR\\x", ""},
      {"C:\\Games\\a?b", ""}, {"C:\\Games\\a<b", ""}, {"C:\\Games\\a>b", ""}, {"C:\\Games\\a|b", ""},
      {"C:\\Games\\a\"b", ""}, {"C:\\Games\\a\x1f" "b", ""}, {"C:\\Games\\a b", "dosdevices/c:/Games/a b"},
      // Taken as written: found without regard to case, nothing cleaned up.
      {"\\\\?\\c:\\GAMES\\vellmoor", "dosdevices/c:/Games/Vellmoor"}, {"\\??\\C:\\Games\\x", "dosdevices/c:/Games/x"},
      {"\\\\?\\C:\\Games\\Vellmoor\\SaveGames\\New.BAK. ", saves + "New.BAK. "}, {"\\\\?\\C:\\Games\\.\\x", ""},
      {"\\??\\C:\\Games\\..\\Games", ""}, {"\\\\?\\C:\\Games\\\\x", ""}, {"\\\\?\\C:\\Games/x", ""},
      {"\\\\?\\unix" + root + "zroot\\file", "@zroot/file"}, {"\\\\?\\UNIX" + root + "ZROOT\\file", ""},
      {"\\\\.\\C:\\Games\\x\\..\\Vellmoor.", "dosdevices/c:/Games/Vellmoor"}, {"//?/C:/Games/", "dosdevices/c:/Games/"},
      // Against the working directory, as Wine maps it from the Unix one.
      {"\\Games\\Vellmoor", "dosdevices/c:/Games/Vellmoor", "pfx/drive_c/Data"},
      {"c:Vellmoor\\SaveGames\\", saves, "pfx/drive_c/Games"}, {"Z:file", "dosdevices/z:/file", "pfx/drive_c/Games"},
      {"Vellmoor", "dosdevices/c:/Games/Vellmoor", "pfx/drive_c/Games"},
      {"Vellmoor", "dosdevices/z:/link/Vellmoor", "zroot/link"}, {"x", "dosdevices/c:/windows/x", "zroot/dot."},
      {"Here\\x", "@nodrive/Here/x", "nodrive"}, {"HERE\\x", "", "nodrive"},
      {below_first + "nodrive\\Here\\x", "@nodrive/Here/x", "nodrive/Here"},
      {"/" + root.substr(1) + "pfx\\drive_c\\Data\\x", "dosdevices/c:/Data/x"},
      {root.substr(1) + "zroot\\file", "@zroot/file", ""}, {"\\" + root.substr(1) + "zroot\\file", "@zroot/file", ""},
      {"x", "dosdevices/c:/windows/x", nullptr},
      // Unix paths where the folder before the last backslash exists, else rooted.
      {root_.path() + "zroot/mirror/x", "", "pfx/drive_c/Data"},
      {root_.path() + "zroot/mirror\\x", "dosdevices/c:" + root_.path() + "zroot/mirror/x", "pfx/drive_c/Data"},
      {root_.path() + "zroot\\file", "dosdevices/z:/file", "pfx/drive_c/Data"},
      // Rooted too where a component is empty, "." or "..".
      {root_.path() + "zroot\\\\file", "dosdevices/c:" + root_.path() + "zroot/file", "pfx/drive_c/Data"},
      {root_.path() + "zroot\\.\\file", "dosdevices/c:" + root_.path() + "zroot/file", "pfx/drive_c/Data"},
      {root_.path() + "zroot\\..\\zroot\\file", "dosdevices/c:" + root_.path() + "zroot/file", "pfx/drive_c/Data"},
      // The drive is looked for up the path as written: ".." takes the name
      // before it, not the folder a link there leads to.
      {root_.path() + "zroot/sub/clink/..\\file", "dosdevices/z:/sub/file"},
      // 8.3 aliases of names that are none.
      {"C:\\VELL~G3P\\x", "dosdevices/c:/Vellmoor Game/x"}, {"c:\\vell~g3p\\X", "dosdevices/c:/Vellmoor Game/x"},
      {"C:\\_COL~WTX\\x", "dosdevices/c:/ÉCOLE/x"},
      {"C:\\Games\\Vellmoor\\SAVE~JBG", "dosdevices/c:/Games/Vellmoor/SaveGames"},
      {"C:\\DATA~WLQ\\x", ""}, {"C:\\VELL~G3P.\\x", "dosdevices/c:/Vellmoor Game/x"}};
  const std::string prefix = root_.path() + "pfx";
  // A prefix anew for every lookup, and one per working directory kept
  // across all of them, twice.
  std::map<std::string, WinePrefix> kept;
  for (int round = 0; round < 3; ++round) {
    for (const auto& c : kCases) {
      const std::string expected = c.expected.empty()     ? ""
                                   : c.expected[0] == '@' ? root_.path() + c.expected.substr(1)
                                                          : prefix + "/" + c.expected;
      const std::optional<std::string> unix_working_directory =
          !c.working_directory ? std::nullopt
          : *c.working_directory ? std::optional<std::string>(root_.path() + c.working_directory) : "";
      WinePrefix fresh{prefix, unix_working_directory};
      const std::string key = c.working_directory ? c.working_directory : "(none)";
      WinePrefix& through = round == 0 ? fresh : kept.try_emplace(key, fresh).first->second;
      std::string unix_path;
      const bool found = ToPrefixPath(through, c.windows_path, &unix_path);
      EXPECT_EQ(expected, found ? unix_path : "") << c.windows_path << " in " << key;
      EXPECT_EQ(!expected.empty(), found) << c.windows_path << " in " << key;
    }
  }
}

TEST_F(WinePrefixTest, TakesTheShellsWorkingDirectoryWhereItIsTheSame) {
  const std::string cwd = UnixWorkingDirectory(nullptr).value_or(""), link = root_.path() + "here";
  ASSERT_EQ(0, symlink(cwd.c_str(), link.c_str())) << cwd;
  EXPECT_EQ(link, UnixWorkingDirectory(link.c_str()));
  EXPECT_EQ(cwd, UnixWorkingDirectory((root_.path() + "zroot").c_str()));
  // In a folder since removed, $PWD as it is, even empty; none without it.
  const std::string gone = root_.path() + "gone";
  ASSERT_EQ(0, mkdir(gone.c_str(), 0755));
  ASSERT_EQ(0, chdir(gone.c_str()));
  ASSERT_EQ(0, rmdir(gone.c_str()));
  const std::optional<std::string> empty = UnixWorkingDirectory(""), none = UnixWorkingDirectory(nullptr);
  ASSERT_EQ(0, chdir(cwd.c_str()));
  EXPECT_EQ(std::optional<std::string>(""), empty);
  EXPECT_EQ(std::nullopt, none);
}

TEST_F(WinePrefixTest, ListsMatchesInWineOrder) {
  const struct {
    std::string pattern;
    const char* expected;  // null when the search fails
    const char* working_directory = "zroot";
  } kCases[] = {
      // Save1.HDR1 by its alias SAVE~4RS.HDR.
      {"C:\\games\\VELLMOOR\\savegames\\*.hdr",
       "D.HDR Save1.HDR Save1.HDR1 SaveA.HDR savea2.HDR Save_1.HDR Zeta.HDR [x].HDR"},
      {"C:\\Games\\Vellmoor\\SaveGames\\s?vea*", "SaveA.HDR savea2.HDR"},
      {"C:\\Games\\Vellmoor\\SaveGames\\*abab", "abab"}, {"C:\\Games\\Vellmoor\\SaveGames\\*?", "x?"},
      {"C:\\Games\\Vellmoor\\SaveGames\\SAVE1.bak. ", "save1.bak"}, {"C:\\Missing\\*", nullptr},
      {"C:\\Games\\Vellmoor\\SaveGames\\", nullptr},
      {"\\\\?\\C:\\GAMES\\Vellmoor\\SaveGames\\s?vea*", "SaveA.HDR savea2.HDR"},
      {"SaveGames\\s?vea*", "SaveA.HDR savea2.HDR", "pfx/drive_c/Games/Vellmoor"},
      {root_.path() + "pfx/drive_c/Games/Vellmoor/SaveGames/s?vea*", nullptr},
      {root_.path() + "pfx/drive_c/Games/Vellmoor/SaveGames\\s?vea*", "SaveA.HDR savea2.HDR"}};
  for (const auto& c : kCases) {
    std::string directory, wildcard;
    std::vector<std::string> names;
    WinePrefix prefix{root_.path() + "pfx", root_.path() + c.working_directory};
    const bool listed = ToPrefixSearch(prefix, c.pattern, &directory, &wildcard) &&
                        ListMatchingEntries(directory, wildcard, &names, nullptr);
    EXPECT_EQ(c.expected != nullptr, listed) << c.pattern;
    EXPECT_EQ(c.expected ? c.expected : "", Joined(names)) << c.pattern;
  }
}

}  // namespace
