// Removing the cache folder, for real, in a scratch tree whose every other
// part is compared before and after each call. Links are Unix symbolic links
// made with ln (see unix_links.h): Wine 8's CreateSymbolicLinkA creates
// nothing and Wine cannot make junctions.
#include "VardoMSICustomActions.h"
#include "cache_removal.h"
#include "recorded_reports.h"
#include "scratch.h"
#include "tree_snapshot.h"
#include "unix_links.h"

#include <optional>

#include <gtest/gtest.h>

using namespace vmsi;
using test::info;
using test::Report;
using test::takeReports;
using test::warning;

namespace {

const HWND owner = reinterpret_cast<HWND>(0x1357);

class CacheRemovalTest : public ::testing::Test {
protected:
    // Scratch\Parent\Cache is the cache folder, beside Parent\keep.txt and
    // Scratch\Outside\Target. Parent is hidden and a system folder, so that
    // a reset of the attributes of the folder above the cache folder shows.
    CacheRemovalTest() : scratch_("cache-removal") {
        test::makeFolders(cache());
        test::writeFile(parent() + "\\keep.txt", "keep");
        test::makeFolders(target());
        test::writeFile(target() + "\\precious.txt", "precious");
        SetFileAttributesA((target() + "\\precious.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        SetFileAttributesA(target().c_str(), FILE_ATTRIBUTE_HIDDEN);
        SetFileAttributesA(parent().c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        takeReports();
    }

    std::string parent() const { return scratch_ / "Parent"; }
    std::string cache() const { return scratch_ / "Parent\\Cache"; }
    std::string target() const { return scratch_ / "Outside\\Target"; }

    void putInCache(const std::string& name, DWORD attributes = FILE_ATTRIBUTE_NORMAL) const {
        test::writeFile(cache() + "\\" + name, name);
        SetFileAttributesA((cache() + "\\" + name).c_str(), attributes);
    }

    void takeSnapshot() { before_ = test::snapshotOf(scratch_.path()); }
    void expectNothingChangedOutsideTheCache() const {
        EXPECT_EQ(test::without(test::snapshotOf(scratch_.path()), "Parent\\Cache"),
                  test::without(before_, "Parent\\Cache"));
    }
    void expectNothingChanged() const { EXPECT_EQ(test::snapshotOf(scratch_.path()), before_); }

    static bool exists(const std::string& path) {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    test::ScratchFolder scratch_;
    test::TreeSnapshot before_;
};

} // namespace

TEST_F(CacheRemovalTest, RemovesFilesOfEveryMarkAndThenTheFolder) {
    putInCache("plain.dat");
    putInCache("readonly.dat", FILE_ATTRIBUTE_READONLY);
    putInCache("hidden.dat", FILE_ATTRIBUTE_HIDDEN);
    putInCache("all.dat", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    takeSnapshot();

    EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
    EXPECT_FALSE(exists(cache()));
    // "." is tried like a file; ".." is never touched.
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("QLMK Cache Folder = " + cache(), owner),
                                 warning("Unable to delete file: " + cache() + "\\.", owner),
                             }));
    expectNothingChangedOutsideTheCache();
}

TEST_F(CacheRemovalTest, WhatCannotBeDeletedStaysAndIsReported) {
    putInCache("file.dat");
    test::makeFolders(cache() + "\\Sub");
    test::writeFile(cache() + "\\Sub\\inner.dat", "inner");
    SetFileAttributesA((cache() + "\\Sub").c_str(), FILE_ATTRIBUTE_HIDDEN);
    takeSnapshot();

    EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
    EXPECT_FALSE(exists(cache() + "\\file.dat"));
    EXPECT_EQ(test::readFile(cache() + "\\Sub\\inner.dat"), "inner");
    // Tried like a file, the subfolder has lost its mark.
    EXPECT_EQ(GetFileAttributesA((cache() + "\\Sub").c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("QLMK Cache Folder = " + cache(), owner),
                                 warning("Unable to delete file: " + cache() + "\\.", owner),
                                 warning("Unable to delete file: " + cache() + "\\Sub", owner),
                                 warning("Unable to remove directory" + cache(), owner),
                             }));
    expectNothingChangedOutsideTheCache();

    // A file held open without delete sharing.
    test::removeTree(cache() + "\\Sub");
    putInCache("busy.dat", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    HANDLE busy = CreateFileA((cache() + "\\busy.dat").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
    CloseHandle(busy);
    EXPECT_TRUE(exists(cache() + "\\busy.dat"));
    // What stays has lost its marks all the same.
    EXPECT_EQ(GetFileAttributesA((cache() + "\\busy.dat").c_str()) &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              0u);
    const auto reports = takeReports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[2], warning("Unable to delete file: " + cache() + "\\busy.dat", owner));
    EXPECT_EQ(reports[3], warning("Unable to remove directory" + cache(), owner));
}

TEST_F(CacheRemovalTest, MarksOnTheCacheFolderItselfDoNotKeepItAlive) {
    // Wine keeps no read-only mark on a folder (it reads back without it);
    // the hidden mark stays, and "." takes it off like any mark.
    SetFileAttributesA(cache().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(GetFileAttributesA(cache().c_str()) & FILE_ATTRIBUTE_HIDDEN);
    test::makeFolders(cache() + "\\Sub");
    EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
    EXPECT_EQ(GetFileAttributesA(cache().c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

    // Empty and marked: removed.
    test::removeTree(cache() + "\\Sub");
    SetFileAttributesA(cache().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    takeSnapshot();
    EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
    EXPECT_FALSE(exists(cache()));
    expectNothingChangedOutsideTheCache();
}

TEST_F(CacheRemovalTest, ATrailingBackslashInTheNameChangesNoEntryPath) {
    putInCache("file.dat");
    test::makeFolders(cache() + "\\Sub");
    EXPECT_EQ(VMSI_RemoveQLMKCache(owner, (parent() + "\\").c_str(), "Cache\\"), 0);
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("QLMK Cache Folder = " + cache() + "\\", owner),
                                 warning("Unable to delete file: " + cache() + "\\.", owner),
                                 warning("Unable to delete file: " + cache() + "\\Sub", owner),
                                 warning("Unable to remove directory" + cache() + "\\", owner),
                             }));
    EXPECT_FALSE(exists(cache() + "\\file.dat"));
}

TEST_F(CacheRemovalTest, NoFolderAtThePathAndEmptyTextsTouchNothing) {
    test::writeFile(parent() + "\\File", "a file, not a folder");
    takeSnapshot();
    for (const char* name : {"File", "Missing"}) {
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), name), 0);
        const std::string path = parent() + "\\" + name;
        EXPECT_EQ(takeReports(), (std::vector<Report>{
                                     info("QLMK Cache Folder = " + path, owner),
                                     warning("Directory Doesn't exist: " + path, owner),
                                 }));
    }
    for (const auto& [parentFolder, name] : {std::pair<const char*, const char*>{nullptr, nullptr},
                                             {"", "Cache"},
                                             {nullptr, "Cache"},
                                             {parent().c_str(), ""},
                                             {parent().c_str(), nullptr}}) {
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parentFolder, name), 0);
        EXPECT_EQ(takeReports(),
                  std::vector<Report>{warning("Empty Values Passed, Exiting", owner)});
    }
    for (std::size_t length : {259, 260, 261, 40000}) {
        const std::string text(length, 'x');
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), text.c_str()), 0);
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, text.c_str(), "Cache"), 0);
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, (scratch_ / "Parent\\..").c_str(), text.c_str()), 0);
    }
    expectNothingChanged();
}

TEST_F(CacheRemovalTest, RefusesANameThatDoesNotLieBelowTheParent) {
    putInCache("file.dat");
    test::writeFile(scratch_ / "Outside\\loose.dat", "loose");
    takeSnapshot();
    const std::string outside = scratch_ / "Outside";
    for (const std::string& name : std::vector<std::string>{
             outside, "C:" + outside.substr(2), "c:Outside", "\\Outside", "/Outside", "..",
             "..\\Outside", "../Outside", "Cache\\..\\..\\Outside", "Cache\\..", ".", ".\\", "...",
             "..\\", " ", ". .", ".. "}) {
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), name.c_str()), 0) << name;
        const auto reports = takeReports();
        ASSERT_EQ(reports.size(), 2u) << name;
        EXPECT_EQ(reports[0].text.rfind("QLMK Cache Folder = ", 0), 0u) << name;
        EXPECT_EQ(reports[1], warning("Cache folder must lie below its parent, Exiting", owner))
            << name;
    }
    expectNothingChanged();

    // Names below the parent pass, odd as they may look.
    for (const char* name : {"Cache", "Cache\\", "Sub\\Cache", ".\\Cache", "Cache\\.", "..Cache",
                             "Cache..", "Cache/Sub", "C"}) {
        EXPECT_TRUE(namesAFolderBelow(name)) << name;
    }
}

TEST_F(CacheRemovalTest, ACacheFolderReachedThroughALinkIsLeftAlone) {
    test::removeTree(cache());
    test::UnixSymbolicLink linkedCache(cache(), test::unixPathOf(target()));
    // Wine shows a Unix link to a folder as a reparse point.
    const DWORD linkMark = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    ASSERT_EQ(GetFileAttributesA(cache().c_str()) & linkMark, linkMark);
    test::makeFolders(scratch_ / "Outside\\Cache");
    test::writeFile(scratch_ / "Outside\\Cache\\c.dat", "c");
    test::UnixSymbolicLink linkedHop(scratch_ / "Parent\\Hop",
                                     test::unixPathOf(scratch_ / "Outside"));
    takeSnapshot();

    for (const char* name : {"Cache", "Cache\\", "Hop\\Cache"}) {
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), name), 0);
        EXPECT_EQ(takeReports(), (std::vector<Report>{
                                     info("QLMK Cache Folder = " + parent() + "\\" + name, owner),
                                     warning("Cache folder is a link, Exiting", owner),
                                 }));
    }
    expectNothingChanged();
}

TEST_F(CacheRemovalTest, ALinkedEntryIsNeverFollowed) {
    putInCache("file.dat");
    test::UnixSymbolicLink linkedEntry(cache() + "\\Linked", test::unixPathOf(target()));
    takeSnapshot();

    EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
    // Deleting a link to a folder as a file fails; the link and the cache
    // folder stay, and the target keeps its marks and its file.
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("QLMK Cache Folder = " + cache(), owner),
                                 warning("Unable to delete file: " + cache() + "\\.", owner),
                                 warning("Unable to delete file: " + cache() + "\\Linked", owner),
                                 warning("Unable to remove directory" + cache(), owner),
                             }));
    EXPECT_FALSE(exists(cache() + "\\file.dat"));
    expectNothingChangedOutsideTheCache();
}

// The moments between finding an entry and deleting it, where a rival could
// swap it for a link, made to happen every time by the observer.
namespace {

// Swaps one entry for a Unix link to a folder once the search has found it
// and before it is opened: a rival that is quick enough.
class SwapForLinkWhenFound : public DeletionObserver {
public:
    SwapForLinkWhenFound(std::string entry, std::string unixTarget)
        : entry_(std::move(entry)), unixTarget_(std::move(unixTarget)) {}
    void entryFound(const Text& path) override {
        if (path == entry_ && !link_) {
            link_.emplace(path, unixTarget_);
        }
    }
    bool swapped() const { return link_.has_value(); }

private:
    std::string entry_;
    std::string unixTarget_;
    std::optional<test::UnixSymbolicLink> link_;
};

// Tries to move the entry or the folder away while the action holds it, as
// a rival that means to put a link in its place would have to.
class MoveAwayWhenHeld : public DeletionObserver {
public:
    explicit MoveAwayWhenHeld(std::string destination) : destination_(std::move(destination)) {}
    void folderHeld(const Text& path) override { tryToMove(path); }
    void entryHeld(const Text& path) override { tryToMove(path); }
    std::vector<std::string> moved;
    std::vector<DWORD> refusals;

private:
    void tryToMove(const Text& path) {
        if (MoveFileExA(path.c_str(), destination_.c_str(), 0)) {
            moved.push_back(path);
            MoveFileExA(destination_.c_str(), path.c_str(), 0);
        } else {
            refusals.push_back(GetLastError());
        }
    }
    std::string destination_;
};

} // namespace

TEST_F(CacheRemovalTest, AnEntrySwappedForALinkAfterItWasFoundIsNeverFollowed) {
    // The link's target is an empty hidden folder: acted on through the
    // link, it would lose its mark, and deleted through the link it would be
    // gone (both are what Wine 8 does to a link's target when the link is
    // opened, whatever FILE_FLAG_OPEN_REPARSE_POINT says).
    test::makeFolders(scratch_ / "Outside\\Empty");
    SetFileAttributesA((scratch_ / "Outside\\Empty").c_str(), FILE_ATTRIBUTE_HIDDEN);
    putInCache("swap.dat");
    putInCache("file.dat");
    takeSnapshot();

    SwapForLinkWhenFound rival(cache() + "\\swap.dat",
                               test::unixPathOf(scratch_ / "Outside\\Empty"));
    EXPECT_EQ(removeCacheFolder(owner, parent(), "Cache", &rival), 0);
    ASSERT_TRUE(rival.swapped());
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("QLMK Cache Folder = " + cache(), owner),
                                 warning("Unable to delete file: " + cache() + "\\.", owner),
                                 warning("Unable to delete file: " + cache() + "\\swap.dat", owner),
                                 warning("Unable to remove directory" + cache(), owner),
                             }));
    EXPECT_FALSE(exists(cache() + "\\file.dat"));
    expectNothingChangedOutsideTheCache();
}

TEST_F(CacheRemovalTest, NeitherAHeldEntryNorTheHeldFolderCanBeMovedAway) {
    putInCache("plain.dat");
    putInCache("readonly.dat", FILE_ATTRIBUTE_READONLY);
    takeSnapshot();

    MoveAwayWhenHeld rival(scratch_ / "Outside\\moved");
    EXPECT_EQ(removeCacheFolder(owner, parent(), "Cache", &rival), 0);
    EXPECT_EQ(rival.moved, std::vector<std::string>{}) << "a held entry was moved away";
    // The folder, then each of its two files.
    EXPECT_EQ(rival.refusals, (std::vector<DWORD>(3, ERROR_SHARING_VIOLATION)));
    EXPECT_FALSE(exists(cache()));
    EXPECT_FALSE(exists(scratch_ / "Outside\\moved"));
    expectNothingChangedOutsideTheCache();
}

// Wine cannot show a handle that is a link: it opens a link's target whatever
// FILE_FLAG_OPEN_REPARSE_POINT says, and shows a Unix link to a file as a
// plain file everywhere, and it cannot make junctions. What Windows shows
// (the handle of a link reads as a reparse point with a name-surrogate tag)
// is therefore covered here, through the decision those attributes lead to.
TEST(HeldEntryKind, LinksAreTakenAsLinksWhereverTheyShow) {
    const DWORD file = FILE_ATTRIBUTE_ARCHIVE;
    const DWORD folder = FILE_ATTRIBUTE_DIRECTORY;
    const DWORD link = FILE_ATTRIBUTE_REPARSE_POINT;
    const DWORD symbolicLinkTag = 0xA000000C; // IO_REPARSE_TAG_SYMLINK
    const DWORD junctionTag = 0xA0000003;     // IO_REPARSE_TAG_MOUNT_POINT
    const DWORD deduplicatedTag = 0x80000013; // IO_REPARSE_TAG_DEDUP: the data itself
    // Windows: the handle is the link.
    EXPECT_EQ(entryKindOf(file | link, symbolicLinkTag, file | link), EntryKind::LinkToFile);
    EXPECT_EQ(entryKindOf(folder | link, junctionTag, folder | link), EntryKind::LinkToFolder);
    EXPECT_EQ(entryKindOf(folder | link, symbolicLinkTag, folder | link), EntryKind::LinkToFolder);
    // Swapped after the check: the handle decides, not the path.
    EXPECT_EQ(entryKindOf(file | link, symbolicLinkTag, file), EntryKind::LinkToFile);
    // Reparse points that are no links are files and folders.
    EXPECT_EQ(entryKindOf(file | link, deduplicatedTag, file | link), EntryKind::File);
    EXPECT_EQ(entryKindOf(folder | link, deduplicatedTag, folder | link), EntryKind::Folder);
    // Wine: the handle is the target of a link that the path still shows.
    EXPECT_EQ(entryKindOf(folder, 0, folder | link), EntryKind::FollowedLink);
    EXPECT_EQ(entryKindOf(file, 0, INVALID_FILE_ATTRIBUTES), EntryKind::FollowedLink);
    // Plain entries.
    EXPECT_EQ(entryKindOf(file | FILE_ATTRIBUTE_READONLY, 0, file | FILE_ATTRIBUTE_READONLY),
              EntryKind::File);
    EXPECT_EQ(entryKindOf(folder | FILE_ATTRIBUTE_HIDDEN, 0, folder | FILE_ATTRIBUTE_HIDDEN),
              EntryKind::Folder);
}
