// Opening a file through the shell and starting a program and waiting for
// it, with the recorder program standing in for what is started.
#include "child_processes.h"
#include "handles.h"
#include "launch.h"
#include "recorded_reports.h"
#include "scratch.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <thread>
#include <tuple>

using namespace vmsi;

namespace {

class LaunchTest : public ::testing::Test {
protected:
    LaunchTest() : scratch_("launch") {
        test::makeFolders(scratch_ / "App");
        test::makeFolders(scratch_ / "Current");
        test::copyFileOrFail(test::besideThisProgram("recorder.exe"), recorderIn("App"));
        takeReports();
    }

    std::string recorderIn(const std::string& folder) const {
        return scratch_ / folder + "\\recorder.exe";
    }
    std::optional<std::string> recordIn(const std::string& folder) const {
        return test::readFile(recorderIn(folder) + ".record");
    }

    test::ScratchFolder scratch_;
};

} // namespace

TEST_F(LaunchTest, WaitStartsThePathWithItsParametersAndWaitsForItsEnd) {
    test::CurrentFolder current(scratch_ / "Current");
    const std::string parameters = "--sleep=300 --exit=3 /x \"quoted arg\"";
    EXPECT_EQ(launchAndWait(owner, scratch_ / "App\\", "recorder.exe", parameters), 1);

    // The record exists on return: the action waited for the program.
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("File to Launch: " + recorderIn("App"), owner),
                                 info("Launch Params: " + parameters, owner),
                             }));
    const auto record = recordIn("App");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(test::recordField(*record, "commandLine"), recorderIn("App") + " " + parameters);
    EXPECT_EQ(test::recordField(*record, "workingFolder"), scratch_ / "Current");
    EXPECT_EQ(test::recordField(*record, "arg4"), "quoted arg");
}

TEST_F(LaunchTest, WaitEndsTheCommandLineInASpaceWhenThereAreNoParameters) {
    EXPECT_EQ(launchAndWait(nullptr, scratch_ / "App", "recorder.exe", ""), 1);
    const auto record = recordIn("App");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(test::recordField(*record, "commandLine"), recorderIn("App") + " ");
}

TEST_F(LaunchTest, WaitQuotesAPathWithSpacesAndNeverStartsAProgramAtItsPrefix) {
    // "...\My Tools\recorder.exe" unquoted would first be tried as
    // "...\My.exe"; one is planted there.
    test::makeFolders(scratch_ / "My Tools");
    test::copyFileOrFail(test::besideThisProgram("recorder.exe"), recorderIn("My Tools"));
    test::copyFileOrFail(test::besideThisProgram("recorder.exe"), scratch_ / "My.exe");

    EXPECT_EQ(launchAndWait(nullptr, scratch_ / "My Tools", "recorder.exe", "-a"), 1);
    const auto record = recordIn("My Tools");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(test::recordField(*record, "commandLine"), "\"" + recorderIn("My Tools") + "\" -a");
    EXPECT_EQ(test::recordField(*record, "arg0"), recorderIn("My Tools"));
    EXPECT_FALSE(test::readFile(scratch_ / "My.exe.record").has_value());
    // The reported path stays unquoted.
    EXPECT_EQ(takeReports().front(), info("File to Launch: " + recorderIn("My Tools")));
}

TEST_F(LaunchTest, WaitBuildsCommandLinesBeyondMaxPathUpToThePlatformLimit) {
    const std::string parameters(1000, 'p');
    EXPECT_EQ(launchAndWait(nullptr, scratch_ / "App", "recorder.exe", parameters), 1);
    const auto record = recordIn("App");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(test::recordField(*record, "commandLine"), recorderIn("App") + " " + parameters);

    DeleteFileA((recorderIn("App") + ".record").c_str());
    takeReports();
    EXPECT_EQ(launchAndWait(nullptr, scratch_ / "App", "recorder.exe", std::string(40000, 'p')), 0);
    EXPECT_EQ(takeReports().back(), warning("CreateProcess failed."));
    EXPECT_FALSE(recordIn("App").has_value());
}

TEST_F(LaunchTest, WaitReportsAMissingFileAndStartsNothing) {
    EXPECT_EQ(launchAndWait(owner, scratch_ / "App", "missing.exe", "/q"), 0);
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("File to Launch: " + scratch_ / "App\\missing.exe", owner),
                                 info("Launch Params: /q", owner),
                                 warning("That file doesn't exist", owner),
                             }));
}

TEST_F(LaunchTest, WaitCannotStartAFolder) {
    EXPECT_EQ(launchAndWait(owner, scratch_.path(), "App", ""), 0);
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("File to Launch: " + scratch_ / "App", owner),
                                 info("Launch Params: ", owner),
                                 warning("CreateProcess failed.", owner),
                             }));
}

TEST_F(LaunchTest, AnEmptyFolderGivesANetworkStylePathThatIsNotThere) {
    EXPECT_EQ(launchAndWait(nullptr, "", "recorder.exe", ""), 0);
    EXPECT_EQ(launchThroughShell(nullptr, "", "recorder.exe", ""), 0);
    const std::vector<Report> expected = {
        info("File to Launch: \\\\recorder.exe"),
        info("Launch Params: "),
        warning("That file doesn't exist"),
    };
    std::vector<Report> twice = expected;
    twice.insert(twice.end(), expected.begin(), expected.end());
    EXPECT_EQ(takeReports(), twice);
}

TEST_F(LaunchTest, ShellOpensTheFileInTheGivenFolderWithoutWaiting) {
    test::CurrentFolder current(scratch_ / "Current");
    const std::string folder = scratch_ / "App\\";
    test::ReleaseEvent release;
    const std::string parameters = "--wait-for=" + release.name() + " one two";
    EXPECT_EQ(launchThroughShell(owner, folder, "recorder.exe", parameters), 1);
    // Back while the program still waits to be released.
    EXPECT_FALSE(recordIn("App").has_value()) << "the action waited for the program";
    release.release();
    const auto record = test::waitForFile(recorderIn("App") + ".record");
    ASSERT_TRUE(record.has_value()) << "the shell did not start the program";
    EXPECT_EQ(test::recordField(*record, "waitedFor"), "release");
    EXPECT_EQ(test::recordField(*record, "arg2"), "one");
    EXPECT_EQ(test::recordField(*record, "arg3"), "two");
    // The folder argument, unchanged, is the working folder.
    EXPECT_EQ(test::recordField(*record, "workingFolder") + "\\", folder);
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("File to Launch: " + recorderIn("App"), owner),
                                 info("Launch Params: " + parameters, owner),
                             }));
}

TEST_F(LaunchTest, ShellGivesOneEvenWhenItCannotOpenTheFile) {
    test::writeFile(scratch_ / "App\\notes.vmsi-no-such-type", "text");
    EXPECT_EQ(launchThroughShell(nullptr, scratch_ / "App", "notes.vmsi-no-such-type", ""), 1);
    EXPECT_EQ(takeReports().size(), 2u);

    EXPECT_EQ(launchThroughShell(owner, scratch_ / "App", "missing.doc", ""), 0);
    EXPECT_EQ(takeReports().back(), warning("That file doesn't exist", owner));
}

namespace {

// The calling thread's own COM apartment, the process's first single-threaded
// one counted as any other; APTTYPE_CURRENT for none (a thread without one
// counts as in the multi-threaded apartment while that exists).
APTTYPE apartmentOfThisThread() {
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    if (FAILED(CoGetApartmentType(&type, &qualifier)) ||
        qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA) {
        return APTTYPE_CURRENT;
    }
    return type == APTTYPE_MAINSTA ? APTTYPE_STA : type;
}

// The real ShellExecuteA, noting the thread's apartment during the call.
APTTYPE apartmentInTheShell = APTTYPE_CURRENT;
HINSTANCE WINAPI shellExecuteNotingApartment(HWND owner, LPCSTR verb, LPCSTR file,
                                             LPCSTR parameters, LPCSTR folder, INT show) {
    apartmentInTheShell = apartmentOfThisThread();
    return ShellExecuteA(owner, verb, file, parameters, folder, show);
}

} // namespace

TEST_F(LaunchTest, ShellIsCalledInASingleThreadedApartmentAndTheThreadKeepsItsOwn) {
    test::writeFile(scratch_ / "App\\notes.vmsi-no-such-type", "text");
    // A fresh thread in no apartment, in a single-threaded one and in the
    // multi-threaded one: its apartment in the shell's call and after the
    // action; after its own CoUninitialize it must be in none.
    for (const auto& [entered, inTheShell, afterwards] :
         std::vector<std::tuple<std::optional<DWORD>, APTTYPE, APTTYPE>>{
             {std::nullopt, APTTYPE_STA, APTTYPE_CURRENT},
             {COINIT_APARTMENTTHREADED, APTTYPE_STA, APTTYPE_STA},
             {COINIT_MULTITHREADED, APTTYPE_MTA, APTTYPE_MTA},
         }) {
        APTTYPE afterTheAction = APTTYPE_NA;
        APTTYPE afterItsOwnEnd = APTTYPE_NA;
        std::thread([&, entered = entered] {
            if (entered) {
                CoInitializeEx(nullptr, *entered);
            }
            EXPECT_EQ(launchThroughShell(nullptr, scratch_ / "App", "notes.vmsi-no-such-type", "",
                                         shellExecuteNotingApartment),
                      1);
            afterTheAction = apartmentOfThisThread();
            if (entered) {
                CoUninitialize();
            }
            afterItsOwnEnd = apartmentOfThisThread();
        }).join();
        EXPECT_EQ(apartmentInTheShell, inTheShell) << entered.value_or(~0u);
        EXPECT_EQ(afterTheAction, afterwards) << entered.value_or(~0u);
        EXPECT_EQ(afterItsOwnEnd, APTTYPE_CURRENT) << entered.value_or(~0u);
    }
    takeReports();
}
