// The Windows Installer entry points' sink: each report goes to the install
// log of the session whose entry is running on this thread, marked info or
// warning. Outside an entry there is no session and the report is dropped.
#include "session.h"

namespace vmsi {

namespace {

// The running entry's scope, in a thread-local slot of Windows' own: the
// compiler's thread_local would make the DLL import the GCC runtime DLL.
// Taken as the DLL is loaded and freed as it is unloaded: the installer may
// load it afresh for every custom action, and a process has only so many
// slots.
DWORD scopeSlot = TLS_OUT_OF_INDEXES;

const msi::ReportingScope* currentScope() {
    return scopeSlot == TLS_OUT_OF_INDEXES
               ? nullptr
               : static_cast<const msi::ReportingScope*>(TlsGetValue(scopeSlot));
}

void setCurrentScope(const msi::ReportingScope* scope) {
    if (scopeSlot != TLS_OUT_OF_INDEXES) {
        TlsSetValue(scopeSlot, const_cast<msi::ReportingScope*>(scope));
    }
}

} // namespace

void attachSink() {
    scopeSlot = TlsAlloc();
}

void detachSink() {
    if (scopeSlot != TLS_OUT_OF_INDEXES) {
        TlsFree(scopeSlot);
    }
}

void report(HWND, Text text, Severity severity) {
    if (const msi::ReportingScope* scope = currentScope()) {
        scope->session.log(scope->entryName, text, severity);
    }
}

namespace msi {

ReportingScope::ReportingScope(Session& session, const char* entryName)
    : session(session), entryName(entryName) {
    setCurrentScope(this);
}

ReportingScope::~ReportingScope() {
    setCurrentScope(nullptr);
}

} // namespace msi
} // namespace vmsi
