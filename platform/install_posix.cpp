// The native build's world: the Wine prefixes of this machine, each seen the
// way savefix.exe running in it would see it, and folders named on the
// command line, whose names are found as Wine finds them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "platform/install.h"
#include "platform/named_folder.h"
#include "platform/save_file_posix.h"
#include "platform/windows_rules.h"
#include "wine/directory.h"
#include "wine/names.h"
#include "wine/prefixes.h"
#include "wine/windows_path.h"

namespace {

// The longest name the Windows search record holds, terminator included.
constexpr std::size_t kEntryNameSize = 260;

// The entries of `directory` matching `wildcard`, but those the search record cannot hold.
Listed ListIn(const std::string& directory, const std::string& wildcard, DirectoryIndex* index,
              std::vector<std::string>* names) {
  if (!ListMatchingEntries(directory, wildcard, names, index)) return Listed::kNothing;
  names->erase(std::remove_if(names->begin(), names->end(),
                              [](const std::string& name) { return name.size() >= kEntryNameSize; }),
               names->end());
  return Listed::kListed;
}

// What both kinds of install do alike: they keep each folder a save was
// opened in open for the run, and take names by Wine's rules.
class PosixInstall : public Install {
 public:
  ~PosixInstall() override {
    for (auto& [path, folder] : folders_) {
      if (folder.descriptor >= 0) close(folder.descriptor);
    }
  }
  std::string NameKey(const char* name) override { return ::NameKey(name); }
  bool IsDeviceName(const char* name) override { return IsDeviceNameUnits(Utf8ToUtf16(name)); }

 protected:
  // The save `name` of the Unix folder `directory`, the folder opened on first need.
  Opened OpenIn(const std::string& directory, const std::string& name, DirectoryIndex* index, Access access,
                std::unique_ptr<SaveFile>* save) {
    const auto [known, added] = folders_.try_emplace(directory, OpenFolder{directory, -1, index});
    // O_DIRECTORY refuses anything else before it is opened: a pipe never blocks.
    if (added) known->second.descriptor = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    *save = OpenSaveIn(known->second, name, access);
    return *save ? Opened::kOpened : Opened::kFailed;
  }

 private:
  std::map<std::string, OpenFolder> folders_;
};

// The game as a Wine prefix's registry holds it; Windows paths resolve as
// Wine resolves them there.
class PrefixInstall : public PosixInstall {
 public:
  PrefixInstall(const Game& game, GameInPrefix found, std::optional<std::string> working_directory)
      : game_(game), found_(std::move(found)), prefix_{found_.prefix, std::move(working_directory)} {}

  Found HowFound() const override {
    switch (found_.lookup) {
      case WineRegistryLookup::kMalformed: return {Found::How::kNotAPrefix, found_.prefix, found_.proton_prefix};
      case WineRegistryLookup::kNoValue:
      case WineRegistryLookup::kNotString: return {Found::How::kNoInstallPath, found_.prefix};
      case WineRegistryLookup::kNoKey: return {Found::How::kNowhere, "", "", {{found_.prefix, true}}};
      default: return {Found::How::kPrefix, found_.prefix};
    }
  }

  SaveDirectory ReadSaveDirectory(char* path) override {
    if (found_.lookup != WineRegistryLookup::kFound || !PutInPathBuffer(found_.value, path)) {
      return SaveDirectory::kRegistryFailed;
    }
    return AppendSaveFolder(path, game_.save_folder, game_.pattern);
  }

  std::optional<MachineFolder> FolderOnMachine(const char* save_directory) override {
    MachineFolder folder;
    if (!::FolderOnMachine(prefix_, save_directory, &folder.existing, &folder.missing)) return std::nullopt;
    return folder;
  }

  Listed ListSaves(const char* pattern, std::vector<std::string>* names) override {
    std::string directory;
    std::string wildcard;
    if (!ToPrefixSearch(prefix_, pattern, &directory, &wildcard)) return Listed::kNothing;
    return ListIn(directory, wildcard, &prefix_.index, names);
  }

  Opened OpenSave(const char* path, Access access, std::unique_ptr<SaveFile>* save) override {
    std::string directory;
    std::string name;
    bool with_case = false;
    if (!ToPrefixEntry(prefix_, path, &directory, &name, &with_case) || name.empty()) return Opened::kFailed;
    return OpenIn(directory, name, with_case ? nullptr : &prefix_.index, access, save);
  }

 private:
  const Game game_;
  GameInPrefix found_;
  WinePrefix prefix_;
};

// A folder named on the command line, whose names are found as Wine finds them.
class FolderInstall : public NamedFolder<PosixInstall> {
 public:
  using NamedFolder::NamedFolder;

  Listed ListSaves(const char* /*pattern*/, std::vector<std::string>* names) override {
    return ListIn(folder_, game_.pattern, &index_, names);
  }

  Opened OpenSave(const char* path, Access access, std::unique_ptr<SaveFile>* save) override {
    std::string name = std::string(path).substr(folder_.size());
    if (!IsValidName(name) || FindEntry(folder_, name, &name, &index_) == Lookup::kFailed) return Opened::kFailed;
    return OpenIn(folder_, name, &index_, access, save);
  }

 private:
  DirectoryIndex index_;
};

// No prefix holds the game: the places looked in.
class Nowhere : public PosixInstall {
 public:
  explicit Nowhere(std::vector<PrefixPlace> places) {
    for (PrefixPlace& place : places) places_.push_back({std::move(place.path), place.found});
  }
  Found HowFound() const override { return {Found::How::kNowhere, "", "", places_}; }
  SaveDirectory ReadSaveDirectory(char*) override { return SaveDirectory::kRegistryFailed; }
  Listed ListSaves(const char*, std::vector<std::string>*) override { return Listed::kNothing; }
  Opened OpenSave(const char*, Access, std::unique_ptr<SaveFile>*) override { return Opened::kFailed; }

 private:
  std::vector<Place> places_;
};

// `name` made absolute against the working directory `pwd`, with "."
// components and doubled slashes dropped (".." is kept: a link may lead
// anywhere) and no slash at its end: the root is "".
std::string CleanPath(const std::string& name, const std::optional<std::string>& pwd) {
  const std::string path = name[0] == '/' ? name : UnixWorkingDirectory(pwd ? pwd->c_str() : nullptr).value_or("") + "/" + name;
  std::string clean;
  for (std::size_t start = 0, end; start < path.size(); start = end + 1) {
    end = std::min(path.find('/', start), path.size());
    const std::string component = path.substr(start, end - start);
    if (!component.empty() && component != ".") clean += "/" + component;
  }
  return clean;
}

class PosixWorld : public World {
 public:
  explicit PosixWorld(Environment environment) : environment_(std::move(environment)) {}

  // Every prefix that holds the game's key, and the one WINEPREFIX names.
  std::vector<std::unique_ptr<Install>> FindInstalls(const Game& game) override {
    const auto text = [](const std::optional<std::string>& value) { return value ? value->c_str() : nullptr; };
    GameSearch search = FindGame(text(environment_.wineprefix), text(environment_.home), game.key, game.value);
    // savefix.exe is started through Debian's wine script, whose shell
    // empties PWD in a folder that is gone.
    const std::optional<std::string> working_directory =
        UnixWorkingDirectory(nullptr) ? UnixWorkingDirectory(text(environment_.pwd)) : std::string();
    std::vector<std::unique_ptr<Install>> installs;
    for (GameInPrefix& found : search.found) {
      installs.push_back(std::make_unique<PrefixInstall>(game, std::move(found), working_directory));
    }
    if (installs.empty()) installs.push_back(std::make_unique<Nowhere>(std::move(search.places)));
    return installs;
  }

  // A save is the entry of its folder Wine finds by its name, a regular file
  // the folder's listing holds under a name Wine lets through.
  std::unique_ptr<Install> NamedInstall(const Game& game, const char* name) override {
    if (name[0] == '\0') return nullptr;
    const std::string path = CleanPath(name, environment_.pwd);
    struct stat info;
    if (stat(path.empty() ? "/" : path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      // The game's own folder: its saves are in its save folder.
      std::string saves(game.save_folder, std::strlen(game.save_folder) - 1);
      DirectoryIndex index;
      const bool game_folder = FindEntry(path + "/", saves, &saves, &index) == Lookup::kFound &&
                               stat((path + "/" + saves).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
      return std::make_unique<FolderInstall>(game, path + "/" + (game_folder ? saves + "/" : ""), "");
    }
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    std::string entry = path.substr(folder.size());
    DirectoryIndex index;
    std::vector<std::string> saves;
    if (!IsValidName(entry) || FindEntry(folder, entry, &entry, &index) != Lookup::kFound ||
        stat((folder + entry).c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        ListIn(folder, game.pattern, &index, &saves) != Listed::kListed ||
        std::find(saves.begin(), saves.end(), entry) == saves.end() || IsDeviceNameUnits(Utf8ToUtf16(entry))) {
      return nullptr;
    }
    return std::make_unique<FolderInstall>(game, folder, entry);
  }

  bool FindsWinePrefixes() const override { return true; }

 private:
  Environment environment_;
};

}  // namespace

std::unique_ptr<World> ThisMachine(const Environment& environment) { return std::make_unique<PosixWorld>(environment); }
