// PatchSaveFile against real files in a temporary save directory: the exact
// messages, the backup and the patched save, and every failure path.
#include "patch/patch_save_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
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
    mkdir(prefix.c_str(), 0755);
    mkdir((prefix + "/dosdevices").c_str(), 0755);
    symlink("/", (prefix + "/dosdevices/z:").c_str());
    install_.root = prefix;
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
    PatchSaveFile(install_, path, written_.size());
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
  Install install_;
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
        EXPECT_TRUE(lstat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == type) << name;
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

// ---- Streams that fail on cue ---------------------------------------------

// What the next streams opened through the seam do wrong.
struct Faults {
  long save_read_limit = -1;    // reads fail once this many bytes were read
  bool save_write_fails = false;
  bool save_end_unknown = false;  // the position cannot be taken
  long backup_write_limit = -1;  // writes fail once this many bytes were written
  bool backup_unbuffered = false;
  bool backup_close_fails = false;
  // As msvcrt does: fclose returns 0 even when writing out its buffer failed.
  bool backup_close_hides_write_error = false;
  long backup_kill_at = -1;  // the process ends once this many bytes were written
};

Faults active_faults;

struct FaultyStream {
  std::FILE* real;
  long read_limit;
  long write_limit;
  bool write_fails;
  bool end_unknown;
  bool close_fails;
  long kill_at;
  long read_count = 0;
  long write_count = 0;
};

ssize_t FaultyRead(void* cookie, char* buf, size_t size) {
  auto* s = static_cast<FaultyStream*>(cookie);
  if (s->read_limit >= 0) {
    long room = s->read_limit - s->read_count;
    if (room <= 0) return -1;
    if (static_cast<long>(size) > room) size = static_cast<size_t>(room);
  }
  size_t count = std::fread(buf, 1, size, s->real);
  s->read_count += static_cast<long>(count);
  return static_cast<ssize_t>(count);
}

ssize_t FaultyWrite(void* cookie, const char* buf, size_t size) {
  auto* s = static_cast<FaultyStream*>(cookie);
  if (s->kill_at >= 0 && s->write_count >= s->kill_at) _exit(9);
  if (s->write_fails) return -1;
  if (s->write_limit >= 0) {
    long room = s->write_limit - s->write_count;
    if (room <= 0) return -1;
    if (static_cast<long>(size) > room) size = static_cast<size_t>(room);
  }
  size_t count = std::fwrite(buf, 1, size, s->real);
  std::fflush(s->real);
  s->write_count += static_cast<long>(count);
  return static_cast<ssize_t>(count);
}

int FaultySeek(void* cookie, off64_t* offset, int whence) {
  auto* s = static_cast<FaultyStream*>(cookie);
  // Asking where the stream stands is how a position too large to report
  // shows up.
  if (whence == SEEK_CUR && s->end_unknown) return -1;
  if (fseeko(s->real, *offset, whence) != 0) return -1;
  *offset = ftello(s->real);
  return 0;
}

int FaultyClose(void* cookie) {
  auto* s = static_cast<FaultyStream*>(cookie);
  int result = std::fclose(s->real) == 0 && !s->close_fails ? 0 : -1;
  delete s;
  return result;
}

// Streams whose fclose reports success whatever happened, as msvcrt's.
std::vector<std::FILE*> hiding_close_errors;

std::FILE* OpenFaulty(const Install& install, const char* path, const char* mode) {
  std::FILE* real = OpenFileStream(install, path, mode);
  if (real == nullptr) return nullptr;
  const bool save = std::strcmp(mode, kSaveStreamMode) == 0;
  const Faults& f = active_faults;
  auto* s = new FaultyStream{real,
                             save ? f.save_read_limit : -1,
                             save ? -1 : f.backup_write_limit,
                             save && f.save_write_fails,
                             save && f.save_end_unknown,
                             !save && f.backup_close_fails,
                             save ? -1 : f.backup_kill_at};
  std::FILE* stream = fopencookie(s, mode, {FaultyRead, FaultyWrite, FaultySeek, FaultyClose});
  if (!save && f.backup_unbuffered) setvbuf(stream, nullptr, _IONBF, 0);
  if (!save && f.backup_close_hides_write_error) hiding_close_errors.push_back(stream);
  return stream;
}

}  // namespace

// The test is linked with --wrap=fclose, so every fclose, the product's
// included, comes here first.
extern "C" int __real_fclose(std::FILE* stream);
extern "C" int __wrap_fclose(std::FILE* stream) {
  auto hiding = std::find(hiding_close_errors.begin(), hiding_close_errors.end(), stream);
  int result = __real_fclose(stream);
  if (hiding == hiding_close_errors.end()) return result;
  hiding_close_errors.erase(hiding);
  return 0;
}

namespace {

struct FaultCase {
  const char* label;
  Faults faults;
  const char* expected;
  bool save_patched;
  bool backup_kept;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.label; }

class InjectedFault : public testing::TestWithParam<FaultCase> {
 protected:
  void SetUp() override {
    active_faults = GetParam().faults;
    previous_ = ReplaceStreamOpener(OpenFaulty);
  }
  void TearDown() override { ReplaceStreamOpener(previous_); }

 private:
  StreamOpener previous_ = nullptr;
};

TEST_P(InjectedFault, ReportsTheFailureAndKeepsTheSaveSafe) {
  const FaultCase& c = GetParam();
  SaveDirectory dir;
  const std::string original = SampleBytes(1234, 11);
  WriteFileBytes(dir.Disk("A.HDR"), original);

  EXPECT_EQ(dir.Patch("A.HDR"), dir.Expand(c.expected));
  EXPECT_TRUE(SameBytes(ReadFileBytes(dir.Disk("A.HDR")), c.save_patched ? Patched(original) : original));
  if (c.backup_kept) {
    EXPECT_TRUE(SameBytes(ReadFileBytes(dir.Disk("A.BAK")), original));
  } else {
    EXPECT_FALSE(FileExists(dir.Disk("A.BAK")));
  }
}

const char kBackupFailed[] = "Processing file {D}A.HDR\nFailed to make backup {D}A.BAK... Skipping file\n\n";

Faults ReadFailsAt(long n) { Faults f; f.save_read_limit = n; return f; }
Faults ShortWriteAt(long n) { Faults f; f.backup_write_limit = n; f.backup_unbuffered = true; return f; }
Faults FlushFails() { Faults f; f.backup_write_limit = 0; return f; }
Faults CloseFails() { Faults f; f.backup_close_fails = true; return f; }
Faults WriteFailsCloseHidesIt() { Faults f; f.backup_write_limit = 0; f.backup_close_hides_write_error = true; return f; }
Faults PatchWriteFails() { Faults f; f.save_write_fails = true; return f; }
Faults EndUnknown() { Faults f; f.save_end_unknown = true; return f; }

INSTANTIATE_TEST_SUITE_P(
    Faults, InjectedFault,
    testing::Values(
        FaultCase{"NoFault", Faults{}, kSuccess, true, true},
        FaultCase{"ReadErrorMidCopy", ReadFailsAt(650), kBackupFailed, false, false},
        FaultCase{"ReadErrorAtStart", ReadFailsAt(0), kBackupFailed, false, false},
        FaultCase{"ShortWrite", ShortWriteAt(150), kBackupFailed, false, false},
        FaultCase{"FailedFlush", FlushFails(), kBackupFailed, false, false},
        FaultCase{"FailedClose", CloseFails(), kBackupFailed, false, false},
        FaultCase{"FailedWriteUnseenByClose", WriteFailsCloseHidesIt(), kBackupFailed, false, false},
        FaultCase{"PatchWriteFails", PatchWriteFails(),
                  "Processing file {D}A.HDR\nBackup made {D}A.BAK\nFailed to patch file {D}A.HDR\n\n",
                  false, true},
        FaultCase{"PositionUnknownAfterSeekToEnd", EndUnknown(),
                  "Processing file {D}A.HDR\nBackup made {D}A.BAK\nError parsing file?!\n\n", false,
                  true}),
    [](const testing::TestParamInfo<FaultCase>& param) { return std::string(param.param.label); });

// Killed halfway through copying a large save, a run leaves the earlier
// backup and the save exactly as they were.
TEST(PatchSaveFile, KilledMidCopyLeavesBackupAndSaveWhole) {
  SaveDirectory dir;
  const std::string original = SampleBytes(10 << 20, 12);
  const std::string earlier = SampleBytes(5000, 13);
  WriteFileBytes(dir.Disk("A.HDR"), original);
  WriteFileBytes(dir.Disk("A.BAK"), earlier);
  active_faults = Faults{};
  active_faults.backup_kill_at = 5 << 20;
  StreamOpener previous = ReplaceStreamOpener(OpenFaulty);
  EXPECT_EXIT(dir.Patch("A.HDR"), testing::ExitedWithCode(9), "");
  ReplaceStreamOpener(previous);
  EXPECT_TRUE(SameBytes(ReadFileBytes(dir.Disk("A.BAK")), earlier));
  EXPECT_TRUE(SameBytes(ReadFileBytes(dir.Disk("A.HDR")), original));
}

}  // namespace
