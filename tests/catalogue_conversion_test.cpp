// Starting the catalogue conversion tool: the recorder program, copied as
// DbMigrate.exe, shows the exact command line the tool receives.
#include "VardoMSICustomActions.h"
#include "command_lines.h"
#include "recorded_reports.h"
#include "scratch.h"

#include <gtest/gtest.h>

using namespace vmsi;

namespace {

// One field of the recorder's record ("commandLine", "arg1", ...).
std::string recorded(const std::optional<std::string>& record, const std::string& field) {
    if (!record) {
        return "<the tool did not run>";
    }
    const std::string start = "\n" + field + "=";
    const std::size_t at = ("\n" + *record).find(start);
    if (at == std::string::npos) {
        return "<no " + field + ">";
    }
    const std::size_t from = at + start.size() - 1;
    return record->substr(from, record->find('\n', from) - from);
}

bool noLeadBytes(unsigned char) {
    return false;
}

class CatalogueConversionTest : public ::testing::Test {
protected:
    CatalogueConversionTest() : scratch_("catalogue-conversion") {
        test::makeFolders(scratch_ / "Tools");
        test::copyFileOrFail(test::besideThisProgram("recorder.exe"), tool());
        takeReports();
    }

    std::string tool(const std::string& folder = "Tools") const {
        return scratch_ / folder + "\\DbMigrate.exe";
    }
    std::optional<std::string> takeRecord(const std::string& folder = "Tools") const {
        auto record = test::readFile(tool(folder) + ".record");
        DeleteFileA((tool(folder) + ".record").c_str());
        return record;
    }

    test::ScratchFolder scratch_;
};

} // namespace

TEST_F(CatalogueConversionTest, TheToolReceivesTheOldAndNewCataloguesBehindItsSwitches) {
    EXPECT_EQ(VMSI_LaunchDbMigrate(owner, (scratch_ / "Tools\\").c_str(), "D:\\Old\\old.mdb",
                                   "E:\\New\\", "cat.mdb"),
              1);
    const std::string parameters = " -i -o \"D:\\Old\\old.mdb\" -n \"E:\\New\\cat.mdb\"";
    const auto record = takeRecord();
    EXPECT_EQ(recorded(record, "commandLine"), tool() + " " + parameters);
    EXPECT_EQ(recorded(record, "arg3"), "D:\\Old\\old.mdb");
    EXPECT_EQ(recorded(record, "arg5"), "E:\\New\\cat.mdb");
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("File to Launch: " + tool(), owner),
                                 info("Launch Params: " + parameters, owner),
                             }));

    // Empty and null texts still give every switch; the backslash that ends
    // the new path is doubled before its quote.
    EXPECT_EQ(VMSI_LaunchDbMigrate(nullptr, (scratch_ / "Tools").c_str(), "", nullptr, nullptr), 1);
    EXPECT_EQ(recorded(takeRecord(), "commandLine"), tool() + "  -i -o \"\" -n \"\\\\\"");
}

TEST_F(CatalogueConversionTest, OnlyTheNewPathIsNormalisedAndANetworkFolderKeepsItsForm) {
    EXPECT_EQ(catalogueConversionParameters("D:\\\\Old\\\\\\old.mdb", "E:\\\\New\\\\",
                                            "\\\\sub\\\\cat.mdb", noLeadBytes),
              " -i -o \"D:\\\\Old\\\\\\old.mdb\" -n \"E:\\New\\sub\\cat.mdb\"");
    // A share keeps its two leading backslashes (three or more become two);
    // a folder on the current drive keeps its one.
    for (const char* share : {"\\\\server\\share", "\\\\\\server\\\\share\\"}) {
        EXPECT_EQ(catalogueConversionParameters("\\\\server\\old.mdb", share, "c.mdb", noLeadBytes),
                  " -i -o \"\\\\server\\old.mdb\" -n \"\\\\server\\share\\c.mdb\"")
            << share;
    }
    EXPECT_EQ(catalogueConversionParameters("o", "\\Photos", "c.mdb", noLeadBytes),
              " -i -o \"o\" -n \"\\Photos\\c.mdb\"");
}

TEST_F(CatalogueConversionTest, TheToolReadsEachPathWholeAndAQuoteStartsNothing) {
    // Paths that end in backslashes, which would otherwise escape their
    // closing quotes: the tool still reads five arguments.
    EXPECT_EQ(VMSI_LaunchDbMigrate(owner, (scratch_ / "Tools").c_str(), "C:\\Old Cat\\\\",
                                   "\\\\nas\\photos\\", ""),
              1);
    const auto record = takeRecord();
    EXPECT_EQ(recorded(record, "arg3"), "C:\\Old Cat\\\\");
    EXPECT_EQ(recorded(record, "arg4"), "-n");
    EXPECT_EQ(recorded(record, "arg5"), "\\\\nas\\photos\\");
    EXPECT_EQ(recorded(record, "arg6"), "<no arg6>");

    // A quote would end a path early and make the rest switches of the tool.
    const std::string hostile = "C:\\a.mdb\" -n \"C:\\evil.dll\" -x \"";
    const std::string tools = scratch_ / "Tools";
    takeReports();
    EXPECT_EQ(VMSI_LaunchDbMigrate(owner, tools.c_str(), hostile.c_str(), "n", "f"), 0);
    EXPECT_EQ(VMSI_LaunchDbMigrate(owner, tools.c_str(), "o", hostile.c_str(), "f"), 0);
    EXPECT_EQ(VMSI_LaunchDbMigrate(owner, tools.c_str(), "o", "n", hostile.c_str()), 0);
    EXPECT_FALSE(takeRecord().has_value()) << "the tool was started";
    const std::vector<Report> reports = takeReports();
    ASSERT_EQ(reports.size(), 9u);
    EXPECT_EQ(reports[1], info("Launch Params:  -i -o \"" + hostile + "\" -n \"n\\f\"", owner));
    for (std::size_t i = 0; i < reports.size(); i += 3) {
        EXPECT_EQ(reports[i], info("File to Launch: " + tool(), owner));
        EXPECT_EQ(reports[i + 2], warning("That file doesn't exist", owner));
    }
}

TEST_F(CatalogueConversionTest, AToolThatFailsStillCountsAndAMissingOneIsNotStarted) {
    // The recorder ends with the exit code its "--exit=" argument asks for.
    EXPECT_EQ(VMSI_LaunchDbMigrate(owner, (scratch_ / "Tools").c_str(), "--exit=3", "C:\\", "x"),
              1);
    EXPECT_EQ(recorded(takeRecord(), "arg3"), "--exit=3");

    takeReports();
    EXPECT_EQ(VMSI_LaunchDbMigrate(owner, (scratch_ / "Missing").c_str(), "a", "b", "c"), 0);
    EXPECT_EQ(VMSI_LaunchDbMigrate(owner, "", "a", "b", "c"), 0);
    const std::string parameters = " -i -o \"a\" -n \"b\\c\"";
    EXPECT_EQ(takeReports(), (std::vector<Report>{
                                 info("File to Launch: " + tool("Missing"), owner),
                                 info("Launch Params: " + parameters, owner),
                                 warning("That file doesn't exist", owner),
                                 info("File to Launch: \\\\DbMigrate.exe", owner),
                                 info("Launch Params: " + parameters, owner),
                                 warning("That file doesn't exist", owner),
                             }));
}

TEST_F(CatalogueConversionTest, AToolPathWithASpaceIsQuotedAndLongTextsAreHandled) {
    test::makeFolders(scratch_ / "My Tools");
    test::copyFileOrFail(test::besideThisProgram("recorder.exe"), tool("My Tools"));
    EXPECT_EQ(VMSI_LaunchDbMigrate(nullptr, (scratch_ / "My Tools").c_str(), "o", "n", "f"), 1);
    const auto record = takeRecord("My Tools");
    EXPECT_EQ(recorded(record, "commandLine"),
              "\"" + tool("My Tools") + "\"  -i -o \"o\" -n \"n\\f\"");
    EXPECT_EQ(recorded(record, "arg0"), tool("My Tools"));

    for (std::size_t length : {259, 260, 261}) {
        const std::string text(length, 't');
        EXPECT_EQ(VMSI_LaunchDbMigrate(nullptr, (scratch_ / "Tools").c_str(), text.c_str(),
                                       text.c_str(), text.c_str()),
                  1);
        EXPECT_EQ(recorded(takeRecord(), "arg3"), text);
    }
    // Longer than any command line may be: not started.
    const std::string huge(40000, 't');
    takeReports();
    EXPECT_EQ(VMSI_LaunchDbMigrate(owner, (scratch_ / "Tools").c_str(), huge.c_str(), "n", "f"), 0);
    EXPECT_EQ(takeReports().back(), warning("CreateProcess failed.", owner));
    EXPECT_FALSE(takeRecord().has_value());
    EXPECT_EQ(VMSI_LaunchDbMigrate(owner, huge.c_str(), "o", "n", "f"), 0);
}
