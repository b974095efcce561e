// Finding an earlier catalogue database: the five registered installations
// as real keys under HKEY_LOCAL_MACHINE of the test prefix, the default
// folders under a Program Files folder that points into a scratch folder.
#include "VardoMSICustomActions.h"
#include "handles.h"
#include "machine_keys.h"
#include "recorded_reports.h"
#include "registry.h"
#include "scratch.h"
#include "shipped_library.h"

#include <gtest/gtest.h>

#include <memory>

using namespace vmsi;

namespace {

struct Registration {
    const char* label;
    const char* keyPath;
    const char* valueName;
};

// In the order they are probed.
const Registration registrations[] = {
    {"Vardo QLMK4", "Software\\Vardo\\Quillmark\\4.0", "InstallLocation"},
    {"Orvil QLMK4", "Software\\Vardo\\Quillmark Orvil Edition\\4.0", "InstallLocation"},
    {"Stillwell", "Software\\Vardo\\Vardo Stillwell\\1.0\\Install", "Directory"},
    {"Lensmith", "Software\\Vardo\\Vardo Lensmith\\1.0\\Install", "Directory"},
    {"Orvil Snapdesk", "Software\\Vardo\\Orvil Snapdesk\\3.4\\Install", "Directory"},
};

Report probed(int candidate) {
    return info(std::string("Check for previous ") + registrations[candidate].label +
                    " DB under HKLM",
                owner);
}

// A result buffer of the documented size with guard bytes after it, all
// marked.
struct ResultBuffer {
    static constexpr std::size_t size = test::documentedResultBufferSize;
    std::string bytes = std::string(size + 64, '#');
    char* data() { return bytes.data(); }
    std::string text() const { return bytes.substr(0, bytes.find('\0')); }
    bool untouched() const { return bytes == std::string(size + 64, '#'); }
    bool guardUntouched() const { return bytes.substr(size) == std::string(64, '#'); }
};

class CatalogueDiscoveryTest : public ::testing::Test {
protected:
    CatalogueDiscoveryTest()
        : scratch_("catalogue-discovery"),
          programFilesDir_(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                           "ProgramFilesDir") {
        for (const Registration& registration : registrations) {
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, registration.keyPath);
        }
        test::makeFolders(programFiles());
        programFilesDir_.set(programFiles());
        takeReports();
    }

    std::string programFiles() const { return scratch_ / "Program Files"; }

    test::MachineRegistryKey& registerKey(int candidate) {
        keys_.push_back(
            std::make_unique<test::MachineRegistryKey>(registrations[candidate].keyPath));
        return *keys_.back();
    }

    // Registers the candidate with the given install folder value.
    void registerInstall(int candidate, const std::string& folder) {
        registerKey(candidate).setString(registrations[candidate].valueName, folder);
    }

    // Makes a database file at the path and returns the path.
    static std::string plantDatabase(const std::string& path) {
        test::makeFolders(path.substr(0, path.find_last_of('\\')));
        test::writeFile(path, "catalogue");
        return path;
    }

    std::vector<Report> nothingRegistered() const {
        std::vector<Report> reports;
        for (int candidate = 0; candidate < 5; ++candidate) {
            reports.push_back(probed(candidate));
        }
        reports.push_back(warning("registry Key does not exist", owner));
        return reports;
    }

    test::ScratchFolder scratch_;
    test::RegistryValueOverride programFilesDir_;
    std::vector<std::unique_ptr<test::MachineRegistryKey>> keys_;
};

} // namespace

TEST_F(CatalogueDiscoveryTest, NothingFoundLeavesTheBufferAlone) {
    ResultBuffer buffer;
    EXPECT_EQ(VMSI_CheckForQLMKDB(owner, buffer.data()), 0);
    EXPECT_TRUE(buffer.untouched());
    std::vector<Report> expected = nothingRegistered();
    expected.push_back(info("ProgramFiles folder = " + programFiles(), owner));
    expected.push_back(warning("No database found", owner));
    EXPECT_EQ(takeReports(), expected);

    // Without a Program Files folder the appended paths are tested alone, in
    // their network-style form, and found nowhere.
    programFilesDir_.remove();
    EXPECT_EQ(VMSI_CheckForQLMKDB(owner, buffer.data()), 0);
    EXPECT_TRUE(buffer.untouched());
    expected = nothingRegistered();
    expected.push_back(info("ProgramFiles folder = ", owner));
    expected.push_back(warning("No database found", owner));
    EXPECT_EQ(takeReports(), expected);
}

TEST_F(CatalogueDiscoveryTest, TheFirstRegisteredDatabaseShadowsEverythingAfterIt) {
    plantDatabase(programFiles() + "\\Vardo Software Inc\\Vardo Stillwell\\System\\pcdb.mdb");
    plantDatabase(programFiles() + "\\Orvil Computer\\Orvil Snapdesk\\System\\pcdb.mdb");
    plantDatabase(programFiles() + "\\Vardo Software Inc\\Vardo Lensmith\\System\\pcdb.mdb");
    // Registered from the last candidate to the first: each round, the
    // candidate just registered comes first and wins.
    for (int winner = 4; winner >= 0; --winner) {
        const std::string folder = scratch_ / ("Old" + std::to_string(winner));
        const std::string database = plantDatabase(folder + "\\system\\pcdb.mdb");
        registerInstall(winner, folder);

        ResultBuffer buffer;
        EXPECT_EQ(VMSI_CheckForQLMKDB(owner, buffer.data()), 1) << "candidate " << winner;
        EXPECT_EQ(buffer.text(), database);
        EXPECT_TRUE(buffer.guardUntouched());
        std::vector<Report> expected;
        for (int before = 0; before < winner; ++before) {
            expected.push_back(probed(before));
        }
        expected.push_back(probed(winner));
        expected.push_back(info("Found the database: " + database, owner));
        expected.push_back(warning("csDatabase = " + database, owner));
        EXPECT_EQ(takeReports(), expected) << "candidate " << winner;
    }
}

TEST_F(CatalogueDiscoveryTest, ReadsTheInstallationRegisteredInItsOwnViewOfTheRegistry) {
    // Under WoW64 the 32-bit library reads HKLM\Software through
    // Wow6432Node, where a 32-bit installer registered the earlier
    // installation; the 64-bit one reads Software itself. The other view
    // names another folder with a database of its own.
    const std::string database = plantDatabase(scratch_ / "Own\\system\\pcdb.mdb");
    plantDatabase(scratch_ / "Other\\system\\pcdb.mdb");
    test::MachineRegistryKey other(registrations[0].keyPath, test::otherRegistryView);
    other.setString(registrations[0].valueName, scratch_ / "Other");
    registerInstall(0, scratch_ / "Own");

    ResultBuffer buffer;
    EXPECT_EQ(VMSI_CheckForQLMKDB(owner, buffer.data()), 1);
    EXPECT_EQ(buffer.text(), database);
    RegistryKey seen;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            test::machineKeyIn64BitView(registrations[0].keyPath).c_str(), 0,
                            KEY_READ | KEY_WOW64_64KEY, seen.receive()),
              ERROR_SUCCESS);
    const auto registered = readRegistryText(seen.get(), registrations[0].valueName);
    ASSERT_TRUE(registered.has_value());
    EXPECT_EQ(registered->text, scratch_ / "Own");
}

TEST_F(CatalogueDiscoveryTest, EachProbeReportsWhatItsValueNamesAndMovesOn) {
    const std::string noDatabase = scratch_ / "Empty";
    test::makeFolders(noDatabase);
    // A folder named pcdb.mdb counts; a trailing backslash collapses.
    const std::string withFolder = scratch_ / "Old";
    test::makeFolders(withFolder + "\\system\\pcdb.mdb");

    // A value of 260 characters does not fit the 260 bytes read with its
    // terminating zero: it is not read, although the backslashes that pad it
    // collapse into the path of a real database.
    const std::string shadowed = scratch_ / "Shadowed";
    plantDatabase(shadowed + "\\system\\pcdb.mdb");
    const std::string tooLong = shadowed + std::string(260 - shadowed.size(), '\\');

    registerInstall(0, "");
    registerKey(1).setString("Other", "x");
    registerInstall(2, tooLong);
    registerInstall(3, noDatabase);
    registerInstall(4, withFolder + "\\");

    ResultBuffer buffer;
    EXPECT_EQ(VMSI_CheckForQLMKDB(owner, buffer.data()), 1);
    const std::string found = withFolder + "\\system\\pcdb.mdb";
    EXPECT_EQ(buffer.text(), found);
    EXPECT_EQ(takeReports(),
              (std::vector<Report>{
                  probed(0),
                  info("Did not find database: \\\\system\\pcdb.mdb", owner),
                  probed(1),
                  warning("Registry Error", owner),
                  probed(2),
                  warning("Registry Error", owner),
                  probed(3),
                  info("Did not find database: " + noDatabase + "\\system\\pcdb.mdb", owner),
                  probed(4),
                  info("Found the database: " + found, owner),
                  warning("csDatabase = " + found, owner),
              }));
}

TEST_F(CatalogueDiscoveryTest, DefaultFoldersAreTriedInTheirOwnOrder) {
    // Snapdesk comes before Lensmith here; a trailing backslash on the
    // Program Files folder changes nothing.
    programFilesDir_.set(programFiles() + "\\");
    const struct {
        const char* folder;
        const char* foundText;
    } plantedInTurn[] = {
        {"\\Vardo Software Inc\\Vardo Lensmith\\System\\pcdb.mdb", "Found the database (lensmith)"},
        {"\\Orvil Computer\\Orvil Snapdesk\\System\\pcdb.mdb", "Found the database (orvil)"},
        {"\\Vardo Software Inc\\Vardo Stillwell\\System\\pcdb.mdb",
         "Found the database (stillwell)"},
    };
    for (const auto& planted : plantedInTurn) {
        const std::string database = plantDatabase(programFiles() + planted.folder);
        ResultBuffer buffer;
        EXPECT_EQ(VMSI_CheckForQLMKDB(owner, buffer.data()), 1);
        EXPECT_EQ(buffer.text(), database);
        std::vector<Report> expected = nothingRegistered();
        expected.push_back(info("ProgramFiles folder = " + programFiles() + "\\", owner));
        expected.push_back(info(planted.foundText, owner));
        expected.push_back(warning("csDatabase = " + database, owner));
        EXPECT_EQ(takeReports(), expected);
    }
}

TEST_F(CatalogueDiscoveryTest, OnlyAPathThatFitsTheBufferIsHandedBack) {
    // A folder whose database path is 259 characters fits the MAX_PATH
    // buffer with its terminating zero; one character more does not, and is
    // not handed back cut short.
    const std::string base = scratch_ / "";
    const std::string fits = base + std::string(259 - 16 - base.size(), 'f');
    const std::string tooLong = base + std::string(260 - 16 - base.size(), 'l');
    plantDatabase(fits + "\\system\\pcdb.mdb");
    plantDatabase(tooLong + "\\system\\pcdb.mdb");

    registerInstall(0, tooLong);
    ResultBuffer buffer;
    EXPECT_EQ(VMSI_CheckForQLMKDB(owner, buffer.data()), 0);
    EXPECT_TRUE(buffer.untouched());
    EXPECT_EQ(takeReports().back(),
              warning("Database path too long: " + tooLong + "\\system\\pcdb.mdb", owner));

    registerInstall(0, fits);
    EXPECT_EQ(VMSI_CheckForQLMKDB(owner, buffer.data()), 1);
    EXPECT_EQ(buffer.text(), fits + "\\system\\pcdb.mdb");
    EXPECT_EQ(buffer.text().size(), 259u);
    EXPECT_TRUE(buffer.guardUntouched());
    // A caller that only wants the answer passes no buffer.
    EXPECT_EQ(VMSI_CheckForQLMKDB(owner, nullptr), 1);
}

TEST_F(CatalogueDiscoveryTest, OddRegistryDataAndLongTextsAreHandledSafely) {
    // Data without a terminating zero ends with the bytes read, not with
    // what the probe before it left in the buffer.
    const std::string folder = scratch_ / "Raw";
    const std::string database = plantDatabase(folder + "\\system\\pcdb.mdb");
    registerInstall(0, std::string(250, 'z'));
    registerKey(1).setBytes(registrations[1].valueName, folder, REG_BINARY);
    ResultBuffer buffer;
    EXPECT_EQ(VMSI_CheckForQLMKDB(owner, buffer.data()), 1);
    EXPECT_EQ(buffer.text(), database);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, registrations[0].keyPath);

    // Values of up to 260 bytes are read (and name no file that can exist),
    // longer ones are not; no Program Files folder leads to a write.
    registerInstall(1, std::string(259, 'a'));
    registerKey(2).setBytes(registrations[2].valueName, std::string(260, 'b'));
    registerInstall(3, std::string(261, 'c'));
    registerInstall(4, std::string(40000, 'd'));
    for (std::size_t length : {259, 260, 261, 40000}) {
        const std::string programFilesFolder(length, 'p');
        programFilesDir_.set(programFilesFolder);
        takeReports();
        ResultBuffer untouched;
        EXPECT_EQ(VMSI_CheckForQLMKDB(owner, untouched.data()), 0) << length;
        EXPECT_TRUE(untouched.untouched()) << length;
        EXPECT_EQ(takeReports(),
                  (std::vector<Report>{
                      probed(0),
                      probed(1),
                      info("Did not find database: " + std::string(259, 'a') + "\\system\\pcdb.mdb",
                           owner),
                      probed(2),
                      info("Did not find database: " + std::string(260, 'b') + "\\system\\pcdb.mdb",
                           owner),
                      probed(3),
                      warning("Registry Error", owner),
                      probed(4),
                      warning("Registry Error", owner),
                      warning("registry Key does not exist", owner),
                      info("ProgramFiles folder = " + programFilesFolder, owner),
                      warning("No database found", owner),
                  }))
            << length;
    }
}
