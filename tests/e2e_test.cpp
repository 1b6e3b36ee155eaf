// Runs the end-to-end scenario table against a built program, for example
//   e2e_test --target=wine --program=build/win32/savefix.exe
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "tests/e2e_scenarios.h"
#include "tests/e2e_target.h"
#include "tests/test_support.h"

namespace {

// Which build the table runs against is fixed when the runner is built, so
// the test list CTest reads is the one that runs; --target= and --program=
// override it by hand.
std::string target_name = SAVEFIX_E2E_TARGET;
std::string program_path = SAVEFIX_E2E_PROGRAM;
const Target* target = nullptr;  // set by main from target_name

const char kPrompt[] = "Press any key to close...";
const char kRegistryFailed[] =
    "Failed reading registry\nTo fix the saves in a folder, drop it on savefix, or name it: savefix FOLDER\n";

std::vector<std::string> Command() {
  std::vector<std::string> command = target->launcher;
  command.push_back(program_path);
  return command;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string WithPatchByte(std::string bytes) {
  if (bytes.size() >= 252) bytes[bytes.size() - 252] = 4;
  return bytes;
}

// The type of the entry itself, links not followed; 0 if there is none.
unsigned FileType(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 ? info.st_mode & S_IFMT : 0;
}

std::string CurrentDirectory() {
  char here[4096];
  return getcwd(here, sizeof here) != nullptr ? here : "/";
}

// One scenario laid out on disk, with its registry in place.
struct Prepared {
  std::string root;
  std::string saves;  // the save directory on disk
  std::string value;  // the registry value as stored
  std::map<std::string, std::string> contents;  // every file item's bytes, by name
  std::vector<std::string> args;  // the command line, spelt out
  bool named = false;             // it names the save folder or saves in it
};

// The game's install directory under `root`, on disk, made `install_length`
// long as the program writes it by folders of up to 100 characters. ".HDR"
// in a folder above the save directory must not be taken for the extension
// of a save.
std::string LayOutInstall(const std::string& root, std::size_t install_length) {
  std::string game = root + "Old.HDR saves/";
  const std::size_t length = ThroughDriveZ(game + "game/").size();
  for (std::size_t missing = install_length > length ? install_length - length : 0; missing > 0;) {
    const std::size_t name = std::min<std::size_t>(missing - 1, 100);
    game += std::string(name, 'p') + "/";
    missing -= name + 1;
  }
  game += "game/";
  MakeDirectories(game);
  return game;
}

void LayOutItem(const Item& item, const std::string& saves, unsigned tag, Prepared* p) {
  const std::string path = saves + item.name;
  if (item.name.find('/') != std::string::npos) MakeDirectories(path.substr(0, path.rfind('/')));
  switch (item.kind) {
    case Kind::kFile:
    case Kind::kFixedSave:
    case Kind::kReadOnly: {
      std::string& bytes = p->contents[item.name] = SampleBytes(item.size, tag);
      if (item.kind == Kind::kFixedSave) bytes[item.size - 252] = 4;
      WriteFileBytes(path, bytes);
      if (item.kind == Kind::kReadOnly) chmod(path.c_str(), 0444);
      break;
    }
    case Kind::kPipe:
      ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << item.name;
      break;
    case Kind::kDirectory:
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << item.name;
      break;
    case Kind::kHardLink:
      ASSERT_EQ(link((saves + item.target).c_str(), path.c_str()), 0) << item.name;
      break;
    case Kind::kSymbolicLink:
      ASSERT_EQ(symlink(item.target.c_str(), path.c_str()), 0) << item.name;
      break;
  }
}

void Prepare(const Scenario& s, const std::string& root, Prepared* p) {
  p->root = root;
  const std::string game = LayOutInstall(root, s.install_length);
  if (s.install_length != 0) {
    ASSERT_EQ(ThroughDriveZ(game).size(), s.install_length);
  }
  p->saves = game + "SaveGames/";
  if (s.save_directory) {
    ASSERT_TRUE(MakeDirectories(p->saves));
  }
  for (std::size_t i = 0; i < s.items.size(); ++i) {
    LayOutItem(s.items[i], p->saves, static_cast<unsigned>(i + 1), p);
  }
  p->value = Replace(s.app_path, "{GAME}", ThroughDriveZ(game));
  p->value = Replace(p->value, "{GAME-}", ThroughDriveZ(game.substr(0, game.size() - 1)));
  if (s.pad_to > p->value.size()) p->value.append(s.pad_to - p->value.size(), 'x');
  const std::string folder = p->saves.substr(0, p->saves.size() - 1);
  for (const std::string& arg : s.args) {
    const bool here = arg.compare(0, 6, "{HERE}") == 0;
    p->named = p->named || here || arg.compare(0, 8, "{FOLDER}") == 0 || arg == "{GAMEFOLDER}";
    std::string spelt = here ? Replace(arg, "{HERE}", folder.substr(root.size())) : Replace(arg, "{FOLDER}", folder);
    spelt = Replace(spelt, "{GAMEFOLDER}", game.substr(0, game.size() - 1));
    p->args.push_back(spelt == arg ? arg : target->spell_path(spelt));
  }
  ASSERT_TRUE(target->put_registry(s.registry, p->value, root));
}

std::string ExpectedOutput(const Scenario& s, const Prepared& p) {
  std::string text = Replace(s.expected, "Failed reading registry\n", kRegistryFailed);
  if (p.named) {
    if (!s.ends_at_option) text += kPrompt;
    return Replace(Replace(text, "{SAVES}", target->spell_path(p.saves)), "\n", target->line_end);
  }
  if (!s.ends_at_option) {
    if (target->folder_line != nullptr) {
      // The save directory as the value names it, on disk.
      std::string below_root = p.value.substr(ThroughDriveZ(p.root).size()) + "SaveGames";
      std::replace(below_root.begin(), below_root.end(), '\\', '/');
      const std::string save_line = "Save game directory: {SAVES}\n";
      text = Replace(text, save_line, save_line + target->folder_line(p.root + below_root));
    }
    text = (target->preamble != nullptr ? target->preamble(s.registry, p.root) : "") + text + kPrompt;
  }
  text = Replace(text, "{SAVES}", p.value + "SaveGames\\");
  text = Replace(text, "{VALUE}", p.value);
  return Replace(text, "\n", target->line_end);
}

void CheckSaveDirectory(const Scenario& s, const Prepared& p) {
  std::vector<std::string> names;
  for (const After& after : s.after) {
    if (after.name.find('/') == std::string::npos) names.push_back(after.name);
    const std::string path = p.saves + after.name;
    const auto original = [&p](const std::string& name) { return p.contents.at(name); };
    switch (after.state) {
      case State::kPatched:
        EXPECT_TRUE(SameBytes(ReadFileBytes(path), WithPatchByte(original(after.name)))) << after.name;
        break;
      case State::kUnchanged:
        EXPECT_TRUE(SameBytes(ReadFileBytes(path), original(after.name))) << after.name;
        break;
      case State::kCopyOf:
        EXPECT_EQ(FileType(path), S_IFREG) << after.name;
        EXPECT_TRUE(SameBytes(ReadFileBytes(path), original(after.of))) << after.name;
        break;
      case State::kDirectory:
        EXPECT_EQ(FileType(path), S_IFDIR) << after.name;
        break;
      case State::kPipe:
        EXPECT_EQ(FileType(path), S_IFIFO) << after.name;
        break;
      case State::kLink: {
        char to[256] = {};
        EXPECT_TRUE(readlink(path.c_str(), to, sizeof to - 1) > 0 && after.of == to) << after.name;
        break;
      }
    }
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(ListDirectory(p.saves), names);
}

int GiveToNobody(const char* path, const struct stat*, int, struct FTW*) { return lchown(path, 65534, 65534); }

// Takes write permission off the save folder and makes sure the program
// cannot write there. Root writes whatever the mode bits say, so as root the
// program runs as nobody, who is given the test's files.
void CloseSaveFolder(const Prepared& p, std::vector<std::string>* command) {
  ASSERT_EQ(chmod(p.saves.c_str(), 0555), 0);
  std::vector<std::string> probe;
  if (geteuid() == 0) {
    ASSERT_EQ(nftw(p.root.c_str(), GiveToNobody, 16, FTW_PHYS), 0);
    probe = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    command->insert(command->begin(), probe.begin(), probe.end());
  }
  probe.insert(probe.end(), {"test", "!", "-w", p.saves});
  ASSERT_EQ(RunWith(probe, "", p.root).exit_status, 0) << "the program would be let write to " << p.saves;
}

class EndToEnd : public testing::TestWithParam<Scenario> {};

TEST_P(EndToEnd, PrintsExitsAndLeavesFilesAsExpected) {
  const Scenario& s = GetParam();
  TempDir root;
  Prepared p;
  Prepare(s, root.path(), &p);
  std::vector<std::string> command = Command();
  if (s.read_only_folder && !HasFatalFailure()) CloseSaveFolder(p, &command);
  if (HasFatalFailure()) return;

  for (const std::vector<std::string>& args : s.earlier_runs) {
    ASSERT_TRUE(RunWith(command, "\n", root.path(), args).ran);
  }
  if (s.read_only_disk &&
      (RunWith({"mount", "--bind", p.saves, p.saves}, "", root.path()).exit_status != 0 ||
       RunWith({"mount", "-o", "remount,bind,ro", p.saves}, "", root.path()).exit_status != 0)) {
    RunWith({"umount", p.saves}, "", root.path());
    GTEST_SKIP() << "this machine lets the test mount nothing read-only";
  }
  // Relative names are taken from the test's root.
  const std::string from = CurrentDirectory();
  ASSERT_EQ(chdir(root.path().c_str()), 0);
  const RunResult result = RunWith(command, s.input, root.path(), p.args);
  ASSERT_EQ(chdir(from.c_str()), 0);
  if (s.read_only_disk) RunWith({"umount", p.saves}, "", root.path());
  ASSERT_TRUE(result.ran) << result.output;
  const std::string expected = ExpectedOutput(s, p);
  if (s.ends_at_option) {
    EXPECT_EQ(result.output.substr(0, expected.size()), expected);
    EXPECT_EQ(result.output.find("Press any key"), std::string::npos) << result.output;
    // The usage fits a terminal of 72 columns.
    for (std::size_t start = 0, end; (end = result.output.find('\n', start)) != std::string::npos; start = end + 1) {
      EXPECT_LE(end - start, 72u + target->line_end.size() - 1) << result.output.substr(start, end - start);
    }
  } else {
    EXPECT_EQ(result.output, expected);
  }
  EXPECT_EQ(result.exit_status, s.exit_status);
  EXPECT_NE(result.errors.find(Replace(s.error, "\n", target->line_end)), std::string::npos) << result.errors;
  CheckSaveDirectory(s, p);
}

std::vector<Scenario> ScenariosForTarget() {
  std::vector<Scenario> chosen;
  for (const Scenario& s : EndToEndScenarios()) {
    if (s.runs != target->skips) chosen.push_back(s);
  }
  return chosen;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, EndToEnd, testing::ValuesIn(ScenariosForTarget()),
                         [](const testing::TestParamInfo<Scenario>& param) { return param.param.label; });

// On a terminal, as a player runs it: the messages and the prompt, which
// has no line end, are on the screen while the program waits; a key without
// Enter does not end the wait.
TEST(EndToEndPrompt, IsShownAndWaitsForEnter) {
  TempDir root;
  ASSERT_TRUE(target->put_registry(Registry::kNothing, "", root.path()));
  PromptResult result = RunToPrompt(Command(), kPrompt, 60000, target->console_goes_raw);
  EXPECT_TRUE(result.prompt_seen) << result.run.output;
  EXPECT_LT(result.run.output.find("Failed reading registry"), result.run.output.find(kPrompt));
  EXPECT_TRUE(result.waiting_at_prompt);
  ASSERT_TRUE(result.run.ran);
  EXPECT_EQ(result.run.exit_status, 0);
}

// Two runs started together over the same saves: whichever backs up a save
// first, every backup ends up holding the original.
TEST(EndToEndTogether, TwoRunsKeepEveryOriginal) {
  Scenario s{.label = "Together"};
  for (int i = 0; i < 40; ++i) {
    // Built in place: GCC 12 warns falsely (-Wrestrict) on "S" + to_string() when optimising.
    std::string name = "S";
    name += std::to_string(i);
    s.items.push_back({name + ".HDR", Kind::kFile, 65536});
    s.after.push_back({name + ".BAK", State::kCopyOf, name + ".HDR"});
    s.after.push_back({name + ".HDR", State::kPatched});
  }
  TempDir root;
  Prepared p;
  Prepare(s, root.path(), &p);
  if (HasFatalFailure()) return;
  WriteFileBytes(root.path() + "input.txt", "\n");
  EXPECT_TRUE(RunTogether(Command(), 2, root.path() + "input.txt"));
  CheckSaveDirectory(s, p);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--target=", 9) == 0) target_name = argv[i] + 9;
    if (std::strncmp(argv[i], "--program=", 10) == 0) program_path = argv[i] + 10;
  }
  target = FindTarget(target_name);
  if (target == nullptr) {
    std::fprintf(stderr, "unknown target %s\n", target_name.c_str());
    return 2;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
