// Helpers shared by the tests: temporary directories, whole-file I/O and
// capturing what the code under test prints on standard output.
#ifndef SAVEFIX_TESTS_TEST_SUPPORT_H
#define SAVEFIX_TESTS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The directory path, ending in '/'.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// `size` bytes that vary with `tag`, none of them 4, so a written patch byte shows.
std::string SampleBytes(std::size_t size, unsigned tag);
// Names in `dir`, sorted, without "." and "..".
std::vector<std::string> ListDirectory(const std::string& dir);

// Equal bytes; on a difference, says where the first one is instead of
// printing both files.
testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected);

// Redirects standard output (the C stream and descriptor 1) into a file until
// Finish() returns what was written.
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  std::string Finish();

 private:
  int saved_fd_ = -1;
  std::string file_;
};

#endif
