// The seam between savefix and the system: the world it runs in (this
// Windows machine, or this Linux machine and its Wine prefixes), which finds
// the installs of the game; one install, offering what the run needs of it
// (its save directory, its saves, a save opened); an open save, which makes
// its backup in its own folder. install_win32.cpp is Windows, through its
// calls; install_posix.cpp the Wine prefixes and folders of this machine,
// through the model of Wine in wine/. Tests use a world in memory that fails
// on cue.
#ifndef SAVEFIX_PLATFORM_INSTALL_H
#define SAVEFIX_PLATFORM_INSTALL_H

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Size of the path buffer and of the search-pattern buffer, terminator included.
constexpr std::size_t kPathBufferSize = 500;

// The game, as the run knows it.
struct Game {
  const char* key;          // where its installer records the install path, below HKEY_LOCAL_MACHINE
  const char* value;        // the value holding it
  const char* save_folder;  // the saves' folder below the install path, with its separator
  const char* pattern;      // the saves' names, a wildcard
};

// What the program reads of its environment, once, at its start.
struct Environment {
  std::optional<std::string> wineprefix;
  std::optional<std::string> home;
  std::optional<std::string> pwd;
};

// Which file an entry is: two entries are one file if their ids are equal.
struct FileId {
  unsigned long long volume = 0;
  unsigned long long index = 0;
  bool operator==(const FileId& other) const { return volume == other.volume && index == other.index; }
};

// What the seam hands out is owned where it is made, never copied.
struct NotCopied {
  NotCopied() = default;
  NotCopied(const NotCopied&) = delete;
  NotCopied& operator=(const NotCopied&) = delete;
};

// Why a backup was kept or not.
enum class Kept {
  kKept,
  kFailed,                // a step failed: sync, close, look or move
  kReadOnly,              // the entry at the backup's name is read-only
  kAlias,                 // the backup's name is the short alias of another entry
  kNotAFile,              // the entry there is a folder, a pipe, a device...
  kIsTheSave,             // the entry there is the save itself
  kAnotherSavesOriginal,  // another save of that backup name is fixed: it may be that save's only original
};

// The entry that moving a new backup into place would replace, links followed.
struct BackupTarget {
  bool exists = false;
  bool regular_file = false;
  bool read_only = false;
  bool alias = false;  // reached through a short (8.3) alias of another name
  FileId id;
};

class SaveFile;

// A new file beside a save, to be kept as its backup or discarded: unless
// Keep succeeds, it is removed when the object goes.
class NewBackup : NotCopied {
 public:
  virtual ~NewBackup() = default;
  // Writes all of `bytes` through to the system.
  virtual bool Write(const unsigned char* bytes, std::size_t size) = 0;
  // Puts the file on the disk, closes it, looks at the entry at the backup's
  // name and, unless that may not be replaced, moves the file over it in one
  // step and makes the move durable. `another_save_is_fixed` is asked only
  // where an entry stands there.
  Kept Keep(SaveFile& save, const std::function<bool()>& another_save_is_fixed);
  // The same, the file made to replace the save `save_id` itself: the entry
  // at its name must be that save, a writable file reached by its own name.
  // Nothing may hold the save open meanwhile: Windows moves nothing over an
  // open file.
  Kept PutBack(const FileId& save_id);

 protected:
  virtual bool Sync() = 0;
  virtual bool Close() = 0;
  // Looks up the entry at the backup's name, the one MoveIntoPlace replaces.
  virtual bool LookAtTarget(BackupTarget* target) = 0;
  virtual bool MoveIntoPlace() = 0;

 private:
  Kept Finish(const FileId* save_id, bool replaces_save, const std::function<bool()>& another_save_is_fixed);
};

// Making a new file: made, or why not.
enum class Created { kMade, kNameTaken, kNotAllowed, kDiskFull, kFailed };

// An open save file, shared with other programs as it is open. It knows its
// folder and its entry there.
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
  // A new empty file in the save's folder, to be kept as the entry `name`
  // there; null, and why, if none can be made. It is named "savefix-N.tmp"
  // by the first N, from where the last search in the folder ended, whose
  // name is free: a name taken, by a file another run writes or one a
  // killed run left, is passed over and never touched.
  std::unique_ptr<NewBackup> CreateNewFile(const char* name, Created* why);

 protected:
  // Creates `temp_name` in the save's folder, only if no entry has the name.
  virtual Created CreateNew(const std::string& temp_name, const char* name, std::unique_ptr<NewBackup>* file) = 0;
  // Where the search for a free name starts in the save's folder.
  virtual unsigned& NextTempNumber() = 0;
};

// A place installs were looked for in, and whether it is there.
struct Place {
  std::string path;
  bool exists;
};

// How an install was found, for the player: the facts, which the run words.
struct Found {
  enum class How { kThisMachine, kNamed, kPrefix, kNotAPrefix, kNoInstallPath, kNowhere };
  How how;
  std::string prefix = {};         // kPrefix, kNotAPrefix, kNoInstallPath
  std::string proton_prefix = {};  // kNotAPrefix: the prefix in its pfx/, if it holds one
  std::vector<Place> places = {};  // kNowhere: every place looked in
};

enum class SaveDirectory { kRead, kRegistryFailed, kTooLong };
enum class Opened { kOpened, kFailed, kTooLong };
enum class Access { kReadWrite, kRead };
enum class Listed { kListed, kNothing, kTooLong };

// Where a save directory is on this machine: the part that exists, then the
// components below it that do not ("" when all do).
struct MachineFolder {
  std::string existing;
  std::string missing;
};

class Install : NotCopied {
 public:
  virtual ~Install() = default;
  virtual Found HowFound() const = 0;
  // The save directory into `path` (kPathBufferSize bytes), ending in its
  // separator, with room left for the saves' pattern behind it.
  virtual SaveDirectory ReadSaveDirectory(char* path) = 0;
  // Where `save_directory` is on this machine, where its path alone would
  // not tell the player; none by default.
  virtual std::optional<MachineFolder> FolderOnMachine(const char* /*save_directory*/) { return std::nullopt; }
  // The entries matching `pattern` (a folder path followed by a wildcard
  // name, matched without regard to case), in the system's order.
  virtual Listed ListSaves(const char* pattern, std::vector<std::string>* names) = 0;
  // True for a listed entry to patch: every one, or those named.
  virtual bool Chosen(const std::string& /*name*/) const { return true; }
  // Takes the saves `other` stands for, if it is a named install of the
  // same folder; false, unchanged, otherwise.
  virtual bool TakeSavesOf(const Install& /*other*/) { return false; }
  // Opens the save `path`; only a regular file opens, and nothing waits on
  // a pipe or a device. To write it, it must not be read-only.
  virtual Opened OpenSave(const char* path, Access access, std::unique_ptr<SaveFile>* save) = 0;
  // The form under which the file system takes names for the same: two
  // names are one if their keys are equal.
  virtual std::string NameKey(const char* name) = 0;
  // True if the system opens `name` as a device (NUL, COM1...).
  virtual bool IsDeviceName(const char* name) = 0;
};

class World : NotCopied {
 public:
  virtual ~World() = default;
  // The installs of `game` to patch, in order. Never empty: with none
  // found, one that says where it was looked for and reads no registry.
  virtual std::vector<std::unique_ptr<Install>> FindInstalls(const Game& game) = 0;
  // The install `name`, given on the command line, stands for: a folder of
  // saves, or one save in its folder as its listing holds it. Null for
  // anything else: missing, a device or a pipe, a file that is no save.
  virtual std::unique_ptr<Install> NamedInstall(const Game& game, const char* name) = 0;
  // True where installs are found in Wine prefixes, not in this system's registry.
  virtual bool FindsWinePrefixes() const = 0;
};

// The world this program runs in.
std::unique_ptr<World> ThisMachine(const Environment& environment);

// The name "savefix-N.tmp" of the new files that become backups.
std::string TempFileName(unsigned number);

#endif
