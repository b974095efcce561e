// The path normaliser, and the path joining and existence test built on it.
#include "path_normaliser.h"
#include "paths.h"
#include "normalising_rule.h"
#include "scratch.h"

#include <gtest/gtest.h>

#include <random>

using namespace vmsi;

namespace {

using test::noLeadBytes;
using test::shiftJisLeadByte;

std::string normalise(const std::string& path) {
    return normalisePath(path, noLeadBytes);
}

} // namespace

TEST(PathNormaliser, CollapsesEveryRunOfBackslashesToOne) {
    EXPECT_EQ(normalise("C:\\App\\\\setup.exe"), "C:\\App\\setup.exe");
    EXPECT_EQ(normalise("C:\\App\\\\\\setup.exe"), "C:\\App\\setup.exe");
    EXPECT_EQ(normalise("C:\\\\\\\\App\\\\\\\\\\setup.exe"), "C:\\App\\setup.exe");
    EXPECT_EQ(normalise("a\\\\b\\c\\\\\\d"), "a\\b\\c\\d");
}

TEST(PathNormaliser, GivesEveryLeadingSeparatorTheNetworkForm) {
    EXPECT_EQ(normalise("\\\\server\\share\\\\file"), "\\\\server\\share\\file");
    EXPECT_EQ(normalise("\\\\\\server\\share"), "\\\\server\\share");
    EXPECT_EQ(normalise("\\\\\\\\\\server"), "\\\\server");
    EXPECT_EQ(normalise("\\system\\pcdb.mdb"), "\\\\system\\pcdb.mdb");
    EXPECT_EQ(normalise("\\"), "\\\\");
}

TEST(PathNormaliser, LeavesOtherTextsAlone) {
    EXPECT_EQ(normalise(""), "");
    EXPECT_EQ(normalise("setup.exe"), "setup.exe");
    EXPECT_EQ(normalise("C:\\App\\"), "C:\\App\\");
    EXPECT_EQ(normalise("C:/App//x"), "C:/App//x");
    EXPECT_EQ(normalise("\"E:\\New\\\\cat.mdb\""), "\"E:\\New\\cat.mdb\"");
}

TEST(PathNormaliser, NeverTakesTheTrailByteOfADoubleByteCharacterForABackslash) {
    // 0x95 0x5C is one Shift-JIS character; the backslash after it is a
    // separator of its own and must stay.
    const std::string folder = "C:\\\x95\x5C";
    EXPECT_EQ(normalisePath(folder + "\\file", shiftJisLeadByte), folder + "\\file");
    EXPECT_EQ(normalisePath(folder + "\\\\file", shiftJisLeadByte), folder + "\\file");
    // Without the lead-byte test the same bytes are three backslashes.
    EXPECT_EQ(normalisePath(folder + "\\file", noLeadBytes), "C:\\\x95\\file");
    // A lead byte as the very last byte stands alone.
    EXPECT_EQ(normalisePath("a\\\\\x95", shiftJisLeadByte), "a\\\x95");
    EXPECT_EQ(normalisePath("\x95\x5C\\\\", shiftJisLeadByte), "\x95\x5C\\");
}

TEST(PathNormaliser, AgreesWithRepeatedPairHalvingOnRandomPaths) {
    std::mt19937 random(20261207);
    const char alphabet[] = {'a', '\\', '\\', '\\', '\x95', '\x5C', ':', '"'};
    for (int round = 0; round < 5000; ++round) {
        std::string path;
        const int length = static_cast<int>(random() % 24);
        for (int i = 0; i < length; ++i) {
            path += alphabet[random() % sizeof alphabet];
        }
        ASSERT_EQ(normalisePath(path, shiftJisLeadByte),
                  test::normaliseByRule(path, shiftJisLeadByte))
            << "input: " << path;
        ASSERT_EQ(normalisePath(path, noLeadBytes), test::normaliseByRule(path, noLeadBytes))
            << "input: " << path;
    }
}

TEST(PathNormaliser, AgreesWithRepeatedPairHalvingOnLongPaths) {
    // Long texts: runs, their ends and double-byte characters at every
    // distance from one another.
    std::mt19937 random(20261208);
    const char* const pieces[] = {
        "a", "\\", "\\\\", "\\\\\\\\\\\\\\\\\\", "\x95\x5C", "\x95", "\xE0", "Program Files", "C:"};
    for (int round = 0; round < 3000; ++round) {
        std::string path;
        const int count = static_cast<int>(random() % 48);
        for (int i = 0; i < count; ++i) {
            path += pieces[random() % (sizeof pieces / sizeof pieces[0])];
        }
        ASSERT_EQ(normalisePath(path, shiftJisLeadByte),
                  test::normaliseByRule(path, shiftJisLeadByte))
            << "input: " << path;
        ASSERT_EQ(normalisePath(path, noLeadBytes), test::normaliseByRule(path, noLeadBytes))
            << "input: " << path;
    }
}

TEST(PathNormaliser, AgreesWithRepeatedPairHalvingOnEveryPatternOf16Bytes) {
    // Every pattern of backslashes and letters 16 bytes long, after a letter
    // and after a backslash whose run it may go on.
    for (const char before : {'a', '\\'}) {
        for (unsigned pattern = 0; pattern < 0x10000; ++pattern) {
            std::string path(15, 'a');
            path += before;
            for (int place = 0; place < 16; ++place) {
                path += (pattern >> place & 1) != 0 ? '\\' : 'a';
            }
            ASSERT_EQ(normalise(path), test::normaliseByRule(path, noLeadBytes))
                << "input: " << path;
        }
    }
}

TEST(PathNormaliser, CollapsesARunOfAMegabyteToOne) {
    const std::string run(1 << 20, '\\');
    EXPECT_EQ(normalise(run), "\\\\");
    EXPECT_EQ(normalise("C:" + run + "x" + run), "C:\\x\\");
}

TEST(PathNormaliser, TakesBytesBelow0x80AsCharactersOfTheirOwnWhateverTheLeadByteTest) {
    // A test that calls every byte a lead byte: below 0x80 it must not be
    // believed, or a letter would take the backslash after it for its
    // second byte.
    const auto everyByteLeads = [](unsigned char) { return true; };
    const auto highBytesLead = [](unsigned char byte) { return byte >= 0x80; };
    std::string path;
    for (int byte = 1; byte < 256; ++byte) {
        path += static_cast<char>(byte);
        path += "\\\\";
    }
    EXPECT_EQ(normalisePath(path, everyByteLeads), test::normaliseByRule(path, highBytesLead));
}

TEST(JoinPath, PutsExactlyOneBackslashBeforeTheName) {
    EXPECT_EQ(joinPath("C:\\App\\", "setup.exe"), "C:\\App\\setup.exe");
    EXPECT_EQ(joinPath("C:\\App", "setup.exe"), "C:\\App\\setup.exe");
    EXPECT_EQ(joinPath("", "setup.exe"), "\\\\setup.exe");
    EXPECT_EQ(joinPath("", ""), "\\\\");
}

TEST(PathExists, AcceptsFilesAndFoldersAndNothingElse) {
    test::ScratchFolder scratch("path-exists");
    test::writeFile(scratch / "file.txt", "x");
    EXPECT_TRUE(pathExists(scratch / "file.txt"));
    EXPECT_TRUE(pathExists(scratch.path()));
    EXPECT_FALSE(pathExists(scratch / "missing.txt"));
    EXPECT_FALSE(pathExists(""));
    EXPECT_FALSE(pathExists("\\\\setup.exe"));
}
