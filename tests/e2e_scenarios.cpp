#include "tests/e2e_scenarios.h"

#include <string>

namespace {

// ---- What lies in the save directory before the run

Item Save(const std::string& name, std::size_t size) { return {name, Kind::kFile, size}; }
Item File(const std::string& name, std::size_t size) { return {name, Kind::kFile, size}; }
Item FixedSave(const std::string& name, std::size_t size) { return {name, Kind::kFixedSave, size}; }
Item ReadOnly(const std::string& name, std::size_t size) { return {name, Kind::kReadOnly, size}; }
Item Pipe(const std::string& name) { return {name, Kind::kPipe}; }
Item Folder(const std::string& name) { return {name, Kind::kDirectory}; }
Item HardLink(const std::string& name, const std::string& to) { return {name, Kind::kHardLink, 0, to}; }
Item SymLink(const std::string& name, const std::string& to) { return {name, Kind::kSymbolicLink, 0, to}; }

// ---- What is there after it

After Patched(const std::string& name) { return {name, State::kPatched}; }
After Unchanged(const std::string& name) { return {name, State::kUnchanged}; }
After CopyOf(const std::string& name, const std::string& of) { return {name, State::kCopyOf, of}; }
After StillFolder(const std::string& name) { return {name, State::kDirectory}; }
After StillPipe(const std::string& name) { return {name, State::kPipe}; }
After StillLink(const std::string& name, const std::string& to) { return {name, State::kLink, to}; }

// ---- What the program prints

std::string Shown(const std::string& entries) { return "Save game directory: {SAVES}\n" + entries; }

const char kNoSave[] = "No save game found\n";
const char kTooLong[] = "Save game directory path too long\n";

// The backup of a save: its first ".HDR" becomes ".BAK" and ends the name.
std::string BackupName(const std::string& save) {
  const std::size_t at = save.find(".HDR");
  return at == std::string::npos ? save : save.substr(0, at) + ".BAK";
}

std::string BackedUp(const std::string& save) {
  return "Processing file {SAVES}" + save + "\nBackup made {SAVES}" + BackupName(save) + "\nFile Processed\n\n";
}

std::string BackupFailed(const std::string& save) {
  return "Processing file {SAVES}" + save + "\nFailed to make backup {SAVES}" + BackupName(save) +
         "... Skipping file\n\n";
}

std::string AlreadyFixed(const std::string& save) {
  return "Processing file {SAVES}" + save + "\nAlready fixed {SAVES}" + save + "... Skipping file\n\n";
}

std::string CannotOpen(const std::string& save) {
  return "Failed to open file {SAVES}" + save + "\nFailed to make backup {SAVES}" + BackupName(save) +
         "... Skipping file\n\n";
}

// The save's backup name is another fixed save's: its backup stays.
std::string BackupTaken(const std::string& save) {
  return "Processing file {SAVES}" + save + "\nBackup already made {SAVES}" + BackupName(save) + "... Skipping file\n\n";
}

std::string InvalidName(const std::string& name) { return "Invalid file name " + name + "... Skipping file\n\n"; }

std::string NameTooLong(const std::string& name) { return "File name too long " + name + "... Skipping file\n\n"; }

// What the run says of its saves where it looked at more than one.
std::string Summary(int fixed, int already, int not_fixed) {
  return "Saves fixed: " + std::to_string(fixed) + ", already fixed: " + std::to_string(already) +
         ", not fixed: " + std::to_string(not_fixed) + "\n";
}

std::string PutBack(const std::string& save) {
  return "Processing file {SAVES}" + save + "\nOriginal put back from {SAVES}" + BackupName(save) + "\n\n";
}

// ---- Rows of one shape

// The save "A.HDR", backed up and patched.
Scenario SavePatched(Scenario row) {
  row.items = {Save("A.HDR", 300)};
  row.expected = Shown(BackedUp("A.HDR"));
  row.after = {CopyOf("A.BAK", "A.HDR"), Patched("A.HDR")};
  return row;
}

// The save "A.HDR", left alone; the row says what is printed.
Scenario SaveLeft(Scenario row) {
  row.items = {Save("A.HDR", 300)};
  row.after = {Unchanged("A.HDR")};
  return row;
}

Scenario RegistryFailure(const std::string& label, Registry registry, std::size_t pad_to = 0) {
  return SaveLeft({.label = label,
                   .runs = registry == Registry::kMalformed ? Runs::kNativeOnly : Runs::kEverywhere,
                   .registry = registry,
                   .pad_to = pad_to,
                   .expected = "Failed reading registry\n"});
}

Scenario Option(const std::string& label, const std::string& arg, const std::string& expected, int status) {
  return SaveLeft(
      {.label = label, .args = {arg}, .expected = expected, .exit_status = status, .ends_at_option = true});
}

// A save directory at the length where the ANSI search gives up.
Scenario LongInstallPath(const std::string& label, Runs runs, std::size_t length, bool patched) {
  const Scenario row{.label = label, .runs = runs, .install_length = length, .expected = Shown(kTooLong)};
  return patched ? SavePatched(row) : SaveLeft(row);
}

std::vector<Scenario> BuildScenarios() {
  const std::string at_259 = std::string(45, 'd') + ".HDR";
  const std::string at_260 = std::string(46, 'e') + ".HDR";
  return {
      RegistryFailure("NoRegistry", Registry::kNothing),
      RegistryFailure("OtherKeyOnly", Registry::kOtherKey),
      RegistryFailure("KeyWithoutValue", Registry::kKeyNoValue),
      RegistryFailure("NumberValue", Registry::kDword),
      RegistryFailure("MalformedRegistryFile", Registry::kMalformed),
      // 500 characters and a terminator do not fit in 500 bytes.
      RegistryFailure("Value500Characters", Registry::kString, 500),

      SavePatched({.label = "OneSave"}),
      // Stored as an expandable string, the value is still used as read.
      SavePatched({.label = "ExpandableString", .registry = Registry::kExpandString}),
      // A 32-bit program reads the 32-bit view of the registry.
      SavePatched({.label = "RegistryView32", .registry = Registry::kStringAndOther64}),
      // A file dropped on the program is an argument like any other.
      // Folders and saves named on the command line (dropped on the program,
      // say), without the registry; a name that is neither stops the run
      // before anything is touched.
      {.label = "NamedFolder",
       .registry = Registry::kNothing,
       .items = {Save("A.HDR", 300), Save("B.HDR", 400)},
       .args = {"{FOLDER}"},
       .expected = Shown(BackedUp("A.HDR") + BackedUp("B.HDR")) + Summary(2, 0, 0),
       .after = {CopyOf("A.BAK", "A.HDR"), Patched("A.HDR"), CopyOf("B.BAK", "B.HDR"), Patched("B.HDR")}},
      // The game's own folder dropped: its SaveGames folder is searched.
      {.label = "NamedGameFolder",
       .items = {Save("A.HDR", 300), File("../B.HDR", 300)},
       .args = {"{GAMEFOLDER}"},
       .expected = Shown(BackedUp("A.HDR")),
       .after = {CopyOf("A.BAK", "A.HDR"), Patched("A.HDR"), Unchanged("../B.HDR")}},
      {.label = "NamedFolderRelative",
       .items = {Save("A.HDR", 300)},
       .args = {"{HERE}"},
       .expected = Shown(BackedUp("A.HDR")),
       .after = {CopyOf("A.BAK", "A.HDR"), Patched("A.HDR")}},
      {.label = "NamedSaves",
       .items = {Save("A.HDR", 300), Save("B.HDR", 400), Save("C.HDR", 500)},
       .args = {"{FOLDER}/C.HDR", "{FOLDER}/A.HDR"},
       .expected = Shown(BackedUp("A.HDR") + BackedUp("C.HDR")) + Summary(2, 0, 0),
       .after = {CopyOf("A.BAK", "A.HDR"), Patched("A.HDR"), Unchanged("B.HDR"), CopyOf("C.BAK", "C.HDR"),
                 Patched("C.HDR")}},
      {.label = "NamedNothing",
       .items = {Save("A.HDR", 300)},
       .args = {"{FOLDER}", "{FOLDER}/nosuch.HDR"},
       .exit_status = 2,
       .error = "' is neither a folder nor a save\n\nUsage: savefix",
       .after = {Unchanged("A.HDR")}},
      // A pipe or a device named is no save: nothing is touched, the save named before it neither.
      {.label = "NamedPipeOrDevice",
       .items = {Save("A.HDR", 300), Pipe("P.HDR"), SymLink("D.HDR", "/dev/zero")},
       .args = {"{FOLDER}/A.HDR", "{FOLDER}/P.HDR", "{FOLDER}/D.HDR"},
       .exit_status = 2,
       .error = "P.HDR' is neither a folder nor a save",
       .after = {StillLink("D.HDR", "/dev/zero"), Unchanged("A.HDR"), StillPipe("P.HDR")}},
      // Two saves of one backup name: once one is fixed, the backup is its
      // original, named together, after a registry run or named on its own.
      {.label = "SharedBackupNamedTogether",
       .items = {Save("X.HDR", 300), Save("X.HDR.HDR", 500)},
       .args = {"{FOLDER}/X.HDR", "{FOLDER}/X.HDR.HDR"},
       .expected = Shown(BackedUp("X.HDR") + BackupTaken("X.HDR.HDR")) + Summary(1, 0, 1),
       .after = {CopyOf("X.BAK", "X.HDR"), Patched("X.HDR"), Unchanged("X.HDR.HDR")}},
      {.label = "SharedBackupAfterRegistryRun",
       .items = {Save("X.HDR", 300), Save("X.HDR.HDR", 500)},
       .earlier_runs = {{}},
       .args = {"{FOLDER}/X.HDR.HDR"},
       .expected = Shown(BackupTaken("X.HDR.HDR")),
       .after = {CopyOf("X.BAK", "X.HDR"), Patched("X.HDR"), Unchanged("X.HDR.HDR")}},
      // 245 characters, "SaveGames\" and "A.HDR" make a path of 260, past
      // what the ANSI calls take: named, the save is fixed as in its folder's run.
      {.label = "NamedSavePastMaxPath",
       .install_length = 245,
       .items = {Save("A.HDR", 300)},
       .args = {"{FOLDER}/A.HDR"},
       .expected = Shown(BackedUp("A.HDR")),
       .after = {CopyOf("A.BAK", "A.HDR"), Patched("A.HDR")}},

      // Without the trailing separator "SaveGames\" runs straight on from the
      // install directory's name, which names no directory.
      SaveLeft({.label = "InstallPathWithoutSeparator", .app_path = "{GAME-}", .expected = Shown(kNoSave)}),

      {.label = "EmptySaveDirectory", .expected = Shown(kNoSave)},
      {.label = "NoSaveDirectory", .save_directory = false, .expected = Shown(kNoSave)},
      {.label = "OnlyOtherFiles",
       .items = {File("A.BAK", 50), File("notes.txt", 10)},
       .expected = Shown(kNoSave),
       .after = {Unchanged("A.BAK"), Unchanged("notes.txt")}},

      {.label = "TwoSavesAndADirectory",
       .items = {Save("A.HDR", 4096), Save("B.HDR", 100), File("B.BAK", 9000), Folder("D.HDR")},
       .expected = Shown(BackedUp("A.HDR") + BackedUp("B.HDR") + CannotOpen("D.HDR")) + Summary(2, 0, 1),
       .after = {CopyOf("A.BAK", "A.HDR"), Patched("A.HDR"), CopyOf("B.BAK", "B.HDR"), Patched("B.HDR"),
                 StillFolder("D.HDR")}},

      // The summary's three counts, one save of each kind.
      {.label = "OneOfEachKind",
       .items = {Save("A.HDR", 300), FixedSave("B.HDR", 300), Folder("C.HDR")},
       .expected = Shown(BackedUp("A.HDR") + AlreadyFixed("B.HDR") + CannotOpen("C.HDR")) + Summary(1, 1, 1),
       .after = {CopyOf("A.BAK", "A.HDR"), Patched("A.HDR"), Unchanged("B.HDR"), StillFolder("C.HDR")}},
      {.label = "LowerCaseExtension",
       .items = {Save("x.hdr", 300)},
       .expected = Shown(BackupFailed("x.hdr")),
       .after = {Unchanged("x.hdr")}},
      {.label = "LowerCaseFoundByWindows",
       .items = {Save("a.hdr", 300), Save("B.HDR", 300)},
       .expected = Shown(BackupFailed("a.hdr") + BackedUp("B.HDR")) + Summary(1, 0, 1),
       .after = {CopyOf("B.BAK", "B.HDR"), Patched("B.HDR"), Unchanged("a.hdr")}},

      // A device is never replaced by a backup, nor written to.
      {.label = "BackupOnFullDevice",
       .items = {Save("A.HDR", 1000), SymLink("A.BAK", "/dev/full")},
       .expected = Shown(BackupFailed("A.HDR")),
       .after = {StillLink("A.BAK", "/dev/full"), Unchanged("A.HDR")}},

      // The search matches "*.HDR" through the short alias CAMP~XXX.HDR; the
      // entry keeps its long name, and the backup name drops the "X".
      {.label = "ShortAliasMatch",
       .runs = Runs::kWindowsOnly,
       .items = {Save("Campaign.HDRX", 700), File("notes.txt", 10)},
       .expected = Shown(BackedUp("Campaign.HDRX")),
       .after = {CopyOf("Campaign.BAK", "Campaign.HDRX"), Patched("Campaign.HDRX"), Unchanged("notes.txt")}},

      // An entry name holding separators would reach a file two folders up.
      {.label = "SeparatorsInName",
       .items = {Save("..\\..\\outside\\victim.HDR", 300), Save("../../outside/victim.HDR", 400)},
       .expected = Shown(InvalidName("..\\..\\outside\\victim.HDR")),
       .after = {Unchanged("..\\..\\outside\\victim.HDR"), Unchanged("../../outside/victim.HDR")}},
      // Full-width backslashes come back through the ANSI calls as '\'.
      {.label = "FullWidthSeparatorsInName",
       .runs = Runs::kWindowsOnly,
       .items = {Save("..\uFF3C..\uFF3Coutside\uFF3Cvictim.HDR", 300), Save("../../outside/victim.HDR", 400)},
       .expected = Shown(InvalidName("..\\..\\outside\\victim.HDR")),
       .after = {Unchanged("..\uFF3C..\uFF3Coutside\uFF3Cvictim.HDR"), Unchanged("../../outside/victim.HDR")}},

      // Both names give "X.BAK": the second must not replace the first's backup.
      {.label = "SameBackupName",
       .items = {Save("X.HDR", 300), Save("X.HDR.HDR", 500)},
       .expected = Shown(BackedUp("X.HDR") + BackupTaken("X.HDR.HDR")) + Summary(1, 0, 1),
       .after = {CopyOf("X.BAK", "X.HDR"), Patched("X.HDR"), Unchanged("X.HDR.HDR")}},
      {.label = "SameBackupNameInAnotherCase",
       .items = {Save("a.HDR", 300), Save("A.HDR.HDR", 500)},
       .expected = Shown(BackedUp("a.HDR") + BackupTaken("A.HDR.HDR")) + Summary(1, 0, 1),
       .after = {Unchanged("A.HDR.HDR"), CopyOf("a.BAK", "a.HDR"), Patched("a.HDR")}},
      // The ANSI calls return "\u03A9mega.HDR" best-fitted, as "Omega.HDR",
      // which opens the save of that name.
      {.label = "BestFittedName",
       .runs = Runs::kWindowsOnly,
       .items = {Save("Omega.HDR", 300), Save("\u03A9mega.HDR", 500)},
       .expected = Shown(BackedUp("Omega.HDR") + AlreadyFixed("Omega.HDR")) + Summary(1, 1, 0),
       .after = {CopyOf("Omega.BAK", "Omega.HDR"), Patched("Omega.HDR"), Unchanged("\u03A9mega.HDR")}},
      {.label = "EmptySave",
       .items = {Save("A.HDR", 0)},
       .expected = Shown(BackedUp("A.HDR")),
       .after = {CopyOf("A.BAK", "A.HDR"), Unchanged("A.HDR")}},

      // Opening a link to the save as the backup would empty the save.
      {.label = "BackupIsALinkToTheSave",
       .items = {Save("A.HDR", 300), HardLink("A.BAK", "A.HDR"), Save("B.HDR", 400), SymLink("B.BAK", "B.HDR")},
       .expected = Shown(BackupFailed("A.HDR") + BackupFailed("B.HDR")) + Summary(0, 0, 2),
       .after = {CopyOf("A.BAK", "A.HDR"), Unchanged("A.HDR"), StillLink("B.BAK", "B.HDR"), Unchanged("B.HDR")}},

      // Another run finds every save fixed, and an option runs nothing: each
      // backup still holds the original save.
      {.label = "SecondRunAndOptions",
       .items = {Save("A.HDR", 300), Save("B.HDR", 4096)},
       .earlier_runs = {{}, {"--help"}, {"--version"}, {"--dry-run"}, {"-h"}, {"/?"}},
       .expected = Shown(AlreadyFixed("A.HDR") + AlreadyFixed("B.HDR")) + Summary(0, 2, 0),
       .after = {CopyOf("A.BAK", "A.HDR"), Patched("A.HDR"), CopyOf("B.BAK", "B.HDR"), Patched("B.HDR")}},
      Option("Help", "--help", "Usage: savefix [--help | --version | --restore] [FOLDER | SAVE.HDR]...\n\nBacks up", 0),
      Option("HelpWindowsStyle", "/?", "Usage: savefix [--help | --version | --restore] [FOLDER | SAVE.HDR]...\n", 0),
      Option("Version", "--version", "savefix " SAVEFIX_VERSION "\n", 0),
      {.label = "UnknownOption",
       .args = {"--dry-run"},
       .exit_status = 2,
       .error = "savefix: unknown option '--dry-run'\n\nUsage: savefix",
       .ends_at_option = true},

      // A backup is a new file moved into place: a link there is replaced
      // itself, and nothing is written through it.
      {.label = "BackupsThatAreLinks",
       .items = {File("../outside/victim", 70), File("../outside/victim2", 80), Save("A.HDR", 300),
                 SymLink("A.BAK", "B.HDR"), Save("B.HDR", 500), HardLink("B.BAK", "../outside/victim2"),
                 Save("C.HDR", 400), SymLink("C.BAK", "../outside/victim"), Save("D.HDR", 600),
                 SymLink("D.BAK", "../nowhere/x")},
       .expected =
           Shown(BackedUp("A.HDR") + BackedUp("B.HDR") + BackedUp("C.HDR") + BackedUp("D.HDR")) + Summary(4, 0, 0),
       .after = {Unchanged("../outside/victim"), Unchanged("../outside/victim2"), CopyOf("A.BAK", "A.HDR"),
                 Patched("A.HDR"), CopyOf("B.BAK", "B.HDR"), Patched("B.HDR"), CopyOf("C.BAK", "C.HDR"),
                 Patched("C.HDR"), CopyOf("D.BAK", "D.HDR"), Patched("D.HDR")}},
      // Saves that are not files are never read, and their backups stay.
      {.label = "SavesThatAreNotFiles",
       .items = {Pipe("A.HDR"), File("A.BAK", 50), Save("B.HDR", 300), SymLink("Z.HDR", "/dev/zero"),
                 File("Z.BAK", 60)},
       .expected = Shown(CannotOpen("A.HDR") + BackedUp("B.HDR") + CannotOpen("Z.HDR")) + Summary(1, 0, 2),
       .after = {Unchanged("A.BAK"), StillPipe("A.HDR"), CopyOf("B.BAK", "B.HDR"), Patched("B.HDR"),
                 Unchanged("Z.BAK"), StillLink("Z.HDR", "/dev/zero")}},
      {.label = "BackupsThatCannotBeReplaced",
       .items = {Save("A.HDR", 300), Pipe("A.BAK"), Save("B.HDR", 300), ReadOnly("B.BAK", 40), Save("C.HDR", 300),
                 Folder("C.BAK")},
       .expected = Shown(BackupFailed("A.HDR") + BackupFailed("B.HDR") + BackupFailed("C.HDR")) + Summary(0, 0, 3),
       .after = {StillPipe("A.BAK"), Unchanged("A.HDR"), Unchanged("B.BAK"), Unchanged("B.HDR"),
                 StillFolder("C.BAK"), Unchanged("C.HDR")}},
      // 245 characters, "SaveGames\" and "*.HDR" make a pattern of 260.
      LongInstallPath("PatternOfMaxPath", Runs::kEverywhere, 245, true),
      LongInstallPath("PatternPastMaxPath", Runs::kWindowsOnly, 246, false),
      LongInstallPath("PatternPastMaxPathNative", Runs::kNativeOnly, 246, true),

      {.label = "EndOfInputAtPrompt",
       .items = {Save("A.HDR", 252)},
       .input = "",
       .expected = Shown(BackedUp("A.HDR")),
       .after = {CopyOf("A.BAK", "A.HDR"), Patched("A.HDR")}},
      {.label = "LongLineAtPrompt", .input = std::string(200000, 'k') + "\nmore\n", .expected = Shown(kNoSave)},

      // 484 characters, "SaveGames\", "*.HDR" and the terminator fill the
      // 500-byte pattern buffer exactly; one more does not fit.
      // The ANSI search refuses so long a pattern.
      {.label = "PatternJustFits", .runs = Runs::kNativeOnly, .pad_to = 484, .expected = Shown(kNoSave)},
      {.label = "PatternJustFitsWindows", .runs = Runs::kWindowsOnly, .pad_to = 484, .expected = Shown(kTooLong)},
      {.label = "PatternTooLong", .pad_to = 485, .expected = kTooLong},

      // The backup is the entry of exactly its name; one in another case,
      // read-only, is left alone.
      {.label = "ReadOnlyCaseVariantOfBackup",
       .items = {Save("a.HDR", 300), ReadOnly("A.BAK", 40), File("a.BAK", 50)},
       .expected = Shown(BackedUp("a.HDR")),
       .after = {Unchanged("A.BAK"), CopyOf("a.BAK", "a.HDR"), Patched("a.HDR")}},
      // "CAMP~NX4.BAK" is Wine's short name of "Campaign One.BAK", made
      // moments before: no backup of "CAMP~NX4.HDR" to replace.
      {.label = "ShortNameOfAnotherBackup",
       .items = {Save("Campaign One.HDR", 300), Save("CAMP~NX4.HDR", 400)},
       .expected = Shown(BackedUp("Campaign One.HDR") + BackupFailed("CAMP~NX4.HDR")) + Summary(1, 0, 1),
       .after = {Unchanged("CAMP~NX4.HDR"), CopyOf("Campaign One.BAK", "Campaign One.HDR"),
                 Patched("Campaign One.HDR")}},
      // An earlier run fixed "Campaign One.HDR"; its backup is the only
      // original, and "CAMP~NX4.BAK" is that backup's short name.
      {.label = "ShortNameOfAnOriginal",
       .items = {FixedSave("Campaign One.HDR", 300), File("Campaign One.BAK", 300), Save("CAMP~NX4.HDR", 400)},
       .expected = Shown(AlreadyFixed("Campaign One.HDR") + BackupFailed("CAMP~NX4.HDR")) + Summary(0, 1, 1),
       .after = {Unchanged("CAMP~NX4.HDR"), Unchanged("Campaign One.BAK"), Unchanged("Campaign One.HDR")}},
      // The patch byte of a save of 252 bytes is its first.
      {.label = "AlreadyFixedAtExactly252",
       .items = {FixedSave("A.HDR", 252), File("A.BAK", 50)},
       .expected = Shown(AlreadyFixed("A.HDR")),
       .after = {Unchanged("A.BAK"), Unchanged("A.HDR")}},
      // A fixed save needs nothing written, so a folder closed to writes
      // does not stop it being found fixed.
      {.label = "AlreadyFixedInReadOnlyFolder",
       .runs = Runs::kNativeOnly,
       .read_only_folder = true,
       .items = {FixedSave("A.HDR", 300)},
       .expected = Shown(AlreadyFixed("A.HDR")),
       .after = {Unchanged("A.HDR")}},
      // On a read-only disk a fixed save is still found fixed.
      {.label = "AlreadyFixedOnReadOnlyDisk",
       .read_only_disk = true,
       .items = {FixedSave("A.HDR", 300), Save("B.HDR", 300)},
       .expected = Shown(AlreadyFixed("A.HDR") + "Processing file {SAVES}B.HDR\nFailed to make backup {SAVES}B.BAK... "
                         "Skipping file\nNo new file may be made in the save folder (access denied)\n\n") +
                   Summary(0, 1, 1),
       .after = {Unchanged("A.HDR"), Unchanged("B.HDR")}},
      // Putting back: a fixed save gets its original again, once; a save
      // changed since, a backup of another length and no backup are named.
      {.label = "RestorePutsBack",
       .items = {Save("A.HDR", 300), Save("B.HDR", 4096)},
       .earlier_runs = {{}},
       .args = {"--restore"},
       .expected = Shown(PutBack("A.HDR") + PutBack("B.HDR")) + "Saves put back: 2, already original: 0, not put back: 0\n",
       .after = {CopyOf("A.BAK", "A.HDR"), Unchanged("A.HDR"), CopyOf("B.BAK", "B.HDR"), Unchanged("B.HDR")}},
      {.label = "RestoreTwice",
       .items = {Save("A.HDR", 300)},
       .earlier_runs = {{}, {"--restore"}},
       .args = {"--restore", "{FOLDER}"},
       .expected = Shown("Processing file {SAVES}A.HDR\nAlready original {SAVES}A.HDR... Skipping file\n\n"),
       .after = {CopyOf("A.BAK", "A.HDR"), Unchanged("A.HDR")}},
      {.label = "RestoreRefuses",
       .items = {FixedSave("A.HDR", 300), File("A.BAK", 300), FixedSave("B.HDR", 300), File("B.BAK", 299),
                 FixedSave("C.HDR", 300)},
       .args = {"--restore"},
       .expected = Shown("Processing file {SAVES}A.HDR\nChanged since it was fixed {SAVES}A.HDR... Skipping file "
                         "(putting it back would lose that play)\n\nProcessing file {SAVES}B.HDR\n"
                         "Backup is not this save's {SAVES}B.BAK... Skipping file\n\nProcessing file {SAVES}C.HDR\n"
                         "No backup {SAVES}C.BAK... Skipping file\n\n") +
                   "Saves put back: 0, already original: 0, not put back: 3\n",
       .after = {Unchanged("A.BAK"), Unchanged("A.HDR"), Unchanged("B.BAK"), Unchanged("B.HDR"), Unchanged("C.HDR")}},
      // 200 characters and "SaveGames\" make these folders' paths 259 and 260
      // characters long. Neither opens as a file; the second is past MAX_PATH.
      {.label = "SaveNameAtMaxPath",
       .runs = Runs::kWindowsOnly,
       .install_length = 200,
       .items = {Folder(at_259), Folder(at_260)},
       .expected = Shown(CannotOpen(at_259) + NameTooLong(at_260)) + Summary(0, 0, 2),
       .after = {StillFolder(at_259), StillFolder(at_260)}},
  };
}

}  // namespace

const std::vector<Scenario>& EndToEndScenarios() {
  static const std::vector<Scenario> scenarios = BuildScenarios();
  return scenarios;
}
