// The table of exports takes its kinds and argument bytes from the public
// header's prototypes (a table that disagrees does not compile), and the
// shell check holds the built DLLs' export directories against the export
// list; here the export list is held against the table.
#include "export_table.h"
#include "scratch.h"
#include "unix_links.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace vmsi;

// The export list names each function as Name@N, N its argument bytes; the
// 32-bit link fails where N is not what the function's prototype removes.
TEST(ExportTable, IsTheExportListInItsOrderWithItsArgumentBytes) {
    const auto list = test::readFile(test::windowsPathOf(VMSI_SOURCE_FOLDER "/frame/exports.def"));
    ASSERT_TRUE(list.has_value());
    std::vector<std::string> listed;
    std::istringstream lines(*list);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find('@');
        if (!line.empty() && line[0] == ' ' && at != std::string::npos) {
            listed.push_back(line.substr(line.find_first_not_of(' ')));
        }
    }
    std::vector<std::string> described;
    for (const ExportDescription& description : exportTable) {
        described.push_back(description.name + ("@" + std::to_string(description.argumentBytes())));
    }
    EXPECT_EQ(listed, described);
}
