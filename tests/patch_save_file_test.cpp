// PatchSaveFile against an install in memory whose every step fails on cue:
// the exact messages, the backup and the patched save.
#include "patch/patch_save_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/install.h"
#include "tests/fake_install.h"
#include "tests/test_support.h"

namespace {

std::string Patched(std::string bytes) {
  if (bytes.size() >= 252) bytes[bytes.size() - 252] = 4;
  return bytes;
}

const char kSave[] = "C:\\G\\SaveGames\\A.HDR";
const char kBackup[] = "C:\\G\\SaveGames\\A.BAK";
const std::size_t kFolderLength = std::strlen("C:\\G\\SaveGames\\");

// Patches kSave in `install` as the run does; what it printed.
std::string Patch(FakeInstall& install) {
  char path[kPathBufferSize];
  std::memcpy(path, kSave, sizeof kSave);
  StdoutCapture capture;
  PatchSaveFile(install, path, kFolderLength, {});
  return capture.Finish();
}

// ---- Backup names: the first ".HDR" behind the folder becomes ".BAK" ------

TEST(FormBackupPath, ReplacesTheFirstExtensionOfTheName) {
  const std::pair<std::string, std::string> cases[] = {
      {"A.HDR", "A.BAK"}, {"X.HDR.HDR", "X.BAK"}, {"A.HDRX", "A.BAK"},
      {"slot1.hdr", ""},  // no name: the extension is matched with case
      {"plain", ""},      // the ".HDR" of the folder is not the name's
  };
  for (const auto& [name, backup] : cases) {
    char path[kPathBufferSize];
    const std::string folder = "C:\\Old.HDR saves\\";
    std::memcpy(path, (folder + name).c_str(), folder.size() + name.size() + 1);
    EXPECT_EQ(FormBackupPath(path, folder.size()), !backup.empty()) << name;
    EXPECT_EQ(std::string(path), folder + (backup.empty() ? name : backup)) << name;
  }
}

// ---- Lengths: the patch byte lands at length - 252 and nowhere else -------

class SaveLength : public testing::TestWithParam<std::size_t> {};

TEST_P(SaveLength, BacksUpWholeAndPatchesOneByte) {
  FakeInstall install;
  const std::string original = SampleBytes(GetParam(), 7);
  install.Add(kSave, FakeFile{original});
  // A longer backup from an earlier run must be replaced whole.
  install.Add(kBackup, FakeFile{SampleBytes(GetParam() + 5000, 8)});
  Patch(install);
  EXPECT_TRUE(SameBytes(install.Bytes(kBackup), original));
  const std::string after = install.Bytes(kSave);
  ASSERT_EQ(after.size(), original.size());
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < after.size(); ++i) {
    if (after[i] != original[i]) changed.push_back(i);
  }
  if (GetParam() < 252) {
    EXPECT_TRUE(changed.empty());
  } else {
    EXPECT_EQ(changed, std::vector<std::size_t>{GetParam() - 252});
    EXPECT_EQ(after[GetParam() - 252], 4);
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, SaveLength,
                         testing::Values(0, 1, 99, 100, 101, 251, 252, 253, 4096, (1u << 20) + 37));

// ---- Steps that fail on cue -------------------------------------------------

// What stands at the backup's name before the run.
enum class Before { kOldBackup, kNothing, kReadOnly, kDirectory, kLinkToSave, kAliasOfOther };

struct FaultCase {
  const char* label;
  FakeFaults faults = {};
  std::size_t save_size = 1234;
  bool save_fixed = false;  // the save holds the patch byte already
  Before before = Before::kOldBackup;
  const char* expected = nullptr;  // the messages, "{S}" the save's path, "{B}" the backup's
  bool patched = false;
  bool backup_made = false;  // else whatever stood at the backup's name is unchanged
  std::vector<std::string> steps = {};  // when not empty, exactly the steps taken ("(none)": none)
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.label; }

class FailingStep : public testing::TestWithParam<FaultCase> {};

TEST_P(FailingStep, ReportsItAndKeepsTheSaveSafe) {
  const FaultCase& c = GetParam();
  FakeInstall install;
  install.faults = c.faults;
  std::string original = SampleBytes(c.save_size, 11);
  if (c.save_fixed) original = Patched(original);
  install.Add(kSave, FakeFile{original});
  const std::string old_backup = SampleBytes(1000, 12);
  switch (c.before) {
    case Before::kOldBackup: install.Add(kBackup, FakeFile{old_backup}); break;
    case Before::kNothing: break;
    case Before::kReadOnly: install.Add(kBackup, FakeFile{old_backup, FakeFile::Kind::kFile, true}); break;
    case Before::kDirectory: install.Add(kBackup, FakeFile{"", FakeFile::Kind::kDirectory}); break;
    case Before::kLinkToSave: install.Link(kBackup, kSave); break;
    case Before::kAliasOfOther:
      install.Add("C:\\G\\SaveGames\\Other.BAK", FakeFile{old_backup});
      install.aliases[kBackup] = "C:\\G\\SaveGames\\Other.BAK";
      break;
  }
  const std::string backup_before = install.Bytes(kBackup);

  const std::string printed = Patch(install);
  std::string expected = c.expected;
  for (std::size_t at; (at = expected.find("{S}")) != std::string::npos;) expected.replace(at, 3, kSave);
  for (std::size_t at; (at = expected.find("{B}")) != std::string::npos;) expected.replace(at, 3, kBackup);
  EXPECT_EQ(printed, expected);

  const bool linked = c.before == Before::kLinkToSave;
  EXPECT_TRUE(SameBytes(install.Bytes(kSave), c.patched ? Patched(original) : original));
  EXPECT_TRUE(SameBytes(install.Bytes(kBackup), c.backup_made ? original : linked ? original : backup_before));
  if (c.before == Before::kAliasOfOther) {
    EXPECT_TRUE(SameBytes(install.Bytes("C:\\G\\SaveGames\\Other.BAK"), old_backup));
  }
  if (!c.steps.empty()) {
    EXPECT_EQ(install.steps.empty() ? std::vector<std::string>{"(none)"} : install.steps, c.steps);
  }
}

const char kMade[] = "Processing file {S}\nBackup made {B}\nFile Processed\n\n";
const char kRefused[] = "Processing file {S}\nFailed to make backup {B}... Skipping file\n\n";
const char kNotCreated[] =
    "Processing file {S}\nFailed to make backup {B}... Skipping file\nNo new file can be made in the save folder\n\n";
const char kFixed[] = "Processing file {S}\nAlready fixed {S}... Skipping file\n\n";

INSTANTIATE_TEST_SUITE_P(
    Steps, FailingStep,
    testing::Values(
        // Each step checked, in order, all before the save is touched.
        FaultCase{.label = "NoFault", .expected = kMade, .patched = true, .backup_made = true,
                  .steps = {"create", "sync", "close", "look", "move", "patch"}},
        FaultCase{.label = "NothingToReplace", .before = Before::kNothing, .expected = kMade, .patched = true,
                  .backup_made = true},
        FaultCase{.label = "SaveDoesNotOpen", .faults = {.open = true},
                  .expected = "Failed to open file {S}\nFailed to make backup {B}... Skipping file\n\n",
                  .steps = {"(none)"}},
        FaultCase{.label = "ReadErrorAtStart", .faults = {.read_fails_after = 0}, .expected = kRefused,
                  .steps = {"create", "discard"}},
        FaultCase{.label = "ReadErrorMidCopy", .faults = {.read_fails_after = 650}, .expected = kRefused},
        FaultCase{.label = "CreateFails", .faults = {.create = Created::kFailed}, .expected = kNotCreated},
        FaultCase{.label = "CreateNotAllowed", .faults = {.create = Created::kNotAllowed},
                  .expected = "Processing file {S}\nFailed to make backup {B}... Skipping file\n"
                              "No new file may be made in the save folder (access denied)\n\n"},
        FaultCase{.label = "ShortWrite", .faults = {.write_fails_after = 150}, .expected = kRefused},
        FaultCase{.label = "SyncFails", .faults = {.sync = true}, .expected = kRefused,
                  .steps = {"create", "sync", "discard"}},
        FaultCase{.label = "CloseFails", .faults = {.close = true}, .expected = kRefused},
        FaultCase{.label = "LookFails", .faults = {.look = true}, .expected = kRefused},
        FaultCase{.label = "MoveFails", .faults = {.move = true}, .expected = kRefused,
                  .steps = {"create", "sync", "close", "look", "move", "discard"}},
        FaultCase{.label = "PatchWriteFails", .faults = {.patch_write = true},
                  .expected = "Processing file {S}\nBackup made {B}\nFailed to patch file {S}\n\n",
                  .backup_made = true},
        FaultCase{.label = "LengthUnknown", .faults = {.length_unknown = true},
                  .expected = "Processing file {S}\nBackup made {B}\nError parsing file?!\n\n", .backup_made = true},
        // What stands at the backup's name decides whether it may be replaced.
        FaultCase{.label = "BackupReadOnly", .before = Before::kReadOnly, .expected = kRefused},
        FaultCase{.label = "BackupIsDirectory", .before = Before::kDirectory, .expected = kRefused},
        FaultCase{.label = "BackupIsTheSave", .before = Before::kLinkToSave, .expected = kRefused},
        FaultCase{.label = "BackupNameIsAnotherEntrysAlias", .before = Before::kAliasOfOther, .expected = kRefused},
        // A fixed save is known before any copy: nothing is made or written,
        // whatever would have failed.
        FaultCase{.label = "FixedAtExactly252", .save_size = 252, .save_fixed = true, .expected = kFixed,
                  .steps = {"(none)"}},
        FaultCase{.label = "FixedOnAFullDisk", .faults = {.create = Created::kDiskFull}, .save_fixed = true, .expected = kFixed,
                  .steps = {"(none)"}},
        FaultCase{.label = "ShortSaveIsCopiedNotPatched", .save_size = 251, .expected = kMade,
                  .backup_made = true, .steps = {"create", "sync", "close", "look", "move"}}),
    [](const testing::TestParamInfo<FaultCase>& param) { return std::string(param.param.label); });

}  // namespace
