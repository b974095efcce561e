// The path normaliser and every action that joins paths, under the ANSI code
// page 932 (Shift-JIS), where the second byte of a character may be 0x5C,
// the value of the backslash: such a character followed by a backslash is
// never merged with it, nor split from its first byte. Run in the project's
// code page 932 prefix (ctest: double-byte-code-page), with real files and
// folders named with these characters.
#include "VardoMSICustomActions.h"
#include "child_processes.h"
#include "machine_keys.h"
#include "normalising_rule.h"
#include "paths.h"
#include "scratch.h"

#include <gtest/gtest.h>

using namespace vmsi;
using test::shiftJisLeadByte;

namespace {

// Shift-JIS characters whose second byte is 0x5C. Written as bytes, so that
// nothing depends on how this file is read.
const Text hyou = "\x95\x5C"; // 表
const Text so = "\x83\x5C";   // ソ
const Text nou = "\x94\x5C";  // 能
const Text juu = "\x8F\x5C";  // 十

class DoubleByteCodePage : public ::testing::Test {
protected:
    DoubleByteCodePage() : scratch_("double-byte") {}

    void SetUp() override { ASSERT_EQ(GetACP(), 932u) << "not run in the code page 932 prefix"; }

    test::ScratchFolder scratch_;
};

} // namespace

TEST_F(DoubleByteCodePage, ThePlatformsLeadBytesAreShiftJisOnes) {
    for (int byte = 0; byte < 256; ++byte) {
        EXPECT_EQ(isAnsiLeadByte(static_cast<unsigned char>(byte)),
                  shiftJisLeadByte(static_cast<unsigned char>(byte)))
            << byte;
    }
}

TEST_F(DoubleByteCodePage, TheNormaliserNeverMergesOrSplitsACharacterEndingIn5C) {
    const Text folder = "C:\\" + hyou;
    EXPECT_EQ(normalisePath(folder + "\\file"), folder + "\\file");
    EXPECT_EQ(normalisePath(folder + "\\\\\\file"), folder + "\\file");
    EXPECT_EQ(normalisePath(folder + "\\"), folder + "\\");
    EXPECT_EQ(normalisePath(hyou + so + "\\\\" + nou), hyou + so + "\\" + nou);
    EXPECT_EQ(normalisePath("\\" + hyou), "\\\\" + hyou);
    EXPECT_EQ(normalisePath("\\\\\\server\\" + juu + "\\\\x"), "\\\\server\\" + juu + "\\x");
    EXPECT_EQ(joinPath(folder, "file"), folder + "\\file");
    EXPECT_EQ(joinPath(folder + "\\", "file"), folder + "\\file");
    EXPECT_EQ(joinPath(folder, so), folder + "\\" + so);

    // Against the rule, with the lead bytes of the code page written out.
    const Text alphabet[] = {"a", "\\", "\\", hyou, so, "\x95", "\x5C", ":"};
    std::uint32_t state = 932;
    for (int round = 0; round < 5000; ++round) {
        Text path;
        for (int i = 0, length = static_cast<int>(state % 16); i < length; ++i) {
            state = state * 1664525u + 1013904223u;
            path += alphabet[(state >> 16) % (sizeof alphabet / sizeof alphabet[0])];
        }
        ASSERT_EQ(normalisePath(path), test::normaliseByRule(path, shiftJisLeadByte))
            << "input: " << path;
    }
}

TEST_F(DoubleByteCodePage, EveryActionThatJoinsPathsKeepsTheCharacters) {
    // Folders whose names end in such a character, so that every join puts a
    // separator right after a 0x5C trail byte.
    const Text folder = scratch_ / hyou;
    const Text toolFolder = scratch_ / so;
    const Text newFolder = scratch_ / nou;
    for (const Text& made : {folder + "\\" + so, toolFolder, newFolder, folder + "\\system"}) {
        test::makeFolders(made);
    }
    test::copyFileOrFail(test::besideThisProgram("recorder.exe"), folder + "\\recorder.exe");
    test::copyFileOrFail(test::besideThisProgram("recorder.exe"), toolFolder + "\\DbMigrate.exe");
    test::copyFileOrFail(test::besideThisProgram("VmsiVersion5123.dll"),
                         folder + "\\VmsiVersion5123.dll");
    test::copyFileOrFail(test::besideThisProgram("VmsiSelfRegistering.dll"),
                         folder + "\\VmsiSelfRegistering.dll");
    test::writeFile(folder + "\\notes.vmsi-no-such-type", "a document of no known type");
    test::writeFile(folder + "\\system\\pcdb.mdb", "catalogue");

    // Files and folders the platform created from these names carry them.
    EXPECT_NE(GetFileAttributesA((folder + "\\recorder.exe").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA((scratch_ / "\x95\\recorder.exe").c_str()),
              INVALID_FILE_ATTRIBUTES);

    test::ChildProcessWatch children;
    EXPECT_EQ(VMSI_Launch(nullptr, folder.c_str(), "notes.vmsi-no-such-type", ""), 1);

    EXPECT_EQ(
        VMSI_LaunchWait(nullptr, (folder + "\\").c_str(), "recorder.exe", (hyou + "\\").c_str()),
        1);
    const auto record = test::readFile(folder + "\\recorder.exe.record");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(test::recordField(*record, "commandLine"), folder + "\\recorder.exe " + hyou + "\\");

    EXPECT_EQ(VMSI_LaunchDbMigrate(nullptr, (toolFolder + "\\").c_str(), (hyou + "\\old").c_str(),
                                   (newFolder + "\\").c_str(), (juu + ".mdb").c_str()),
              1);
    const auto conversion = test::readFile(toolFolder + "\\DbMigrate.exe.record");
    ASSERT_TRUE(conversion.has_value());
    EXPECT_EQ(test::recordField(*conversion, "commandLine"),
              toolFolder + "\\DbMigrate.exe  -i -o \"" + hyou + "\\old\" -n \"" + newFolder + "\\" +
                  juu + ".mdb\"");

    EXPECT_EQ(VMSI_CheckVersionOfFile(nullptr, folder.c_str(), "VmsiVersion5123.dll", 5, 1, 2, 3),
              1);

    EXPECT_EQ(VMSI_Register(nullptr, "/s", folder.c_str(), "VmsiSelfRegistering.dll"), 1);
    const auto registered = test::waitForFile(folder + "\\VmsiSelfRegistering.dll.registered");
    ASSERT_TRUE(registered.has_value()) << "the component was not registered";
    EXPECT_EQ(test::recordField(*registered, "commandLine"),
              "regsvr32 /s \"" + folder + "\\VmsiSelfRegistering.dll\"");
    EXPECT_EQ(children.settle(20000), std::vector<Text>{});

    EXPECT_EQ(VMSI_WriteFavorites(nullptr, (folder + "\\").c_str(), so.c_str(),
                                  (nou + "\\" + juu).c_str()),
              1);
    EXPECT_EQ(test::readFile(folder + "\\" + so + "\\favorite.txt"),
              folder + "\\" + nou + "\\" + juu + "\r\n");

    {
        test::MachineRegistryKey installation("Software\\Vardo\\Quillmark\\4.0");
        installation.setString("InstallLocation", folder);
        char database[MAX_PATH] = "";
        EXPECT_EQ(VMSI_CheckForQLMKDB(nullptr, database), 1);
        EXPECT_EQ(Text(database), folder + "\\system\\pcdb.mdb");
    }

    {
        const char* const shellFolders =
            "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
        test::RegistryValueOverride desktop(HKEY_CURRENT_USER, shellFolders, "Desktop");
        test::RegistryValueOverride programs(HKEY_CURRENT_USER, shellFolders, "Programs");
        desktop.set(newFolder);
        programs.set(folder);
        test::writeFile(folder + "\\" + so + "\\" + juu + ".lnk", "shortcut");
        EXPECT_EQ(VMSI_CreateDesktopShortcut(nullptr, 0, so.c_str(), (juu + ".lnk").c_str()), 1);
        EXPECT_EQ(test::readFile(newFolder + "\\" + juu + ".lnk"), "shortcut");
        EXPECT_EQ(VMSI_RemoveDesktopShortcut(nullptr, 0, (juu + ".lnk").c_str()), 1);
        EXPECT_EQ(GetFileAttributesA((newFolder + "\\" + juu + ".lnk").c_str()),
                  INVALID_FILE_ATTRIBUTES);
    }

    // The cache folder ソ in the folder 表: its files go, then the folder;
    // the folder around it keeps everything else.
    test::writeFile(folder + "\\" + so + "\\cache.dat", "cache");
    test::removeTree(folder + "\\" + so + "\\favorite.txt");
    test::removeTree(folder + "\\" + so + "\\" + juu + ".lnk");
    EXPECT_EQ(VMSI_RemoveQLMKCache(nullptr, (folder + "\\").c_str(), (so + "\\").c_str()), 0);
    EXPECT_EQ(GetFileAttributesA((folder + "\\" + so).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(test::readFile(folder + "\\system\\pcdb.mdb"), "catalogue");
}
