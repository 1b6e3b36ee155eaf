// The run sequence in-process where the end-to-end table cannot reach: a
// failing buffer source, an install in memory, and how a registry string
// is ended.
#include "run/run_sequence.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/install.h"
#include "platform/windows_rules.h"
#include "tests/fake_install.h"
#include "tests/test_support.h"

namespace {

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
  EXPECT_EQ(capture.Finish(), "Failed reading registry\nTo fix the saves in a folder, name it: savefix FOLDER\n"
                              "Press any key to close...");
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

// ---- Registry strings -------------------------------------------------------

struct StringCase {
  std::string data;
  std::size_t capacity;
  bool ok;
  std::string result;
};

TEST(EndRegistryString, EndsAtFirstZeroOrBehindTheDataIfThereIsRoom) {
  const std::vector<StringCase> cases = {
      {std::string("C:\\G\\\0", 6), 500, true, "C:\\G\\"},
      {std::string("AB\0CD\0", 6), 500, true, "AB"},
      {"ABC", 500, true, "ABC"},               // stored without a terminator
      {"", 500, true, ""},                     // empty data
      {std::string(499, 'a'), 500, true, std::string(499, 'a')},
      {std::string(500, 'a'), 500, false, ""},  // fills the buffer, no terminator
      {std::string(499, 'a') + '\0', 500, true, std::string(499, 'a')},
  };
  for (const StringCase& c : cases) {
    std::vector<char> buffer(c.capacity, 'Z');
    std::memcpy(buffer.data(), c.data.data(), c.data.size());
    ASSERT_EQ(EndRegistryString(buffer.data(), c.data.size(), c.capacity), c.ok) << c.data.size();
    if (c.ok) {
      EXPECT_EQ(std::string(buffer.data()), c.result);
    }
  }
}

}  // namespace
