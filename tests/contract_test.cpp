// The contract rows (see contract.h), and the world in memory.
#include "tests/contract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <tuple>

#include "tests/fake_install.h"

namespace {

enum class Action {
  kKeep,  // open the save `name`, copy it into a new backup and keep that as its ".BAK"
  kOpen,  // open the save `name`
  kList,  // list "*.HDR"
  kName,  // name `name` on the command line
  kPutBack,  // open the save `name`, copy into a new file what it held before, and put that in its place
};

struct Row {
  std::string label;
  std::vector<Entry> before;
  Action action;
  std::string name = "S.HDR";
  bool another_fixed = false;  // kKeep: another save of the backup's name is fixed
  Kept kept = Kept::kKept;
  std::string backup = "S.BAK";  // kKeep, kPutBack: the entry that holds the new file once kept
  Opened opened = Opened::kOpened;
  std::vector<std::string> listed = {};  // kList: the names, sorted; kName: those chosen, none if refused
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.label; }

}  // namespace

std::string SaveBytes(const std::string& name) {
  std::string bytes(300, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0x10 + (i * 7 + name.size()) % 200);
  return bytes;
}

namespace {

std::vector<Entry> Leftovers(int count) {
  std::vector<Entry> entries = {{"S.HDR", Kind::kSave}};
  for (int i = 0; i < count; ++i) entries.push_back({TempFileName(static_cast<unsigned>(i)), Kind::kFile});
  return entries;
}

const std::string kLong = std::string(251, 'L') + ".HDR";

const Row kRows[] = {
    // What stands at the backup's name decides whether a backup is kept.
    {.label = "NothingThere", .before = {{"S.HDR", Kind::kSave}}, .action = Action::kKeep},
    {.label = "OldBackup", .before = {{"S.HDR", Kind::kSave}, {"S.BAK", Kind::kFile}}, .action = Action::kKeep},
    {.label = "CaseVariantWritable", .before = {{"S.HDR", Kind::kSave}, {"s.bak", Kind::kFile}},
     .action = Action::kKeep, .backup = "s.bak"},
    {.label = "CaseVariantReadOnly", .before = {{"S.HDR", Kind::kSave}, {"s.bak", Kind::kReadOnly}},
     .action = Action::kKeep, .kept = Kept::kReadOnly, .backup = ""},
    {.label = "ReadOnly", .before = {{"S.HDR", Kind::kSave}, {"S.BAK", Kind::kReadOnly}}, .action = Action::kKeep,
     .kept = Kept::kReadOnly, .backup = ""},
    {.label = "AliasOfAnotherBackup",
     .before = {{"CAMP~NX4.HDR", Kind::kSave}, {"Campaign One.BAK", Kind::kFile, "", "CAMP~NX4.BAK"}},
     .action = Action::kKeep, .name = "CAMP~NX4.HDR", .kept = Kept::kAlias, .backup = ""},
    {.label = "Directory", .before = {{"S.HDR", Kind::kSave}, {"S.BAK", Kind::kDirectory}}, .action = Action::kKeep,
     .kept = Kept::kNotAFile, .backup = ""},
    {.label = "Pipe", .before = {{"S.HDR", Kind::kSave}, {"S.BAK", Kind::kPipe}}, .action = Action::kKeep,
     .kept = Kept::kNotAFile, .backup = ""},
    {.label = "Device", .before = {{"S.HDR", Kind::kSave}, {"S.BAK", Kind::kDevice}}, .action = Action::kKeep,
     .kept = Kept::kNotAFile, .backup = ""},
    {.label = "HardLinkToSave", .before = {{"S.HDR", Kind::kSave}, {"S.BAK", Kind::kHardLink, "S.HDR"}},
     .action = Action::kKeep, .kept = Kept::kIsTheSave, .backup = ""},
    {.label = "SymbolicLinkToSave", .before = {{"S.HDR", Kind::kSave}, {"S.BAK", Kind::kSymbolicLink, "S.HDR"}},
     .action = Action::kKeep, .kept = Kept::kIsTheSave, .backup = ""},
    {.label = "DanglingLink", .before = {{"S.HDR", Kind::kSave}, {"S.BAK", Kind::kDanglingLink}},
     .action = Action::kKeep},
    {.label = "LinkLoop", .before = {{"S.HDR", Kind::kSave}, {"S.BAK", Kind::kLinkLoop}}, .action = Action::kKeep,
     .kept = Kept::kFailed, .backup = ""},
    {.label = "AnotherSavesOriginal", .before = {{"S.HDR", Kind::kSave}, {"S.BAK", Kind::kFile}},
     .action = Action::kKeep, .another_fixed = true, .kept = Kept::kAnotherSavesOriginal, .backup = ""},
    {.label = "AnotherFixedButNoBackupYet", .before = {{"S.HDR", Kind::kSave}}, .action = Action::kKeep,
     .another_fixed = true},
    // New files take names no entry has; what a killed run left is passed over.
    {.label = "HundredLeftovers", .before = Leftovers(100), .action = Action::kKeep},
    {.label = "LinkAtTheNewFilesName", .before = {{"S.HDR", Kind::kSave}, {TempFileName(0), Kind::kHardLink, "S.HDR"}},
     .action = Action::kKeep},
    {.label = "LongestName", .before = {{kLong, Kind::kSave}}, .action = Action::kKeep, .name = kLong,
     .backup = std::string(251, 'L') + ".BAK"},

    // What puts a save back replaces that very save, and nothing else.
    {.label = "PutsBackTheSave", .before = {{"S.HDR", Kind::kSave}, {"S.BAK", Kind::kFile}}, .action = Action::kPutBack,
     .backup = "S.HDR"},
    {.label = "PutsBackNoReadOnlySave", .before = {{"S.HDR", Kind::kReadOnly}}, .action = Action::kPutBack,
     .kept = Kept::kReadOnly, .backup = ""},

    // Only a regular file opens as a save.
    {.label = "OpensAFile", .before = {{"S.HDR", Kind::kSave}}, .action = Action::kOpen},
    {.label = "OpensInAnotherCase", .before = {{"S.HDR", Kind::kSave}}, .action = Action::kOpen, .name = "s.hdr"},
    {.label = "NoPipe", .before = {{"S.HDR", Kind::kPipe}}, .action = Action::kOpen, .opened = Opened::kFailed},
    {.label = "NoDevice", .before = {{"S.HDR", Kind::kDevice}}, .action = Action::kOpen, .opened = Opened::kFailed},
    {.label = "NoDirectory", .before = {{"S.HDR", Kind::kDirectory}}, .action = Action::kOpen,
     .opened = Opened::kFailed},
    {.label = "NoReadOnlySave", .before = {{"S.HDR", Kind::kReadOnly}}, .action = Action::kOpen,
     .opened = Opened::kFailed},
    {.label = "NoNameWineShowsOtherwise", .before = {{"a*b.HDR", Kind::kSave}}, .action = Action::kOpen,
     .name = "a*b.HDR", .opened = Opened::kFailed},

    // The listing: "*.HDR" without regard to case, through short aliases too.
    {.label = "ListsWithoutCase",
     .before = {{"A.HDR", Kind::kSave}, {"b.hdr", Kind::kSave}, {"C.Hdr", Kind::kSave}, {"D.BAK", Kind::kFile},
                {"notes.txt", Kind::kFile}},
     .action = Action::kList, .listed = {"A.HDR", "C.Hdr", "b.hdr"}},
    {.label = "ListsThroughShortAlias",
     .before = {{"Campaign.HDRX", Kind::kSave, "", "CAMP~ISP.HDR"}, {"Campaign.HDR.old", Kind::kSave, "", "CAMP~NUF.OLD"}},
     .action = Action::kList, .listed = {"Campaign.HDRX"}},
    {.label = "ListsDeviceNames", .before = {{"CON.HDR", Kind::kSave}}, .action = Action::kList, .listed = {"CON.HDR"}},

    // A name on the command line: a folder, or one save of its folder's listing.
    {.label = "NamesASave", .before = {{"S.HDR", Kind::kSave}, {"T.HDR", Kind::kSave}}, .action = Action::kName,
     .listed = {"S.HDR"}},
    {.label = "NamesTheSaveOfThatCase", .before = {{"S.HDR", Kind::kSave}, {"s.HDR", Kind::kSave}},
     .action = Action::kName, .name = "s.HDR", .listed = {"s.HDR"}},
    {.label = "NamesASaveInAnotherCase", .before = {{"S.HDR", Kind::kSave}, {"T.HDR", Kind::kSave}},
     .action = Action::kName, .name = "s.hdr", .listed = {"S.HDR"}},
    {.label = "NamesASaveByItsAlias",
     .before = {{"Campaign One.HDR", Kind::kSave, "", "CAMP~OEU.HDR"}, {"T.HDR", Kind::kSave}},
     .action = Action::kName, .name = "CAMP~OEU.HDR", .listed = {"Campaign One.HDR"}},
    {.label = "NamesNoPipe", .before = {{"S.HDR", Kind::kPipe}}, .action = Action::kName},
    {.label = "NamesNoDevice", .before = {{"S.HDR", Kind::kDevice}}, .action = Action::kName},
    {.label = "NamesNoFileThatIsNoSave", .before = {{"S.txt", Kind::kFile}}, .action = Action::kName,
     .name = "S.txt"},
    {.label = "NamesNothingMissing", .before = {{"T.HDR", Kind::kSave}}, .action = Action::kName},
};

class Contract : public testing::TestWithParam<std::tuple<Row, LabMaker>> {};

// The entries made, by name, with the bytes each file held.
std::map<std::string, std::string> LayOut(Lab& lab, const Row& row) {
  std::map<std::string, std::string> bytes;
  for (const Entry& entry : row.before) {
    std::string why;
    if (!lab.Make(entry, &why)) {
      bytes["(cannot)"] = why;
      return bytes;
    }
    bytes[entry.name] = lab.Bytes(entry.name);
  }
  return bytes;
}

TEST_P(Contract, Holds) {
  const auto& [row, maker] = GetParam();
  std::unique_ptr<Lab> lab = maker.make();
  const std::map<std::string, std::string> before = LayOut(*lab, row);
  if (before.count("(cannot)") != 0) GTEST_SKIP() << maker.name << " cannot build this: " << before.at("(cannot)");
  Install& install = lab->TheInstall();
  const std::string path = lab->Folder() + row.name;
  switch (row.action) {
    case Action::kKeep:
    case Action::kPutBack: {
      const bool put_back = row.action == Action::kPutBack;
      std::unique_ptr<SaveFile> save;
      FileId id;
      Created why;
      ASSERT_EQ(install.OpenSave(path.c_str(), put_back ? Access::kRead : Access::kReadWrite, &save), Opened::kOpened);
      ASSERT_TRUE(save->Identify(&id));
      const std::string name = put_back ? row.name : row.name.substr(0, row.name.find(".HDR")) + ".BAK";
      std::unique_ptr<NewBackup> copy = save->CreateNewFile(name.c_str(), &why);
      ASSERT_TRUE(copy);
      const std::string bytes = put_back ? "as it was" : lab->Bytes(row.name);
      ASSERT_TRUE(copy->Write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
      if (put_back) save.reset();  // nothing holds a save open that is put back
      EXPECT_EQ(put_back ? copy->PutBack(id) : copy->Keep(*save, [&row] { return row.another_fixed; }), row.kept);
      copy.reset();
      save.reset();
      std::vector<std::string> names;
      for (const auto& [entry, old] : before) {
        names.push_back(entry);
        EXPECT_EQ(lab->Bytes(entry), entry == row.backup ? bytes : old) << entry;
      }
      if (!row.backup.empty() && before.count(row.backup) == 0) {
        names.push_back(row.backup);
        EXPECT_EQ(lab->Bytes(row.backup), bytes);
      }
      std::sort(names.begin(), names.end());
      EXPECT_EQ(lab->Names(), names);
      break;
    }
    case Action::kOpen: {
      std::unique_ptr<SaveFile> save;
      EXPECT_EQ(install.OpenSave(path.c_str(), Access::kReadWrite, &save), row.opened);
      EXPECT_EQ(save != nullptr, row.opened == Opened::kOpened);
      break;
    }
    case Action::kList: {
      std::vector<std::string> names;
      ASSERT_EQ(install.ListSaves((lab->Folder() + ContractGame().pattern).c_str(), &names), Listed::kListed);
      std::sort(names.begin(), names.end());
      EXPECT_EQ(names, row.listed);
      for (const std::string& name : names) {
        EXPECT_EQ(install.IsDeviceName(name.c_str()), name == "CON.HDR") << name;
      }
      break;
    }
    case Action::kName: {
      std::unique_ptr<Install> named;
      std::string why;
      if (!lab->Named(row.name, &named, &why)) GTEST_SKIP() << maker.name << " names nothing: " << why;
      std::vector<std::string> chosen;
      if (named) {
        std::vector<std::string> names;
        char folder[kPathBufferSize];
        ASSERT_EQ(named->ReadSaveDirectory(folder), SaveDirectory::kRead);
        EXPECT_EQ(folder, lab->Folder());
        ASSERT_EQ(named->ListSaves((lab->Folder() + ContractGame().pattern).c_str(), &names), Listed::kListed);
        for (const std::string& name : names) {
          if (named->Chosen(name)) chosen.push_back(name);
        }
      }
      EXPECT_EQ(chosen, row.listed);
      break;
    }
  }
}

std::vector<Row> AllRows() { return std::vector<Row>(std::begin(kRows), std::end(kRows)); }

INSTANTIATE_TEST_SUITE_P(Rows, Contract, testing::Combine(testing::ValuesIn(AllRows()), testing::ValuesIn(LabMakers())),
                         [](const testing::TestParamInfo<std::tuple<Row, LabMaker>>& param) {
                           return std::get<1>(param.param).name + "_" + std::get<0>(param.param).label;
                         });

// The world in memory: its folder "C:\G\SaveGames\".
class FakeLab : public Lab {
 public:
  bool Make(const Entry& entry, std::string* /*why*/) override {
    using K = FakeFile::Kind;
    const std::string path = kFolder + entry.name;
    if (!entry.alias.empty()) install_.aliases[kFolder + entry.alias] = path;
    switch (entry.kind) {
      case Kind::kSave: install_.Add(path, {SaveBytes(entry.name)}); break;
      case Kind::kFile: install_.Add(path, {"old " + entry.name}); break;
      case Kind::kReadOnly: install_.Add(path, {"old " + entry.name, K::kFile, true}); break;
      case Kind::kDirectory: install_.Add(path, {"", K::kDirectory}); break;
      case Kind::kPipe: install_.Add(path, {"", K::kPipe}); break;
      case Kind::kDevice: install_.Add(path, {"", K::kDevice}); break;
      case Kind::kDanglingLink: install_.Add(path, {"", K::kDanglingLink}); break;
      case Kind::kLinkLoop: install_.Add(path, {"", K::kLinkLoop}); break;
      case Kind::kHardLink:
      case Kind::kSymbolicLink: install_.Link(path, kFolder + entry.to); break;
    }
    return true;
  }
  std::string Bytes(const std::string& name) override {
    const auto found = install_.files.find(kFolder + name);
    return found == install_.files.end() || found->second->kind != FakeFile::Kind::kFile ? "(none)"
                                                                                         : found->second->bytes;
  }
  std::vector<std::string> Names() override {
    std::vector<std::string> names;
    for (const auto& [path, file] : install_.files) names.push_back(path.substr(kFolder.size()));
    return names;
  }
  Install& TheInstall() override { return install_; }
  std::string Folder() override { return kFolder; }
  bool Named(const std::string&, std::unique_ptr<Install>*, std::string* why) override {
    *why = "the world in memory is handed its installs";
    return false;
  }

 private:
  const std::string kFolder = "C:\\G\\SaveGames\\";
  FakeInstall install_;
};

}  // namespace

Game ContractGame() { return {"SOFTWARE\\Quarrelstone\\Vellmoor\\1.0", "AppPath", "SaveGames\\", "*.HDR"}; }

std::vector<LabMaker> LabMakers() {
  std::vector<LabMaker> makers = {{"memory", [] { return std::make_unique<FakeLab>(); }}};
  for (LabMaker& maker : SystemLabMakers()) makers.push_back(std::move(maker));
  return makers;
}
