// The action runner, run as a person would run it: its output streams and
// its exit status.
#include "machine_keys.h"
#include "paths.h"
#include "scratch.h"
#include "shipped_library.h"
#include "tree_snapshot.h"
#include "unix_links.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

using namespace vmsi;

namespace {

struct RunnerRun {
    DWORD exitCode;
    std::string output;
    std::string errors;
};

// Runs the shipped vmsi-run.exe with the given argument text, in UTF-16 as
// the system holds a command line, its standard output and error going to
// files.
RunnerRun runRunner(const std::wstring& arguments) {
    test::ScratchFolder scratch("runner-output");
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    auto create = [&](const std::string& path) {
        return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE output = create(scratch / "out.txt");
    HANDLE errors = create(scratch / "err.txt");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = errors;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine =
        L"\"" + widened(test::shippedFile("vmsi-run.exe")) + L"\" " + arguments;
    RunnerRun run{9999, "", ""};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        ADD_FAILURE() << "cannot start vmsi-run.exe: error " << GetLastError();
    }
    CloseHandle(output);
    CloseHandle(errors);
    run.output = test::readFile(scratch / "out.txt").value_or("");
    run.errors = test::readFile(scratch / "err.txt").value_or("");
    return run;
}

RunnerRun runRunner(const std::string& arguments) {
    return runRunner(widened(arguments));
}

// The names of the exports that vmsi-run --list lists: each begins a line at
// the left; what it runs is indented below.
std::set<std::string> listedNames(const std::string& listing) {
    std::set<std::string> listed;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != ' ') {
            listed.insert(line.substr(0, line.find(' ')));
        }
    }
    return listed;
}

// The same build's other half: the 32-bit library for a 64-bit test
// program, and the other way round.
std::string otherBuildFile(const std::string& fileName) {
    return test::windowsPathOf(std::string(VMSI_SOURCE_FOLDER "/dist/") +
                               (sizeof(void*) == 8 ? "win32/" : "win64/") + fileName);
}

} // namespace

// Read from the library's export directory, without running it: so the
// entry points' library and one of the other bitness are listed too.
TEST(Runner, ListsExactlyWhatTheLibraryExports) {
    const std::set<std::string> entries =
        test::ShippedLibrary("VardoMSICustomActionsMsi.dll").exportedNames();
    const struct {
        std::string arguments;
        std::set<std::string> names;
        const char* line; // one line of the listing
    } cases[] = {
        {"--list", test::ShippedLibrary("VardoMSICustomActionsTrace.dll").exportedNames(),
         "VMSI_LaunchWait folder:text fileName:text parameters:text\n"},
        {"--msi --list", entries,
         "VmsiCheckForQLMK VMSICHECKFORQLMK_VERSION VMSICHECKFORQLMK_FAILONZERO\n"},
        {"--dll \"" + otherBuildFile("VardoMSICustomActionsMsi.dll") + "\" --list", entries,
         "VmsiLaunchWait VMSILAUNCHWAIT_FOLDER VMSILAUNCHWAIT_FILENAME VMSILAUNCHWAIT_PARAMETERS "
         "VMSILAUNCHWAIT_FAILONZERO VMSILAUNCHWAIT_FAILONEXITCODE VMSILAUNCHWAIT_TIMEOUT\n"},
    };
    for (const auto& listing : cases) {
        const RunnerRun run = runRunner(listing.arguments);
        EXPECT_EQ(run.exitCode, 0u) << listing.arguments << ": " << run.errors;
        EXPECT_EQ(listedNames(run.output), listing.names) << listing.arguments;
        EXPECT_NE(run.output.find(listing.line), std::string::npos) << run.output;
    }
    EXPECT_NE(runRunner("--help").output.find("examples:"), std::string::npos);
}

// Each entry's properties, as --msi --list names them: the first is one the
// entry reads, since a value of it that the ANSI code page cannot hold
// (fullwidth quotes) reaches the entry as a package would set it, and the
// entry refuses it. An 8-bit command line would have best-fitted the quotes
// into plain ones.
TEST(Runner, EveryEntryReadsThePropertiesItIsListedWith) {
    std::istringstream lines(runRunner("--msi --list").output);
    std::size_t entries = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string entry;
        std::string firstProperty;
        if (line.empty() || line[0] == ' ' || !(words >> entry >> firstProperty)) {
            continue;
        }
        ++entries;
        const RunnerRun run =
            runRunner(widened("--msi " + entry + " " + firstProperty + "=") + L"\uFF02x\uFF02");
        const std::string refusal = entry + ": warning: Property " + firstProperty +
                                    " holds characters that the ANSI code page cannot represent "
                                    "exactly, the action is not run\n";
        EXPECT_EQ(run.errors.substr(0, refusal.size()), refusal) << entry;
    }
    EXPECT_EQ(entries, exportCount - 1); // every action but the identity function
}

TEST(Runner, ShowsTheTraceAndTheResultOfAnAction) {
    test::ScratchFolder scratch("runner-action");
    test::copyFileOrFail(test::besideThisProgram("recorder.exe"), scratch / "recorder.exe");

    RunnerRun run = runRunner("VMSI_LaunchWait \"" + scratch.path() + "\\\\\" recorder.exe \"-x\"");
    EXPECT_EQ(run.exitCode, 0u) << run.errors;
    EXPECT_EQ(run.errors,
              "info: File to Launch: " + scratch / "recorder.exe" + "\ninfo: Launch Params: -x\n");
    EXPECT_NE(run.output.find("result: 1\n"), std::string::npos) << run.output;

    run = runRunner("VMSI_LaunchWait --null missing.exe \"\"");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.errors, "info: File to Launch: \\\\missing.exe\ninfo: Launch Params: \n"
                          "warning: That file doesn't exist\n");
    EXPECT_EQ(run.output, "result: 0\n");
}

TEST(Runner, ConvertsIntegersAndShowsAWrittenResultBuffer) {
    test::MachineRegistryKey marker("Software\\Vardo\\QLMKInternalVersion\\Version-77");
    marker.setString("Version", "4.0.7");
    RunnerRun run = runRunner("VMSI_CheckForQLMK -77");
    EXPECT_EQ(run.exitCode, 0u) << run.errors;
    EXPECT_EQ(run.output, "result: 1\nbuffer: 4.0.7\n");
    EXPECT_EQ(run.errors, "info: 4.0.7installed\n");

    // Nothing found: the buffer was not written and is not shown.
    run = runRunner("VMSI_CheckForQLMK 2147483647");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.output, "result: 0\n");

    // The entry points' rule: blanks around the number, none inside.
    run = runRunner("VMSI_CheckForQLMK \"\t-77 \"");
    EXPECT_EQ(run.output, "result: 1\nbuffer: 4.0.7\n");

    for (const char* notAnInteger :
         {"four", "4.0", "2147483648", "-2147483649", "\"\"", "4x", "\"- 77\"", "\"7 7\""}) {
        run = runRunner(std::string("VMSI_CheckForQLMK ") + notAnInteger);
        EXPECT_EQ(run.exitCode, 2u) << notAnInteger;
        EXPECT_NE(run.errors.find("version must be a decimal integer"), std::string::npos)
            << notAnInteger << " gave: " << run.errors;
    }
}

TEST(Runner, PrintsTheIdentityOfTheLibraryItLoads) {
    RunnerRun run = runRunner("GetDLLNameAndVersion");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, "path: " + test::shippedFile("VardoMSICustomActionsTrace.dll") +
                              "\nversion: " VMSI_EXPECTED_VERSION "\n");

    const std::string other = test::besideThisProgram("VmsiFixtureVersioned.dll");
    run = runRunner("--dll \"" + other + "\" GetDLLNameAndVersion");
    EXPECT_EQ(run.output, "path: " + other + "\nversion: 2.7.0.12\n");

    // The runner's own version resource, then the library's.
    run = runRunner("--version");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, "vmsi-run " VMSI_EXPECTED_VERSION "\nlibrary " VMSI_EXPECTED_VERSION
                          ": " +
                              test::shippedFile("VardoMSICustomActionsTrace.dll") + "\n");
    run = runRunner("--dll \"" + other + "\" --version");
    EXPECT_EQ(run.output, "vmsi-run " VMSI_EXPECTED_VERSION "\nlibrary 2.7.0.12: " + other + "\n");
    const std::string unversioned = test::besideThisProgram("VmsiFixtureUnversioned.dll");
    run = runRunner("--msi --dll \"" + unversioned + "\" --version");
    EXPECT_EQ(run.output, "vmsi-run " VMSI_EXPECTED_VERSION "\nlibrary (no version resource): " +
                              unversioned + "\n");
    // No library to read: the runner's own version, and why not the other.
    run = runRunner("--dll C:\\no\\such.dll --version");
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.output, "vmsi-run " VMSI_EXPECTED_VERSION "\n");
    const std::string unread = "vmsi-run: cannot read C:\\no\\such.dll (error ";
    EXPECT_EQ(run.errors.substr(0, unread.size()), unread);
}

TEST(Runner, TakesEveryWordAfterADoubleDashAsItStands) {
    const struct {
        const char* arguments;
        const char* searchedFor;
    } cases[] = {
        {"VMSI_CheckIfAppInstalled --null", ""},
        {"VMSI_CheckIfAppInstalled -- --null", "--null"},
        {"-- VMSI_CheckIfAppInstalled --null", "--null"},
        {"VMSI_CheckIfAppInstalled -- --", "--"},
    };
    for (const auto& words : cases) {
        const RunnerRun run = runRunner(words.arguments);
        const std::string firstLine =
            "info: Searching in AppPaths for: " + std::string(words.searchedFor) + "\n";
        EXPECT_EQ(run.errors.compare(0, firstLine.size(), firstLine), 0)
            << words.arguments << " gave: " << run.errors;
    }
}

// As the installer calls an immediate custom action: the lines of its log,
// its result properties, and an exit status that follows its return code.
TEST(Runner, TriesAnEntryPointInTheSessionOfAThrowawayPackage) {
    test::MachineRegistryKey marker("Software\\Vardo\\QLMKInternalVersion\\Version-77");
    marker.setString("Version", "4.0.7");
    char temporary[MAX_PATH];
    const std::string temporaryFolder(temporary, GetTempPathA(sizeof temporary, temporary) - 1);
    const auto temporaryFiles = [&] {
        return test::without(test::listingOf(temporaryFolder), "vmsi-tests");
    };
    const test::TreeSnapshot before = temporaryFiles();

    RunnerRun run = runRunner("--msi VmsiCheckForQLMK \"VMSICHECKFORQLMK_VERSION= -77\"");
    EXPECT_EQ(run.exitCode, 0u) << run.errors;
    EXPECT_EQ(run.errors,
              "VmsiCheckForQLMK: info: 4.0.7installed\nVmsiCheckForQLMK: info: Action result: 1\n");
    EXPECT_EQ(run.output, "VMSICHECKFORQLMK_RESULT=1\nVMSICHECKFORQLMK_VERSIONTEXT=4.0.7\n"
                          "return: 0 (ERROR_SUCCESS)\n");

    run = runRunner(
        "--msi VmsiCheckForQLMK VMSICHECKFORQLMK_VERSION=-78 VMSICHECKFORQLMK_FAILONZERO=1");
    EXPECT_EQ(run.exitCode, 1u) << run.errors;
    EXPECT_NE(run.errors.find("VmsiCheckForQLMK: warning: The installation fails on this 0"),
              std::string::npos)
        << run.errors;
    EXPECT_EQ(run.output, "VMSICHECKFORQLMK_RESULT=0\nreturn: 1603 (ERROR_INSTALL_FAILURE)\n");

    // A property the entry does not read is set all the same, after a
    // warning: the entry runs as it would in a package with that property.
    run = runRunner("--msi VmsiCheckForQLMK VMSICHECKFORQLMK_VERSON=-77");
    EXPECT_EQ(run.errors, "vmsi-run: warning: VmsiCheckForQLMK reads no property "
                          "VMSICHECKFORQLMK_VERSON; it reads VMSICHECKFORQLMK_VERSION, "
                          "VMSICHECKFORQLMK_FAILONZERO\nVmsiCheckForQLMK: warning: Quillmark4 Not "
                          "Installed\nVmsiCheckForQLMK: info: Action result: 0\n");
    EXPECT_EQ(run.output, "VMSICHECKFORQLMK_RESULT=0\nreturn: 0 (ERROR_SUCCESS)\n");

    test::ScratchFolder scratch("runner-entry");
    test::copyFileOrFail(test::besideThisProgram("recorder.exe"), scratch / "recorder.exe");
    run = runRunner("--msi VmsiLaunchWait \"VMSILAUNCHWAIT_FOLDER=" + scratch.path() +
                    "\" VMSILAUNCHWAIT_FILENAME=recorder.exe VMSILAUNCHWAIT_PARAMETERS=--exit=3");
    // After the recorder's own line.
    EXPECT_NE(run.output.find("\nVMSILAUNCHWAIT_RESULT=1\nVMSILAUNCHWAIT_EXITCODE=3\nreturn: 0"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(temporaryFiles(), before);
}

TEST(Runner, RefusesUsageErrorsWithOneLineThatSaysHowToMendThem) {
    struct Case {
        std::string arguments;
        std::string messageStart;
    };
    const std::string otherBuild = otherBuildFile("VardoMSICustomActionsTrace.dll");
    const std::string bits = std::to_string(sizeof(void*) * 8);
    const Case cases[] = {
        {"", "vmsi-run: name an export to run"},
        {"--list extra", "vmsi-run: --list takes nothing else"},
        {"--version 1", "vmsi-run: --version takes nothing else"},
        {"--dll x.dll --list extra", "vmsi-run: --list takes nothing else"},
        {"--list --dll x.dll", "vmsi-run: --list takes nothing else"},
        {"--msi --help", "vmsi-run: --help takes nothing else"},
        {"--dll C:\\no\\such.dll --list", "vmsi-run: cannot read C:\\no\\such.dll"},
        {"--null", "vmsi-run: unknown option \"--null\""},
        {"--dll \"" + otherBuild + "\" VMSI_CheckForQLMK 4", "vmsi-run: cannot load " + otherBuild +
                                                                 " (error 193): it is not a " +
                                                                 bits + "-bit library"},
        {"--msi", "vmsi-run: name an entry to try"},
        {"--msi VmsiCheckForQLMK VMSICHECKFORQLMK_VERSION",
         "vmsi-run: --msi takes properties as NAME=VALUE"},
        {"--msi VmsiNoSuchEntry", "vmsi-run: " + test::shippedFile("VardoMSICustomActionsMsi.dll") +
                                      " has no entry VmsiNoSuchEntry"},
        {"VMSI_NoSuchAction", "vmsi-run: unknown export \"VMSI_NoSuchAction\""},
        {"VMSI_Launch a b", "vmsi-run: VMSI_Launch takes 3 argument(s)"},
        {"VMSI_Launch a b c d", "vmsi-run: VMSI_Launch takes 3 argument(s)"},
        {"--dll C:\\no\\such.dll VMSI_Launch a b c", "vmsi-run: cannot load C:\\no\\such.dll"},
        {"--dll kernel32.dll VMSI_Launch a b c",
         "vmsi-run: kernel32.dll has no export VMSI_Launch"},
        {"--dll", "vmsi-run: --dll needs the path of a library"},
    };
    for (const Case& usage : cases) {
        const RunnerRun run = runRunner(usage.arguments);
        EXPECT_EQ(run.exitCode, 2u) << usage.arguments;
        EXPECT_EQ(run.errors.compare(0, usage.messageStart.size(), usage.messageStart), 0)
            << usage.arguments << " gave: " << run.errors;
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
        EXPECT_EQ(run.output, "") << usage.arguments;
    }
}
