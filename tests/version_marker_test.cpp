// The installed-version marker, as real values under
// HKEY_LOCAL_MACHINE\Software\Vardo\QLMKInternalVersion in the test prefix.
#include "VardoMSICustomActions.h"
#include "machine_keys.h"
#include "recorded_reports.h"
#include "shipped_library.h"
#include "version_marker.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>

using namespace vmsi;

namespace {

const std::string markers = "Software\\Vardo\\QLMKInternalVersion\\";

struct Answer {
    int result;
    std::string text; // the buffer's text, or "<untouched>"
    std::vector<Report> reports;
};

Answer check(int version) {
    const std::size_t size = test::documentedResultBufferSize;
    const std::string untouched(size + 16, '#');
    std::string buffer = untouched;
    const int result = VMSI_CheckForQLMK(owner, version, buffer.data());
    EXPECT_EQ(buffer.substr(size), std::string(16, '#')) << "written past MAX_PATH";
    return {result, buffer == untouched ? "<untouched>" : buffer.substr(0, buffer.find('\0')),
            takeReports()};
}

const Report notInstalled = warning("Quillmark4 Not Installed", owner);

} // namespace

TEST(VersionMarker, APresentMarkerGivesOneAndItsText) {
    takeReports();
    test::MachineRegistryKey four(markers + "Version4");
    four.setString("Version", "4.0.2.17");
    test::MachineRegistryKey minusOne(markers + "Version-1");
    minusOne.setString("Version", "old");

    Answer answer = check(4);
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.text, "4.0.2.17");
    EXPECT_EQ(answer.reports, std::vector<Report>{info("4.0.2.17installed", owner)});

    answer = check(-1);
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.text, "old");

    // A caller that only wants the answer passes no buffer.
    EXPECT_EQ(VMSI_CheckForQLMK(owner, 4, nullptr), 1);
}

TEST(VersionMarker, AMissingMarkerGivesZeroAndTheSameTextForEveryVersion) {
    takeReports();
    test::MachineRegistryKey five(markers + "Version5");
    five.setString("Version", "5.0");
    test::MachineRegistryKey fourWithoutVersion(markers + "Version4");
    fourWithoutVersion.setString("Build", "4.0");
    fourWithoutVersion.setString("", "4.0");

    for (int version : {4, 6, 0, INT_MIN, INT_MAX}) {
        const Answer answer = check(version);
        EXPECT_EQ(answer.result, 0) << version;
        EXPECT_EQ(answer.text, "<untouched>") << version;
        EXPECT_EQ(answer.reports, std::vector<Report>{notInstalled}) << version;
    }
    EXPECT_EQ(check(5).result, 1);
}

TEST(VersionMarker, FindsTheMarkerNamedByTheVersionInSignedDecimal) {
    takeReports();
    const std::pair<int, const char*> keys[] = {
        {0, "Version0"},
        {409, "Version409"},
        {-40, "Version-40"},
        {INT_MAX, "Version2147483647"},
        {INT_MIN, "Version-2147483648"},
    };
    for (const auto& [version, key] : keys) {
        test::MachineRegistryKey marker(markers + key);
        marker.setString("Version", key);
        const Answer answer = check(version);
        EXPECT_EQ(answer.result, 1) << key;
        EXPECT_EQ(answer.text, key);
    }
}

TEST(VersionMarker, ThePresenceOfTheValueDecidesWhateverItsData) {
    takeReports();
    test::MachineRegistryKey marker(markers + "Version4");
    const struct {
        std::string data;
        DWORD type;
        std::string text;
    } values[] = {
        {std::string("41\0\0", 4), REG_DWORD, "41"},
        {"4.1", REG_BINARY, "4.1"}, // no terminating zero
        {"", REG_BINARY, ""},
        {std::string("\0", 1), REG_SZ, ""},
        // Cut to fit the MAX_PATH buffer.
        {std::string(259, 'v'), REG_SZ, std::string(259, 'v')},
        {std::string(260, 'v'), REG_SZ, std::string(259, 'v')},
        {std::string(261, 'v'), REG_SZ, std::string(259, 'v')},
        {std::string(40000, 'v'), REG_SZ, std::string(259, 'v')},
    };
    for (const auto& value : values) {
        marker.setBytes("Version", value.data, value.type);
        const Answer answer = check(4);
        EXPECT_EQ(answer.result, 1) << value.data.size();
        EXPECT_EQ(answer.text, value.text) << value.data.size();
        EXPECT_EQ(answer.reports,
                  std::vector<Report>{
                      info(value.data.substr(0, value.data.find('\0')) + "installed", owner)})
            << value.data.size();
    }
}
