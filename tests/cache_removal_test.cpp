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
    // Scratch\Outside\Target. Parent is hidden, so that a reset of the
    // attributes of the folder above the cache folder shows.
    CacheRemovalTest() : scratch_("cache-removal") {
        test::makeFolders(cache());
        test::writeFile(parent() + "\\keep.txt", "keep");
        test::makeFolders(target());
        test::writeFile(target() + "\\precious.txt", "precious");
        SetFileAttributesA((target() + "\\precious.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        SetFileAttributesA(target().c_str(), FILE_ATTRIBUTE_HIDDEN);
        SetFileAttributesA(parent().c_str(), FILE_ATTRIBUTE_HIDDEN);
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
