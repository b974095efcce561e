// Removing the cache folder, for real, in a scratch tree whose every other
// part is compared before and after each call. Links are Unix symbolic links
// made with ln (see unix_links.h): Wine 8's CreateSymbolicLinkA creates
// nothing and Wine cannot make junctions.
#include "VardoMSICustomActions.h"
#include "cache_removal.h"
#include "paths.h"
#include "recorded_reports.h"
#include "scratch.h"
#include "tree_snapshot.h"
#include "unix_links.h"
#include "windows_stand_ins.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include <gtest/gtest.h>

using namespace vmsi;

namespace {

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

    // The reports of a removal after which one entry besides "." stays.
    std::vector<Report> reportsKeeping(const std::string& entry) const {
        return {
            info("QLMK Cache Folder = " + cache(), owner),
            warning("Unable to delete file: " + cache() + "\\.", owner),
            warning("Unable to delete file: " + cache() + "\\" + entry, owner),
            warning("Unable to remove directory" + cache(), owner),
        };
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

TEST_F(CacheRemovalTest, RemovesFilesOfEveryAttributeAndThenTheFolder) {
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
    // Tried like a file, the subfolder has lost its attributes.
    EXPECT_EQ(GetFileAttributesA((cache() + "\\Sub").c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
    EXPECT_EQ(takeReports(), reportsKeeping("Sub"));
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
    // What stays has lost its attributes all the same.
    EXPECT_EQ(GetFileAttributesA((cache() + "\\busy.dat").c_str()) &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              0u);
    const auto reports = takeReports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[2], warning("Unable to delete file: " + cache() + "\\busy.dat", owner));
    EXPECT_EQ(reports[3], warning("Unable to remove directory" + cache(), owner));
}

TEST_F(CacheRemovalTest, AttributesOfTheCacheFolderItselfDoNotKeepItAlive) {
    // Wine keeps no read-only attribute on a folder (it reads back without
    // it); the hidden one stays, and "." takes it off like any other.
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
             outside, "C:" + outside.substr(2), "c:Outside", "..", "..\\Outside", "../Outside",
             "\\..\\Outside", "Cache\\..\\..\\Outside", "Cache\\..", ".", ".\\", "...", "..\\", " ",
             ". .", ".. "}) {
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), name.c_str()), 0) << name;
        const auto reports = takeReports();
        ASSERT_EQ(reports.size(), 2u) << name;
        EXPECT_EQ(reports[0].text.rfind("QLMK Cache Folder = ", 0), 0u) << name;
        EXPECT_EQ(reports[1], warning("Cache folder must lie below its parent, Exiting", owner))
            << name;
    }
    // The normaliser doubles the single backslash of the parent "\\": a
    // folder on another machine is not below it.
    EXPECT_EQ(VMSI_RemoveQLMKCache(owner, "\\", "server\\share\\x"), 0);
    EXPECT_EQ(takeReports().back(),
              warning("Cache folder must lie below its parent, Exiting", owner));
    expectNothingChanged();

    // Names below the parent pass, odd as they may look.
    for (const char* name : {"Cache", "Cache\\", "Sub\\Cache", ".\\Cache", "Cache\\.", "..Cache",
                             "Cache..", "Cache/Sub", "C", "\\Cache", "/Cache"}) {
        EXPECT_TRUE(namesAFolderBelow(name)) << name;
    }
}

TEST_F(CacheRemovalTest, ALeadingSeparatorJoinsBelowTheParent) {
    for (const auto& [name, joined] : {std::pair<std::string, std::string>{"\\Cache", cache()},
                                       {"/Cache", parent() + "\\/Cache"}}) {
        test::makeFolders(cache());
        putInCache("file.dat");
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), name.c_str()), 0) << name;
        EXPECT_FALSE(exists(cache())) << name;
        EXPECT_EQ(takeReports().front(), info("QLMK Cache Folder = " + joined, owner)) << name;
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
    // folder stay, and the target keeps its attributes and its file.
    EXPECT_EQ(takeReports(), reportsKeeping("Linked"));
    EXPECT_FALSE(exists(cache() + "\\file.dat"));
    expectNothingChangedOutsideTheCache();
}

TEST_F(CacheRemovalTest, AFileWithASecondNameOutsideKeepsItsAttributes) {
    // Hard links in the cache folder to hidden files outside it, whose
    // attributes are every name's: one also read-only, one held open
    // without delete sharing.
    for (const std::string name : {"hidden", "readonly", "busy"}) {
        const std::string other = target() + "\\" + name + ".txt";
        test::writeFile(other, name);
        SetFileAttributesA(other.c_str(), FILE_ATTRIBUTE_HIDDEN |
                                              (name == "readonly" ? FILE_ATTRIBUTE_READONLY : 0));
        ASSERT_TRUE(
            CreateHardLinkA((cache() + "\\" + name + ".dat").c_str(), other.c_str(), nullptr));
    }
    takeSnapshot();
    HANDLE busy = CreateFileA((cache() + "\\busy.dat").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
    CloseHandle(busy);
    // The held name stays. The read-only one goes only where the platform
    // deletes as POSIX does, without clearing the attribute; the classic
    // deletion (Windows 7, Wine 8) cannot take it. What stays is reported,
    // beside "." and the folder.
    const bool posix = test::platformDeletesAsPosix();
    EXPECT_FALSE(exists(cache() + "\\hidden.dat"));
    EXPECT_EQ(exists(cache() + "\\readonly.dat"), !posix) << (posix ? "POSIX" : "classic");
    EXPECT_TRUE(exists(cache() + "\\busy.dat"));
    EXPECT_EQ(takeReports().size(), posix ? 4u : 5u);
    expectNothingChangedOutsideTheCache();
}

namespace {

// A stand-in for Windows 10 (1809 and later, on NTFS), which deletes with
// POSIX semantics: the name leaves its folder at once, even while another
// program holds the file with delete sharing, and the file goes when the
// last handle closes. Wine 8 refuses FileDispositionInfoEx; its answer is
// replayed by marking the entry for deletion the classic way (which refuses
// a folder that is not empty with 145, as Windows refuses either request)
// and then moving the entry out of its folder into the graveyard.
std::string graveyard;
int posixRequests = 0;
int classicRequests = 0;
BOOL WINAPI windows10Deletion(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* from, DWORD size) {
    classicRequests += kind == FileDispositionInfo;
    if (kind != static_cast<FILE_INFO_BY_HANDLE_CLASS>(21)) { // FileDispositionInfoEx
        return SetFileInformationByHandle(file, kind, from, size);
    }
    ++posixRequests;
    FILE_DISPOSITION_INFO classic = {TRUE};
    FILE_STANDARD_INFO standard = {};
    if (!SetFileInformationByHandle(file, FileDispositionInfo, &classic, sizeof classic) ||
        !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
        return FALSE;
    }
    const std::wstring to = widened(graveyard + "\\" + std::to_string(posixRequests));
    std::vector<char> rename(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
    auto* renamed = reinterpret_cast<FILE_RENAME_INFO*>(rename.data());
    renamed->FileNameLength = static_cast<DWORD>(to.copy(renamed->FileName, to.size()) * 2);
    return standard.Directory || SetFileInformationByHandle(file, FileRenameInfo, renamed,
                                                            static_cast<DWORD>(rename.size()));
}

// A stand-in for Windows: pending.dat was deleted by a program that still
// holds it, and Windows refuses to open it (STATUS_DELETE_PENDING) until
// that program lets go. Wine 8 opens such a file as any other.
NTSTATUS NTAPI pendingDeletion(PHANDLE opened, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                               PIO_STATUS_BLOCK outcome, PLARGE_INTEGER size, ULONG attributes,
                               ULONG share, ULONG disposition, ULONG options, PVOID extended,
                               ULONG extendedLength) {
    const std::wstring_view name(object->ObjectName->Buffer,
                                 object->ObjectName->Length / sizeof(wchar_t));
    if (name == L"pending.dat") {
        return static_cast<NTSTATUS>(0xC0000056);
    }
    static const auto platform =
        exportOf<decltype(&NtCreateFile)>(GetModuleHandleA("ntdll.dll"), "NtCreateFile");
    return platform(opened, access, object, outcome, size, attributes, share, disposition, options,
                    extended, extendedLength);
}

} // namespace

TEST_F(CacheRemovalTest, OnWindowsANameLeavesAtOnceAndAnEntryPendingDeletionIsNoFailure) {
    test::ScratchFolder graves("cache-removal-graveyard");
    graveyard = graves.path();
    putInCache("indexed.dat");
    putInCache("hidden.dat", FILE_ATTRIBUTE_HIDDEN);
    // An indexer or antivirus reading a file, and sharing its deletion.
    HANDLE indexer = CreateFileA((cache() + "\\indexed.dat").c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(indexer, INVALID_HANDLE_VALUE);
    takeSnapshot();
    {
        test::StandInForWindows windows(windowsStandIns.setFileInformation, &windows10Deletion);
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
    }
    CloseHandle(indexer);
    EXPECT_FALSE(exists(cache()));
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("QLMK Cache Folder = " + cache(), owner),
                                 warning("Unable to delete file: " + cache() + "\\.", owner),
                             }));
    // Both files and the folder, and never the classic way.
    EXPECT_EQ(posixRequests, 3);
    EXPECT_EQ(classicRequests, 0);
    expectNothingChangedOutsideTheCache();

    // A folder that still holds a subfolder is refused (145) to the POSIX
    // request as it would be to the classic one, which is not asked for.
    test::makeFolders(cache() + "\\Sub");
    posixRequests = classicRequests = 0;
    {
        test::StandInForWindows windows(windowsStandIns.setFileInformation, &windows10Deletion);
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
    }
    EXPECT_EQ(takeReports(), reportsKeeping("Sub"));
    EXPECT_EQ(posixRequests, 1);
    EXPECT_EQ(classicRequests, 0);

    // An entry pending deletion goes when its holder lets go: no failure of
    // the removal's, though the folder must stay until then.
    test::removeTree(cache() + "\\Sub");
    putInCache("pending.dat");
    putInCache("plain.dat");
    {
        test::StandInForWindows windows(windowsStandIns.openRelative, &pendingDeletion);
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
    }
    EXPECT_FALSE(exists(cache() + "\\plain.dat"));
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("QLMK Cache Folder = " + cache(), owner),
                                 warning("Unable to delete file: " + cache() + "\\.", owner),
                                 warning("Unable to remove directory" + cache(), owner),
                             }));
}

// The moments between finding an entry and deleting it, where a rival could
// swap it for a link, made to happen every time by the observer.
namespace {

// Makes a Unix link, or points an existing one elsewhere, at one moment of
// the removal: once the cache folder is held, or once the search has found
// the entry and before it is opened. A rival that is quick enough.
class LinkWhen : public DeletionObserver {
public:
    enum Moment { FolderHeld, EntryFound };
    LinkWhen(Moment moment, std::string linkPath, std::string unixTarget)
        : moment_(moment), linkPath_(std::move(linkPath)), unixTarget_(std::move(unixTarget)) {}
    void folderHeld(const Text&) override {
        if (moment_ == FolderHeld) {
            link();
        }
    }
    void entryFound(const Text& path) override {
        if (moment_ == EntryFound && path == linkPath_) {
            link();
        }
    }
    bool linked() const { return link_.has_value(); }

private:
    void link() {
        if (!link_) {
            link_.emplace(linkPath_, unixTarget_);
        }
    }
    Moment moment_;
    std::string linkPath_;
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
    // link, it would lose its attribute, and deleted through the link it would be
    // gone (both are what Wine 8 does to a link's target when the link is
    // opened, whatever FILE_FLAG_OPEN_REPARSE_POINT says).
    test::makeFolders(scratch_ / "Outside\\Empty");
    SetFileAttributesA((scratch_ / "Outside\\Empty").c_str(), FILE_ATTRIBUTE_HIDDEN);
    putInCache("swap.dat");
    putInCache("file.dat");
    takeSnapshot();

    LinkWhen rival(LinkWhen::EntryFound, cache() + "\\swap.dat",
                   test::unixPathOf(scratch_ / "Outside\\Empty"));
    EXPECT_EQ(removeCacheFolder(owner, parent(), "Cache", &rival), 0);
    ASSERT_TRUE(rival.linked());
    EXPECT_EQ(takeReports(), reportsKeeping("swap.dat"));
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

TEST_F(CacheRemovalTest, ALinkAboveTheParentPointedElsewhereMidwayLeadsNowhereElse) {
    // Scratch\Above links to Parent, so Above\Cache is the cache folder: a
    // link above the parent, which is allowed. Once the folder is held, a
    // rival points Above at Outside, which has a Cache of its own.
    putInCache("same.dat");
    test::makeFolders(scratch_ / "Outside\\Cache");
    test::writeFile(scratch_ / "Outside\\Cache\\same.dat", "elsewhere");
    test::UnixSymbolicLink above(scratch_ / "Above", test::unixPathOf(parent()));
    // Marked as Parent is, so that the link reads the same afterwards.
    SetFileAttributesA((scratch_ / "Outside").c_str(),
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    takeSnapshot();

    LinkWhen rival(LinkWhen::FolderHeld, scratch_ / "Above",
                   test::unixPathOf(scratch_ / "Outside"));
    EXPECT_EQ(removeCacheFolder(owner, scratch_ / "Above", "Cache", &rival), 0);
    ASSERT_TRUE(rival.linked());
    // What the held folder holds is deleted, and the held folder removed.
    EXPECT_FALSE(exists(cache()));
    expectNothingChangedOutsideTheCache();
}

TEST_F(CacheRemovalTest, AnEntryWhoseNameReadsAsAPathIsNeverActedOn) {
    // Real files whose names hold U+FF0F and U+FF3C, which the 8-bit functions
    // give as "/" and "\" (best fit): two dots, U+FF0F and "victim.dat" read
    // "../victim.dat", the file beside the cache folder. U+FF0E reads ".".
    test::writeFile(parent() + "\\victim.dat", "victim");
    test::writeFile(scratch_ / "victim.dat", "victim two levels up");
    SetFileAttributesA((scratch_ / "victim.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    const std::string cacheFolder = cache();
    const std::wstring wideCache(cacheFolder.begin(), cacheFolder.end()); // ASCII
    std::vector<std::wstring> oddEntries;
    for (const wchar_t* name : {L"..\uFF0Fvictim.dat", L"..\uFF3Cvictim.dat",
                                L"..\uFF0F..\uFF0Fvictim.dat", L"\uFF0E\uFF0E"}) {
        oddEntries.push_back(wideCache + L"\\" + name);
        CloseHandle(CreateFileW(oddEntries.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                                nullptr));
    }
    putInCache("plain.dat");
    takeSnapshot();

    EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
    std::vector<std::string> warnings;
    for (const Report& report : takeReports()) {
        if (report.severity == Severity::Warning) {
            warnings.push_back(report.text);
        }
    }
    std::sort(warnings.begin(), warnings.end());
    const std::string refused = "Unable to delete file: " + cache() + "\\";
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            refused + ".",
                            refused + "..",
                            refused + "../../victim.dat",
                            refused + "../victim.dat",
                            refused + "..\\victim.dat",
                            "Unable to remove directory" + cache(),
                        }));
    EXPECT_FALSE(exists(cache() + "\\plain.dat"));
    expectNothingChangedOutsideTheCache();
    // The scratch folder is wiped through 8-bit names, which miss these.
    for (const std::wstring& entry : oddEntries) {
        EXPECT_TRUE(DeleteFileW(entry.c_str()));
    }
}

namespace {

// Stand-ins for Windows, for the final paths of folders. The cache folder was
// reached through a link in the object namespace (a junction to
// "\\RPC Control" holding a link named "Cache"), which Wine cannot make: its
// final path is where that link leads.
DWORD WINAPI reachedThroughObjectNamespace(HANDLE file, LPWSTR into, DWORD size, DWORD form) {
    const std::wstring elsewhere = L"\\\\?\\C:\\windows\\system32\\config";
    const DWORD length = GetFinalPathNameByHandleW(file, into, size, form);
    const std::wstring real(into, length < size ? length : 0);
    if (real.size() < 6 || _wcsicmp(real.c_str() + real.size() - 6, L"\\Cache") != 0) {
        return length;
    }
    if (size <= elsewhere.size()) {
        return static_cast<DWORD>(elsewhere.size() + 1);
    }
    wcscpy(into, elsewhere.c_str());
    return static_cast<DWORD>(elsewhere.size());
}

// A share on a server that gives no normalised names (SMB, where the user
// may not list a folder on the way): only the opened names come.
DWORD WINAPI serverWithoutNormalisedNames(HANDLE file, LPWSTR into, DWORD size, DWORD form) {
    if (!(form & FILE_NAME_OPENED)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return GetFinalPathNameByHandleW(file, into, size, form);
}

// A file system that gives no final path in either form.
DWORD WINAPI noFinalPath(HANDLE, LPWSTR, DWORD, DWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}

} // namespace

TEST_F(CacheRemovalTest, TheFinalPathSaysWhereTheFolderLiesOrElseTheOpenedName) {
    const struct {
        decltype(&GetFinalPathNameByHandleW) standIn;
        const char* refusal; // null: removed
    } cases[] = {
        {&reachedThroughObjectNamespace, "Cache folder is a link, Exiting"},
        {&serverWithoutNormalisedNames, nullptr},
        {&noFinalPath, "Cache folder location cannot be verified, Exiting"},
    };
    for (const auto& [standIn, refusal] : cases) {
        test::makeFolders(cache());
        putInCache("file.dat");
        takeSnapshot();
        test::StandInForWindows windows(windowsStandIns.finalPath, standIn);
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
        const std::vector<Report> reports = takeReports();
        if (refusal != nullptr) {
            EXPECT_EQ(reports, (std::vector<Report>{info("QLMK Cache Folder = " + cache(), owner),
                                                    warning(refusal, owner)}));
            expectNothingChanged();
        } else {
            EXPECT_FALSE(exists(cache())) << reports.back().text;
        }
    }
}

TEST_F(CacheRemovalTest, ShortAndTrailingDotNamesOfTheRealFolderPass) {
    // Short 8.3 names are Wine's own (GetShortPathNameA), which it opens and
    // GetLongPathNameW turns back into the long name; the platform drops the
    // dots and spaces that end a path.
    const std::string folder = parent() + "\\Quillmark Cache";
    test::makeFolders(folder);
    char shortPath[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameA(folder.c_str(), shortPath, MAX_PATH), 0u);
    const std::string shortName = std::strrchr(shortPath, '\\') + 1;
    ASSERT_NE(shortName, "Quillmark Cache");
    for (const std::string& name :
         std::vector<std::string>{shortName, "Quillmark Cache.", "Quillmark Cache. .",
                                  "QUILLMARK CACHE", shortName + "\\"}) {
        test::makeFolders(folder);
        test::writeFile(folder + "\\file.dat", "file");
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), name.c_str()), 0);
        EXPECT_FALSE(exists(folder)) << name << ": " << takeReports().back().text;
        takeReports();
    }
}

// A stand-in for Windows, which for a buffer too small may answer the
// path's length without the terminating zero.
const std::wstring deepPath = L"\\\\?\\C:\\" + std::wstring(300, L'x');
DWORD WINAPI deepFinalPath(HANDLE, LPWSTR into, DWORD size, DWORD) {
    if (size > deepPath.size()) {
        into[deepPath.copy(into, deepPath.size())] = L'\0';
    }
    return static_cast<DWORD>(deepPath.size());
}

TEST(FinalPath, AnAnswerLongerThanTheFirstBufferIsReadWhole) {
    test::StandInForWindows windows(windowsStandIns.finalPath, &deepFinalPath);
    EXPECT_EQ(finalPathOf(GetCurrentProcess()), deepPath);
}

namespace {

// A stand-in for Windows: deduplicated folders, whose handles show a reparse
// point whose tag (IO_REPARSE_TAG_DEDUP) is no name surrogate. Wine shows
// no such folder, nor a FAT volume's refusal of the tag query (fatVolume).
int deduplicatedAnswers = 0;
BOOL WINAPI deduplicatedFolders(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* into,
                                DWORD size) {
    const BOOL answered = GetFileInformationByHandleEx(file, kind, into, size);
    auto* tagged = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(into);
    if (answered && kind == FileAttributeTagInfo &&
        (tagged->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        tagged->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        tagged->ReparseTag = 0x80000013;
        ++deduplicatedAnswers;
    }
    return answered;
}

// Windows 7 and Server 2008 R2 refuse the full directory classes, which came
// with Windows 8.
BOOL WINAPI windows7(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* into, DWORD size) {
    if (kind == FileFullDirectoryInfo || kind == FileFullDirectoryRestartInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return GetFileInformationByHandleEx(file, kind, into, size);
}

} // namespace

TEST_F(CacheRemovalTest, OnWindows7OnAFatVolumeOrInDeduplicatedFoldersTheRemovalGoesAsOnNtfs) {
    for (const auto standIn : {&windows7, &test::fatVolume, &deduplicatedFolders}) {
        test::makeFolders(cache() + "\\Sub");
        SetFileAttributesA((cache() + "\\Sub").c_str(), FILE_ATTRIBUTE_HIDDEN);
        putInCache("readonly.dat", FILE_ATTRIBUTE_READONLY);
        test::StandInForWindows windows(windowsStandIns.fileInformation, standIn);

        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
        EXPECT_EQ(takeReports(), reportsKeeping("Sub"));
        EXPECT_FALSE(exists(cache() + "\\readonly.dat"));
        EXPECT_EQ(GetFileAttributesA((cache() + "\\Sub").c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
        test::removeTree(cache() + "\\Sub");
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
        EXPECT_FALSE(exists(cache()));
        takeReports();
    }
    EXPECT_GT(test::fatVolumeRefusals, 0);
    EXPECT_GT(deduplicatedAnswers, 0);
}

namespace {

// A stand-in for Windows: a listing that the server cuts short after its
// first batch of entries (the network went), or refuses from the start.
bool refusedFromTheStart = false;
BOOL WINAPI listingFails(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* into, DWORD size) {
    if (kind == FileIdBothDirectoryInfo ||
        (refusedFromTheStart && kind == FileIdBothDirectoryRestartInfo)) {
        SetLastError(ERROR_UNEXP_NET_ERR);
        return FALSE;
    }
    return GetFileInformationByHandleEx(file, kind, into, size);
}

} // namespace

TEST_F(CacheRemovalTest, AFailedListingIsReportedOnceAndTheFolderIsStillTried) {
    const Report failed = warning("Unable to delete file: " + cache() + "\\*.*", owner);
    // What the first batch listed goes, and with it the folder; a listing
    // refused at once leaves the file there.
    for (const bool refused : {false, true}) {
        test::makeFolders(cache());
        putInCache("file.dat");
        refusedFromTheStart = refused;
        test::StandInForWindows windows(windowsStandIns.fileInformation, &listingFails);
        EXPECT_EQ(VMSI_RemoveQLMKCache(owner, parent().c_str(), "Cache"), 0);
        EXPECT_EQ(exists(cache() + "\\file.dat"), refused);
        const Report first = info("QLMK Cache Folder = " + cache(), owner);
        const Report second =
            refused ? failed : warning("Unable to delete file: " + cache() + "\\.", owner);
        const Report last =
            refused ? warning("Unable to remove directory" + cache(), owner) : failed;
        EXPECT_EQ(takeReports(), (std::vector<Report>{first, second, last})) << refused;
    }
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
    // Hard links are no reparse points: the count of names tells them, and
    // an unknown count (0) is taken for more than one. A folder has one.
    EXPECT_EQ(entryKindOf(file, 0, file, 2), EntryKind::LinkedFile);
    EXPECT_EQ(entryKindOf(file, 0, file, 0), EntryKind::LinkedFile);
    EXPECT_EQ(entryKindOf(file | link, deduplicatedTag, file | link, 3), EntryKind::LinkedFile);
    EXPECT_EQ(entryKindOf(file | link, symbolicLinkTag, file | link, 2), EntryKind::LinkToFile);
    EXPECT_EQ(entryKindOf(folder, 0, folder, 4), EntryKind::Folder);
    // Plain entries.
    EXPECT_EQ(entryKindOf(file | FILE_ATTRIBUTE_READONLY, 0, file | FILE_ATTRIBUTE_READONLY),
              EntryKind::File);
    EXPECT_EQ(entryKindOf(folder | FILE_ATTRIBUTE_HIDDEN, 0, folder | FILE_ATTRIBUTE_HIDDEN),
              EntryKind::Folder);
}

// Which deletion the platform gives, printed for the test command, which runs
// the suite under two Wine versions. With POSIX semantics
// (FileDispositionInfoEx: Windows 10 1809 and later on NTFS, Wine 10), the
// name leaves its folder as soon as the deleting handle is closed, while
// another program (an indexer, an antivirus) still holds the file with
// delete sharing; with the classic disposition alone (older Windows, FAT,
// Wine 8) it stays, pending deletion, until that last handle closes. The
// library falls back to the classic one only when the POSIX request is not
// understood, so a platform that refuses it must say so with one of those
// errors.
TEST(DeletionPath, ThePlatformDeletesAsPosixOrRefusesThePosixRequestAsNotUnderstood) {
    const test::ScratchFolder scratch("deletion-path");
    const std::string file = scratch / "held.dat";
    test::writeFile(file, "held");
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
    const auto exists = [&] { return GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES; };
    const DWORD anySharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    FileHandle indexer(
        CreateFileA(file.c_str(), GENERIC_READ, anySharing, nullptr, OPEN_EXISTING, 0, nullptr));
    FileHandle held(CreateFileA(file.c_str(), DELETE | FILE_WRITE_ATTRIBUTES, anySharing, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(indexer.valid() && held.valid()) << GetLastError();

    constexpr auto dispositionEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
    FILE_DISPOSITION_INFO_EX request = {FILE_DISPOSITION_FLAG_DELETE |
                                        FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                        FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
    const bool posix =
        SetFileInformationByHandle(held.get(), dispositionEx, &request, sizeof request);
    const DWORD refusal = posix ? ERROR_SUCCESS : GetLastError();
    if (!posix) {
        EXPECT_TRUE(refusal == ERROR_INVALID_PARAMETER || refusal == ERROR_NOT_SUPPORTED ||
                    refusal == ERROR_INVALID_FUNCTION)
            << "the POSIX deletion was refused with " << refusal;
        resetAttributesThrough(held.get());
        FILE_DISPOSITION_INFO classic = {TRUE};
        EXPECT_TRUE(
            SetFileInformationByHandle(held.get(), FileDispositionInfo, &classic, sizeof classic))
            << GetLastError();
    }
    held.reset();
    EXPECT_EQ(exists(), !posix) << (posix ? "POSIX" : "classic")
                                << " deletion, the deleting handle closed, another still open";
    indexer.reset();
    EXPECT_FALSE(exists()) << "the name stays after the last handle closed";
    if (posix) {
        std::printf("[figures] deletion path: POSIX (FileDispositionInfoEx)\n");
    } else {
        std::printf("[figures] deletion path: classic (FileDispositionInfo; FileDispositionInfoEx "
                    "refused with %lu)\n",
                    refusal);
    }
    std::fflush(stdout);
}
