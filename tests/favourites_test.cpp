// The favourites file, written for real into scratch folders; network-style
// base folders reach the prefix's UNC folder.
#include "VardoMSICustomActions.h"
#include "favourites.h"
#include "recorded_reports.h"
#include "scratch.h"
#include "tree_snapshot.h"
#include "unix_links.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace vmsi;

namespace {

std::vector<Report> written(const std::string& location, const std::string& contents) {
    return {
        info("Writing favorite file", owner),
        warning("Path to write file to: " + location, owner),
        warning("Contents to write: " + contents, owner),
    };
}

std::vector<Report> notCreated(const std::string& location, const std::string& contents) {
    std::vector<Report> reports = written(location, contents);
    reports.push_back(warning("failed to write the file.  does the directory exist?", owner));
    return reports;
}

// Wine takes \\server\share to the folder unc\server\share beside the
// prefix's drive letters: \\vmsi-test-server\share\Cfg exists while the
// object lives.
class PrefixShare {
public:
    PrefixShare() {
        const std::string driveC = test::unixPathOf("C:\\"); // .../dosdevices/c:/
        unc_ =
            test::windowsPathOf(driveC.substr(0, driveC.rfind('/', driveC.size() - 2))) + "\\unc";
        uncExisted_ = GetFileAttributesA(unc_.c_str()) != INVALID_FILE_ATTRIBUTES;
        test::removeTree(server());
        test::makeFolders(folder() + "\\Cfg");
    }
    ~PrefixShare() { test::removeTree(uncExisted_ ? server() : unc_); }

    std::string server() const { return unc_ + "\\vmsi-test-server"; }
    std::string folder() const { return server() + "\\share"; }

private:
    std::string unc_;
    bool uncExisted_ = false;
};

class FavouritesTest : public ::testing::Test {
protected:
    FavouritesTest() : scratch_("favourites") {
        test::makeFolders(scratch_ / "Data\\Cfg");
        takeReports();
    }

    std::string data() const { return scratch_ / "Data"; }

    test::ScratchFolder scratch_;
};

} // namespace

TEST_F(FavouritesTest, TheFileHoldsThePathAndALineBreakAndIsReplacedOnEachRun) {
    const std::string file = data() + "\\Cfg\\favorite.txt";
    EXPECT_EQ(VMSI_WriteFavorites(owner, (data() + "\\").c_str(), "Cfg\\", "Pics"), 1);
    EXPECT_EQ(test::readFile(file), data() + "\\Pics\r\n");
    EXPECT_EQ(takeReports(), written(file, data() + "\\Pics"));

    // A shorter line replaces a longer one entirely.
    EXPECT_EQ(VMSI_WriteFavorites(owner, data().c_str(), "Cfg", "P"), 1);
    EXPECT_EQ(test::readFile(file), data() + "\\P\r\n");

    // No favourite: the base folder and one backslash. No file folder: the
    // file lies in the base folder itself.
    EXPECT_EQ(VMSI_WriteFavorites(owner, (data() + "\\").c_str(), "", nullptr), 1);
    EXPECT_EQ(test::readFile(data() + "\\favorite.txt"), data() + "\\\r\n");
}

TEST_F(FavouritesTest, AFileThatCannotBeCreatedGivesZeroAndLeavesWhatWasThere) {
    const std::string missing = data() + "\\Missing\\favorite.txt";
    EXPECT_EQ(VMSI_WriteFavorites(owner, data().c_str(), "Missing", "Pics"), 0);
    EXPECT_EQ(takeReports(), notCreated(missing, data() + "\\Pics"));
    EXPECT_EQ(GetFileAttributesA((data() + "\\Missing").c_str()), INVALID_FILE_ATTRIBUTES);

    // Held open by someone else: the old contents stay.
    const std::string file = data() + "\\Cfg\\favorite.txt";
    test::writeFile(file, "old line\r\n");
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(VMSI_WriteFavorites(owner, data().c_str(), "Cfg", "Pics"), 0);
    CloseHandle(held);
    EXPECT_EQ(test::readFile(file), "old line\r\n");
    EXPECT_EQ(takeReports().back(),
              warning("failed to write the file.  does the directory exist?", owner));
}

TEST_F(FavouritesTest, AFailedWriteIsAFailure) {
    // A file that is opened but takes no bytes: favorite.txt as a Unix link
    // to /dev/full, which opens and then fails every write (disk full). Wine
    // shows it as no disk file, so it is now refused before the write.
    test::UnixSymbolicLink full(data() + "\\Cfg\\favorite.txt", "/dev/full");
    EXPECT_EQ(VMSI_WriteFavorites(owner, data().c_str(), "Cfg", "Pics"), 0);
    std::vector<Report> expected = written(data() + "\\Cfg\\favorite.txt", data() + "\\Pics");
    expected.push_back(warning("failed to write the file contents", owner));
    EXPECT_EQ(takeReports(), expected);
}

TEST_F(FavouritesTest, NetworkStyleBaseFoldersKeepOrGainTwoLeadingBackslashes) {
    PrefixShare share;
    for (const char* base : {"\\\\vmsi-test-server\\share", "\\vmsi-test-server\\share"}) {
        const std::string file = "\\\\vmsi-test-server\\share\\Cfg\\favorite.txt";
        EXPECT_EQ(VMSI_WriteFavorites(owner, base, "Cfg", "Pics"), 1) << base;
        EXPECT_EQ(takeReports(), written(file, "\\\\vmsi-test-server\\share\\Pics")) << base;
        EXPECT_EQ(test::readFile(share.folder() + "\\Cfg\\favorite.txt"),
                  "\\\\vmsi-test-server\\share\\Pics\r\n")
            << base;
        DeleteFileA(file.c_str());
    }
}

TEST_F(FavouritesTest, BadTextsWriteNothingOutsideTheNamedFile) {
    const test::TreeSnapshot before = test::snapshotOf(scratch_.path());
    // Null texts are empty ones: "\\favorite.txt" names no share.
    EXPECT_EQ(VMSI_WriteFavorites(nullptr, nullptr, nullptr, nullptr), 0);
    for (std::size_t length : {259, 260, 261, 40000}) {
        const std::string text(length, 'x');
        // Locations too long to create.
        EXPECT_EQ(VMSI_WriteFavorites(nullptr, data().c_str(), text.c_str(), "f"), 0) << length;
        EXPECT_EQ(VMSI_WriteFavorites(nullptr, text.c_str(), "Cfg", "f"), 0) << length;
        // A long favourite is written whole.
        EXPECT_EQ(VMSI_WriteFavorites(nullptr, data().c_str(), "Cfg", text.c_str()), 1) << length;
        EXPECT_EQ(test::readFile(data() + "\\Cfg\\favorite.txt"), data() + "\\" + text + "\r\n");
    }
    EXPECT_EQ(test::without(test::snapshotOf(scratch_.path()), "Data\\Cfg\\favorite.txt"), before);
}

TEST_F(FavouritesTest, APipeOfThatNameIsNeverWritten) {
    // A user's pipe server, where the base folder is the pipe namespace: as
    // the file folder, which is no folder to hold, or as the pipe
    // namespace's root, whose pipe of that name is opened and left unwritten.
    // (The identification-only open is not shown: Wine 8 lets the server
    // impersonate whatever the client asks.)
    for (const auto& [pipe, fileFolder, failure] :
         {std::tuple<const char*, const char*, const char*>{
              "\\\\.\\pipe\\vmsi-tests\\favorite.txt", "vmsi-tests",
              "failed to write the file.  does the directory exist?"},
          {"\\\\.\\pipe\\favorite.txt", "", "failed to write the file contents"}}) {
        HANDLE server =
            CreateNamedPipeA(pipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE) << GetLastError();
        EXPECT_EQ(VMSI_WriteFavorites(owner, "\\\\.\\pipe", fileFolder, "Pics"), 0) << pipe;
        DWORD waiting = 0;
        const BOOL peeked = PeekNamedPipe(server, nullptr, 0, nullptr, &waiting, nullptr);
        CloseHandle(server);
        EXPECT_FALSE(peeked && waiting > 0) << waiting << " bytes were written into " << pipe;
        EXPECT_EQ(takeReports().back(), warning(failure, owner)) << pipe;
    }
}

// Stand-in for Windows, where the file is opened as the link itself and its
// handle shows a symbolic link (Wine 8 opens the link's target).
EntryKind windowsAnswerForALink(HANDLE, const std::string&) {
    const DWORD link = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
    return entryKindOf(link, IO_REPARSE_TAG_SYMLINK, link);
}

TEST_F(FavouritesTest, ALinkInThePlaceOfTheFileIsNotFollowed) {
    test::writeFile(data() + "\\victim.txt", "victim");
    test::UnixSymbolicLink link(data() + "\\Cfg\\favorite.txt",
                                test::unixPathOf(data() + "\\victim.txt"));
    EXPECT_EQ(writeFavourites(owner, data(), "Cfg", "Pics", windowsAnswerForALink), 0);
    EXPECT_EQ(test::readFile(data() + "\\victim.txt"), "victim");
    EXPECT_EQ(takeReports().back(), warning("failed to write the file contents", owner));
}

TEST_F(FavouritesTest, NothingIsWrittenThroughALinkOnTheWayOrAsASecondName) {
    // What a user may plant below the base folder for an installer that runs
    // as LocalSystem: the file folder, or a folder on the way to it, as a
    // link to a protected folder, and favorite.txt as a second name (a hard
    // link) of a protected file.
    const std::string protectedFolder = scratch_ / "Protected";
    test::makeFolders(protectedFolder);
    test::writeFile(protectedFolder + "\\config.ini", "precious");
    test::writeFile(protectedFolder + "\\favorite.txt", "protected line");
    test::UnixSymbolicLink linked(data() + "\\Linked", test::unixPathOf(protectedFolder));
    test::UnixSymbolicLink hop(data() + "\\Hop", test::unixPathOf(scratch_.path()));
    ASSERT_TRUE(CreateHardLinkA((data() + "\\Cfg\\favorite.txt").c_str(),
                                (protectedFolder + "\\config.ini").c_str(), nullptr))
        << GetLastError();
    const test::TreeSnapshot before = test::snapshotOf(protectedFolder);
    for (const char* fileFolder : {"Linked", "Hop\\Protected", "Cfg"}) {
        EXPECT_EQ(VMSI_WriteFavorites(owner, data().c_str(), fileFolder, "Pics"), 0) << fileFolder;
        EXPECT_EQ(takeReports().back(), warning("failed to write the file contents", owner))
            << fileFolder;
    }
    EXPECT_EQ(test::snapshotOf(protectedFolder), before);

    // A link at the base folder, or above it, is the caller's to give.
    DeleteFileA((data() + "\\Cfg\\favorite.txt").c_str());
    test::UnixSymbolicLink linkedBase(scratch_ / "LinkedBase", test::unixPathOf(data()));
    EXPECT_EQ(VMSI_WriteFavorites(owner, (scratch_ / "LinkedBase").c_str(), "Cfg", "Pics"), 1);
    EXPECT_EQ(test::readFile(data() + "\\Cfg\\favorite.txt"), scratch_ / "LinkedBase\\Pics\r\n");
}

TEST_F(FavouritesTest, ADevicePathToADiskFileIsWrittenAndALineBreakIsRefused) {
    const std::string base = "\\\\.\\" + data();
    EXPECT_EQ(VMSI_WriteFavorites(owner, base.c_str(), "Cfg", "Pics"), 1);
    EXPECT_EQ(test::readFile(data() + "\\Cfg\\favorite.txt"), base + "\\Pics\r\n");

    takeReports();
    for (const char* favourite : {"Pics\r\nC:\\Other", "Pics\n", "\rPics"}) {
        EXPECT_EQ(VMSI_WriteFavorites(owner, data().c_str(), "Cfg", favourite), 0);
        std::vector<Report> expected =
            written(data() + "\\Cfg\\favorite.txt", data() + "\\" + favourite);
        expected.push_back(warning("The favourite must be one line, nothing written", owner));
        EXPECT_EQ(takeReports(), expected);
    }
    EXPECT_EQ(test::readFile(data() + "\\Cfg\\favorite.txt"), base + "\\Pics\r\n");
}
