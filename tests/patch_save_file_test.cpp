// PatchSaveFile against real files in a temporary save directory, reached
// through a Wine prefix's drive Z: (the exact messages, the backup and the
// patched save), and against an install in memory whose every step fails
// on cue.
#include "patch/patch_save_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/install.h"
#include "tests/fake_install.h"
#include "tests/test_support.h"

namespace {

// A save directory as the run sequence forms it: the on-disk directory
// "<tmp>/Old.HDR saves/SaveGames/", reached through drive Z: of a Wine prefix
// and written with the program's trailing backslash. The ".HDR" in a folder
// name must never be taken for a save's.
class SaveDirectory {
 public:
  SaveDirectory()
      : disk_(temp_.path() + "Old.HDR saves/SaveGames/"),
        written_("Z:" + temp_.path() + "Old.HDR saves/SaveGames\\") {
    mkdir((temp_.path() + "Old.HDR saves").c_str(), 0755);
    mkdir(disk_.c_str(), 0755);
    const std::string prefix = temp_.path() + "prefix";
    LayOutPrefix(prefix, "");
    install_ = std::move(ThisMachine({prefix, {}, {}})->FindInstalls({"SOFTWARE\\Game", "AppPath", "", "*.HDR"}).front());
  }
  std::string Disk(const std::string& name) const { return disk_ + name; }
  const std::string& Written() const { return written_; }
  std::vector<std::string> Names() const { return ListDirectory(disk_); }

  // Calls PatchSaveFile on `name` the way the run sequence does and returns
  // what it printed.
  std::string Patch(const std::string& name, std::string* buffer_after = nullptr) const {
    char path[kPathBufferSize];
    std::memset(path, 'Z', sizeof path);
    std::string full = written_ + name;
    std::memcpy(path, full.c_str(), full.size() + 1);
    StdoutCapture capture;
    PatchSaveFile(*install_, path, written_.size(), {});
    std::string printed = capture.Finish();
    if (buffer_after != nullptr) *buffer_after = path;
    return printed;
  }

  // Replaces every "{D}" in `text` by the save directory as written.
  std::string Expand(std::string text) const {
    for (std::size_t at; (at = text.find("{D}")) != std::string::npos;) {
      text.replace(at, 3, written_);
    }
    return text;
  }

 private:
  TempDir temp_;
  std::unique_ptr<Install> install_;
  std::string disk_;
  std::string written_;
};

std::string Patched(std::string bytes) {
  if (bytes.size() >= 252) bytes[bytes.size() - 252] = 4;
  return bytes;
}

const char kSuccess[] = "Processing file {D}A.HDR\nBackup made {D}A.BAK\nFile Processed\n\n";

// ---- Message sequences and what is left on disk ---------------------------

// kFixedSave already holds the patch byte; kReadOnly is an old backup
// without write permission.
enum class Entry { kSave, kFixedSave, kOldBackup, kReadOnly, kDirectory, kPipe };
enum class After { kPatched, kUnchanged, kCopyOfSave, kDirectory, kPipe };

struct MessageCase {
  const char* label;
  const char* name;  // the entry handed to PatchSaveFile
  std::vector<std::pair<std::string, Entry>> before;
  const char* expected;
  const char* buffer_after;  // the buffer's name part on return
  std::map<std::string, std::pair<After, std::string>> after;  // every name left
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.label; }

class MessageSequence : public testing::TestWithParam<MessageCase> {};

TEST_P(MessageSequence, PrintsAndLeavesFilesAsExpected) {
  const MessageCase& c = GetParam();
  SaveDirectory dir;
  std::map<std::string, std::string> original;
  unsigned tag = 1;
  for (const auto& [name, kind] : c.before) {
    if (kind == Entry::kDirectory) mkdir(dir.Disk(name).c_str(), 0755);
    if (kind == Entry::kPipe) mkfifo(dir.Disk(name).c_str(), 0644);
    if (kind == Entry::kDirectory || kind == Entry::kPipe) continue;
    const bool save = kind == Entry::kSave || kind == Entry::kFixedSave;
    original[name] = SampleBytes(save ? 300 : 1000, tag++);
    if (kind == Entry::kFixedSave) original[name] = Patched(original[name]);
    WriteFileBytes(dir.Disk(name), original[name]);
    if (kind == Entry::kReadOnly) chmod(dir.Disk(name).c_str(), 0444);
  }

  std::string buffer;
  EXPECT_EQ(dir.Patch(c.name, &buffer), dir.Expand(c.expected));
  EXPECT_EQ(buffer, dir.Written() + c.buffer_after);

  std::vector<std::string> expected_names;
  for (const auto& [name, state] : c.after) {
    expected_names.push_back(name);
    const std::string path = dir.Disk(name);
    switch (state.first) {
      case After::kPatched: EXPECT_TRUE(SameBytes(ReadFileBytes(path), Patched(original[name]))) << name; break;
      case After::kUnchanged: EXPECT_TRUE(SameBytes(ReadFileBytes(path), original[name])) << name; break;
      case After::kCopyOfSave: EXPECT_TRUE(SameBytes(ReadFileBytes(path), original[state.second])) << name; break;
      case After::kDirectory:
      case After::kPipe: {
        struct stat info;
        const auto type = state.first == After::kPipe ? S_IFIFO : S_IFDIR;
        EXPECT_TRUE(lstat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == static_cast<mode_t>(type)) << name;
        break;
      }
    }
  }
  EXPECT_EQ(dir.Names(), expected_names);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageSequence,
    testing::Values(
        MessageCase{"Success", "A.HDR", {{"A.HDR", Entry::kSave}}, kSuccess, "A.BAK",
                    {{"A.BAK", {After::kCopyOfSave, "A.HDR"}}, {"A.HDR", {After::kPatched, ""}}}},
        MessageCase{"MissingSaveLeavesOldBackup", "A.HDR", {{"A.BAK", Entry::kOldBackup}},
                    "Failed to open file {D}A.HDR\nFailed to make backup {D}A.BAK... Skipping file\n\n",
                    "A.BAK", {{"A.BAK", {After::kUnchanged, ""}}}},
        MessageCase{"SaveIsDirectory", "D.HDR", {{"D.HDR", Entry::kDirectory}},
                    "Failed to open file {D}D.HDR\nFailed to make backup {D}D.BAK... Skipping file\n\n",
                    "D.BAK", {{"D.HDR", {After::kDirectory, ""}}}},
        MessageCase{"BackupCannotOpen", "A.HDR", {{"A.HDR", Entry::kSave}, {"A.BAK", Entry::kDirectory}},
                    "Processing file {D}A.HDR\nFailed to make backup {D}A.BAK... Skipping file\n\n",
                    "A.BAK",
                    {{"A.BAK", {After::kDirectory, ""}}, {"A.HDR", {After::kUnchanged, ""}}}},
        MessageCase{"FirstOfTwoExtensions", "X.HDR.HDR", {{"X.HDR.HDR", Entry::kSave}},
                    "Processing file {D}X.HDR.HDR\nBackup made {D}X.BAK\nFile Processed\n\n", "X.BAK",
                    {{"X.BAK", {After::kCopyOfSave, "X.HDR.HDR"}},
                     {"X.HDR.HDR", {After::kPatched, ""}}}},
        MessageCase{"TailAfterExtensionDropped", "A.HDRX", {{"A.HDRX", Entry::kSave}},
                    "Processing file {D}A.HDRX\nBackup made {D}A.BAK\nFile Processed\n\n", "A.BAK",
                    {{"A.BAK", {After::kCopyOfSave, "A.HDRX"}}, {"A.HDRX", {After::kPatched, ""}}}},
        MessageCase{"LowerCaseExtension", "slot1.hdr", {{"slot1.hdr", Entry::kSave}},
                    "Processing file {D}slot1.hdr\nFailed to make backup {D}slot1.hdr... Skipping file\n\n",
                    "slot1.hdr", {{"slot1.hdr", {After::kUnchanged, ""}}}},
        MessageCase{"LowerCaseDirectory", "d.hdr", {{"d.hdr", Entry::kDirectory}},
                    "Failed to open file {D}d.hdr\nFailed to make backup {D}d.hdr... Skipping file\n\n",
                    "d.hdr", {{"d.hdr", {After::kDirectory, ""}}}},
        // A second run finds the save fixed and keeps its first backup.
        MessageCase{"AlreadyFixed", "A.HDR", {{"A.HDR", Entry::kFixedSave}, {"A.BAK", Entry::kOldBackup}},
                    "Processing file {D}A.HDR\nAlready fixed {D}A.HDR... Skipping file\n\n", "A.BAK",
                    {{"A.BAK", {After::kUnchanged, ""}}, {"A.HDR", {After::kUnchanged, ""}}}},
        // Read, a pipe would block the run; opened for writing, it would take the backup.
        MessageCase{"SaveIsPipe", "A.HDR", {{"A.HDR", Entry::kPipe}, {"A.BAK", Entry::kOldBackup}},
                    "Failed to open file {D}A.HDR\nFailed to make backup {D}A.BAK... Skipping file\n\n",
                    "A.BAK", {{"A.BAK", {After::kUnchanged, ""}}, {"A.HDR", {After::kPipe, ""}}}},
        MessageCase{"BackupIsPipe", "A.HDR", {{"A.HDR", Entry::kSave}, {"A.BAK", Entry::kPipe}},
                    "Processing file {D}A.HDR\nFailed to make backup {D}A.BAK... Skipping file\n\n",
                    "A.BAK", {{"A.BAK", {After::kPipe, ""}}, {"A.HDR", {After::kUnchanged, ""}}}},
        MessageCase{"BackupIsReadOnly", "A.HDR", {{"A.HDR", Entry::kSave}, {"A.BAK", Entry::kReadOnly}},
                    "Processing file {D}A.HDR\nFailed to make backup {D}A.BAK... Skipping file\n\n",
                    "A.BAK", {{"A.BAK", {After::kUnchanged, ""}}, {"A.HDR", {After::kUnchanged, ""}}}},
        MessageCase{"ExtensionOnlyInDirectoryPart", "plain", {{"plain", Entry::kSave}},
                    "Processing file {D}plain\nFailed to make backup {D}plain... Skipping file\n\n",
                    "plain", {{"plain", {After::kUnchanged, ""}}}}),
    [](const testing::TestParamInfo<MessageCase>& param) { return std::string(param.param.label); });

// ---- Lengths: the patch byte lands at length - 252 and nowhere else -------

class SaveLength : public testing::TestWithParam<std::size_t> {};

TEST_P(SaveLength, BacksUpWholeAndPatchesOneByte) {
  SaveDirectory dir;
  const std::string original = SampleBytes(GetParam(), 7);
  WriteFileBytes(dir.Disk("A.HDR"), original);
  // A longer backup from an earlier run must be replaced whole.
  WriteFileBytes(dir.Disk("A.BAK"), SampleBytes(GetParam() + 5000, 8));

  dir.Patch("A.HDR");
  EXPECT_TRUE(SameBytes(ReadFileBytes(dir.Disk("A.BAK")), original));
  const std::string after = ReadFileBytes(dir.Disk("A.HDR"));
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

TEST(PatchSaveFile, SecondRunKeepsTheFirstBackup) {
  SaveDirectory dir;
  const std::string original = SampleBytes(1000, 3);
  WriteFileBytes(dir.Disk("A.HDR"), original);
  EXPECT_EQ(dir.Patch("A.HDR"), dir.Expand(kSuccess));
  EXPECT_EQ(dir.Patch("A.HDR"), dir.Expand("Processing file {D}A.HDR\nAlready fixed {D}A.HDR... Skipping file\n\n"));
  EXPECT_TRUE(SameBytes(ReadFileBytes(dir.Disk("A.BAK")), original));
  EXPECT_TRUE(SameBytes(ReadFileBytes(dir.Disk("A.HDR")), Patched(original)));
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"A.BAK", "A.HDR"}));
}

// A device is never replaced, so nothing is written to it; the link stays.
TEST(PatchSaveFile, BackupOnFullDeviceIsRefused) {
  SaveDirectory dir;
  const std::string original = SampleBytes(300, 4);
  WriteFileBytes(dir.Disk("A.HDR"), original);
  ASSERT_EQ(symlink("/dev/full", dir.Disk("A.BAK").c_str()), 0);

  EXPECT_EQ(dir.Patch("A.HDR"),
            dir.Expand("Processing file {D}A.HDR\nFailed to make backup {D}A.BAK... Skipping file\n\n"));
  EXPECT_TRUE(SameBytes(ReadFileBytes(dir.Disk("A.HDR")), original));
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"A.BAK", "A.HDR"}));
}

// ---- Steps that fail on cue -------------------------------------------------

const char kSave[] = "C:\\G\\SaveGames\\A.HDR";
const char kBackup[] = "C:\\G\\SaveGames\\A.BAK";
const std::size_t kFolderLength = std::strlen("C:\\G\\SaveGames\\");

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

  char path[kPathBufferSize];
  std::memcpy(path, kSave, sizeof kSave);
  StdoutCapture capture;
  PatchSaveFile(install, path, kFolderLength, {});
  std::string expected = c.expected;
  for (std::size_t at; (at = expected.find("{S}")) != std::string::npos;) expected.replace(at, 3, kSave);
  for (std::size_t at; (at = expected.find("{B}")) != std::string::npos;) expected.replace(at, 3, kBackup);
  EXPECT_EQ(capture.Finish(), expected);

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
