// The recording sink linked into the test programs: every report an action
// makes is kept, in order, for the test to compare.
#pragma once

#include "diagnostics.h"

#include <ostream>
#include <vector>

namespace vmsi::test {

struct Report {
    HWND owner;
    Text text;
    Severity severity;
};

bool operator==(const Report& left, const Report& right);
void PrintTo(const Report& report, std::ostream* out);

Report info(Text text, HWND owner = nullptr);
Report warning(Text text, HWND owner = nullptr);

// Returns the reports made since the last call and forgets them.
std::vector<Report> takeReports();

// The owner window the tests hand an action, so that each report can be seen
// to carry it.
inline const HWND owner = reinterpret_cast<HWND>(0x1234);

} // namespace vmsi::test

using vmsi::test::info;
using vmsi::test::owner;
using vmsi::test::Report;
using vmsi::test::takeReports;
using vmsi::test::warning;
