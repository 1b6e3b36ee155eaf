// Helpers shared by the tests: temporary directories, whole-file I/O, Wine
// prefixes laid out by hand and capturing what the code under test prints on
// standard output.
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
void WriteFileBytes(const std::string& path, const std::string& bytes);
// `size` bytes that vary with `tag`, none of them 4, so a written patch byte shows.
std::string SampleBytes(std::size_t size, unsigned tag);
// Names in `dir`, sorted, without "." and "..".
std::vector<std::string> ListDirectory(const std::string& dir);
// Makes `path` and every missing folder above it; true if it is a folder then.
bool MakeDirectories(const std::string& path);

// Where launchers other than Wine and Steam keep prefixes, below a home, in
// the order the native build looks in them.
inline const std::string kLauncherPlaces[] = {".config/lutris/games", ".local/share/lutris/games", "Games",
    ".config/heroic/GamesConfig", "Games/Heroic/Prefixes/default", ".local/share/bottles/bottles",
    ".var/app/com.usebottles.bottles/data/bottles/bottles", ".PlayOnLinux/wineprefix", ".cxoffice"};

// What a registry holds for the game, whose key is Quarrelstone\Vellmoor\1.0
// in the 32-bit view below HKEY_LOCAL_MACHINE\Software.
enum class Registry {
  kNothing,           // no key at all (natively: no system.reg)
  kOtherKey,          // some other key of the maker only
  kKeyNoValue,        // the game's key without "AppPath"
  kString,            // "AppPath" holds the install path
  kExpandString,      // the same, stored as an expandable string
  kStringAndOther64,  // as kString; the 64-bit view holds another path
  kDword,             // "AppPath" holds a number
  kMalformed,         // natively, a system.reg that is not a registry file; elsewhere no key
};

// One key of such a registry: its path below HKEY_LOCAL_MACHINE, with single
// backslashes, and its value lines, which regedit files and Wine's system.reg
// write alike. None for kNothing and kMalformed.
struct RegistryKey {
  std::string path;
  std::string values;
};
std::vector<RegistryKey> RegistryKeys(Registry registry, const std::string& app_path);

// The system.reg of a 64-bit Wine prefix holding `registry` with "AppPath"
// `app_path`; empty for kNothing.
std::string SystemReg(const std::string& app_path, Registry registry = Registry::kString);

// Lays out a Wine prefix by hand, as the native program reads one: the folder
// `prefix` (with any missing above it), dosdevices/z: linked to "/", and
// unless `system_reg_text` is empty, system.reg holding it. True on success.
bool LayOutPrefix(const std::string& prefix, const std::string& system_reg_text);

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
