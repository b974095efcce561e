// The file version check, with fixture libraries built with and without a
// version resource (VmsiVersion5123.dll: file version 5.1.2.3, product
// version 9.8.7.6) and the platform's real search order.
#include "file_version.h"
#include "recorded_reports.h"
#include "scratch.h"
#include "shipped_library.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace vmsi;

namespace {

struct Required {
    int first, second, third, fourth;
    int expected;
};

void PrintTo(const Required& required, std::ostream* out) {
    *out << required.first << "." << required.second << "." << required.third << "."
         << required.fourth;
}

class FileVersionTest : public ::testing::Test {
protected:
    FileVersionTest() : scratch_("file-version") {
        test::makeFolders(scratch_ / "Current");
        test::makeFolders(scratch_ / "Empty");
        takeReports();
    }

    static std::string versioned() { return test::besideThisProgram("VmsiVersion5123.dll"); }
    static std::string unversioned() { return test::besideThisProgram("VmsiNoVersion.dll"); }

    // Every report of a search that finds foundPath, then the verdict.
    static std::vector<Report> reportsOf(const std::string& searchName,
                                         const std::string& foundPath, bool versionOk) {
        return {
            info("Searching For: " + searchName, owner),
            info("Searching for File: " + searchName),
            info("File Found"),
            info(foundPath),
            versionOk ? info("Version Ok", owner) : warning("Version Too low", owner),
        };
    }

    static int check(const Required& required) {
        return checkVersionOfFile(owner, test::thisProgramFolder() + "\\", "VmsiVersion5123.dll",
                                  required.first, required.second, required.third, required.fourth);
    }

    test::ScratchFolder scratch_;
};

} // namespace

TEST_F(FileVersionTest, TheFileVersionComparesAsTwoWordsTheHighWordDecidingWhenTheyDiffer) {
    const Required cases[] = {
        {5, 1, 2, 3, 1}, {5, 1, 2, 2, 1}, {5, 1, 1, 65535, 1},         {5, 1, 3, 0, 0},
        {5, 0, 9, 9, 1}, {5, 2, 0, 0, 0}, {4, 65535, 65535, 65535, 1}, {6, 0, 0, 0, 0},
        {0, 0, 0, 0, 1}, {9, 8, 7, 6, 0}, // its product version: only the file version counts
    };
    for (const Required& required : cases) {
        EXPECT_EQ(check(required), required.expected) << ::testing::PrintToString(required);
        EXPECT_EQ(takeReports(), reportsOf(versioned(), versioned(), required.expected == 1))
            << ::testing::PrintToString(required);
    }
}

TEST_F(FileVersionTest, RequiredNumbersCarryAndWrapIn32BitWords) {
    const Required cases[] = {
        {4, 65537, 2, 3, 1},                      // the second number carries: 5.1.2.3
        {4, 65537, 2, 4, 0}, {5, 1, 1, 65539, 1}, // the fourth carries into the third: 5.1.2.3
        {5, 1, 1, 65540, 0}, {65541, 1, 2, 3, 1}, // 65541 * 65536 wraps to 5 * 65536
        {-1, 0, 0, 0, 0},                         // 0xFFFF0000
        {5, 1, 2, -1, 1},                         // 2 * 65536 + 0xFFFFFFFF wraps to 1.65535
    };
    for (const Required& required : cases) {
        EXPECT_EQ(check(required), required.expected) << ::testing::PrintToString(required);
    }
}

TEST_F(FileVersionTest, AFileWithoutAVersionResourceIsTooLow) {
    EXPECT_EQ(checkVersionOfFile(owner, test::thisProgramFolder(), "VmsiNoVersion.dll", 0, 0, 0, 0),
              0);
    EXPECT_EQ(takeReports(), reportsOf(unversioned(), unversioned(), false));
}

TEST_F(FileVersionTest, ABareNameIsSearchedForAndTheFileFoundIsTheOneRead) {
    // The program's folder comes before the current folder: the unversioned
    // copy there under the same name is not the one read.
    test::copyFileOrFail(unversioned(), scratch_ / "Current\\VmsiVersion5123.dll");
    test::copyFileOrFail(versioned(), scratch_ / "Current\\vmsi-current-versioned.dll");
    test::copyFileOrFail(unversioned(), scratch_ / "Current\\vmsi-current-unversioned.dll");
    test::CurrentFolder current(scratch_ / "Current");

    EXPECT_EQ(checkVersionOfFile(owner, "", "VmsiVersion5123.dll", 5, 1, 2, 3), 1);
    EXPECT_EQ(takeReports(), reportsOf("VmsiVersion5123.dll", versioned(), true));

    EXPECT_EQ(checkVersionOfFile(owner, "", "vmsi-current-versioned.dll", 5, 1, 2, 3), 1);
    EXPECT_EQ(takeReports(), reportsOf("vmsi-current-versioned.dll",
                                       scratch_ / "Current\\vmsi-current-versioned.dll", true));
    EXPECT_EQ(checkVersionOfFile(owner, "", "vmsi-current-unversioned.dll", 0, 0, 0, 0), 0);
    EXPECT_EQ(takeReports(), reportsOf("vmsi-current-unversioned.dll",
                                       scratch_ / "Current\\vmsi-current-unversioned.dll", false));

    char systemFolder[MAX_PATH];
    GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    checkVersionOfFile(owner, "", "kernel32.dll", 0, 0, 0, 0);
    EXPECT_EQ(takeReports().at(3), info(std::string(systemFolder) + "\\kernel32.dll"));
}

TEST_F(FileVersionTest, AFileNotFoundEndsTheCheckWithoutAVersionVerdict) {
    // The file is beside the program and in the current folder, but a folder
    // given is the only place looked at.
    test::copyFileOrFail(versioned(), scratch_ / "Current\\VmsiVersion5123.dll");
    test::CurrentFolder current(scratch_ / "Current");
    const std::string searchName = scratch_ / "Empty\\VmsiVersion5123.dll";
    EXPECT_EQ(checkVersionOfFile(owner, scratch_ / "Empty\\", "VmsiVersion5123.dll", 0, 0, 0, 0),
              0);
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("Searching For: " + searchName, owner),
                                 info("Searching for File: " + searchName),
                                 warning("File Could not be Found"),
                             }));

    EXPECT_EQ(checkVersionOfFile(owner, "C:\\vmsi-tests-missing\\", "app.dll", 0, 0, 0, 0), 0);
    EXPECT_EQ(takeReports().front(), info("Searching For: C:\\vmsi-tests-missing\\app.dll", owner));
}

TEST_F(FileVersionTest, PathsUpToThePlatformLimitAreFoundAndReadWhole) {
    // A file whose full path is 259 bytes, the most a MAX_PATH buffer holds.
    const std::string folder = scratch_.path();
    const std::string name(258 - folder.size(), 'v');
    const std::string path = folder + "\\" + name;
    ASSERT_EQ(path.size(), 259u);
    test::copyFileOrFail(versioned(), path);
    EXPECT_EQ(checkVersionOfFile(owner, folder, name, 5, 1, 2, 3), 1);
    EXPECT_EQ(takeReports(), reportsOf(path, path, true));

    // Longer names go beyond what Wine's search takes: not found, no harm.
    for (std::size_t length : test::boundaryLengths) {
        const std::string longName(length, 'v');
        EXPECT_EQ(checkVersionOfFile(owner, folder, longName, 0, 0, 0, 0), 0) << length;
        EXPECT_EQ(takeReports().back(), warning("File Could not be Found")) << length;
    }
}

namespace {

// Stands in for SearchPathA. Wine's own never answers with the size a longer
// found path needs: it fails with ERROR_FILENAME_EXCED_RANGE for any path of
// MAX_PATH bytes or more (measured on Wine 8), so this answer of the
// platform can only be played.
struct PlayedSearch {
    static std::string foundPath;
    static int growthPerCall;
    static std::vector<DWORD> bufferLengths;

    static DWORD WINAPI search(LPCSTR, LPCSTR, LPCSTR, DWORD bufferLength, LPSTR buffer, LPSTR*) {
        bufferLengths.push_back(bufferLength);
        foundPath += std::string(growthPerCall, 'g');
        if (foundPath.size() + 1 > bufferLength) {
            return static_cast<DWORD>(foundPath.size() + 1);
        }
        std::memcpy(buffer, foundPath.c_str(), foundPath.size() + 1);
        return static_cast<DWORD>(foundPath.size());
    }
};
std::string PlayedSearch::foundPath;
int PlayedSearch::growthPerCall;
std::vector<DWORD> PlayedSearch::bufferLengths;

} // namespace

TEST_F(FileVersionTest, AFoundPathLongerThanTheBufferIsSearchedAgainWithTheRoomAskedFor) {
    PlayedSearch::foundPath = "C:\\" + std::string(400, 'p');
    PlayedSearch::growthPerCall = 0;
    PlayedSearch::bufferLengths.clear();
    EXPECT_EQ(findFile("app.dll", PlayedSearch::search), PlayedSearch::foundPath);
    ASSERT_EQ(PlayedSearch::bufferLengths.size(), 2u);
    EXPECT_EQ(PlayedSearch::bufferLengths[0], static_cast<DWORD>(MAX_PATH));
    EXPECT_GE(PlayedSearch::bufferLengths[1], PlayedSearch::foundPath.size() + 1);
    EXPECT_EQ(takeReports(),
              (std::vector<Report>{info("Searching for File: app.dll"), info("File Found")}));

    // A path that outgrows every buffer (it keeps changing) is not taken.
    PlayedSearch::foundPath = "C:\\" + std::string(400, 'p');
    PlayedSearch::growthPerCall = 1000;
    EXPECT_EQ(findFile("app.dll", PlayedSearch::search), std::nullopt);
    EXPECT_EQ(takeReports().back(), warning("File Could not be Found"));
}
