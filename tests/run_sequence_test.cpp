// The run sequence in-process: a failing buffer source, and its rules over
// installs in memory.
#include "run/run_sequence.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/install.h"
#include "tests/fake_install.h"
#include "tests/test_support.h"

namespace {

const std::string kFailed =
    "Failed reading registry\nTo fix the saves in a folder, drop it on savefix, or name it: savefix FOLDER\n";

// ---- Memory ----------------------------------------------------------------

int buffers_before_failure = 0;
int buffers_obtained = 0;
int buffers_released = 0;

void* ObtainUntilFailure(std::size_t size) {
  if (buffers_obtained == buffers_before_failure) return nullptr;
  ++buffers_obtained;
  return std::malloc(size);
}

void ReleaseCounted(void* buffer) {
  ++buffers_released;
  std::free(buffer);
}

class NoMemory : public testing::TestWithParam<int> {};

TEST_P(NoMemory, SaysSoAndEndsWithoutPromptOrWait) {
  buffers_before_failure = GetParam();
  buffers_obtained = buffers_released = 0;
  TempDir dir;
  // Standard input holds a line; the run must not read it.
  WriteFileBytes(dir.path() + "input", "line\n");
  ASSERT_NE(std::freopen((dir.path() + "input").c_str(), "r", stdin), nullptr);

  StdoutCapture capture;
  FakeWorld world;
  int status = RunSavefix(BufferSource{ObtainUntilFailure, ReleaseCounted}, world, {});
  EXPECT_EQ(capture.Finish(), "Insufficient Memory\n");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(std::ftell(stdin), 0);
  EXPECT_EQ(buffers_released, buffers_obtained);
}

INSTANTIATE_TEST_SUITE_P(WhichBuffer, NoMemory, testing::Values(0, 1));

// The wait at the prompt takes one whole line, the line end included, and
// no more.
TEST(Prompt, ReadsExactlyOneLine) {
  TempDir dir;
  WriteFileBytes(dir.path() + "input", "key\nnext line\n");
  ASSERT_NE(std::freopen((dir.path() + "input").c_str(), "r", stdin), nullptr);
  FakeWorld world;
  world.wine = true;
  world.installs.push_back(std::make_unique<FakeInstall>());
  StdoutCapture capture;
  EXPECT_EQ(RunSavefix(BufferSource{std::malloc, std::free}, world, {}), 0);
  EXPECT_EQ(capture.Finish(), kFailed + "Press any key to close...");
  EXPECT_EQ(std::ftell(stdin), 4);
}

// A listing that fails is no save found; the run goes on to the prompt.
TEST(RunSequence, ListingThatFailsFindsNoSave) {
  TempDir dir;
  WriteFileBytes(dir.path() + "input", "\n");
  ASSERT_NE(std::freopen((dir.path() + "input").c_str(), "r", stdin), nullptr);
  FakeWorld world;
  auto install = std::make_unique<FakeInstall>();
  install->save_directory = "C:\\G\\SaveGames\\";
  install->Add("C:\\G\\SaveGames\\A.HDR", FakeFile{SampleBytes(300, 1)});
  install->faults.list = true;
  world.installs.push_back(std::move(install));
  StdoutCapture capture;
  EXPECT_EQ(RunSavefix(BufferSource{std::malloc, std::free}, world, {}), 0);
  EXPECT_EQ(capture.Finish(),
            "Save game directory: C:\\G\\SaveGames\\\nNo save game found\nPress any key to close...");
}

// ---- The run's rules, over installs in memory ------------------------------

const std::string kFolder = "C:\\G\\SaveGames\\";

std::unique_ptr<FakeInstall> WithSaves(const std::vector<std::string>& names, Found how = {Found::How::kThisMachine}) {
  auto install = std::make_unique<FakeInstall>();
  install->how = std::move(how);
  install->save_directory = kFolder;
  for (const std::string& name : names) install->Add(kFolder + name, FakeFile{SampleBytes(300, 2)});
  return install;
}

// What one run prints before its prompt, "{D}" the save folder.
std::string RunOver(FakeWorld& world) {
  TempDir dir;
  WriteFileBytes(dir.path() + "input", "\n");
  EXPECT_NE(std::freopen((dir.path() + "input").c_str(), "r", stdin), nullptr);
  StdoutCapture capture;
  EXPECT_EQ(RunSavefix(BufferSource{std::malloc, std::free}, world, {}), 0);
  std::string printed = capture.Finish();
  for (std::size_t at; (at = printed.find(kFolder)) != std::string::npos;) printed.replace(at, kFolder.size(), "{D}");
  return printed.substr(0, printed.rfind("Press any key to close..."));
}

std::string Made(const std::string& save, const std::string& backup) {
  return "Processing file {D}" + save + "\nBackup made {D}" + backup + "\nFile Processed\n\n";
}

struct RunCase {
  const char* label;
  std::function<void(FakeWorld&)> installs;
  std::string expected;
};

TEST(RunSequence, KeepsItsRulesInEveryInstall) {
  const std::string fills = std::string(480, 'n') + ".HDR";
  const std::string overflows = std::string(481, 'o') + "/.HDR";
  const RunCase cases[] = {
      {"NamesLeadingOutOrDevices",
       [](FakeWorld& w) {
         w.installs.push_back(WithSaves({"a/b.HDR", "AUX .HDR", "CON.HDR", "NUL.HDR", "nul.hdr.HDR", "com1.x.HDR",
                                         "S.HDR"}));
       },
       "Save game directory: {D}\nInvalid file name AUX .HDR... Skipping file\n\n"
       "Invalid file name CON.HDR... Skipping file\n\nInvalid file name NUL.HDR... Skipping file\n\n" +
           Made("S.HDR", "S.BAK") +
           "Invalid file name a/b.HDR... Skipping file\n\nInvalid file name com1.x.HDR... Skipping file\n\n"
           "Invalid file name nul.hdr.HDR... Skipping file\n\nSaves fixed: 1, already fixed: 0, not fixed: 6\n"},
      // No backup name without ".HDR" as written; a folder does not open.
      {"LowerCaseNames",
       [](FakeWorld& w) {
         w.installs.push_back(WithSaves({"slot1.hdr"}));
         static_cast<FakeInstall&>(*w.installs.back()).Add(kFolder + "d.hdr", FakeFile{"", FakeFile::Kind::kDirectory});
       },
       "Save game directory: {D}\nFailed to open file {D}d.hdr\nFailed to make backup {D}d.hdr... Skipping file\n\n"
       "Processing file {D}slot1.hdr\nFailed to make backup {D}slot1.hdr... Skipping file\n\n"
       "Saves fixed: 0, already fixed: 0, not fixed: 2\n"},
      // With the 15 characters of the folder, a name of 484 and its
      // terminator fill the 500-byte path buffer exactly; one more does not
      // fit, whatever else is wrong with the name.
      {"NamesAndThePathBuffer",
       [&](FakeWorld& w) { w.installs.push_back(WithSaves({fills, "N" + fills, overflows})); },
       "Save game directory: {D}\nFile name too long N" + fills + "... Skipping file\n\n" +
           Made(fills, fills.substr(0, 480) + ".BAK") + "File name too long " + overflows + "... Skipping file\n\n" +
           "Saves fixed: 1, already fixed: 0, not fixed: 2\n"},
      {"OnlyTheNamedSave",
       [](FakeWorld& w) {
         w.installs.push_back(WithSaves({"A.HDR", "B.HDR"}, {Found::How::kNamed}));
         static_cast<FakeInstall&>(*w.installs.back()).only = "B.HDR";
       },
       "Save game directory: {D}\n" + Made("B.HDR", "B.BAK")},
      // Each install is named as it was found, control characters shown as '?'.
      {"EveryInstallNamed",
       [](FakeWorld& w) {
         w.installs.push_back(WithSaves({"A.HDR"}, {Found::How::kPrefix, "/p\n1\x1b"}));
         w.installs.push_back(WithSaves({}, {Found::How::kNotAPrefix, "/c/7", "/c/7/pfx"}));
         w.installs.push_back(WithSaves({}, {Found::How::kNoInstallPath, "/q"}));
         static_cast<FakeInstall&>(*w.installs.back()).save_directory = "";
         w.installs.push_back(WithSaves({}, {Found::How::kNowhere, "", "", {{"/h/.wine", false}, {"/s", true}}}));
         static_cast<FakeInstall&>(*w.installs.back()).save_directory = "";
       },
       "Wine prefix: /p?1?\nSave game directory: {D}\n" + Made("A.HDR", "A.BAK") +
           "Not a Wine prefix: /c/7\nIts Wine prefix is /c/7/pfx: add /pfx to WINEPREFIX\nSave game directory: {D}\n"
           "No save game found\nNo game install path in: /q\n" + kFailed +
           "Game not found in: /h/.wine (not found)\nGame not found in: /s\n" + kFailed},
  };
  for (const RunCase& c : cases) {
    FakeWorld world;
    c.installs(world);
    EXPECT_EQ(RunOver(world), c.expected) << c.label;
  }
}

// A save whose backup name is a fixed save's keeps that backup, though the
// fixed save was alone in its folder when it was fixed.
TEST(RunSequence, BackupOfAFixedSaveOfTheSameNameStays) {
  // The files outlive each run's install.
  using Files = std::map<std::string, std::shared_ptr<FakeFile>>;
  struct Lasting : FakeInstall {
    explicit Lasting(Files* files_after) : files_after_(files_after) {
      save_directory = kFolder;
      files = *files_after;
    }
    ~Lasting() override { *files_after_ = files; }
    Files* files_after_;
  };
  Files files = {{kFolder + "X.HDR.HDR", std::make_shared<FakeFile>(FakeFile{SampleBytes(300, 2)})}};
  FakeWorld world;
  world.installs.push_back(std::make_unique<Lasting>(&files));
  EXPECT_EQ(RunOver(world), "Save game directory: {D}\n" + Made("X.HDR.HDR", "X.BAK"));
  files[kFolder + "X.HDR"] = std::make_shared<FakeFile>(FakeFile{SampleBytes(400, 3)});
  world.installs.push_back(std::make_unique<Lasting>(&files));
  EXPECT_EQ(RunOver(world), "Save game directory: {D}\nProcessing file {D}X.HDR\n"
                            "Backup already made {D}X.BAK... Skipping file\n\n"
                            "Processing file {D}X.HDR.HDR\nAlready fixed {D}X.HDR.HDR... Skipping file\n\n"
                            "Saves fixed: 0, already fixed: 1, not fixed: 1\n");
  EXPECT_TRUE(SameBytes(files.at(kFolder + "X.BAK")->bytes, SampleBytes(300, 2)));
}

}  // namespace
