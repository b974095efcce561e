// The Windows Installer entry points in real packages: built with wixl from
// sources written here, installed with the prefix's own msiexec, each action
// checked by what it did, by its result properties and by its texts in the
// verbose log.
#include "child_processes.h"
#include "export_table.h"
#include "handles.h"
#include "machine_keys.h"
#include "msi_handles.h"
#include "msi_package.h"
#include "paths.h"
#include "scratch.h"
#include "unix_links.h"

#include <gtest/gtest.h>

#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <cstdio>
#include <cstdlib>
#include <list>
#include <map>
#include <set>
#include <sstream>

using namespace vmsi::test;
using Lines = std::vector<std::string>;

namespace {

constexpr DWORD installFailure = ERROR_INSTALL_FAILURE; // msiexec's exit code, 1603
const std::string explorerKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";

// The call's texts in the log, then the entry's "Action result" line; for an
// immediate call also its <ENTRY>_RESULT just after it.
void expectCall(const InstallOutcome& outcome, const PackageCall& call, int result, Lines lines,
                bool immediate = true) {
    lines.push_back("info: Action result: " + std::to_string(result));
    EXPECT_EQ(outcome.linesOf(call), lines) << call.id << " " << call.entry;
    if (immediate) {
        EXPECT_EQ(outcome.resultAfter(call), std::to_string(result))
            << call.id << " " << call.entry;
    }
}

// The call's last line in the log, or the empty text when it wrote none.
std::string lastLine(const InstallOutcome& outcome, const PackageCall& call) {
    const Lines lines = outcome.linesOf(call);
    return lines.empty() ? "" : lines.back();
}

// Everything the actions work on: programs, a component, a versioned file,
// shortcut folders, an earlier catalogue and the registry keys that point at
// them, a cache folder.
class MsiPackageTest : public ::testing::Test {
protected:
    MsiPackageTest() : world_("msi-world") {
        for (const char* folder :
             {"Launched", "Tools", "Components", "Versioned", "Desktop", "Programs\\Quillmark",
              "Quillmark4\\system", "Quillmark4-32\\system", "Favourites", "Fav;s", "Cache",
              "New"}) {
            makeFolders(w(folder));
        }
        for (const char* copy :
             {"Launched\\viewer.exe", "Tools\\tool.exe", "Tools\\DbMigrate.exe"}) {
            copyFileOrFail(besideThisProgram("recorder.exe"), w(copy));
        }
        copyFileOrFail(besideThisProgram("VmsiSelfRegistering.dll"),
                       w("Components\\VmsiSelfRegistering.dll"));
        copyFileOrFail(besideThisProgram("VmsiVersion5123.dll"),
                       w("Versioned\\VmsiVersion5123.dll"));
        // The installer asks the shell for its folders as it starts, and
        // Wine's shell then rewrites Shell Folders from User Shell Folders.
        for (const char* key : {"Shell Folders", "User Shell Folders"}) {
            for (const char* folder : {"Desktop", "Programs"}) {
                folders_.emplace_back(HKEY_CURRENT_USER, explorerKey + key, folder);
                folders_.back().set(w(folder));
            }
        }
        writeFile(w("Programs\\Quillmark\\Quillmark.lnk"), "user shortcut");
        writeFile(w("Desktop\\Old.lnk"), "old shortcut");
        // The earlier installation in both views of HKLM\Software, told
        // apart: a 32-bit entry reads the one below Wow6432Node.
        for (const bool x86 : {false, true}) {
            const std::string software = x86 ? "Software\\Wow6432Node\\" : "Software\\";
            writeFile(catalogue(x86), "catalogue");
            machineKeys_.emplace_back(software + "Vardo\\Quillmark\\4.0")
                .setString("InstallLocation", w(x86 ? "Quillmark4-32" : "Quillmark4"));
            machineKeys_.emplace_back(software + "Vardo\\QLMKInternalVersion\\Version5")
                .setString("Version", versionText(x86));
            machineKeys_
                .emplace_back(software +
                              "Microsoft\\Windows\\CurrentVersion\\App Paths\\VmsiMsiTest.exe")
                .setString("", w("Tools\\tool.exe"));
        }
        writeFile(w("Cache\\a.tmp"), "a");
    }

    std::string w(const std::string& relative = "") const {
        return relative.empty() ? world_.path() : world_ / relative;
    }
    std::string catalogue(bool x86 = false) const {
        return w(x86 ? "Quillmark4-32\\system\\pcdb.mdb" : "Quillmark4\\system\\pcdb.mdb");
    }
    static std::string versionText(bool x86) { return x86 ? "5.0.2 (32-bit view)" : "5.0.2"; }
    bool exists(const std::string& relative) const {
        return GetFileAttributesA(w(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    std::string recordedCommandLine(const std::string& program) const {
        return recordField(readFile(program + ".record").value_or(""), "commandLine");
    }

    ScratchFolder world_;
    std::list<RegistryValueOverride> folders_;
    std::list<MachineRegistryKey> machineKeys_;
};

} // namespace

TEST_F(MsiPackageTest, ImmediateEntriesReadTheirPropertiesAndSetTheirResults) {
    TestPackage package("immediate");
    // First, as it always gives 0: no fail request, so the installation goes on.
    const PackageCall cache = package.immediate("VmsiRemoveQLMKCache",
                                                {{"VMSIREMOVEQLMKCACHE_PARENTFOLDER", w()},
                                                 {"VMSIREMOVEQLMKCACHE_CACHEFOLDERNAME", "Cache"}});
    const PackageCall launch =
        package.immediate("VmsiLaunch", {{"VMSILAUNCH_FOLDER", w("Launched")},
                                         {"VMSILAUNCH_FILENAME", "viewer.exe"},
                                         {"VMSILAUNCH_PARAMETERS", "[a] {b}"}});
    const PackageCall wait = package.immediate("VmsiLaunchWait",
                                               {{"VMSILAUNCHWAIT_FOLDER", w("Tools\\")},
                                                {"VMSILAUNCHWAIT_FILENAME", "tool.exe"},
                                                {"VMSILAUNCHWAIT_PARAMETERS", "--exit=3 waited"}},
                                               "EXITCODE");
    // The same entry again: a property changed, the others kept.
    const PackageCall missing = package.immediate(
        "VmsiLaunchWait", {{"VMSILAUNCHWAIT_FILENAME", "missing.exe"}}, "EXITCODE");
    const PackageCall registration =
        package.immediate("VmsiRegister", {{"VMSIREGISTER_OPTIONS", "/s"},
                                           {"VMSIREGISTER_FOLDER", w("Components")},
                                           {"VMSIREGISTER_FILENAME", "VmsiSelfRegistering.dll"}});
    const PackageCall appPath = package.immediate(
        "VmsiCheckIfAppInstalled", {{"VMSICHECKIFAPPINSTALLED_PROGRAMNAME", "VmsiMsiTest.exe"}});
    const PackageCall version = package.immediate(
        "VmsiCheckVersionOfFile", {{"VMSICHECKVERSIONOFFILE_FOLDER", w("Versioned")},
                                   {"VMSICHECKVERSIONOFFILE_FILENAME", "VmsiVersion5123.dll"},
                                   {"VMSICHECKVERSIONOFFILE_FIRST", "5"},
                                   {"VMSICHECKVERSIONOFFILE_SECOND", "+1"},
                                   {"VMSICHECKVERSIONOFFILE_THIRD", "2"},
                                   {"VMSICHECKVERSIONOFFILE_FOURTH", "4"}});
    const PackageCall notAnInteger =
        package.immediate("VmsiCheckVersionOfFile", {{"VMSICHECKVERSIONOFFILE_FOURTH", "3.0"}});
    // The mode is never set: a missing integer is 0, the current user's folders.
    const PackageCall copy =
        package.immediate("VmsiCreateDesktopShortcut",
                          {{"VMSICREATEDESKTOPSHORTCUT_PROGRAMGROUP", "Quillmark"},
                           {"VMSICREATEDESKTOPSHORTCUT_SHORTCUTFILENAME", "Quillmark.lnk"}});
    const PackageCall removal = package.immediate(
        "VmsiRemoveDesktopShortcut", {{"VMSIREMOVEDESKTOPSHORTCUT_ALLUSERSMODE", "0"},
                                      {"VMSIREMOVEDESKTOPSHORTCUT_SHORTCUTFILENAME", "Old.lnk"}});
    const PackageCall discovery = package.immediate("VmsiCheckForQLMKDB", {}, "DATABASEPATH");
    const PackageCall marker =
        package.immediate("VmsiCheckForQLMK", {{"VMSICHECKFORQLMK_VERSION", "5"}}, "VERSIONTEXT");
    const PackageCall noMarker =
        package.immediate("VmsiCheckForQLMK", {{"VMSICHECKFORQLMK_VERSION", "6"}}, "VERSIONTEXT");
    const PackageCall conversion =
        package.immediate("VmsiLaunchDbMigrate", {{"VMSILAUNCHDBMIGRATE_TOOLFOLDER", w("Tools")},
                                                  {"VMSILAUNCHDBMIGRATE_OLDCATALOGUE", catalogue()},
                                                  {"VMSILAUNCHDBMIGRATE_NEWFOLDER", w("New")},
                                                  {"VMSILAUNCHDBMIGRATE_NEWFILENAME", "pcdb.mdb"}});
    const PackageCall favourites = package.immediate(
        "VmsiWriteFavorites", {{"VMSIWRITEFAVORITES_BASEFOLDER", w()},
                               {"VMSIWRITEFAVORITES_FILEFOLDER", "Favourites"},
                               {"VMSIWRITEFAVORITES_FAVOURITE", "Summer [2024]"}});

    const InstallOutcome outcome = package.install();
    ASSERT_EQ(outcome.exitCode, 0u) << outcome.log;

    EXPECT_FALSE(exists("Cache"));
    expectCall(outcome, cache, 0,
               {"info: QLMK Cache Folder = " + w("Cache"),
                "warning: Unable to delete file: " + w("Cache\\.")});

    const auto launched = waitForFile(w("Launched\\viewer.exe.record"));
    EXPECT_EQ(recordField(launched.value_or(""), "arg2"), "{b}");
    expectCall(
        outcome, launch, 1,
        {"info: File to Launch: " + w("Launched\\viewer.exe"), "info: Launch Params: [a] {b}"});

    EXPECT_EQ(recordedCommandLine(w("Tools\\tool.exe")), w("Tools\\tool.exe") + " --exit=3 waited");
    EXPECT_EQ(outcome.resultAfter(wait, "EXITCODE"), "3");
    expectCall(outcome, wait, 1,
               {"info: File to Launch: " + w("Tools\\tool.exe"),
                "info: Launch Params: --exit=3 waited", "info: Exit code: 3"});
    // No program ran: no exit code, and the one before is removed.
    EXPECT_EQ(outcome.resultAfter(missing, "EXITCODE"), "<unset>");
    expectCall(outcome, missing, 0,
               {"info: File to Launch: " + w("Tools\\missing.exe"),
                "info: Launch Params: --exit=3 waited", "warning: That file doesn't exist"});

    const std::string component = w("Components\\VmsiSelfRegistering.dll");
    const auto registered = waitForFile(component + ".registered");
    EXPECT_EQ(recordField(registered.value_or(""), "commandLine"),
              "regsvr32 /s \"" + component + "\"");
    expectCall(outcome, registration, 1,
               {"info: Commandline to Register: regsvr32 /s \"" + component + "\""});

    expectCall(outcome, appPath, 1,
               {"info: Searching in AppPaths for: VmsiMsiTest.exe", "info: Program located"});

    // 5.1.2.3 is below the 5.1.2.4 asked for.
    const std::string versioned = w("Versioned\\VmsiVersion5123.dll");
    expectCall(outcome, version, 0,
               {"info: Searching For: " + versioned, "info: Searching for File: " + versioned,
                "info: File Found", "info: " + versioned, "warning: Version Too low"});
    expectCall(outcome, notAnInteger, 0,
               {"warning: Property VMSICHECKVERSIONOFFILE_FOURTH is not a decimal integer, the "
                "action is not run: 3.0"});

    EXPECT_EQ(readFile(w("Desktop\\Quillmark.lnk")), "user shortcut");
    expectCall(outcome, copy, 1,
               {"info: Allusers: 0",
                "info: Desktop = " + w("Desktop") + "<LF>StartmenuPrograms = " + w("Programs"),
                "info: ShortCut Source = " + w("Programs\\Quillmark\\Quillmark.lnk"),
                "info: ShortCut Dest = " + w("Desktop\\Quillmark.lnk"), "info: Shortcut Copied"});
    EXPECT_FALSE(exists("Desktop\\Old.lnk"));
    expectCall(outcome, removal, 1,
               {"info: Allusers: 0", "info: Desktop = " + w("Desktop"),
                "info: csShortCutToDelete = " + w("Desktop\\Old.lnk"), "info: Shortcut deleted"});

    EXPECT_EQ(outcome.resultAfter(discovery, "DATABASEPATH"), catalogue());
    expectCall(outcome, discovery, 1,
               {"info: Check for previous Vardo QLMK4 DB under HKLM",
                "info: Found the database: " + catalogue(),
                "warning: csDatabase = " + catalogue()});

    EXPECT_EQ(outcome.resultAfter(marker, "VERSIONTEXT"), "5.0.2");
    expectCall(outcome, marker, 1, {"info: 5.0.2installed"});
    // A 0 removes the text the call before had handed back.
    EXPECT_EQ(outcome.resultAfter(noMarker, "VERSIONTEXT"), "<unset>");
    expectCall(outcome, noMarker, 0, {"warning: Quillmark4 Not Installed"});

    const std::string parameters = " -i -o \"" + catalogue() + "\" -n \"" + w("New\\pcdb.mdb\"");
    EXPECT_EQ(recordedCommandLine(w("Tools\\DbMigrate.exe")),
              w("Tools\\DbMigrate.exe") + " " + parameters);
    expectCall(outcome, conversion, 1,
               {"info: File to Launch: " + w("Tools\\DbMigrate.exe"),
                "info: Launch Params: " + parameters, "info: Exit code: 0"});

    EXPECT_EQ(readFile(w("Favourites\\favorite.txt")), w("Summer [2024]\r\n"));
    expectCall(outcome, favourites, 1,
               {"info: Writing favorite file",
                "warning: Path to write file to: " + w("Favourites\\favorite.txt"),
                "warning: Contents to write: " + w("Summer [2024]")});
}

TEST_F(MsiPackageTest, DeferredEntriesReadTheirArgumentsFromCustomActionData) {
    TestPackage package("deferred");
    // Quoted fields carry semicolons and doubled quotes; a backslash is never
    // special, not even before a closing quote; a plain field keeps quotes.
    const PackageCall favourites =
        package.deferred("VmsiWriteFavorites", w() + R"(;"Fav;s";"say ""cheese""; C:\x\")");
    const PackageCall wait =
        package.deferred("VmsiLaunchWait", w() + R"(\Tools;tool.exe;--exit=0 "a b" c:\d\ x"y)");
    const PackageCall marker = package.deferred("VmsiCheckForQLMK", "5");
    const PackageCall unclosed = package.deferred("VmsiRemoveQLMKCache", w() + R"(;"Cache)");
    const PackageCall tooMany = package.deferred("VmsiRemoveQLMKCache", w() + ";Cache;0;more");
    const PackageCall notAnInteger = package.deferred("VmsiRemoveDesktopShortcut", "all;Old.lnk");
    const PackageCall missing = package.deferred("VmsiRemoveQLMKCache", w());

    const InstallOutcome outcome = package.install();
    ASSERT_EQ(outcome.exitCode, 0u) << outcome.log;

    const std::string contents = w(R"(say "cheese"; C:\x\)");
    EXPECT_EQ(readFile(w("Fav;s\\favorite.txt")), contents + "\r\n");
    expectCall(outcome, favourites, 1,
               {"info: Writing favorite file",
                "warning: Path to write file to: " + w("Fav;s\\favorite.txt"),
                "warning: Contents to write: " + contents},
               false);
    const std::string parameters = R"(--exit=0 "a b" c:\d\ x"y)";
    EXPECT_EQ(recordedCommandLine(w("Tools\\tool.exe")), w("Tools\\tool.exe") + " " + parameters);
    expectCall(outcome, wait, 1,
               {"info: File to Launch: " + w("Tools\\tool.exe"),
                "info: Launch Params: " + parameters, "info: Exit code: 0"},
               false);
    // Run from the script, an entry sets no property.
    expectCall(outcome, marker, 1, {"info: 5.0.2installed"}, false);
    EXPECT_EQ(outcome.property("VMSICHECKFORQLMK_RESULT"), "<unset>");
    EXPECT_EQ(outcome.property("VMSICHECKFORQLMK_VERSIONTEXT"), "<unset>");

    // Data that cannot be read runs nothing; a missing argument is empty.
    EXPECT_TRUE(exists("Cache\\a.tmp"));
    EXPECT_TRUE(exists("Desktop\\Old.lnk"));
    expectCall(outcome, unclosed, 0,
               {"warning: CustomActionData is malformed (a quoted field must end in a quote "
                "followed by a semicolon or the end), the action is not run: " +
                w() + ";\"Cache"},
               false);
    expectCall(outcome, tooMany, 0,
               {"warning: CustomActionData holds 4 fields, more than the 2 arguments and the fail "
                "request, the action is not run: " +
                w() + ";Cache;0;more"},
               false);
    expectCall(outcome, notAnInteger, 0,
               {"warning: CustomActionData field 1 is not a decimal integer, the action is not "
                "run: all"},
               false);
    expectCall(outcome, missing, 0, {"warning: Empty Values Passed, Exiting"}, false);
}

TEST_F(MsiPackageTest, AZeroResultFailsTheInstallationOnlyWhenThePackageAsks) {
    TestPackage package("fail-on-zero");
    const PackageCall immediate =
        package.immediate("VmsiCheckForQLMK", {{"VMSICHECKFORQLMK_VERSION", "99"}});
    const PackageCall deferred = package.deferred("VmsiCheckForQLMK", "99;[ASK_DEFERRED]");
    package.deferred("VmsiWriteFavorites", w() + ";Favourites;after");
    const Lines zero{"warning: Quillmark4 Not Installed", "info: Action result: 0"};

    InstallOutcome outcome = package.install("VMSICHECKFORQLMK_FAILONZERO=1");
    EXPECT_EQ(outcome.exitCode, installFailure);
    Lines failed = zero;
    failed.push_back("warning: The installation fails on this 0, as Property "
                     "VMSICHECKFORQLMK_FAILONZERO asks");
    EXPECT_EQ(outcome.linesOf(immediate), failed);
    EXPECT_EQ(outcome.linesOf(deferred), Lines{});

    outcome = package.install("ASK_DEFERRED=yes");
    EXPECT_EQ(outcome.exitCode, installFailure);
    EXPECT_EQ(outcome.linesOf(immediate), zero);
    failed = zero;
    failed.push_back("warning: The installation fails on this 0, as CustomActionData field 2 asks");
    EXPECT_EQ(outcome.linesOf(deferred), failed);
    EXPECT_FALSE(exists("Favourites\\favorite.txt")) << "an action after the failure ran";

    // "0" asks for nothing.
    outcome = package.install("VMSICHECKFORQLMK_FAILONZERO=0 ASK_DEFERRED=0");
    EXPECT_EQ(outcome.exitCode, 0u) << outcome.log;
    EXPECT_EQ(outcome.linesOf(deferred), zero);
    EXPECT_EQ(readFile(w("Favourites\\favorite.txt")), w("after\r\n"));
}

TEST_F(MsiPackageTest, ANonZeroExitCodeFailsTheInstallationOnlyWhenThePackageAsks) {
    TestPackage package("fail-on-exit-code");
    const PackageCall immediate =
        package.immediate("VmsiLaunchWait", {{"VMSILAUNCHWAIT_FOLDER", w("Tools")},
                                             {"VMSILAUNCHWAIT_FILENAME", "tool.exe"},
                                             {"VMSILAUNCHWAIT_PARAMETERS", "--exit=3"}});
    const std::string tooMany = w("Tools") + ";tool.exe;;;;;more";
    const PackageCall refused = package.deferred("VmsiLaunchWait", tooMany);
    // The recorder standing in for the tool exits with the code that stands
    // in the old catalogue's place in its command line.
    const PackageCall deferred = package.deferred(
        "VmsiLaunchDbMigrate", w("Tools") + ";--exit=5;" + w("New") + ";pcdb.mdb;;[ASK_DEFERRED]");

    InstallOutcome outcome = package.install("VMSILAUNCHWAIT_FAILONEXITCODE=1");
    EXPECT_EQ(outcome.exitCode, installFailure);
    EXPECT_EQ(lastLine(outcome, immediate), "warning: The installation fails on this exit code, "
                                            "as Property VMSILAUNCHWAIT_FAILONEXITCODE asks");
    outcome = package.install("ASK_DEFERRED=1");
    EXPECT_EQ(outcome.exitCode, installFailure);
    EXPECT_EQ(lastLine(outcome, immediate), "info: Action result: 1");
    // The two entries that hand out an exit code take two fields more.
    expectCall(outcome, refused, 0,
               {"warning: CustomActionData holds 7 fields, more than the 3 arguments, the two "
                "fail requests and the time-out, the action is not run: " +
                tooMany},
               false);
    EXPECT_EQ(outcome.linesOf(deferred),
              (Lines{"info: File to Launch: " + w("Tools\\DbMigrate.exe"),
                     "info: Launch Params:  -i -o \"--exit=5\" -n \"" + w("New\\pcdb.mdb") + "\"",
                     "info: Exit code: 5", "info: Action result: 1",
                     "warning: The installation fails on this exit code, as CustomActionData "
                     "field 6 asks"}));
}

namespace {

// Windows Installer's own interface answers a message with IDCANCEL once the
// user has pressed Cancel; a silent msiexec under Wine never does. This
// external interface handler is the stand-in for that answer: it replays
// IDCANCEL for the first message of the kind whose text holds the mark, once
// a log line holding the second mark has been shown, and keeps the log lines
// it is shown.
struct ReplayedCancelAnswer {
    UINT kind;
    std::string mark;
    std::string shownBefore = "";
    Lines lines{};
    bool answered = false;

    static INT WINAPI answer(void* context, UINT type, LPCSTR message) {
        auto& self = *static_cast<ReplayedCancelAnswer*>(context);
        const std::string text = message != nullptr ? message : "";
        const bool cancel = !self.answered && (type & 0xFF000000) == self.kind &&
                            text.find(self.mark) != std::string::npos &&
                            (self.shownBefore.empty() || self.shownAlready());
        if ((type & 0xFF000000) == INSTALLMESSAGE_INFO) {
            self.lines.push_back(text);
        }
        self.answered = self.answered || cancel;
        return cancel ? IDCANCEL : 0;
    }

    bool shownAlready() const {
        for (const std::string& line : lines) {
            if (line.find(shownBefore) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

constexpr DWORD cancelAndLog = INSTALLLOGMODE_INFO | INSTALLLOGMODE_PROGRESS;

} // namespace

// The entries called in this process with a session of a package, as the
// installer calls them, each message answered by the replayed Cancel. The
// program the entry waits for would sleep for half a minute and then leave
// its record: one that is ended leaves none.
TEST_F(MsiPackageTest, AReplayedCancelAnswerStopsTheEntryAndEndsTheProgramItWaitsFor) {
    TestPackage package("cancel");
    const OpenedPackage opened(package.build());
    const vmsi::LoadedModule library(
        LoadLibraryA(besideThisProgram("VardoMSICustomActionsMsi.dll").c_str()));
    const auto entry = [&](const char* name, ReplayedCancelAnswer& replay) {
        MsiSetExternalUIA(&ReplayedCancelAnswer::answer, cancelAndLog, &replay);
        const auto function = vmsi::exportOf<UINT(__stdcall*)(MSIHANDLE)>(library.get(), name);
        const UINT status = function != nullptr ? function(opened.session()) : ERROR_PROC_NOT_FOUND;
        MsiSetExternalUIA(nullptr, 0, nullptr);
        return status;
    };
    opened.setProperty("VMSILAUNCHWAIT_FOLDER", w("Tools"));
    opened.setProperty("VMSILAUNCHWAIT_FILENAME", "tool.exe");
    opened.setProperty("VMSILAUNCHWAIT_PARAMETERS", "--sleep=30000");
    const std::string prefix = "VmsiLaunchWait: ";
    const Lines started{prefix + "info: File to Launch: " + w("Tools\\tool.exe"),
                        prefix + "info: Launch Params: --sleep=30000"};
    const auto startedThen = [&](const Lines& more) {
        Lines lines = started;
        lines.insert(lines.end(), more.begin(), more.end());
        return lines;
    };

    // Before the action starts: the entry asks with a progress message.
    ReplayedCancelAnswer beforeStart{INSTALLMESSAGE_PROGRESS, ""};
    EXPECT_EQ(entry("VmsiLaunchWait", beforeStart), static_cast<UINT>(ERROR_INSTALL_USEREXIT));
    EXPECT_EQ(beforeStart.lines,
              (Lines{prefix + "warning: The installation is cancelled, the action is not run",
                     prefix + "info: Action result: 0"}));
    EXPECT_FALSE(exists("Tools\\tool.exe.record")) << "the action ran";

    // While it waits, the entry asks the same way, and ends the program.
    ReplayedCancelAnswer waiting{INSTALLMESSAGE_PROGRESS, "", "Launch Params"};
    EXPECT_EQ(entry("VmsiLaunchWait", waiting), static_cast<UINT>(ERROR_INSTALL_USEREXIT));
    EXPECT_EQ(waiting.lines,
              startedThen({prefix + "warning: The installation is cancelled, the program was ended",
                           prefix + "info: Action result: 0"}));
    EXPECT_EQ(opened.property("VMSILAUNCHWAIT_EXITCODE"), "");
    // The package's time-out, in seconds, ends it too, and fails the
    // installation; one that is not a number of seconds runs nothing.
    opened.setProperty("VMSILAUNCHWAIT_TIMEOUT", "1");
    ReplayedCancelAnswer noCancel{INSTALLMESSAGE_PROGRESS, "a text no message holds"};
    EXPECT_EQ(entry("VmsiLaunchWait", noCancel), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(noCancel.lines, startedThen({prefix + "warning: The program did not end within the "
                                                    "time-out of 1 s and was ended; the "
                                                    "installation fails",
                                           prefix + "info: Action result: 0"}));
    opened.setProperty("VMSILAUNCHWAIT_TIMEOUT", "-1");
    noCancel.lines.clear();
    EXPECT_EQ(entry("VmsiLaunchWait", noCancel), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(noCancel.lines, (Lines{prefix + "warning: Property VMSILAUNCHWAIT_TIMEOUT is not a "
                                              "number of seconds, the action is not run: -1",
                                     prefix + "info: Action result: 0"}));
    EXPECT_FALSE(exists("Tools\\tool.exe.record")) << "a program was not ended";
    EXPECT_TRUE(noneRunningWithin("tool.exe", 5000));

    // An action that waits for nothing finishes its step.
    opened.setProperty("VMSICHECKFORQLMK_VERSION", "5");
    ReplayedCancelAnswer underWay{INSTALLMESSAGE_INFO, "installed"};
    EXPECT_EQ(entry("VmsiCheckForQLMK", underWay), static_cast<UINT>(ERROR_INSTALL_USEREXIT));
    EXPECT_EQ(
        underWay.lines,
        (Lines{"VmsiCheckForQLMK: info: 5.0.2installed", "VmsiCheckForQLMK: info: Action result: 1",
               "VmsiCheckForQLMK: warning: The installation is cancelled, the action "
               "finished first"}));

    // The data entry has set the data when it learns of the cancel.
    opened.setProperty("VmsiSetCustomActionData_Request", "Later;VMSILAUNCHWAIT_FILENAME");
    ReplayedCancelAnswer dataSet{INSTALLMESSAGE_INFO, "CustomActionData of Later"};
    EXPECT_EQ(entry("VmsiSetCustomActionData", dataSet), static_cast<UINT>(ERROR_INSTALL_USEREXIT));
    EXPECT_EQ(opened.property("Later"), "tool.exe");
}

// A value that the ANSI code page cannot hold exactly: U+FF02, the fullwidth
// quotation mark, which the 8-bit functions give as a plain one. In
// CustomActionData it would split one field into three and turn the removal
// of one cache folder into the emptying of a folder of the user's choosing.
TEST_F(MsiPackageTest, APropertyTheCodePageCannotHoldExactlyRunsNothing) {
    makeFolders(w("sr\\victim"));
    writeFile(w("sr\\victim\\kept.txt"), "kept");
    TestPackage package("best-fit");
    const PackageCall favourites =
        package.immediate("VmsiWriteFavorites", {{"VMSIWRITEFAVORITES_BASEFOLDER", w()},
                                                 {"VMSIWRITEFAVORITES_FILEFOLDER", "Favourites"}});
    const PackageCall removal =
        package.deferred("VmsiRemoveQLMKCache", "\"[VICTIMPARENT]\";QLMKCache");

    const std::wstring world = vmsi::widened(w());
    const InstallOutcome outcome = package.install(L"VICTIMPARENT=\"" + world +
                                                   L"\\sr\uFF02;\uFF02victim\" "
                                                   L"VMSIWRITEFAVORITES_FAVOURITE=Pics\uFF02");
    ASSERT_EQ(outcome.exitCode, 0u) << outcome.log;

    EXPECT_EQ(readFile(w("sr\\victim\\kept.txt")), "kept");
    EXPECT_FALSE(exists("Favourites\\favorite.txt"));
    expectCall(
        outcome, favourites, 0,
        {"warning: Property VMSIWRITEFAVORITES_FAVOURITE holds characters that the ANSI code "
         "page cannot represent exactly, the action is not run"});
    expectCall(outcome, removal, 0,
               {"warning: CustomActionData holds characters that the ANSI code page cannot "
                "represent exactly, the action is not run"},
               false);
}

TEST_F(MsiPackageTest, TheDataEntryQuotesPropertiesExactlyAndKeepsHiddenDataOutOfTheLog) {
    TestPackage package("data-entry");
    const PackageCall favourites = package.deferred("VmsiWriteFavorites", std::nullopt);
    const PackageCall marker = package.deferred("VmsiCheckForQLMK", std::nullopt);
    // Values no hand-written data could carry: separators, quotes, a
    // backslash before the end.
    const PackageCall shown = package.immediate(
        "VmsiSetCustomActionData",
        {{"VmsiSetCustomActionData_Request", favourites.id + ";Base;Folder;Favourite"},
         {"Base", w()},
         {"Folder", "Fav;s"},
         {"Favourite", "\"say \"\"cheese\"\"\"; C:\\x\\"}});
    const PackageCall hidden = package.immediate(
        "VmsiSetCustomActionData", {{"MsiHiddenProperties", "Other;" + marker.id},
                                    {"VmsiSetCustomActionData_Request", marker.id + ";Version"},
                                    {"Version", "5"}});

    const InstallOutcome outcome = package.install();
    ASSERT_EQ(outcome.exitCode, 0u) << outcome.log;

    const std::string contents = w("\"say \"\"cheese\"\"\"; C:\\x\\");
    EXPECT_EQ(readFile(w("Fav;s\\favorite.txt")), contents + "\r\n");
    EXPECT_EQ(outcome.linesOf(shown),
              Lines{"info: CustomActionData of " + favourites.id + ": " + w() +
                    ";\"Fav;s\";\"\"\"say \"\"\"\"cheese\"\"\"\"\"\"; C:\\x\\\""});
    expectCall(outcome, marker, 1, {"info: 5.0.2installed"}, false);
    EXPECT_EQ(outcome.linesOf(hidden),
              Lines{"info: CustomActionData of " + marker.id +
                    " is set; MsiHiddenProperties keeps it out of the log"});
}

// The entry points' DLL may be loaded afresh for every custom action: it
// gives its thread slot back when it is unloaded.
TEST(MsiEntryLibrary, FreesItsThreadSlotWhenUnloaded) {
    const DWORD lowestFree = TlsAlloc();
    TlsFree(lowestFree);
    for (int load = 0; load < 3; ++load) {
        HMODULE library = LoadLibraryA(besideThisProgram("VardoMSICustomActionsMsi.dll").c_str());
        ASSERT_NE(library, nullptr);
        const auto entry = vmsi::exportOf<UINT(__stdcall*)(MSIHANDLE)>(library, "VmsiCheckForQLMK");
        ASSERT_NE(entry, nullptr);
        entry(0); // no session: nothing is read or logged, but the slot is taken
        FreeLibrary(library);
    }
    const DWORD afterwards = TlsAlloc();
    TlsFree(afterwards);
    EXPECT_EQ(afterwards, lowestFree);
}

namespace {

std::string sourcePath(const std::string& relative) {
    return windowsPathOf(VMSI_SOURCE_FOLDER "/" + relative);
}

bool isX86(const PackageTarget& target) {
    return target.architecture == "x86";
}

// The rows a query of a built package gives, each field as text (an integer
// in decimal).
std::vector<Lines> packageRows(const std::string& packagePath, const char* query) {
    using vmsi::msi::InstallerHandle;
    std::vector<Lines> rows;
    InstallerHandle database;
    InstallerHandle view;
    if (MsiOpenDatabaseA(packagePath.c_str(), MSIDBOPEN_READONLY, database.receive()) !=
            ERROR_SUCCESS ||
        MsiDatabaseOpenViewA(database.get(), query, view.receive()) != ERROR_SUCCESS ||
        MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot query " << packagePath << ": " << query;
        return rows;
    }
    for (InstallerHandle record; MsiViewFetch(view.get(), record.receive()) == ERROR_SUCCESS;) {
        Lines& row = rows.emplace_back();
        for (UINT field = 1; field <= MsiRecordGetFieldCount(record.get()); ++field) {
            char text[1024] = {};
            DWORD length = sizeof text;
            MsiRecordGetStringA(record.get(), field, text, &length);
            row.push_back(text);
        }
    }
    return rows;
}

// The Type of every custom action of a built package, by its Id.
std::map<std::string, int> customActionTypes(const std::string& packagePath) {
    std::map<std::string, int> types;
    for (const Lines& row :
         packageRows(packagePath, "SELECT `Action`, `Type` FROM `CustomAction`")) {
        types[row.at(0)] = std::atoi(row.at(1).c_str());
    }
    return types;
}

// What would fail when the package runs, which wixl does not check: a DLL
// custom action whose Binary is not in the package, or whose entry the
// entry points' DLL does not export.
Lines unresolvedCustomActions(const std::string& packagePath) {
    std::set<std::string> binaries;
    for (const Lines& row : packageRows(packagePath, "SELECT `Name` FROM `Binary`")) {
        binaries.insert(row.at(0));
    }
    const vmsi::LoadedModule library(
        LoadLibraryA(besideThisProgram("VardoMSICustomActionsMsi.dll").c_str()));
    Lines unresolved;
    for (const Lines& row : packageRows(
             packagePath, "SELECT `Action`, `Type`, `Source`, `Target` FROM `CustomAction`")) {
        const int dllInBinary = msidbCustomActionTypeDll | msidbCustomActionTypeBinaryData;
        if ((std::atoi(row.at(1).c_str()) & 0x3F) != dllInBinary) {
            continue;
        }
        if (binaries.count(row.at(2)) == 0) {
            unresolved.push_back(row.at(0) + ": no Binary " + row.at(2));
        } else if (row.at(2) == "VardoMSICustomActionsMsi" &&
                   vmsi::exportOf<FARPROC>(library.get(), row.at(3).c_str()) == nullptr) {
            unresolved.push_back(row.at(0) + ": no entry " + row.at(3));
        }
    }
    return unresolved;
}

// x86 packages, first, run the shipped 32-bit DLL in the installer's 32-bit
// custom action server; x64 packages the 64-bit test build. Where 32-bit
// programs run only under emulation, each 32-bit process costs about a
// minute and that server has failed there: scripts/wine-run.sh says which
// kind of machine this is, and one line says when x86 is left out.
std::vector<PackageTarget> packageTargets() {
    static const bool x86 = [] {
        const char* emulated = std::getenv("VMSI_WINE32_EMULATED");
        if (emulated != nullptr && std::string(emulated) == "no") {
            return true;
        }
        std::printf("x86 packages: not run, as %s\n",
                    emulated != nullptr
                        ? "32-bit programs run here only under emulation"
                        : "VMSI_WINE32_EMULATED is not set (scripts/wine-run.sh sets it)");
        return false;
    }();
    const PackageTarget x64{"x64", thisProgramFolder(), sourcePath("msi")};
    if (!x86) {
        return {x64};
    }
    return {{"x86", sourcePath("dist/win32"), sourcePath("dist/win32")}, x64};
}

} // namespace

// The include file: every action it defines, once, in a product that only
// sets properties and sequences them, x86 where 32-bit programs run
// natively. Each argument holds the name of its private property, so that
// the data line of a deferred form shows that its request names them all,
// in order (such arguments name nothing: the actions change nothing). The
// results come back in properties, a 32-bit entry's from the 32-bit view of
// HKLM\Software, below Wow6432Node.
TEST_F(MsiPackageTest, EveryActionOfTheIncludeRunsInAPackageThatTakesIt) {
    const PackageTarget target = packageTargets().front();
    TestPackage package("include", target, PackageActions::FromInclude);
    const std::map<std::string, std::string> given = {{"VmsiCheckForQLMK_Version", "5"},
                                                      {"VmsiLaunchWait_Folder", w("Tools")},
                                                      {"VmsiLaunchWait_FileName", "tool.exe"}};
    // Each deferred form, and whether it runs as LocalSystem.
    const std::multimap<std::string, std::pair<std::string, bool>> deferredForms = {
        {"VmsiLaunchWait", {"Deferred", true}},
        {"VmsiRegister", {"Deferred", true}},
        {"VmsiCreateDesktopShortcut", {"Deferred", false}},
        {"VmsiCreateDesktopShortcut", {"DeferredAllUsers", true}},
        {"VmsiRemoveDesktopShortcut", {"Deferred", false}},
        {"VmsiRemoveDesktopShortcut", {"DeferredAllUsers", true}},
        {"VmsiLaunchDbMigrate", {"Deferred", true}},
        {"VmsiWriteFavorites", {"Deferred", false}},
        {"VmsiRemoveQLMKCache", {"Deferred", true}}};
    std::map<std::string, bool> runsAsSystem;
    std::vector<PackageCall> calls;
    std::vector<std::pair<PackageCall, std::string>> dataCalls;
    for (const vmsi::ExportDescription& action : vmsi::exportTable) {
        if (action.kind == vmsi::ExportKind::IdentityFunction) {
            continue;
        }
        const std::string entry = "Vmsi" + std::string(action.name).substr(5);
        PropertyValues publicValues;
        PropertyValues privateValues;
        std::string data;
        for (std::size_t i = 0; i < action.argumentCount; ++i) {
            std::string name = entry + "_" + action.arguments[i].name;
            name[entry.size() + 1] = static_cast<char>(toupper(name[entry.size() + 1]));
            const std::string value = given.count(name) != 0 ? given.at(name) : name;
            privateValues.emplace_back(name, value);
            data += value + ";";
            CharUpperA(name.data());
            publicValues.emplace_back(name, value);
        }
        calls.push_back(package.immediate(entry, publicValues));
        const bool exitCode = entry == "VmsiLaunchWait" || entry == "VmsiLaunchDbMigrate";
        privateValues.emplace_back(entry + "_FailOnZero", "0");
        if (exitCode) {
            privateValues.emplace_back(entry + "_FailOnExitCode", "0");
            privateValues.emplace_back(entry + "_Timeout", "0");
        }
        const auto [first, last] = deferredForms.equal_range(entry);
        for (auto form = first; form != last; ++form) {
            calls.push_back(package.includedDeferred(entry, privateValues, form->second.first));
            runsAsSystem[calls.back().id] = form->second.second;
            dataCalls.push_back({{calls.back().id + ".Data", "VmsiSetCustomActionData"},
                                 "info: CustomActionData of " + calls.back().id + ": " + data +
                                     (exitCode ? "0;0;0" : "0")});
        }
    }

    // Deferred (in the script), and impersonated or not, as the guide says.
    const std::map<std::string, int> types = customActionTypes(package.build());
    for (const auto& [id, system] : runsAsSystem) {
        const int type = types.count(id) != 0 ? types.at(id) : 0;
        EXPECT_EQ(type & (msidbCustomActionTypeInScript | msidbCustomActionTypeNoImpersonate),
                  msidbCustomActionTypeInScript | (system ? msidbCustomActionTypeNoImpersonate : 0))
            << id << " has the type " << type;
    }
    const InstallOutcome outcome = package.install();
    ASSERT_EQ(outcome.exitCode, 0u) << outcome.log;
    for (const PackageCall& call : calls) {
        EXPECT_EQ(lastLine(outcome, call).substr(0, 21), "info: Action result: ") << call.id;
    }
    for (const auto& [call, data] : dataCalls) {
        EXPECT_EQ(outcome.linesOf(call), Lines{data});
    }
    EXPECT_EQ(outcome.property("VMSICHECKFORQLMKDB_DATABASEPATH"), catalogue(isX86(target)));
    EXPECT_EQ(outcome.property("VMSICHECKFORQLMK_VERSIONTEXT"), versionText(isX86(target)));
    EXPECT_EQ(outcome.property("VMSILAUNCHWAIT_EXITCODE"), "0");
}

// The deferred forms of the include that wait for a program, in real
// installations. A cancel while the form waits ends the program and the
// installation (the installation runs in this process, its messages shown to
// the replayed Cancel); the time-out, the field after the exit-code fail
// request, ends it and fails the installation (msiexec).
TEST_F(MsiPackageTest, ACancelOrTheTimeOutEndsTheProgramADeferredFormWaitsFor) {
    const PackageTarget x64 = packageTargets().back();
    TestPackage cancelled("deferred-cancel", x64, PackageActions::FromInclude);
    const PackageCall wait = cancelled.includedDeferred(
        "VmsiLaunchWait", {{"VmsiLaunchWait_Folder", w("Tools")},
                           {"VmsiLaunchWait_FileName", "tool.exe"},
                           {"VmsiLaunchWait_Parameters", "--sleep=30000"}});
    ReplayedCancelAnswer waiting{INSTALLMESSAGE_PROGRESS, "", "Launch Params"};
    InstallOutcome outcome =
        cancelled.installAnswering(&ReplayedCancelAnswer::answer, &waiting, cancelAndLog);
    EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_INSTALL_USEREXIT)) << outcome.log;
    EXPECT_EQ(outcome.linesOf(wait),
              (Lines{"info: File to Launch: " + w("Tools\\tool.exe"),
                     "info: Launch Params: --sleep=30000",
                     "warning: The installation is cancelled, the program was ended",
                     "info: Action result: 0"}));

    TestPackage timedOut("deferred-time-out", x64, PackageActions::FromInclude);
    // The recorder standing in for the tool sleeps as the old catalogue's
    // place in its command line asks.
    const PackageCall conversion = timedOut.includedDeferred(
        "VmsiLaunchDbMigrate", {{"VmsiLaunchDbMigrate_ToolFolder", w("Tools")},
                                {"VmsiLaunchDbMigrate_OldCatalogue", "--sleep=30000"},
                                {"VmsiLaunchDbMigrate_NewFolder", w("New")},
                                {"VmsiLaunchDbMigrate_NewFileName", "pcdb.mdb"},
                                {"VmsiLaunchDbMigrate_Timeout", "1"}});
    outcome = timedOut.install();
    EXPECT_EQ(outcome.exitCode, installFailure) << outcome.log;
    EXPECT_EQ(
        outcome.linesOf(conversion),
        (Lines{"info: File to Launch: " + w("Tools\\DbMigrate.exe"),
               "info: Launch Params:  -i -o \"--sleep=30000\" -n \"" + w("New\\pcdb.mdb") + "\"",
               "warning: The program did not end within the time-out of 1 s and was "
               "ended; the installation fails",
               "info: Action result: 0"}));
    EXPECT_FALSE(exists("Tools\\tool.exe.record")) << "a program was not ended";
    EXPECT_FALSE(exists("Tools\\DbMigrate.exe.record")) << "a program was not ended";
}

// Every xml snippet of docs/msi.md builds beside the include, as a package
// author would copy it: a whole source as it stands, with stand-ins for the
// files it names, any other inside a Product that takes the include (unless
// the snippet takes it itself); and each DLL custom action finds its Binary
// and its entry, which wixl does not check. wixl builds WiX 3 only: the WiX 4
// forms are compared with their WiX 3 twins by the include-forms test.
TEST_F(MsiPackageTest, EverySnippetOfTheGuideBuildsBesideTheInclude) {
    const std::string guide = readFile(sourcePath("docs/msi.md")).value_or("");
    TestPackage package("snippets", packageTargets().back());
    int built = 0;
    int wix4 = 0;
    const std::string fence = "```xml\n";
    for (std::size_t at = guide.find(fence); at != std::string::npos; at = guide.find(fence, at)) {
        const std::size_t begin = at + fence.size();
        at = guide.find("```", begin);
        const std::string snippet = guide.substr(begin, at - begin);
        if (snippet.find("wixtoolset.org/schemas/v4/wxs") != std::string::npos ||
            snippet.find("Wix4.wxi") != std::string::npos) {
            ++wix4;
            continue;
        }
        SCOPED_TRACE(snippet.substr(0, snippet.find('\n')));
        std::string source = snippet;
        if (snippet.find("<Wix ") == std::string::npos) {
            source = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                     "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
                     "<Product Id=\"*\" Name=\"Snippet\" Language=\"1033\" Version=\"1.0.0\" "
                     "Manufacturer=\"Vardo tests\" "
                     "UpgradeCode=\"8d3f4b62-5d2e-4f0a-9a51-3c7e0e1b2a41\">\n"
                     "<Package InstallerVersion=\"200\" Compressed=\"yes\" "
                     "InstallScope=\"perMachine\"/>\n"
                     "<Directory Id=\"TARGETDIR\" Name=\"SourceDir\"/>\n"
                     "<Feature Id=\"Main\" Level=\"1\"/>\n" +
                     std::string(snippet.find("<?include") == std::string::npos
                                     ? "<?include VardoMSICustomActions.wxi ?>\n"
                                     : "") +
                     snippet + "</Product>\n</Wix>\n";
        }
        for (std::size_t file = source.find(" Source=\""); file != std::string::npos;
             file = source.find(" Source=\"", file + 1)) {
            const std::size_t name = file + 9;
            copyFileOrFail(besideThisProgram("recorder.exe"),
                           package.folder() / source.substr(name, source.find('"', name) - name));
        }
        const std::string packagePath = package.build(source);
        ASSERT_FALSE(packagePath.empty());
        EXPECT_EQ(unresolvedCustomActions(packagePath), Lines{});
        ++built;
    }
    std::printf("docs/msi.md: %d WiX 3 snippets built with wixl; %d WiX 4 snippets are compared "
                "with their WiX 3 twins by the include-forms test, WiX itself is not run here\n",
                built, wix4);
    EXPECT_GE(built, 4);
    EXPECT_GE(wix4, 2);
}

// The package of docs/msi.md, as it stands there, built for x86 as the guide
// builds it, and for x64: it finds the earlier catalogue, converts it with
// the tool it installs and removes the cache; the conversion's lines are the
// guide's sample log. The command line cannot steer its deferred actions:
// the cache folder's parent of an earlier form of the example is given, and
// ignored. A tool that exits with 1 fails the installation.
TEST_F(MsiPackageTest, TheDocumentedExamplePackageMigratesAnEarlierCatalogue) {
    const std::string guide = readFile(sourcePath("docs/msi.md")).value_or("");
    const auto block = [&](const std::string& heading, const std::string& fence) {
        const std::size_t begin = guide.find(fence, guide.find(heading)) + fence.size();
        return guide.substr(begin, guide.find("```", begin) - begin);
    };
    const std::string source = block("## A complete example", "```xml\n");
    // The cache an earlier version left in the install folder, which x86
    // and x64 packages alike take from the 32-bit Program Files folder.
    char programFiles[MAX_PATH];
    ASSERT_NE(GetEnvironmentVariableA("ProgramFiles(x86)", programFiles, MAX_PATH), 0u);
    const std::string installFolder = std::string(programFiles) + "\\Quillmark\\";
    const std::string cache = installFolder + "QLMKCache";
    makeFolders(w("QLMKCache"));
    writeFile(w("QLMKCache\\thumbs.db"), "not the installed product's cache");

    for (const PackageTarget& target : packageTargets()) {
        SCOPED_TRACE(target.architecture);
        const bool x86 = isX86(target);
        Lines sample;
        std::istringstream sampleLog(block("## The install log", "```\n"));
        for (std::string line; std::getline(sampleLog, line);) {
            const std::string sampleCatalogue = "C:\\Quillmark 4\\system\\pcdb.mdb";
            if (const std::size_t at = line.find(sampleCatalogue); at != std::string::npos) {
                line.replace(at, sampleCatalogue.size(), catalogue(x86));
            }
            sample.push_back(line.substr(line.find(": ") + 2));
        }
        makeFolders(cache);
        writeFile(cache + "\\thumbs.db", "cache");

        TestPackage package("example-" + target.architecture, target);
        copyFileOrFail(besideThisProgram("recorder.exe"), package.folder() / "DbMigrate.exe");
        InstallOutcome outcome = package.installSource(source, "QLMKCACHEPARENT=" + w());
        ASSERT_EQ(outcome.exitCode, 0u) << outcome.log;

        EXPECT_EQ(outcome.property("InstallFolder"), installFolder);
        const std::string tool = installFolder + "DbMigrate.exe";
        const auto record = readFile(tool + ".record");
        EXPECT_EQ(recordField(record.value_or(""), "arg3"), catalogue(x86));
        EXPECT_EQ(recordField(record.value_or(""), "arg5"), installFolder + "Catalogue\\pcdb.mdb");
        EXPECT_EQ(GetFileAttributesA(cache.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(exists("QLMKCache\\thumbs.db"));
        EXPECT_EQ(outcome.property("VMSICHECKFORQLMKDB_DATABASEPATH"), catalogue(x86));
        EXPECT_EQ(outcome.linesOf({"VmsiCheckForQLMKDB", "VmsiCheckForQLMKDB"}).size(), 4u);
        const PackageCall conversion{"VmsiLaunchDbMigrateDeferred", "VmsiLaunchDbMigrate"};
        EXPECT_EQ(outcome.linesOf(conversion), sample);
        EXPECT_EQ(outcome.linesOf({"VmsiRemoveQLMKCacheDeferred", "VmsiRemoveQLMKCache"}).front(),
                  "info: QLMK Cache Folder = " + cache);
        DeleteFileA((tool + ".record").c_str());
        EXPECT_EQ(package.uninstall(), 0u);
        EXPECT_EQ(GetFileAttributesA(tool.c_str()), INVALID_FILE_ATTRIBUTES);

        // The prefix's reg.exe refuses the tool's switches and exits with 1.
        char system[MAX_PATH];
        GetSystemDirectoryA(system, MAX_PATH);
        copyFileOrFail(std::string(system) + "\\reg.exe", package.folder() / "DbMigrate.exe");
        outcome = package.installSource(source);
        EXPECT_EQ(outcome.exitCode, installFailure);
        EXPECT_EQ(lastLine(outcome, conversion), "warning: The installation fails on this exit "
                                                 "code, as CustomActionData field 6 asks");
        removeTree(installFolder); // what a failed run may have left
    }
}

// The shortcut package of docs/msi.md, as it stands there: installed, it
// makes its Start menu shortcut and copies it onto the all-users desktop
// (mode 1, the LocalSystem forms); uninstalled, both are gone. The all-users
// folders are the test's own, for the installer and the actions alike.
TEST_F(MsiPackageTest, TheDocumentedShortcutPackageCopiesItsShortcutAndRemovesTheCopy) {
    const std::string guide = readFile(sourcePath("docs/msi.md")).value_or("");
    const std::string fence = "```xml\n";
    const std::size_t begin =
        guide.find(fence, guide.find("## Desktop shortcuts: install and uninstall")) + fence.size();
    const std::string source = guide.substr(begin, guide.find("```", begin) - begin);
    // A stand-in for Windows, whose installer puts a per-machine package's
    // Start menu shortcut in the all-users Programs folder: Wine's puts it
    // in the user's (ProgramMenuFolder is CSIDL_PROGRAMS whatever ALLUSERS
    // says), so here the all-users Programs folder is the user's.
    std::list<RegistryValueOverride> commonFolders;
    for (const char* key : {"Shell Folders", "User Shell Folders"}) {
        for (const auto& [name, folder] : {std::pair{"Common Desktop", "CommonDesktop"},
                                           std::pair{"Common Programs", "Programs"}}) {
            makeFolders(w(folder));
            commonFolders.emplace_back(HKEY_LOCAL_MACHINE, explorerKey + key, name);
            commonFolders.back().set(w(folder));
        }
    }
    const PackageTarget target = packageTargets().back();
    TestPackage package("shortcut-example", target);
    copyFileOrFail(besideThisProgram("recorder.exe"), package.folder() / "Quillmark.exe");

    const InstallOutcome outcome = package.installSource(source);
    ASSERT_EQ(outcome.exitCode, 0u) << outcome.log;
    const std::string startMenu = w("Programs\\Quillmark\\Quillmark.lnk");
    EXPECT_TRUE(exists("Programs\\Quillmark\\Quillmark.lnk"))
        << "the Start menu is " << outcome.property("ProgramMenuFolder");
    EXPECT_EQ(readFile(w("CommonDesktop\\Quillmark.lnk")), readFile(startMenu));
    expectCall(
        outcome, {"VmsiCreateDesktopShortcutDeferredAllUsers", "VmsiCreateDesktopShortcut"}, 1,
        {"info: Allusers: 1",
         "info: Desktop = " + w("CommonDesktop") + "<LF>StartmenuPrograms = " + w("Programs"),
         "info: ShortCut Source = " + startMenu,
         "info: ShortCut Dest = " + w("CommonDesktop\\Quillmark.lnk"), "info: Shortcut Copied"},
        false);

    EXPECT_EQ(package.uninstall(), 0u);
    EXPECT_FALSE(exists("CommonDesktop\\Quillmark.lnk"));
    EXPECT_FALSE(exists("Programs\\Quillmark"));
}
