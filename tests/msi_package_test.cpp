// The Windows Installer entry points in real packages: built with wixl from
// sources written here, installed with the prefix's own msiexec, each action
// checked by what it did, by its result properties and by its texts in the
// verbose log.
#include "machine_keys.h"
#include "msi_package.h"
#include "scratch.h"
#include "unix_links.h"

#include <gtest/gtest.h>

using vmsi::test::InstallOutcome;
using vmsi::test::MachineRegistryKey;
using vmsi::test::PackageCall;
using vmsi::test::readFile;
using vmsi::test::recordField;
using vmsi::test::TestPackage;
using Lines = std::vector<std::string>;

namespace {

constexpr DWORD installFailure = ERROR_INSTALL_FAILURE; // msiexec's exit code, 1603
const char* const shellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
// The installer asks the shell for its folders as it starts, and Wine's shell
// then writes what it finds here into the Shell Folders values.
const char* const userShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Everything the actions work on: programs, a component, a versioned file,
// shortcut folders, an earlier catalogue and the registry keys that point at
// them, a cache folder.
class MsiPackageTest : public ::testing::Test {
protected:
    MsiPackageTest()
        : world_("msi-world"), userDesktop_(HKEY_CURRENT_USER, shellFoldersKey, "Desktop"),
          userPrograms_(HKEY_CURRENT_USER, shellFoldersKey, "Programs"),
          userShellDesktop_(HKEY_CURRENT_USER, userShellFoldersKey, "Desktop"),
          userShellPrograms_(HKEY_CURRENT_USER, userShellFoldersKey, "Programs"),
          earlierCatalogue_("Software\\Vardo\\Quillmark\\4.0"),
          versionMarker_("Software\\Vardo\\QLMKInternalVersion\\Version5"),
          appPath_("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\VmsiMsiTest.exe") {
        for (const char* folder :
             {"Launched", "Tools", "Components", "Versioned", "Desktop", "Programs\\Quillmark",
              "Quillmark4\\system", "Favourites", "Fav;s", "Cache", "New"}) {
            vmsi::test::makeFolders(world_ / folder);
        }
        const std::string recorder = vmsi::test::besideThisProgram("recorder.exe");
        for (const char* copy :
             {"Launched\\viewer.exe", "Tools\\tool.exe", "Tools\\DbMigrate.exe"}) {
            vmsi::test::copyFileOrFail(recorder, world_ / copy);
        }
        vmsi::test::copyFileOrFail(vmsi::test::besideThisProgram("VmsiSelfRegistering.dll"),
                                   world_ / "Components\\VmsiSelfRegistering.dll");
        vmsi::test::copyFileOrFail(vmsi::test::besideThisProgram("VmsiVersion5123.dll"),
                                   world_ / "Versioned\\VmsiVersion5123.dll");
        for (auto* desktop : {&userDesktop_, &userShellDesktop_}) {
            desktop->set(world_ / "Desktop");
        }
        for (auto* programs : {&userPrograms_, &userShellPrograms_}) {
            programs->set(world_ / "Programs");
        }
        vmsi::test::writeFile(world_ / "Programs\\Quillmark\\Quillmark.lnk", "user shortcut");
        vmsi::test::writeFile(world_ / "Desktop\\Old.lnk", "old shortcut");
        vmsi::test::writeFile(catalogue(), "catalogue");
        earlierCatalogue_.setString("InstallLocation", world_ / "Quillmark4");
        versionMarker_.setString("Version", "5.0.2");
        appPath_.setString("", world_ / "Tools\\tool.exe");
        vmsi::test::writeFile(world_ / "Cache\\a.tmp", "a");
        vmsi::test::writeFile(world_ / "Cache\\b.tmp", "b");
    }

    std::string catalogue() const { return world_ / "Quillmark4\\system\\pcdb.mdb"; }
    bool exists(const std::string& relative) const {
        return GetFileAttributesA((world_ / relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    vmsi::test::ScratchFolder world_;
    vmsi::test::RegistryValueOverride userDesktop_;
    vmsi::test::RegistryValueOverride userPrograms_;
    vmsi::test::RegistryValueOverride userShellDesktop_;
    vmsi::test::RegistryValueOverride userShellPrograms_;
    MachineRegistryKey earlierCatalogue_;
    MachineRegistryKey versionMarker_;
    MachineRegistryKey appPath_;
};

} // namespace

TEST_F(MsiPackageTest, ImmediateEntriesReadTheirPropertiesAndSetTheirResults) {
    TestPackage package("immediate");
    const std::string w = world_.path();
    // First, as it always gives 0: no fail request, so the installation goes on.
    const PackageCall cache = package.immediate(
        "MsiRemoveQLMKCache",
        {{"MSIREMOVEQLMKCACHE_PARENTFOLDER", w}, {"MSIREMOVEQLMKCACHE_CACHEFOLDERNAME", "Cache"}},
        {"MSIREMOVEQLMKCACHE_RESULT"});
    const PackageCall launch = package.immediate("MsiLaunch",
                                                 {{"MSILAUNCH_FOLDER", w + "\\Launched"},
                                                  {"MSILAUNCH_FILENAME", "viewer.exe"},
                                                  {"MSILAUNCH_PARAMETERS", "[shell] {open}"}},
                                                 {"MSILAUNCH_RESULT"});
    const PackageCall wait = package.immediate("MsiLaunchWait",
                                               {{"MSILAUNCHWAIT_FOLDER", w + "\\Tools\\"},
                                                {"MSILAUNCHWAIT_FILENAME", "tool.exe"},
                                                {"MSILAUNCHWAIT_PARAMETERS", "--exit=3 waited"}},
                                               {"MSILAUNCHWAIT_RESULT"});
    // The same entry again, its properties changed: a missing file, and a
    // parameter left over from the call before.
    const PackageCall missing = package.immediate(
        "MsiLaunchWait", {{"MSILAUNCHWAIT_FILENAME", "missing.exe"}}, {"MSILAUNCHWAIT_RESULT"});
    const PackageCall registration =
        package.immediate("MsiRegister",
                          {{"MSIREGISTER_OPTIONS", "/s"},
                           {"MSIREGISTER_FOLDER", w + "\\Components"},
                           {"MSIREGISTER_FILENAME", "VmsiSelfRegistering.dll"}},
                          {"MSIREGISTER_RESULT"});
    const PackageCall appPath = package.immediate(
        "MsiCheckIfAppInstalled", {{"MSICHECKIFAPPINSTALLED_PROGRAMNAME", "VmsiMsiTest.exe"}},
        {"MSICHECKIFAPPINSTALLED_RESULT"});
    const PackageCall version =
        package.immediate("MsiCheckVersionOfFile",
                          {{"MSICHECKVERSIONOFFILE_FOLDER", w + "\\Versioned"},
                           {"MSICHECKVERSIONOFFILE_FILENAME", "VmsiVersion5123.dll"},
                           {"MSICHECKVERSIONOFFILE_FIRST", "5"},
                           {"MSICHECKVERSIONOFFILE_SECOND", "+1"},
                           {"MSICHECKVERSIONOFFILE_THIRD", "2"},
                           {"MSICHECKVERSIONOFFILE_FOURTH", "4"}},
                          {"MSICHECKVERSIONOFFILE_RESULT"});
    const PackageCall notAnInteger =
        package.immediate("MsiCheckVersionOfFile", {{"MSICHECKVERSIONOFFILE_FOURTH", "3.0"}},
                          {"MSICHECKVERSIONOFFILE_RESULT"});
    const PackageCall copy =
        package.immediate("MsiCreateDesktopShortcut",
                          {{"MSICREATEDESKTOPSHORTCUT_PROGRAMGROUP", "Quillmark"},
                           {"MSICREATEDESKTOPSHORTCUT_SHORTCUTFILENAME", "Quillmark.lnk"}},
                          {"MSICREATEDESKTOPSHORTCUT_RESULT"});
    const PackageCall removal =
        package.immediate("MsiRemoveDesktopShortcut",
                          {{"MSIREMOVEDESKTOPSHORTCUT_ALLUSERSMODE", "0"},
                           {"MSIREMOVEDESKTOPSHORTCUT_SHORTCUTFILENAME", "Old.lnk"}},
                          {"MSIREMOVEDESKTOPSHORTCUT_RESULT"});
    const PackageCall discovery = package.immediate(
        "MsiCheckForQLMKDB", {}, {"MSICHECKFORQLMKDB_RESULT", "MSICHECKFORQLMKDB_DATABASEPATH"});
    const PackageCall marker =
        package.immediate("MsiCheckForQLMK", {{"MSICHECKFORQLMK_VERSION", "5"}},
                          {"MSICHECKFORQLMK_RESULT", "MSICHECKFORQLMK_VERSIONTEXT"});
    const PackageCall noMarker =
        package.immediate("MsiCheckForQLMK", {{"MSICHECKFORQLMK_VERSION", "6"}},
                          {"MSICHECKFORQLMK_RESULT", "MSICHECKFORQLMK_VERSIONTEXT"});
    const PackageCall conversion =
        package.immediate("MsiLaunchDbMigrate",
                          {{"MSILAUNCHDBMIGRATE_TOOLFOLDER", w + "\\Tools"},
                           {"MSILAUNCHDBMIGRATE_OLDCATALOGUE", catalogue()},
                           {"MSILAUNCHDBMIGRATE_NEWFOLDER", w + "\\New"},
                           {"MSILAUNCHDBMIGRATE_NEWFILENAME", "pcdb.mdb"}},
                          {"MSILAUNCHDBMIGRATE_RESULT"});
    const PackageCall favourites =
        package.immediate("MsiWriteFavorites",
                          {{"MSIWRITEFAVORITES_BASEFOLDER", w},
                           {"MSIWRITEFAVORITES_FILEFOLDER", "Favourites"},
                           {"MSIWRITEFAVORITES_FAVOURITE", "Albums\\Summer [2024]"}},
                          {"MSIWRITEFAVORITES_RESULT"});

    const InstallOutcome outcome = package.install();
    ASSERT_EQ(outcome.exitCode, 0u) << outcome.log;

    EXPECT_FALSE(exists("Cache"));
    EXPECT_EQ(outcome.propertyAfter(cache, "MSIREMOVEQLMKCACHE_RESULT"), "0");
    EXPECT_EQ(outcome.linesOf(cache), (Lines{"info: QLMK Cache Folder = " + w + "\\Cache",
                                             "warning: Unable to delete file: " + w + "\\Cache\\.",
                                             "info: Action result: 0"}));

    const auto launched = vmsi::test::waitForFile(world_ / "Launched\\viewer.exe.record");
    ASSERT_TRUE(launched.has_value()) << "the shell did not start the program";
    EXPECT_EQ(recordField(*launched, "arg1") + " " + recordField(*launched, "arg2"),
              "[shell] {open}");
    EXPECT_EQ(outcome.propertyAfter(launch, "MSILAUNCH_RESULT"), "1");
    EXPECT_EQ(outcome.linesOf(launch),
              (Lines{"info: File to Launch: " + w + "\\Launched\\viewer.exe",
                     "info: Launch Params: [shell] {open}", "info: Action result: 1"}));

    const std::string tool = w + "\\Tools\\tool.exe";
    EXPECT_EQ(recordField(readFile(tool + ".record").value_or(""), "commandLine"),
              tool + " --exit=3 waited");
    EXPECT_EQ(outcome.propertyAfter(wait, "MSILAUNCHWAIT_RESULT"), "1");
    EXPECT_EQ(outcome.linesOf(wait),
              (Lines{"info: File to Launch: " + tool, "info: Launch Params: --exit=3 waited",
                     "info: Action result: 1"}));
    EXPECT_EQ(outcome.propertyAfter(missing, "MSILAUNCHWAIT_RESULT"), "0");
    EXPECT_EQ(outcome.linesOf(missing),
              (Lines{"info: File to Launch: " + w + "\\Tools\\missing.exe",
                     "info: Launch Params: --exit=3 waited", "warning: That file doesn't exist",
                     "info: Action result: 0"}));

    const std::string component = w + "\\Components\\VmsiSelfRegistering.dll";
    const auto registered = vmsi::test::waitForFile(component + ".registered");
    ASSERT_TRUE(registered.has_value()) << "the component was not registered";
    EXPECT_EQ(recordField(*registered, "commandLine"), "regsvr32 /s \"" + component + "\"");
    EXPECT_EQ(outcome.propertyAfter(registration, "MSIREGISTER_RESULT"), "1");
    EXPECT_EQ(outcome.linesOf(registration),
              (Lines{"info: Commandline to Register: regsvr32 /s \"" + component + "\"",
                     "info: Action result: 1"}));

    EXPECT_EQ(outcome.propertyAfter(appPath, "MSICHECKIFAPPINSTALLED_RESULT"), "1");
    EXPECT_EQ(outcome.linesOf(appPath), (Lines{"info: Searching in AppPaths for: VmsiMsiTest.exe",
                                               "info: Program located", "info: Action result: 1"}));

    // 5.1.2.3 is below the 5.1.2.4 asked for.
    const std::string versioned = w + "\\Versioned\\VmsiVersion5123.dll";
    EXPECT_EQ(outcome.propertyAfter(version, "MSICHECKVERSIONOFFILE_RESULT"), "0");
    EXPECT_EQ(outcome.linesOf(version),
              (Lines{"info: Searching For: " + versioned, "info: Searching for File: " + versioned,
                     "info: File Found", "info: " + versioned, "warning: Version Too low",
                     "info: Action result: 0"}));
    EXPECT_EQ(outcome.propertyAfter(notAnInteger, "MSICHECKVERSIONOFFILE_RESULT"), "0");
    EXPECT_EQ(outcome.linesOf(notAnInteger),
              (Lines{"warning: Property MSICHECKVERSIONOFFILE_FOURTH is not a decimal integer, "
                     "the action is not run: 3.0",
                     "info: Action result: 0"}));

    // The mode was never set: a missing integer is 0, the current user's folders.
    const std::string desktop = w + "\\Desktop";
    EXPECT_EQ(readFile(desktop + "\\Quillmark.lnk"), "user shortcut");
    EXPECT_EQ(outcome.propertyAfter(copy, "MSICREATEDESKTOPSHORTCUT_RESULT"), "1");
    EXPECT_EQ(outcome.linesOf(copy),
              (Lines{"info: Allusers: 0",
                     "info: Desktop = " + desktop + "\nStartmenuPrograms = " + w + "\\Programs",
                     "info: ShortCut Source = " + w + "\\Programs\\Quillmark\\Quillmark.lnk",
                     "info: ShortCut Dest = " + desktop + "\\Quillmark.lnk",
                     "info: Shortcut Copied", "info: Action result: 1"}));
    EXPECT_FALSE(exists("Desktop\\Old.lnk"));
    EXPECT_EQ(outcome.propertyAfter(removal, "MSIREMOVEDESKTOPSHORTCUT_RESULT"), "1");
    EXPECT_EQ(outcome.linesOf(removal),
              (Lines{"info: Allusers: 0", "info: Desktop = " + desktop,
                     "info: csShortCutToDelete = " + desktop + "\\Old.lnk",
                     "info: Shortcut deleted", "info: Action result: 1"}));

    EXPECT_EQ(outcome.propertyAfter(discovery, "MSICHECKFORQLMKDB_RESULT"), "1");
    EXPECT_EQ(outcome.propertyAfter(discovery, "MSICHECKFORQLMKDB_DATABASEPATH"), catalogue());
    EXPECT_EQ(outcome.linesOf(discovery),
              (Lines{"info: Check for previous Vardo QLMK4 DB under HKLM",
                     "info: Found the database: " + catalogue(),
                     "warning: csDatabase = " + catalogue(), "info: Action result: 1"}));

    EXPECT_EQ(outcome.propertyAfter(marker, "MSICHECKFORQLMK_RESULT"), "1");
    EXPECT_EQ(outcome.propertyAfter(marker, "MSICHECKFORQLMK_VERSIONTEXT"), "5.0.2");
    EXPECT_EQ(outcome.linesOf(marker), (Lines{"info: 5.0.2installed", "info: Action result: 1"}));
    // A 0 removes the text the call before had handed back.
    EXPECT_EQ(outcome.propertyAfter(noMarker, "MSICHECKFORQLMK_RESULT"), "0");
    EXPECT_EQ(outcome.propertyAfter(noMarker, "MSICHECKFORQLMK_VERSIONTEXT"), "<unset>");
    EXPECT_EQ(outcome.linesOf(noMarker),
              (Lines{"warning: Quillmark4 Not Installed", "info: Action result: 0"}));

    const std::string migrate = w + "\\Tools\\DbMigrate.exe";
    const std::string parameters = " -i -o \"" + catalogue() + "\" -n \"" + w + "\\New\\pcdb.mdb\"";
    EXPECT_EQ(recordField(readFile(migrate + ".record").value_or(""), "commandLine"),
              migrate + " " + parameters);
    EXPECT_EQ(outcome.propertyAfter(conversion, "MSILAUNCHDBMIGRATE_RESULT"), "1");
    EXPECT_EQ(outcome.linesOf(conversion),
              (Lines{"info: File to Launch: " + migrate, "info: Launch Params: " + parameters,
                     "info: Action result: 1"}));

    EXPECT_EQ(readFile(w + "\\Favourites\\favorite.txt"), w + "\\Albums\\Summer [2024]\r\n");
    EXPECT_EQ(outcome.propertyAfter(favourites, "MSIWRITEFAVORITES_RESULT"), "1");
    EXPECT_EQ(outcome.linesOf(favourites),
              (Lines{"info: Writing favorite file",
                     "warning: Path to write file to: " + w + "\\Favourites\\favorite.txt",
                     "warning: Contents to write: " + w + "\\Albums\\Summer [2024]",
                     "info: Action result: 1"}));
}

TEST_F(MsiPackageTest, DeferredEntriesReadTheirArgumentsFromCustomActionData) {
    TestPackage package("deferred");
    const std::string w = world_.path();
    // Quoted fields carry semicolons and doubled quotes; a backslash is never
    // special, not even before a closing quote; a plain field keeps quotes.
    const PackageCall favourites =
        package.deferred("MsiWriteFavorites", w + R"(;"Fav;s";"say ""cheese""; C:\x\")");
    const PackageCall wait =
        package.deferred("MsiLaunchWait", w + R"(\Tools;tool.exe;--exit=0 "a b" c:\d\ x"y)");
    const PackageCall marker = package.deferred("MsiCheckForQLMK", "5");
    const PackageCall unclosed = package.deferred("MsiRemoveQLMKCache", w + R"(;"Cache)");
    const PackageCall tooMany = package.deferred("MsiRemoveQLMKCache", w + ";Cache;0;more");
    const PackageCall notAnInteger = package.deferred("MsiRemoveDesktopShortcut", "all;Old.lnk");
    const PackageCall missing = package.deferred("MsiRemoveQLMKCache", w);

    const InstallOutcome outcome = package.install();
    ASSERT_EQ(outcome.exitCode, 0u) << outcome.log;

    const std::string contents = w + R"(\say "cheese"; C:\x\)";
    EXPECT_EQ(readFile(w + "\\Fav;s\\favorite.txt"), contents + "\r\n");
    EXPECT_EQ(outcome.linesOf(favourites),
              (Lines{"info: Writing favorite file",
                     "warning: Path to write file to: " + w + "\\Fav;s\\favorite.txt",
                     "warning: Contents to write: " + contents, "info: Action result: 1"}));

    const std::string tool = w + "\\Tools\\tool.exe";
    const std::string parameters = R"(--exit=0 "a b" c:\d\ x"y)";
    EXPECT_EQ(recordField(readFile(tool + ".record").value_or(""), "commandLine"),
              tool + " " + parameters);
    EXPECT_EQ(outcome.linesOf(wait),
              (Lines{"info: File to Launch: " + tool, "info: Launch Params: " + parameters,
                     "info: Action result: 1"}));

    // Run from the script, an entry sets no property.
    EXPECT_EQ(outcome.linesOf(marker), (Lines{"info: 5.0.2installed", "info: Action result: 1"}));
    EXPECT_EQ(outcome.property("MSICHECKFORQLMK_RESULT"), "<unset>");
    EXPECT_EQ(outcome.property("MSICHECKFORQLMK_VERSIONTEXT"), "<unset>");

    // Data that cannot be read runs nothing.
    EXPECT_TRUE(exists("Cache\\a.tmp"));
    EXPECT_TRUE(exists("Desktop\\Old.lnk"));
    EXPECT_EQ(outcome.linesOf(unclosed),
              (Lines{"warning: CustomActionData is malformed (a quoted field must end in a quote "
                     "followed by a semicolon or the end), the action is not run: " +
                         w + ";\"Cache",
                     "info: Action result: 0"}));
    EXPECT_EQ(outcome.linesOf(tooMany),
              (Lines{"warning: CustomActionData holds 4 fields, more than the 2 arguments and "
                     "the fail request, the action is not run: " +
                         w + ";Cache;0;more",
                     "info: Action result: 0"}));
    EXPECT_EQ(outcome.linesOf(notAnInteger),
              (Lines{"warning: CustomActionData field 1 is not a decimal integer, the action is "
                     "not run: all",
                     "info: Action result: 0"}));
    // A missing argument is the empty text.
    EXPECT_EQ(outcome.linesOf(missing),
              (Lines{"warning: Empty Values Passed, Exiting", "info: Action result: 0"}));
}

TEST_F(MsiPackageTest, AZeroResultFailsTheInstallationOnlyWhenThePackageAsks) {
    TestPackage package("fail-on-zero");
    const std::string w = world_.path();
    const PackageCall immediate = package.immediate(
        "MsiCheckForQLMK", {{"MSICHECKFORQLMK_VERSION", "99"}}, {"MSICHECKFORQLMK_RESULT"});
    const PackageCall deferred = package.deferred("MsiCheckForQLMK", "99;[ASK_DEFERRED]");
    const PackageCall after = package.deferred("MsiWriteFavorites", w + ";Favourites;after");
    const std::string favourites = w + "\\Favourites\\favorite.txt";

    InstallOutcome outcome = package.install("MSICHECKFORQLMK_FAILONZERO=1");
    EXPECT_EQ(outcome.exitCode, installFailure);
    EXPECT_EQ(outcome.linesOf(immediate),
              (Lines{"warning: Quillmark4 Not Installed", "info: Action result: 0",
                     "warning: The installation fails on this 0, as Property "
                     "MSICHECKFORQLMK_FAILONZERO asks"}));
    EXPECT_FALSE(outcome.started(deferred));

    outcome = package.install("ASK_DEFERRED=yes");
    EXPECT_EQ(outcome.exitCode, installFailure);
    EXPECT_EQ(outcome.propertyAfter(immediate, "MSICHECKFORQLMK_RESULT"), "0");
    EXPECT_EQ(outcome.linesOf(deferred),
              (Lines{"warning: Quillmark4 Not Installed", "info: Action result: 0",
                     "warning: The installation fails on this 0, as CustomActionData field 2 "
                     "asks"}));
    EXPECT_FALSE(outcome.started(after));
    EXPECT_FALSE(readFile(favourites).has_value());

    // "0" asks for nothing.
    outcome = package.install("MSICHECKFORQLMK_FAILONZERO=0 ASK_DEFERRED=0");
    EXPECT_EQ(outcome.exitCode, 0u) << outcome.log;
    EXPECT_EQ(outcome.linesOf(deferred),
              (Lines{"warning: Quillmark4 Not Installed", "info: Action result: 0"}));
    EXPECT_EQ(readFile(favourites), w + "\\after\r\n");
}
