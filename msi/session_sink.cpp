// The Windows Installer entry points' sink: each report goes to the install
// log of the session whose entry is running, marked info or warning. Outside
// an entry there is no session and the report is dropped.
#include "session.h"

namespace vmsi {

namespace {

struct CurrentEntry {
    const msi::Session* session = nullptr;
    const char* name = nullptr;
};

thread_local CurrentEntry current;

} // namespace

void report(HWND, Text text, Severity severity) {
    if (current.session != nullptr) {
        current.session->log(current.name, text, severity);
    }
}

namespace msi {

ReportingScope::ReportingScope(const Session& session, const char* entryName) {
    current = {&session, entryName};
}

ReportingScope::~ReportingScope() {
    current = {};
}

} // namespace msi
} // namespace vmsi
