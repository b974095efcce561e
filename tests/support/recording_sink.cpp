#include "recorded_reports.h"

#include <utility>

namespace vmsi {

namespace {
std::vector<test::Report> recorded;
}

void report(HWND owner, Text text, Severity severity) {
    recorded.push_back({owner, std::move(text), severity});
}

namespace test {

bool operator==(const Report& left, const Report& right) {
    return left.owner == right.owner && left.text == right.text && left.severity == right.severity;
}

void PrintTo(const Report& report, std::ostream* out) {
    *out << (report.severity == Severity::Information ? "info" : "warning") << "(\"" << report.text
         << "\"";
    if (report.owner != nullptr) {
        *out << ", owner " << static_cast<const void*>(report.owner);
    }
    *out << ")";
}

Report info(Text text, HWND owner) {
    return {owner, std::move(text), Severity::Information};
}

Report warning(Text text, HWND owner) {
    return {owner, std::move(text), Severity::Warning};
}

std::vector<Report> takeReports() {
    return std::exchange(recorded, {});
}

} // namespace test
} // namespace vmsi
