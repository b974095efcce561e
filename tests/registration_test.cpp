// Registering a component with Wine's real regsvr32, and App Paths entries
// created in the test prefix's HKLM.
#include "registration.h"
#include "child_processes.h"
#include "recorded_reports.h"
#include "scratch.h"
#include "shipped_library.h"
#include "wow64.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace vmsi;
using test::PlantedFile;

namespace {

const char* const appPathsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";

// The registration tool the action starts from the system folder, as the
// component sees its own host: under WoW64, the 32-bit tool in syswow64.
std::string startedRegistrationTool() {
    return test::startedSystemProgramFolder() + "\\regsvr32.exe";
}

// The action waits for the tool's input idle, not its end; the tests wait for it to be gone
// so that no run overlaps the next test or holds the component's file.
void waitForRegistrationToolsToEnd() {
    EXPECT_TRUE(test::noneRunningWithin("regsvr32.exe", 10000))
        << "a registration tool still runs after 10 s";
}

// Sets an environment variable of this process for the life of the object,
// then puts back what it was.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const char* value) : name_(name) {
        char old[MAX_PATH];
        const DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
        if (length > 0 && length < sizeof old) {
            old_ = std::string(old, length);
        }
        SetEnvironmentVariableA(name, value);
    }
    ~EnvironmentVariable() { SetEnvironmentVariableA(name_, old_ ? old_->c_str() : nullptr); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class RegisterTest : public ::testing::Test {
protected:
    RegisterTest() : scratch_("register") {
        test::makeFolders(scratch_ / "My Components");
        test::makeFolders(scratch_ / "Current");
        test::copyFileOrFail(test::besideThisProgram("VmsiSelfRegistering.dll"), component());
        waitForRegistrationToolsToEnd();
        takeReports();
    }
    ~RegisterTest() override { waitForRegistrationToolsToEnd(); }

    std::string component() const { return scratch_ / "My Components\\VmsiSelfRegistering.dll"; }
    std::string folder() const { return scratch_ / "My Components\\"; }
    std::optional<std::string> waitForMarker(const char* suffix) const {
        return test::waitForFile(component() + suffix);
    }

    test::ScratchFolder scratch_;
};

// Stand-ins for Windows' WaitForInputIdle, which Wine 8 answers now at once,
// now when the program has ended: a tool that waits for input at once, and a
// silent regsvr32, which never does, so that Windows answers when it has
// ended or the time-out has passed.
DWORD WINAPI idleAtOnce(HANDLE, DWORD) {
    return 0;
}
DWORD askedIdleTimeout = 0;
DWORD WINAPI windowsInputIdleWait(HANDLE process, DWORD milliseconds) {
    askedIdleTimeout = milliseconds;
    return WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0 ? 0 : WAIT_TIMEOUT;
}

} // namespace

TEST_F(RegisterTest, StartsTheSystemToolOnTheQuotedPathAndWaitsOnlyForInputIdle) {
    test::ReleaseEvent release;
    EnvironmentVariable waitFor("VMSI_COMPONENT_WAIT_FOR", release.name().c_str());
    const std::string commandLine = "regsvr32 /s \"" + component() + "\"";
    EXPECT_EQ(registerComponent(owner, "/s", folder(), "VmsiSelfRegistering.dll", idleAtOnce), 1);
    EXPECT_FALSE(test::readFile(component() + ".registered").has_value())
        << "the action waited for the tool to end";
    release.release();

    EXPECT_EQ(takeReports(),
              (std::vector<Report>{info("Commandline to Register: " + commandLine, owner)}));
    const auto marker = waitForMarker(".registered");
    ASSERT_TRUE(marker.has_value()) << "the component was not registered";
    EXPECT_EQ(test::recordField(*marker, "waitedFor"), "release");
    EXPECT_EQ(test::recordField(*marker, "commandLine"), commandLine);
    EXPECT_EQ(test::recordField(*marker, "program"), startedRegistrationTool());
}

TEST_F(RegisterTest, OptionsReachTheToolUnchanged) {
    EXPECT_EQ(registerComponent(nullptr, "/u /s", folder(), "VmsiSelfRegistering.dll"), 1);
    const auto unregistered = waitForMarker(".unregistered");
    ASSERT_TRUE(unregistered.has_value());
    EXPECT_EQ(test::recordField(*unregistered, "commandLine"),
              "regsvr32 /u /s \"" + component() + "\"");
    waitForRegistrationToolsToEnd();
    EXPECT_FALSE(test::readFile(component() + ".registered").has_value());

    // No options: two spaces before the quote; Wine's tool then reports its
    // success on the console.
    EXPECT_EQ(registerComponent(nullptr, "", folder(), "VmsiSelfRegistering.dll"), 1);
    const auto registered = waitForMarker(".registered");
    ASSERT_TRUE(registered.has_value());
    EXPECT_EQ(test::recordField(*registered, "commandLine"), "regsvr32  \"" + component() + "\"");
    takeReports();

    // Options beyond a MAX_PATH buffer are passed whole.
    DeleteFileA((component() + ".registered").c_str());
    waitForRegistrationToolsToEnd();
    const std::string longOptions = "/s" + std::string(test::boundaryLengths[2] - 2, ' ');
    EXPECT_EQ(registerComponent(nullptr, longOptions, folder(), "VmsiSelfRegistering.dll"), 1);
    const std::string commandLine = "regsvr32 " + longOptions + " \"" + component() + "\"";
    EXPECT_EQ(takeReports(),
              (std::vector<Report>{info("Commandline to Register: " + commandLine)}));
    const auto longRegistered = waitForMarker(".registered");
    ASSERT_TRUE(longRegistered.has_value());
    EXPECT_EQ(test::recordField(*longRegistered, "commandLine"), commandLine);
}

TEST_F(RegisterTest, AMissingFileIsReportedAndStartsNothing) {
    EXPECT_EQ(registerComponent(owner, "/s", "C:\\vmsi-tests-missing\\", "comp.dll"), 0);
    EXPECT_EQ(takeReports(),
              (std::vector<Report>{
                  info("Commandline to Register: regsvr32 /s \"C:\\vmsi-tests-missing\\comp.dll\"",
                       owner),
                  warning("That file doesn't exist", owner),
              }));
    for (int look = 0; look < 10; ++look) {
        ASSERT_EQ(test::runningProcessesNamed("regsvr32.exe"), 0)
            << "a registration tool was started";
        Sleep(50);
    }
}

TEST_F(RegisterTest, ARegsvr32PlantedInTheCurrentOrTheProgramFolderIsNotStarted) {
    // Both folders come before the system folder in the program search.
    const std::string recorder = test::besideThisProgram("recorder.exe");
    PlantedFile inCurrent(recorder, scratch_ / "Current\\regsvr32.exe");
    PlantedFile besideProgram(recorder, test::besideThisProgram("regsvr32.exe"));
    test::CurrentFolder current(scratch_ / "Current");

    EXPECT_EQ(registerComponent(nullptr, "/s", folder(), "VmsiSelfRegistering.dll"), 1);
    const auto marker = waitForMarker(".registered");
    ASSERT_TRUE(marker.has_value()) << "the system's tool did not run";
    EXPECT_EQ(test::recordField(*marker, "program"), startedRegistrationTool());
    waitForRegistrationToolsToEnd();
    EXPECT_FALSE(test::readFile(inCurrent.path() + ".record").has_value());
    EXPECT_FALSE(test::readFile(besideProgram.path() + ".record").has_value());
}

TEST_F(RegisterTest, ACommandLineThePlatformCannotTakeStartsNothing) {
    const std::string options = "/s" + std::string(test::boundaryLengths[3], ' ');
    EXPECT_EQ(registerComponent(owner, options, folder(), "VmsiSelfRegistering.dll"), 0);
    EXPECT_EQ(takeReports(),
              (std::vector<Report>{
                  info("Commandline to Register: regsvr32 " + options + " \"" + component() + "\"",
                       owner),
                  warning("CreateProcess failed.", owner),
              }));
    EXPECT_EQ(test::runningProcessesNamed("regsvr32.exe"), 0);
}

TEST_F(RegisterTest, OptionsOtherThanTheToolsOwnSwitchesStartNothing) {
    // A second component after /s would have its registration code run with
    // the installer's rights.
    const std::string second = scratch_ / "Current\\VmsiSelfRegistering.dll";
    test::copyFileOrFail(component(), second);
    for (const std::string& options :
         {"/s " + second, "/s \"" + second + "\"", std::string("/i:a b"), std::string("/i:\"a"),
          std::string("/s\t/u"), std::string("/i:a\tb"), std::string("/x"), std::string("s"),
          std::string("/s/u"), std::string("/:")}) {
        EXPECT_EQ(registerComponent(owner, options, folder(), "VmsiSelfRegistering.dll"), 0)
            << options;
        EXPECT_EQ(
            takeReports(),
            (std::vector<Report>{
                info("Commandline to Register: regsvr32 " + options + " \"" + component() + "\"",
                     owner),
                warning("Options must be regsvr32 switches: " + options, owner),
            }));
    }
    EXPECT_EQ(test::runningProcessesNamed("regsvr32.exe"), 0);

    // Every switch of the tool, in either case, - for /, among spaces.
    const std::string options = "  -S /u  /N -i /I:user\\x ";
    EXPECT_EQ(registerComponent(nullptr, options, folder(), "VmsiSelfRegistering.dll"), 1);
    EXPECT_EQ(takeReports(), (std::vector<Report>{info("Commandline to Register: regsvr32 " +
                                                       options + " \"" + component() + "\"")}));
}

TEST_F(RegisterTest, WaitsAsWinExecDidUntilTheToolWaitsForInputOrEnds) {
    EnvironmentVariable delay("VMSI_COMPONENT_DELAY_MS", "500");
    EXPECT_EQ(
        registerComponent(owner, "/s", folder(), "VmsiSelfRegistering.dll", windowsInputIdleWait),
        1);
    EXPECT_EQ(askedIdleTimeout, 30000u);
    EXPECT_TRUE(test::readFile(component() + ".registered").has_value())
        << "the action returned before the tool had registered the component";
}

// A caller's wait policy (the Windows Installer entry's, which asks the
// installer about a cancel) is asked between slices of the wait, and the
// tool it asks to end is ended: the component is never registered.
TEST_F(RegisterTest, AWaitPolicyIsAskedBetweenSlicesAndMayEndTheTool) {
    struct EndAtTheSecondAsk : WaitPolicy {
        int asks = 0;
        bool endsTheProgram() override { return ++asks == 2; }
    } policy;
    test::ReleaseEvent release;
    EnvironmentVariable held("VMSI_COMPONENT_WAIT_FOR", release.name().c_str());
    EXPECT_EQ(registerComponent(owner, "/s", folder(), "VmsiSelfRegistering.dll",
                                windowsInputIdleWait, &policy),
              0);
    EXPECT_EQ(askedIdleTimeout, waitPolicyInterval);
    EXPECT_EQ(policy.asks, 2);
    release.release();
    EXPECT_TRUE(test::noneRunningWithin("regsvr32.exe", 5000));
    EXPECT_FALSE(test::readFile(component() + ".registered").has_value())
        << "the tool registered the component";
}

TEST_F(RegisterTest, UnderWow64AComponentInTheSystemFolderIsTestedAndRegisteredThroughSysnative) {
    char system[MAX_PATH];
    const std::string systemFolder(system, GetSystemDirectoryA(system, sizeof system));
    // The alias of a 32-bit process under WoW64 for the real system folder.
    // In the 64-bit build a stand-in for Windows: a folder of that name, made
    // for the test, with a recorder as the 64-bit tool.
    const std::string sysnative =
        systemFolder.substr(0, systemFolder.rfind('\\')) + "\\Sysnative\\";
    struct StandIn {
        std::string folder;
        ~StandIn() {
            if (!test::underWow64) {
                test::removeTree(folder);
            }
        }
    } standIn{sysnative};
    if (!test::underWow64) {
        test::makeFolders(sysnative);
    }
    // A component that this process finds only through the alias, named
    // with the system folder in capitals: it is recognised in any case.
    const test::PlantedFile nativeComponent(component(), sysnative + "vmsi-tests-component.dll");
    ASSERT_FALSE(pathExists(systemFolder + "\\vmsi-tests-component.dll"));
    std::string capitals = systemFolder + "\\";
    CharUpperA(capitals.data());
    if (test::underWow64) {
        // The real answer. The system's 64-bit tool is not started: it would
        // hand the test's 32-bit component on to the 32-bit one.
        EXPECT_TRUE(runsUnderWow64());
        EXPECT_EQ(throughSysnative(capitals + "vmsi-tests-component.dll"),
                  sysnative + "vmsi-tests-component.dll");
        return;
    }

    const test::PlantedFile nativeTool(test::besideThisProgram("recorder.exe"),
                                       sysnative + "regsvr32.exe");
    const std::string commandLine = "regsvr32 /s \"" + capitals + "vmsi-tests-component.dll\"";
    EXPECT_EQ(registerComponent(owner, "/s", capitals, "vmsi-tests-component.dll", WaitForInputIdle,
                                nullptr, test::wow64Process),
              1);
    EXPECT_EQ(takeReports(),
              (std::vector<Report>{info("Commandline to Register: " + commandLine, owner)}));
    const auto record = test::waitForFile(nativeTool.path() + ".record");
    ASSERT_TRUE(record.has_value()) << "the tool in Sysnative did not run";
    EXPECT_EQ(test::recordField(*record, "commandLine"), commandLine);
    DeleteFileA((nativeTool.path() + ".record").c_str());

    // Outside the system folder, the system folder's own tool as ever.
    EXPECT_EQ(registerComponent(nullptr, "/s", folder(), "VmsiSelfRegistering.dll",
                                WaitForInputIdle, nullptr, test::wow64Process),
              1);
    const auto marker = waitForMarker(".registered");
    ASSERT_TRUE(marker.has_value());
    EXPECT_EQ(test::recordField(*marker, "program"), startedRegistrationTool());
    // The 64-bit build itself is not under WoW64: no alias for it.
    EXPECT_EQ(registerComponent(owner, "/s", capitals, "vmsi-tests-component.dll"), 0);
    EXPECT_EQ(takeReports().back(), warning("That file doesn't exist", owner));
    EXPECT_FALSE(nativeTool.ran());
}

namespace {

// An entry under HKLM's App Paths key, made for the test and removed after.
class AppPathsEntry {
public:
    explicit AppPathsEntry(const std::string& name)
        : path_(std::string(appPathsKey) + "\\" + name) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, path_.c_str());
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    ~AppPathsEntry() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, path_.c_str()); }

    void setDefault(const std::string& data, DWORD type = REG_SZ) const {
        test::setRegistryString(HKEY_LOCAL_MACHINE, path_, "", data, type);
    }
    // Exactly these bytes, with no terminating zero added.
    void setDefaultBytes(const std::string& data) const {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_SET_VALUE, &key),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key, "", 0, REG_BINARY, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

private:
    std::string path_;
};

class AppPathsTest : public ::testing::Test {
protected:
    AppPathsTest() : scratch_("app-paths") {
        test::writeFile(program(), "program");
        takeReports();
    }

    std::string program() const { return scratch_ / "app.exe"; }

    // The reports of a call whose entry was read: the search, then the verdict.
    static std::vector<Report> verdict(const std::string& name, bool located) {
        return {info("Searching in AppPaths for: " + name, owner),
                located ? info("Program located", owner) : warning("Program not located", owner)};
    }
    static std::vector<Report> searchOnly(const std::string& name) {
        return {info("Searching in AppPaths for: " + name, owner)};
    }

    test::ScratchFolder scratch_;
};

} // namespace

TEST_F(AppPathsTest, LocatesAnEntryWhosePathExistsAndNotOnceItIsDeleted) {
    AppPathsEntry entry("vmsi-tests-app.exe");
    entry.setDefault(program());
    EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-app.exe"), 1);
    EXPECT_EQ(takeReports(), verdict("vmsi-tests-app.exe", true));

    DeleteFileA(program().c_str());
    EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-app.exe"), 0);
    EXPECT_EQ(takeReports(), verdict("vmsi-tests-app.exe", false));
}

TEST_F(AppPathsTest, AQuotedPathAndAnExpandableReferenceAreLocated) {
    AppPathsEntry entry("vmsi-tests-app.exe");
    const std::string reference = "%TEMP%\\vmsi-tests\\app-paths\\app.exe";
    char expanded[MAX_PATH];
    ExpandEnvironmentStringsA(reference.c_str(), expanded, sizeof expanded);
    ASSERT_NE(GetFileAttributesA(expanded), INVALID_FILE_ATTRIBUTES)
        << "the reference should name the program once expanded: " << expanded;
    for (const auto& [data, type] : std::vector<std::pair<std::string, DWORD>>{
             {"\"" + program() + "\"", REG_SZ},
             {reference, REG_EXPAND_SZ},
             {"\"" + reference + "\"", REG_EXPAND_SZ},
         }) {
        entry.setDefault(data, type);
        EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-app.exe"), 1) << data;
        EXPECT_EQ(takeReports(), verdict("vmsi-tests-app.exe", true)) << data;
    }
    // A plain string is taken as it stands; quotes count only around all of it.
    for (const std::string& data :
         {reference, "\"" + program() + "\" /x", "\"" + program(), "\"\"" + program() + "\"\""}) {
        entry.setDefault(data);
        EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-app.exe"), 0) << data;
        EXPECT_EQ(takeReports(), verdict("vmsi-tests-app.exe", false)) << data;
    }
}

TEST_F(AppPathsTest, UnderWow64AnEntryThroughProgramFilesIsTriedOnceMoreInThe64BitFolders) {
    // What WoW64 shows a 32-bit process, replayed in the 64-bit build (a
    // stand-in for Windows): %ProgramFiles% and %CommonProgramFiles% name the
    // 32-bit folders; %ProgramW6432% and %CommonProgramW6432% the 64-bit ones.
    std::optional<EnvironmentVariable> programFiles;
    std::optional<EnvironmentVariable> commonProgramFiles;
    if (!test::underWow64) {
        programFiles.emplace("ProgramFiles", "C:\\Program Files (x86)");
        commonProgramFiles.emplace("CommonProgramFiles", "C:\\Program Files (x86)\\Common Files");
    }
    const std::string programs = "C:\\Program Files";
    AppPathsEntry entry("vmsi-tests-app.exe");
    // The value, its type, the folder where its program lies (or none), and
    // whether it is located.
    for (const auto& [data, type, folder, located] :
         std::vector<std::tuple<std::string, DWORD, std::string, int>>{
             {"\"%programfiles%\\vmsi-tests-app.exe\"", REG_EXPAND_SZ, programs, 1},
             {"%CommonProgramFiles%\\vmsi-tests-app.exe", REG_EXPAND_SZ,
              programs + "\\Common Files", 1},
             // Only those names, only where they are expanded, and once.
             {"%ProgramFiles%\\vmsi-tests-app.exe", REG_SZ, programs, 0},
             {"%ProgramFiles(x86)%\\vmsi-tests-app.exe", REG_EXPAND_SZ, programs, 0},
             {"%ProgramFiles%\\vmsi-tests-app.exe", REG_EXPAND_SZ, "", 0},
         }) {
        std::optional<test::PlantedFile> planted;
        if (!folder.empty()) {
            planted.emplace(program(), folder + "\\vmsi-tests-app.exe");
        }
        entry.setDefault(data, type);
        EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-app.exe", test::wow64Answer()), located)
            << data;
        EXPECT_EQ(takeReports(), verdict("vmsi-tests-app.exe", located == 1)) << data;
        // The 64-bit build itself is not under WoW64: its entry is read once.
        if (!test::underWow64) {
            EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-app.exe"), 0) << data;
            takeReports();
        }
    }
}

TEST_F(AppPathsTest, AnEmptyNameReadsTheAppPathsKeysOwnDefaultValue) {
    test::RegistryValueOverride ownDefault(HKEY_LOCAL_MACHINE, appPathsKey, "");
    ownDefault.set(program());
    EXPECT_EQ(checkIfAppInstalled(owner, ""), 1);
    EXPECT_EQ(takeReports(), verdict("", true));

    ownDefault.remove();
    EXPECT_EQ(checkIfAppInstalled(owner, ""), 0);
    EXPECT_EQ(takeReports(), searchOnly(""));
}

TEST_F(AppPathsTest, AMissingEntryOrDefaultValueEndsAfterTheSearchReport) {
    EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-no-such-app.exe"), 0);
    EXPECT_EQ(takeReports(), searchOnly("vmsi-tests-no-such-app.exe"));

    AppPathsEntry entry("vmsi-tests-app.exe");
    test::setRegistryString(HKEY_LOCAL_MACHINE, std::string(appPathsKey) + "\\vmsi-tests-app.exe",
                            "Path", scratch_.path());
    EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-app.exe"), 0);
    EXPECT_EQ(takeReports(), searchOnly("vmsi-tests-app.exe"));
}

TEST_F(AppPathsTest, DefaultValuesAreReadUpToTheirFirstZeroWithinTheBuffer) {
    AppPathsEntry entry("vmsi-tests-app.exe");

    // Stored without a terminating zero: the bytes read are the path.
    entry.setDefaultBytes(program());
    EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-app.exe"), 1);
    entry.setDefaultBytes(program() + std::string("\0trailing", 9));
    EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-app.exe"), 1);
    takeReports();

    // 259 characters and their zero fill the buffer exactly, as do 260 bytes
    // without a zero; one more byte is a value too long to read.
    entry.setDefault(std::string(259, 'x'));
    EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-app.exe"), 0);
    EXPECT_EQ(takeReports(), verdict("vmsi-tests-app.exe", false));
    entry.setDefaultBytes(std::string(260, 'x'));
    EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-app.exe"), 0);
    EXPECT_EQ(takeReports(), verdict("vmsi-tests-app.exe", false));
    for (std::size_t length : {std::size_t{260}, std::size_t{40000}}) {
        entry.setDefault(std::string(length, 'x'));
        EXPECT_EQ(checkIfAppInstalled(owner, "vmsi-tests-app.exe"), 0) << length;
        EXPECT_EQ(takeReports(), searchOnly("vmsi-tests-app.exe")) << length;
    }
}
