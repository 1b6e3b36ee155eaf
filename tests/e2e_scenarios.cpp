#include "tests/e2e_scenarios.h"

#include <string>

namespace {

const char kPrompt[] = "Press any key to close...";
const char kRegistryFailed[] = "Failed reading registry\nPress any key to close...";
const char kSaveDir[] = "Save game directory: {SAVES}\n";

std::string Patched(const std::string& name, const std::string& backup) {
  return "Processing file {SAVES}" + name + "\nBackup made {SAVES}" + backup + "\nFile Processed\n\n";
}

std::string Refused(const std::string& name) {
  return "Processing file {SAVES}" + name + ".HDR\nFailed to make backup {SAVES}" + name +
         ".BAK... Skipping file\n\n";
}

std::string Skipped(const std::string& name) {
  return "Processing file {SAVES}" + name + "\nFailed to make backup {SAVES}" + name +
         "... Skipping file\n\n";
}

std::string AlreadyFixed(const std::string& name) {
  return "Processing file {SAVES}" + name + "\nAlready fixed {SAVES}" + name + "... Skipping file\n\n";
}

std::string CannotOpen(const std::string& name) {
  return "Failed to open file {SAVES}" + name + ".HDR\nFailed to make backup {SAVES}" + name +
         ".BAK... Skipping file\n\n";
}

std::string InvalidName(const std::string& name) { return "Invalid file name " + name + "... Skipping file\n\n"; }

Scenario Option(const std::string& label, const std::string& arg, const std::string& expected, int status) {
  return Scenario{label, Registry::kString, "{GAME}", 0, false, true, {{"A.HDR", Item::kSave, 300}}, "\n",
                  expected, status, {{"A.HDR", State::kUnchanged, ""}}, Runs::kEverywhere, {}, {arg}, 0, true};
}

// A save directory at the length where the ANSI search gives up.
Scenario LongInstallPath(const std::string& label, std::size_t length, bool patched, Runs runs) {
  return Scenario{label, Registry::kString, "{GAME}", 0, false, true, {{"A.HDR", Item::kSave, 300}}, "\n",
                  kSaveDir + (patched ? Patched("A.HDR", "A.BAK") : "Save game directory path too long\n") +
                      kPrompt,
                  0,
                  patched ? std::vector<AfterSpec>{{"A.BAK", State::kCopyOf, "A.HDR"}, {"A.HDR", State::kPatched, ""}}
                          : std::vector<AfterSpec>{{"A.HDR", State::kUnchanged, ""}},
                  runs, {}, {}, length};
}

Scenario RegistryFailure(const std::string& label, Registry registry, std::size_t pad_to = 0) {
  return Scenario{label,  registry, "{GAME}", pad_to, false, true, {{"A.HDR", Item::kSave, 300}},
                  "\n",   kRegistryFailed, 0, {{"A.HDR", State::kUnchanged, ""}},
                  registry == Registry::kMalformed ? Runs::kNativeOnly : Runs::kEverywhere};
}

std::vector<Scenario> BuildScenarios() {
  const std::string long_name = std::string(200, 'L') + ".HDR";
  const std::string fills = std::string(205, 'N') + ".HDR";
  const std::string overflows = std::string(206, 'O') + "\\.HDR";
  return {
      RegistryFailure("NoRegistry", Registry::kNothing),
      RegistryFailure("OtherKeyOnly", Registry::kOtherKey),
      RegistryFailure("KeyWithoutValue", Registry::kKeyNoValue),
      RegistryFailure("NumberValue", Registry::kDword),
      RegistryFailure("MalformedRegistryFile", Registry::kMalformed),
      // 500 characters and a terminator do not fit in 500 bytes.
      RegistryFailure("Value500Characters", Registry::kString, 500),

      {"OneSave", Registry::kString, "{GAME}", 0, false, true, {{"A.HDR", Item::kSave, 300}}, "\n",
       kSaveDir + Patched("A.HDR", "A.BAK") + kPrompt, 0,
       {{"A.BAK", State::kCopyOf, "A.HDR"}, {"A.HDR", State::kPatched, ""}}, Runs::kEverywhere},

      // Without the trailing separator "SaveGames\" runs straight on from the
      // install directory's name, which names no directory.
      // Stored as an expandable string, the value is still used as read.
      {"ExpandableString", Registry::kExpandString, "{GAME}", 0, false, true, {{"A.HDR", Item::kSave, 300}},
       "\n", kSaveDir + Patched("A.HDR", "A.BAK") + kPrompt, 0,
       {{"A.BAK", State::kCopyOf, "A.HDR"}, {"A.HDR", State::kPatched, ""}}, Runs::kEverywhere},

      {"InstallPathWithoutSeparator", Registry::kString, "{GAME-}", 0, false, true,
       {{"A.HDR", Item::kSave, 300}}, "\n",
       "Save game directory: {VALUE}SaveGames\\\nNo save game found\nPress any key to close...", 0,
       {{"A.HDR", State::kUnchanged, ""}}, Runs::kEverywhere},

      {"EmptySaveDirectory", Registry::kString, "{GAME}", 0, false, true, {}, "\n",
       std::string(kSaveDir) + "No save game found\n" + kPrompt, 0, {}, Runs::kEverywhere},

      {"NoSaveDirectory", Registry::kString, "{GAME}", 0, false, false, {}, "\n",
       std::string(kSaveDir) + "No save game found\n" + kPrompt, 0, {}, Runs::kEverywhere},

      {"OnlyOtherFiles", Registry::kString, "{GAME}", 0, false, true,
       {{"A.BAK", Item::kOldBackup, 50}, {"notes.txt", Item::kOldBackup, 10}}, "\n",
       std::string(kSaveDir) + "No save game found\n" + kPrompt, 0,
       {{"A.BAK", State::kUnchanged, ""}, {"notes.txt", State::kUnchanged, ""}}, Runs::kEverywhere},

      {"TwoSavesAndADirectory", Registry::kString, "{GAME}", 0, false, true,
       {{"A.HDR", Item::kSave, 4096},
        {"B.HDR", Item::kSave, 100},
        {"B.BAK", Item::kOldBackup, 9000},
        {"D.HDR", Item::kDirectory, 0}},
       "\n",
       kSaveDir + Patched("A.HDR", "A.BAK") + Patched("B.HDR", "B.BAK") +
           "Failed to open file {SAVES}D.HDR\nFailed to make backup {SAVES}D.BAK... Skipping file\n\n" +
           kPrompt,
       0,
       {{"A.BAK", State::kCopyOf, "A.HDR"},
        {"A.HDR", State::kPatched, ""},
        {"B.BAK", State::kCopyOf, "B.HDR"},
        {"B.HDR", State::kPatched, ""},
        {"D.HDR", State::kDirectory, ""}},
       Runs::kEverywhere},

      {"LowerCaseExtension", Registry::kString, "{GAME}", 0, false, true,
       {{"x.hdr", Item::kSave, 300}}, "\n", kSaveDir + Skipped("x.hdr") + kPrompt, 0,
       {{"x.hdr", State::kUnchanged, ""}}, Runs::kEverywhere},

      // A device is never replaced by a backup, nor written to.
      {"BackupOnFullDevice", Registry::kString, "{GAME}", 0, false, true,
       {{"A.HDR", Item::kSave, 1000}, {"A.BAK", Item::kSymbolicLink, 0, "/dev/full"}}, "\n",
       kSaveDir + Refused("A") + kPrompt, 0,
       {{"A.BAK", State::kLink, "/dev/full"}, {"A.HDR", State::kUnchanged, ""}}, Runs::kEverywhere},

      // A 32-bit program reads the 32-bit view of the registry.
      {"RegistryView32", Registry::kStringAndOther64, "{GAME}", 0, false, true,
       {{"A.HDR", Item::kSave, 300}}, "\n", kSaveDir + Patched("A.HDR", "A.BAK") + kPrompt, 0,
       {{"A.BAK", State::kCopyOf, "A.HDR"}, {"A.HDR", State::kPatched, ""}}, Runs::kEverywhere},

      // The search matches "*.HDR" through the short alias CAMP~XXX.HDR; the
      // entry keeps its long name, and the backup name drops the "X".
      {"ShortAliasMatch", Registry::kString, "{GAME}", 0, false, true,
       {{"Campaign.HDRX", Item::kSave, 700}, {"notes.txt", Item::kOldBackup, 10}}, "\n",
       kSaveDir + Patched("Campaign.HDRX", "Campaign.BAK") + kPrompt, 0,
       {{"Campaign.BAK", State::kCopyOf, "Campaign.HDRX"},
        {"Campaign.HDRX", State::kPatched, ""},
        {"notes.txt", State::kUnchanged, ""}},
       Runs::kWindowsOnly},
      {"LowerCaseFoundByWindows", Registry::kString, "{GAME}", 0, false, true,
       {{"a.hdr", Item::kSave, 300}, {"B.HDR", Item::kSave, 300}}, "\n",
       kSaveDir + Skipped("a.hdr") + Patched("B.HDR", "B.BAK") + kPrompt, 0,
       {{"B.BAK", State::kCopyOf, "B.HDR"}, {"B.HDR", State::kPatched, ""}, {"a.hdr", State::kUnchanged, ""}},
       Runs::kEverywhere},

      // An entry name holding separators would reach a file two folders up.
      {"SeparatorsInName", Registry::kString, "{GAME}", 0, false, true,
       {{"..\\..\\outside\\victim.HDR", Item::kSave, 300}, {"../../outside/victim.HDR", Item::kSave, 400}},
       "\n",
       std::string(kSaveDir) + "Invalid file name ..\\..\\outside\\victim.HDR... Skipping file\n\n" + kPrompt, 0,
       {{"..\\..\\outside\\victim.HDR", State::kUnchanged, ""},
        {"../../outside/victim.HDR", State::kUnchanged, ""}},
       Runs::kEverywhere},
      // Full-width backslashes come back through the ANSI calls as '\'.
      {"FullWidthSeparatorsInName", Registry::kString, "{GAME}", 0, false, true,
       {{"..\uFF3C..\uFF3Coutside\uFF3Cvictim.HDR", Item::kSave, 300}, {"../../outside/victim.HDR", Item::kSave, 400}},
       "\n",
       std::string(kSaveDir) + "Invalid file name ..\\..\\outside\\victim.HDR... Skipping file\n\n" + kPrompt, 0,
       {{"..\uFF3C..\uFF3Coutside\uFF3Cvictim.HDR", State::kUnchanged, ""},
        {"../../outside/victim.HDR", State::kUnchanged, ""}},
       Runs::kWindowsOnly},

      // Both names give "X.BAK": the second must not replace the first's backup.
      {"SameBackupName", Registry::kString, "{GAME}", 0, false, true,
       {{"X.HDR", Item::kSave, 300}, {"X.HDR.HDR", Item::kSave, 500}}, "\n",
       kSaveDir + Patched("X.HDR", "X.BAK") + "Backup already made {SAVES}X.BAK... Skipping file\n\n" + kPrompt,
       0,
       {{"X.BAK", State::kCopyOf, "X.HDR"}, {"X.HDR", State::kPatched, ""}, {"X.HDR.HDR", State::kUnchanged, ""}},
       Runs::kEverywhere},
      {"SameBackupNameInAnotherCase", Registry::kString, "{GAME}", 0, false, true,
       {{"a.HDR", Item::kSave, 300}, {"A.HDR.HDR", Item::kSave, 500}}, "\n",
       kSaveDir + Patched("a.HDR", "a.BAK") + "Backup already made {SAVES}A.BAK... Skipping file\n\n" + kPrompt,
       0,
       {{"A.HDR.HDR", State::kUnchanged, ""}, {"a.BAK", State::kCopyOf, "a.HDR"}, {"a.HDR", State::kPatched, ""}},
       Runs::kEverywhere},
      {"EmptySave", Registry::kString, "{GAME}", 0, false, true, {{"A.HDR", Item::kSave, 0}}, "\n",
       kSaveDir + Patched("A.HDR", "A.BAK") + kPrompt, 0,
       {{"A.BAK", State::kCopyOf, "A.HDR"}, {"A.HDR", State::kUnchanged, ""}}, Runs::kEverywhere},
      // The ANSI calls return "\u03A9mega.HDR" best-fitted, as "Omega.HDR".
      {"BestFittedName", Registry::kString, "{GAME}", 0, false, true,
       {{"Omega.HDR", Item::kSave, 300}, {"\u03A9mega.HDR", Item::kSave, 500}}, "\n",
       kSaveDir + Patched("Omega.HDR", "Omega.BAK") + "Backup already made {SAVES}Omega.BAK... Skipping file\n\n" +
           kPrompt,
       0,
       {{"Omega.BAK", State::kCopyOf, "Omega.HDR"},
        {"Omega.HDR", State::kPatched, ""},
        {"\u03A9mega.HDR", State::kUnchanged, ""}},
       Runs::kWindowsOnly},

      // Opening a link to the save as the backup would empty the save.
      {"BackupIsALinkToTheSave", Registry::kString, "{GAME}", 0, false, true,
       {{"A.HDR", Item::kSave, 300},
        {"A.BAK", Item::kHardLink, 0, "A.HDR"},
        {"B.HDR", Item::kSave, 400},
        {"B.BAK", Item::kSymbolicLink, 0, "B.HDR"}},
       "\n", kSaveDir + Refused("A") + Refused("B") + kPrompt, 0,
       {{"A.BAK", State::kCopyOf, "A.HDR"},
        {"A.HDR", State::kUnchanged, ""},
        {"B.BAK", State::kLink, "B.HDR"},
        {"B.HDR", State::kUnchanged, ""}},
       Runs::kEverywhere},

      // Another run finds every save fixed, and an option runs nothing: each
      // backup still holds the original save.
      {"SecondRunAndOptions", Registry::kString, "{GAME}", 0, false, true,
       {{"A.HDR", Item::kSave, 300}, {"B.HDR", Item::kSave, 4096}}, "\n",
       kSaveDir + AlreadyFixed("A.HDR") + AlreadyFixed("B.HDR") + kPrompt, 0,
       {{"A.BAK", State::kCopyOf, "A.HDR"},
        {"A.HDR", State::kPatched, ""},
        {"B.BAK", State::kCopyOf, "B.HDR"},
        {"B.HDR", State::kPatched, ""}},
       Runs::kEverywhere, {{}, {"--help"}, {"--version"}, {"--dry-run"}, {"-h"}, {"/?"}}},
      Option("Help", "--help", "Usage: savefix [--help | --version]\n\nBacks up", 0),
      Option("HelpWindowsStyle", "/?", "Usage: savefix [--help | --version]\n", 0),
      Option("Version", "--version", "savefix " SAVEFIX_VERSION "\n", 0),
      Option("UnknownOption", "--dry-run", "", 2),
      // A file dropped on the program is an argument like any other.
      {"DroppedFileIgnored", Registry::kString, "{GAME}", 0, false, true, {{"A.HDR", Item::kSave, 300}}, "\n",
       kSaveDir + Patched("A.HDR", "A.BAK") + kPrompt, 0,
       {{"A.BAK", State::kCopyOf, "A.HDR"}, {"A.HDR", State::kPatched, ""}}, Runs::kEverywhere, {},
       {"C:\\Saves\\A.HDR"}},

      // A backup is a new file moved into place: a link there is replaced
      // itself, and nothing is written through it.
      {"BackupsThatAreLinks", Registry::kString, "{GAME}", 0, false, true,
       {{"../outside/victim", Item::kOldBackup, 70},
        {"../outside/victim2", Item::kOldBackup, 80},
        {"A.HDR", Item::kSave, 300},
        {"A.BAK", Item::kSymbolicLink, 0, "B.HDR"},
        {"B.HDR", Item::kSave, 500},
        {"B.BAK", Item::kHardLink, 0, "../outside/victim2"},
        {"C.HDR", Item::kSave, 400},
        {"C.BAK", Item::kSymbolicLink, 0, "../outside/victim"},
        {"D.HDR", Item::kSave, 600},
        {"D.BAK", Item::kSymbolicLink, 0, "../nowhere/x"}},
       "\n",
       kSaveDir + Patched("A.HDR", "A.BAK") + Patched("B.HDR", "B.BAK") + Patched("C.HDR", "C.BAK") +
           Patched("D.HDR", "D.BAK") + kPrompt,
       0,
       {{"../outside/victim", State::kUnchanged, ""},
        {"../outside/victim2", State::kUnchanged, ""},
        {"A.BAK", State::kCopyOf, "A.HDR"}, {"A.HDR", State::kPatched, ""},
        {"B.BAK", State::kCopyOf, "B.HDR"}, {"B.HDR", State::kPatched, ""},
        {"C.BAK", State::kCopyOf, "C.HDR"}, {"C.HDR", State::kPatched, ""},
        {"D.BAK", State::kCopyOf, "D.HDR"}, {"D.HDR", State::kPatched, ""}},
       Runs::kEverywhere},
      // Saves that are not files are never read, and their backups stay.
      {"SavesThatAreNotFiles", Registry::kString, "{GAME}", 0, false, true,
       {{"A.HDR", Item::kPipe, 0},
        {"A.BAK", Item::kOldBackup, 50},
        {"B.HDR", Item::kSave, 300},
        {"Z.HDR", Item::kSymbolicLink, 0, "/dev/zero"},
        {"Z.BAK", Item::kOldBackup, 60}},
       "\n", kSaveDir + CannotOpen("A") + Patched("B.HDR", "B.BAK") + CannotOpen("Z") + kPrompt, 0,
       {{"A.BAK", State::kUnchanged, ""}, {"A.HDR", State::kPipe, ""},
        {"B.BAK", State::kCopyOf, "B.HDR"}, {"B.HDR", State::kPatched, ""},
        {"Z.BAK", State::kUnchanged, ""}, {"Z.HDR", State::kLink, "/dev/zero"}},
       Runs::kEverywhere},
      {"BackupsThatCannotBeReplaced", Registry::kString, "{GAME}", 0, false, true,
       {{"A.HDR", Item::kSave, 300},
        {"A.BAK", Item::kPipe, 0},
        {"B.HDR", Item::kSave, 300},
        {"B.BAK", Item::kReadOnly, 40},
        {"C.HDR", Item::kSave, 300},
        {"C.BAK", Item::kDirectory, 0}},
       "\n", kSaveDir + Refused("A") + Refused("B") + Refused("C") + kPrompt, 0,
       {{"A.BAK", State::kPipe, ""}, {"A.HDR", State::kUnchanged, ""},
        {"B.BAK", State::kUnchanged, ""}, {"B.HDR", State::kUnchanged, ""},
        {"C.BAK", State::kDirectory, ""}, {"C.HDR", State::kUnchanged, ""}},
       Runs::kEverywhere},
      // Names Windows opens as devices are skipped on both builds.
      {"DeviceNames", Registry::kString, "{GAME}", 0, false, true,
       {{"A.HDR", Item::kSave, 300},
        {"AUX .HDR", Item::kSave, 300},
        {"com1.x.HDR", Item::kSave, 300},
        {"CON.HDR", Item::kSave, 300},
        {"NUL.HDR", Item::kSave, 300},
        {"nul.hdr.HDR", Item::kSave, 300}},
       "\n",
       kSaveDir + Patched("A.HDR", "A.BAK") + InvalidName("AUX .HDR") + InvalidName("com1.x.HDR") +
           InvalidName("CON.HDR") + InvalidName("NUL.HDR") + InvalidName("nul.hdr.HDR") + kPrompt,
       0,
       {{"A.BAK", State::kCopyOf, "A.HDR"}, {"A.HDR", State::kPatched, ""},
        {"AUX .HDR", State::kUnchanged, ""}, {"com1.x.HDR", State::kUnchanged, ""},
        {"CON.HDR", State::kUnchanged, ""}, {"NUL.HDR", State::kUnchanged, ""},
        {"nul.hdr.HDR", State::kUnchanged, ""}},
       Runs::kEverywhere},
      // 245 characters, "SaveGames\" and "*.HDR" make a pattern of 260.
      LongInstallPath("PatternOfMaxPath", 245, true, Runs::kEverywhere),
      LongInstallPath("PatternPastMaxPath", 246, false, Runs::kWindowsOnly),
      LongInstallPath("PatternPastMaxPathNative", 246, true, Runs::kNativeOnly),

      {"EndOfInputAtPrompt", Registry::kString, "{GAME}", 0, false, true,
       {{"A.HDR", Item::kSave, 252}}, "", kSaveDir + Patched("A.HDR", "A.BAK") + kPrompt, 0,
       {{"A.BAK", State::kCopyOf, "A.HDR"}, {"A.HDR", State::kPatched, ""}}, Runs::kEverywhere},

      {"LongLineAtPrompt", Registry::kString, "{GAME}", 0, false, true, {}, std::string(200000, 'k') + "\nmore\n",
       std::string(kSaveDir) + "No save game found\n" + kPrompt, 0, {}, Runs::kEverywhere},

      // 484 characters, "SaveGames\", "*.HDR" and the terminator fill the
      // 500-byte pattern buffer exactly; one more does not fit.
      // The ANSI search refuses so long a pattern.
      {"PatternJustFits", Registry::kString, "{GAME}", 484, false, true, {}, "\n",
       "Save game directory: {VALUE}SaveGames\\\nNo save game found\n" + std::string(kPrompt), 0, {},
       Runs::kNativeOnly},
      {"PatternJustFitsWindows", Registry::kString, "{GAME}", 484, false, true, {}, "\n",
       "Save game directory: {VALUE}SaveGames\\\nSave game directory path too long\n" + std::string(kPrompt),
       0, {}, Runs::kWindowsOnly},
      {"PatternTooLong", Registry::kString, "{GAME}", 485, false, true, {}, "\n",
       "Save game directory path too long\n" + std::string(kPrompt), 0, {}, Runs::kEverywhere},

      {"EntryNameTooLong", Registry::kString, "{GAME}", 0, true, true,
       {{"A.HDR", Item::kSave, 300}, {long_name, Item::kSave, 300}}, "\n",
       kSaveDir + Patched("A.HDR", "A.BAK") + "File name too long " + long_name + "... Skipping file\n\n" +
           kPrompt,
       0,
       {{"A.BAK", State::kCopyOf, "A.HDR"}, {"A.HDR", State::kPatched, ""}, {long_name, State::kUnchanged, ""}},
       Runs::kNativeOnly},
      // With a save directory of 290 characters, a name of 209 and its
      // terminator fill the 500-byte path buffer exactly; one more does not
      // fit, whatever else is wrong with the name.
      {"EntryNameFillsPathBuffer", Registry::kString, "{GAME}", 0, false, true,
       {{fills, Item::kSave, 300}, {"N" + fills, Item::kSave, 300}, {overflows, Item::kSave, 300}}, "\n",
       kSaveDir + Patched(fills, fills.substr(0, 205) + ".BAK") + "File name too long N" + fills +
           "... Skipping file\n\nFile name too long " + overflows + "... Skipping file\n\n" + kPrompt,
       0,
       {{fills.substr(0, 205) + ".BAK", State::kCopyOf, fills},
        {fills, State::kPatched, ""},
        {"N" + fills, State::kUnchanged, ""},
        {overflows, State::kUnchanged, ""}},
       Runs::kNativeOnly, {}, {}, 280},
  };
}

}  // namespace

const std::vector<Scenario>& EndToEndScenarios() {
  static const std::vector<Scenario> scenarios = BuildScenarios();
  return scenarios;
}
