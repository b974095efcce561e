// Copying and removing desktop shortcuts, with the Shell Folders values of
// HKCU and HKLM pointed at scratch folders for the test and restored after.
#include "shortcuts.h"
#include "recorded_reports.h"
#include "scratch.h"
#include "tree_snapshot.h"
#include "unix_links.h"
#include "windows_stand_ins.h"

#include <gtest/gtest.h>

#include <set>

using namespace vmsi;

namespace {

const char* const shellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Every file and folder under a folder, by its path relative to it.
void listTree(const std::string& folder, const std::string& prefix, std::set<std::string>& into) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") {
            into.insert(prefix + name);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                listTree(folder + "\\" + name, prefix + name + "\\", into);
            }
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

class ShortcutTest : public ::testing::Test {
protected:
    ShortcutTest()
        : scratch_("shortcuts"), userDesktop_(HKEY_CURRENT_USER, shellFoldersKey, "Desktop"),
          userPrograms_(HKEY_CURRENT_USER, shellFoldersKey, "Programs"),
          commonDesktop_(HKEY_LOCAL_MACHINE, shellFoldersKey, "Common Desktop"),
          commonPrograms_(HKEY_LOCAL_MACHINE, shellFoldersKey, "Common Programs") {
        for (const char* folder : {"UserDesktop", "UserPrograms\\Quillmark", "CommonDesktop",
                                   "CommonPrograms\\Quillmark"}) {
            test::makeFolders(scratch_ / folder);
        }
        userDesktop_.set(userDesktop());
        userPrograms_.set(userPrograms());
        // With a trailing separator, as the registry may hold them.
        commonDesktop_.set(commonDesktop() + "\\");
        commonPrograms_.set(commonPrograms() + "\\");
        test::writeFile(userPrograms() + "\\Quillmark\\Quillmark.lnk", "user shortcut");
        test::writeFile(commonPrograms() + "\\Quillmark\\Quillmark.lnk", "common shortcut");
        takeReports();
    }

    std::string userDesktop() const { return scratch_ / "UserDesktop"; }
    std::string userPrograms() const { return scratch_ / "UserPrograms"; }
    std::string commonDesktop() const { return scratch_ / "CommonDesktop"; }
    std::string commonPrograms() const { return scratch_ / "CommonPrograms"; }

    std::set<std::string> allFiles() const {
        std::set<std::string> files;
        listTree(scratch_.path(), "", files);
        return files;
    }

    // The four reports every copy begins with, then the last one.
    static std::vector<Report> copyReports(const std::string& mode, const std::string& desktop,
                                           const std::string& programs, const std::string& source,
                                           const std::string& destination, const Report& last) {
        return {
            info("Allusers: " + mode, owner),
            info("Desktop = " + desktop + "\nStartmenuPrograms = " + programs, owner),
            info("ShortCut Source = " + source, owner),
            info("ShortCut Dest = " + destination, owner),
            last,
        };
    }
    static std::vector<Report> removeReports(const std::string& mode, const std::string& desktop,
                                             const std::string& target, const Report& last) {
        return {
            info("Allusers: " + mode, owner),
            info("Desktop = " + desktop, owner),
            info("csShortCutToDelete = " + target, owner),
            last,
        };
    }

    test::ScratchFolder scratch_;
    test::RegistryValueOverride userDesktop_;
    test::RegistryValueOverride userPrograms_;
    test::RegistryValueOverride commonDesktop_;
    test::RegistryValueOverride commonPrograms_;
};

} // namespace

TEST_F(ShortcutTest, ModeZeroAndUnknownModesCopyBetweenTheUsersFolders) {
    for (int mode : {0, 3}) {
        EXPECT_EQ(createDesktopShortcut(owner, mode, "Quillmark", "Quillmark.lnk"), 1);
        EXPECT_EQ(takeReports(),
                  copyReports(std::to_string(mode), userDesktop(), userPrograms(),
                              userPrograms() + "\\Quillmark\\Quillmark.lnk",
                              userDesktop() + "\\Quillmark.lnk", info("Shortcut Copied", owner)));
        EXPECT_EQ(test::readFile(userDesktop() + "\\Quillmark.lnk"), "user shortcut");
        EXPECT_EQ(test::readFile(userPrograms() + "\\Quillmark\\Quillmark.lnk"), "user shortcut");
        DeleteFileA((userDesktop() + "\\Quillmark.lnk").c_str());
    }
}

TEST_F(ShortcutTest, ModeOneCopiesBetweenTheAllUsersFolders) {
    EXPECT_EQ(createDesktopShortcut(owner, 1, "Quillmark", "Quillmark.lnk"), 1);
    EXPECT_EQ(takeReports(),
              copyReports("1", commonDesktop() + "\\", commonPrograms() + "\\",
                          commonPrograms() + "\\Quillmark\\Quillmark.lnk",
                          commonDesktop() + "\\Quillmark.lnk", info("Shortcut Copied", owner)));
    EXPECT_EQ(test::readFile(commonDesktop() + "\\Quillmark.lnk"), "common shortcut");
    EXPECT_FALSE(test::readFile(userDesktop() + "\\Quillmark.lnk").has_value());
}

TEST_F(ShortcutTest, ModeTwoFollowsTheRightToWriteMachineSettings) {
    // Wine's token is elevated: HKLM\Software opens for writing.
    EXPECT_EQ(createDesktopShortcut(owner, 2, "Quillmark", "Quillmark.lnk"), 1);
    EXPECT_EQ(test::readFile(commonDesktop() + "\\Quillmark.lnk"), "common shortcut");
    EXPECT_EQ(takeReports().front(), info("Allusers: 2", owner));

    // A DACL that only lets HKLM\Software be read refuses the write open.
    test::ReadOnlyRegistryKey readOnly(HKEY_LOCAL_MACHINE, "Software");
    ASSERT_TRUE(readOnly.applied());
    EXPECT_EQ(createDesktopShortcut(owner, 2, "Quillmark", "Quillmark.lnk"), 1);
    EXPECT_EQ(test::readFile(userDesktop() + "\\Quillmark.lnk"), "user shortcut");
    EXPECT_EQ(
        takeReports()[1],
        info("Desktop = " + userDesktop() + "\nStartmenuPrograms = " + userPrograms(), owner));
}

TEST_F(ShortcutTest, EachMissingAllUsersFolderFallsBackToTheUsersOnItsOwn) {
    commonDesktop_.remove();
    EXPECT_EQ(createDesktopShortcut(owner, 1, "Quillmark", "Quillmark.lnk"), 1);
    EXPECT_EQ(test::readFile(userDesktop() + "\\Quillmark.lnk"), "common shortcut");
    EXPECT_EQ(takeReports()[1], info("Desktop = " + userDesktop() +
                                         "\nStartmenuPrograms = " + commonPrograms() + "\\",
                                     owner));
    EXPECT_EQ(removeDesktopShortcut(owner, 1, "Quillmark.lnk"), 1);
    takeReports();

    commonDesktop_.set(commonDesktop());
    commonPrograms_.remove();
    EXPECT_EQ(createDesktopShortcut(owner, 1, "Quillmark", "Quillmark.lnk"), 1);
    EXPECT_EQ(test::readFile(commonDesktop() + "\\Quillmark.lnk"), "user shortcut");
    takeReports();

    // Without even the user's value the folder is empty and the path begins
    // with the network form, which names no file.
    userDesktop_.remove();
    EXPECT_EQ(createDesktopShortcut(owner, 0, "Quillmark", "Quillmark.lnk"), 0);
    EXPECT_EQ(takeReports(),
              copyReports("0", "", userPrograms(), userPrograms() + "\\Quillmark\\Quillmark.lnk",
                          "\\\\Quillmark.lnk",
                          warning("Could not copy shortcut: " + userPrograms() +
                                      "\\Quillmark\\Quillmark.lnk",
                                  owner)));
    EXPECT_EQ(removeDesktopShortcut(owner, 0, "Quillmark.lnk"), 0);
    EXPECT_EQ(takeReports(), removeReports("0", "", "\\\\Quillmark.lnk",
                                           warning("Could not find shortcut", owner)));
}

TEST_F(ShortcutTest, ProgramGroupsMayBeEmptyOrSeveralLevelsDeep) {
    test::writeFile(userPrograms() + "\\Top.lnk", "top");
    EXPECT_EQ(createDesktopShortcut(owner, 0, "", "Top.lnk"), 1);
    EXPECT_EQ(takeReports()[2], info("ShortCut Source = " + userPrograms() + "\\Top.lnk", owner));
    EXPECT_EQ(test::readFile(userDesktop() + "\\Top.lnk"), "top");

    test::makeFolders(userPrograms() + "\\Vardo\\Tools");
    test::writeFile(userPrograms() + "\\Vardo\\Tools\\Deep.lnk", "deep");
    EXPECT_EQ(createDesktopShortcut(owner, 0, "Vardo\\Tools\\", "Deep.lnk"), 1);
    EXPECT_EQ(takeReports()[2],
              info("ShortCut Source = " + userPrograms() + "\\Vardo\\Tools\\Deep.lnk", owner));
    EXPECT_EQ(test::readFile(userDesktop() + "\\Deep.lnk"), "deep");
}

TEST_F(ShortcutTest, AMissingSourceOrAnExistingDestinationCopiesNothing) {
    const std::string missing = userPrograms() + "\\Quillmark\\Missing.lnk";
    EXPECT_EQ(createDesktopShortcut(owner, 0, "Quillmark", "Missing.lnk"), 0);
    EXPECT_EQ(takeReports(),
              copyReports("0", userDesktop(), userPrograms(), missing,
                          userDesktop() + "\\Missing.lnk",
                          warning("could not find source shortcut: " + missing, owner)));

    test::writeFile(userDesktop() + "\\Quillmark.lnk", "the user's own");
    const std::string source = userPrograms() + "\\Quillmark\\Quillmark.lnk";
    EXPECT_EQ(createDesktopShortcut(owner, 0, "Quillmark", "Quillmark.lnk"), 0);
    EXPECT_EQ(takeReports().back(), warning("Could not copy shortcut: " + source, owner));
    EXPECT_EQ(test::readFile(userDesktop() + "\\Quillmark.lnk"), "the user's own");
}

TEST_F(ShortcutTest, RemovesAReadOnlyShortcutFromTheChosenDesktopOnly) {
    const std::string shortcut = userDesktop() + "\\Quillmark.lnk";
    test::writeFile(shortcut, "user shortcut");
    const DWORD readOnlyAndHidden = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(SetFileAttributesA(shortcut.c_str(), readOnlyAndHidden));

    // Mode 1 looks on the all-users desktop alone.
    EXPECT_EQ(removeDesktopShortcut(owner, 1, "Quillmark.lnk"), 0);
    EXPECT_EQ(takeReports(),
              removeReports("1", commonDesktop() + "\\", commonDesktop() + "\\Quillmark.lnk",
                            warning("Could not find shortcut", owner)));
    EXPECT_EQ(GetFileAttributesA(shortcut.c_str()) & readOnlyAndHidden, readOnlyAndHidden);

    EXPECT_EQ(removeDesktopShortcut(owner, 0, "Quillmark.lnk"), 1);
    EXPECT_EQ(takeReports(),
              removeReports("0", userDesktop(), shortcut, info("Shortcut deleted", owner)));
    EXPECT_FALSE(test::readFile(shortcut).has_value());
}

TEST_F(ShortcutTest, AFailedDeletionReportsTheSystemsErrorCode) {
    // Held open without delete sharing, the file cannot be deleted (32); its
    // read-only attribute is cleared all the same and stays cleared.
    const std::string shortcut = userDesktop() + "\\Quillmark.lnk";
    test::writeFile(shortcut, "user shortcut");
    ASSERT_TRUE(SetFileAttributesA(shortcut.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE held = CreateFileA(shortcut.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(removeDesktopShortcut(owner, 0, "Quillmark.lnk"), 0);
    CloseHandle(held);
    EXPECT_EQ(takeReports().back(), warning("Error Deleting Shortcut: GetLastError = " +
                                                std::to_string(ERROR_SHARING_VIOLATION),
                                            owner));
    EXPECT_EQ(GetFileAttributesA(shortcut.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

    // An empty name makes the desktop itself the target: a folder, which is
    // refused (5) and keeps its attributes. (Wine keeps no read-only
    // attribute on folders; hidden and system it keeps.)
    const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(SetFileAttributesA(userDesktop().c_str(), hiddenSystem));
    EXPECT_EQ(removeDesktopShortcut(owner, 0, ""), 0);
    EXPECT_EQ(takeReports(),
              removeReports("0", userDesktop(), userDesktop() + "\\",
                            warning("Error Deleting Shortcut: GetLastError = 5", owner)));
    EXPECT_EQ(GetFileAttributesA(userDesktop().c_str()), FILE_ATTRIBUTE_DIRECTORY | hiddenSystem);
    SetFileAttributesA(userDesktop().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ShortcutTest, ADesktopEntryThatLinksElsewhereNeverChangesWhatItLinksTo) {
    // Unix links shown by Wine as reparse points (Wine cannot make junctions):
    // one to an empty hidden folder, which a deletion through the link would
    // remove, and one to a hidden folder holding a read-only file. And a
    // second name (a hard link) of that read-only file, whose attributes are
    // every name's: the POSIX deletion takes that name alone, the classic
    // one (Windows 7, Wine 8) cannot take a read-only name without clearing
    // them, so there it stays (5). Either way the file keeps them.
    test::makeFolders(scratch_ / "Outside\\Empty");
    test::makeFolders(scratch_ / "Outside\\Full");
    test::writeFile(scratch_ / "Outside\\Full\\precious.lnk", "precious");
    SetFileAttributesA((scratch_ / "Outside\\Full\\precious.lnk").c_str(), FILE_ATTRIBUTE_READONLY);
    for (const char* folder : {"Outside\\Empty", "Outside\\Full"}) {
        SetFileAttributesA((scratch_ / folder).c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    const test::TreeSnapshot outside = test::snapshotOf(scratch_ / "Outside");
    test::UnixSymbolicLink toEmpty(userDesktop() + "\\Empty.lnk",
                                   test::unixPathOf(scratch_ / "Outside\\Empty"));
    test::UnixSymbolicLink toFull(userDesktop() + "\\Full.lnk",
                                  test::unixPathOf(scratch_ / "Outside\\Full"));
    ASSERT_TRUE(CreateHardLinkA((userDesktop() + "\\Hard.lnk").c_str(),
                                (scratch_ / "Outside\\Full\\precious.lnk").c_str(), nullptr));

    const bool posix = test::platformDeletesAsPosix();
    for (const char* name : {"Empty.lnk", "Full.lnk", "Hard.lnk"}) {
        const bool deleted = posix && std::string(name) == "Hard.lnk";
        EXPECT_EQ(removeDesktopShortcut(owner, 0, name), deleted ? 1 : 0) << name;
        EXPECT_EQ(takeReports().back(),
                  deleted ? info("Shortcut deleted", owner)
                          : warning("Error Deleting Shortcut: GetLastError = 5", owner))
            << name;
    }
    EXPECT_EQ(test::snapshotOf(scratch_ / "Outside"), outside);
}

TEST_F(ShortcutTest, NamesThatClimbOutOfTheirFolderAreRefused) {
    test::makeFolders(scratch_ / "Outside");
    test::writeFile(scratch_ / "Outside\\victim.lnk", "victim");
    const std::set<std::string> before = allFiles();
    const Report refusal = warning("Shortcut must lie below its folder", owner);

    EXPECT_EQ(removeDesktopShortcut(owner, 0, "..\\Outside\\victim.lnk"), 0);
    EXPECT_EQ(takeReports(), removeReports("0", userDesktop(),
                                           userDesktop() + "\\..\\Outside\\victim.lnk", refusal));
    for (const char* group : {"..\\Outside", "../Outside", "Quillmark\\..\\..\\Outside",
                              ". .\\Outside", "\\Outside", "/Outside", "C:\\Outside", "C:Outside",
                              "Quill*", "Quill?", "\"Quillmark\"", "<Quillmark>", "Quill|mark"}) {
        EXPECT_EQ(createDesktopShortcut(owner, 0, group, "victim.lnk"), 0) << group;
        EXPECT_EQ(takeReports().back(), refusal) << group;
    }
    for (const char* name : {"../Outside/victim.lnk", "..\\..\\victim.lnk", "\\victim.lnk",
                             "C:victim.lnk", "victim.lnk:stream", "victim?.lnk", "victim|.lnk"}) {
        EXPECT_EQ(createDesktopShortcut(owner, 0, "Quillmark", name), 0) << name;
        EXPECT_EQ(takeReports().back(), refusal) << name;
        EXPECT_EQ(removeDesktopShortcut(owner, 0, name), 0) << name;
        EXPECT_EQ(takeReports().back(), refusal) << name;
    }
    EXPECT_EQ(allFiles(), before);
}

namespace {

// A stand-in for Windows: a shortcut whose access list refuses the
// installer its deletion. Wine keeps no access lists on files (a file whose
// list grants reading alone opens for deletion), so an open that asks for
// the right to delete is refused here as Windows refuses it.
HANDLE WINAPI deletionRefusedByAccessList(LPCSTR path, DWORD access, DWORD share,
                                          LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                          DWORD flags, HANDLE model) {
    if (access & DELETE) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(path, access, share, security, disposition, flags, model);
}

} // namespace

TEST_F(ShortcutTest, ARefusedDeletionAndAFatVolumeAreHandledAsOnWindows) {
    const std::string shortcut = userDesktop() + "\\Quillmark.lnk";
    const DWORD readOnlyAndHidden = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    test::writeFile(shortcut, "user shortcut");
    ASSERT_TRUE(SetFileAttributesA(shortcut.c_str(), readOnlyAndHidden));
    {
        // Refused, the deletion leaves the attributes reset all the same.
        test::StandInForWindows windows(windowsStandIns.createFile, &deletionRefusedByAccessList);
        EXPECT_EQ(removeDesktopShortcut(owner, 0, "Quillmark.lnk"), 0);
        EXPECT_EQ(takeReports().back(),
                  warning("Error Deleting Shortcut: GetLastError = 5", owner));
        EXPECT_EQ(GetFileAttributesA(shortcut.c_str()) & readOnlyAndHidden, 0u);
    }
    // On a FAT volume a read-only shortcut goes as it goes on NTFS.
    ASSERT_TRUE(SetFileAttributesA(shortcut.c_str(), readOnlyAndHidden));
    test::fatVolumeRefusals = 0;
    test::StandInForWindows windows(windowsStandIns.fileInformation, &test::fatVolume);
    test::StandInForWindows noPosix(windowsStandIns.setFileInformation, &test::fatVolumeDeletion);
    EXPECT_EQ(removeDesktopShortcut(owner, 0, "Quillmark.lnk"), 1);
    EXPECT_FALSE(test::readFile(shortcut).has_value());
    EXPECT_GT(test::fatVolumeRefusals, 0);
}
