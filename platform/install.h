// The seam between savefix and the system: one install of the game, offering
// what the run needs of it (its install path, its saves, a save opened, a
// backup made) and nothing more. install_win32.cpp is this Windows machine;
// install_posix.cpp is one Wine prefix, read through the model of Wine in
// wine/. Tests use an install in memory that fails on cue.
#ifndef SAVEFIX_PLATFORM_INSTALL_H
#define SAVEFIX_PLATFORM_INSTALL_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Size of the path buffer and of the search-pattern buffer, terminator included.
constexpr std::size_t kPathBufferSize = 500;

// Which file an entry is: two entries are one file if their ids are equal.
struct FileId {
  unsigned long long volume = 0;
  unsigned long long index = 0;
  bool operator==(const FileId& other) const { return volume == other.volume && index == other.index; }
};

// What an install hands out is owned where it is made, never copied; so is
// the install itself.
struct NotCopied {
  NotCopied() = default;
  NotCopied(const NotCopied&) = delete;
  NotCopied& operator=(const NotCopied&) = delete;
};

// An open save file, shared with other programs as it is open.
class SaveFile : NotCopied {
 public:
  virtual ~SaveFile() = default;
  // Reads on from where the last read ended (first: the start): the count
  // read, 0 at the end, -1 on failure.
  virtual long Read(unsigned char* into, std::size_t size) = 0;
  // The file's length in bytes; -1 if it cannot be told.
  virtual long long Length() = 0;
  virtual bool ReadByte(long long offset, unsigned char* byte) = 0;
  // Writes one byte in place, through to the system.
  virtual bool WriteByte(long long offset, unsigned char byte) = 0;
  virtual bool Identify(FileId* id) = 0;
};

// The entry that moving a new backup into place would replace, links followed.
struct BackupTarget {
  bool exists = false;
  bool regular_file = false;
  bool read_only = false;
  // The backup's name reached an entry whose own name is another: the name is
  // a short (8.3) alias.
  bool alias = false;
  FileId id;
};

// A new file beside a backup, created exclusively, to be moved into the
// backup's place or discarded: unless MoveIntoPlace succeeded, it is removed
// when the object goes.
class NewBackup : NotCopied {
 public:
  virtual ~NewBackup() = default;
  // Writes all of `bytes` through to the system.
  virtual bool Write(const unsigned char* bytes, std::size_t size) = 0;
  // Puts what was written on the disk.
  virtual bool Sync() = 0;
  virtual bool Close() = 0;
  // Looks up the entry the move would replace; false if it cannot be told.
  virtual bool LookAtTarget(BackupTarget* target) = 0;
  // Moves the closed file over the entry LookAtTarget found, in one step, and
  // makes the move itself durable.
  virtual bool MoveIntoPlace() = 0;
};

enum class InstallPath { kRead, kNotInRegistry, kNotUsable };
enum class Opened { kOpened, kFailed, kTooLong };
enum class Listed { kListed, kNothing, kTooLong };

class Install : NotCopied {
 public:
  virtual ~Install() = default;
  // Printed before the install's messages; empty for none.
  virtual std::string Label() const { return std::string(); }
  // True if the install path is the save folder itself (named on the
  // command line), not the game's folder, which holds it.
  virtual bool IsSaveFolder() const = 0;
  // The game's install path into `buffer` (kPathBufferSize bytes) as a C
  // string. kNotInRegistry: the registry does not hold it as a string that
  // fits; kNotUsable: the same, and the label said so already.
  virtual InstallPath ReadInstallPath(char* buffer) = 0;
  // Names the folder `path` for the player where a path alone would not
  // find it: lines ending in a line feed, or empty (the default).
  virtual std::string DescribeFolder(const char* /*path*/) { return std::string(); }
  // The entries matching `pattern` (a folder path followed by a wildcard
  // name, matched without regard to case), in the system's order.
  virtual Listed ListSaves(const char* pattern, std::vector<std::string>* names) = 0;
  // Opens the save `path` to read and write it; only a regular file opens,
  // and nothing waits on a pipe or a device.
  virtual Opened OpenSave(const char* path, std::unique_ptr<SaveFile>* save) = 0;
  // A new empty file in the folder of `backup_path`, under a short name of
  // its own that never matches "*.HDR"; null if none can be made.
  virtual std::unique_ptr<NewBackup> CreateBackup(const char* backup_path) = 0;
};

// The installs to patch, in order, for the game whose key (below
// HKEY_LOCAL_MACHINE) is `key_path` and whose install path is its value
// `value_name`. Never empty: with none found, one whose registry holds
// nothing, so that the run says it could not read the registry.
std::vector<std::unique_ptr<Install>> FindInstalls(const char* key_path, const char* value_name);

// The install `name` names on the command line: a folder of saves, or one
// save in its folder; null if it is neither a folder nor an existing file.
std::unique_ptr<Install> NamedInstall(const char* name);

// What to tell the player after "Failed reading registry": lines, or empty.
const char* RegistryFailedHint();

// Where FindInstalls looks, in lines for the usage text.
const char* WhereInstallsAreFound();

// The form under which the file system takes entry names for the same:
// two names are one if their keys are equal.
std::string FileNameKey(const char* name);

// True if `name` is one the system reserves for a device (NUL, COM1...).
bool IsDeviceName(const char* name);

#endif
