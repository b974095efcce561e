// The Windows Installer entry points' sink: each report goes to the install
// log of the session whose entry is running on this thread, marked info or
// warning. Outside an entry there is no session and the report is dropped.
#include "session.h"

namespace vmsi {

namespace {

// The running entry's scope, in a thread-local slot of Windows' own: the
// compiler's thread_local would make the DLL import the GCC runtime DLL.
// Allocated when an entry first runs, and freed when the DLL is unloaded:
// the installer may load it afresh for every custom action, and a process
// has only so many slots.
LONG scopeSlot = static_cast<LONG>(TLS_OUT_OF_INDEXES);

struct ScopeSlotRelease {
    ~ScopeSlotRelease() {
        if (scopeSlot != static_cast<LONG>(TLS_OUT_OF_INDEXES)) {
            TlsFree(static_cast<DWORD>(scopeSlot));
        }
    }
} scopeSlotRelease;

DWORD currentScopeSlot() {
    // Reads the slot atomically: it is only ever replaced while unallocated.
    const LONG known = InterlockedCompareExchange(&scopeSlot, static_cast<LONG>(TLS_OUT_OF_INDEXES),
                                                  static_cast<LONG>(TLS_OUT_OF_INDEXES));
    if (known != static_cast<LONG>(TLS_OUT_OF_INDEXES)) {
        return static_cast<DWORD>(known);
    }
    const DWORD fresh = TlsAlloc();
    const LONG previous = InterlockedCompareExchange(&scopeSlot, static_cast<LONG>(fresh),
                                                     static_cast<LONG>(TLS_OUT_OF_INDEXES));
    if (previous != static_cast<LONG>(TLS_OUT_OF_INDEXES)) {
        // Another thread allocated one first.
        TlsFree(fresh);
        return static_cast<DWORD>(previous);
    }
    return fresh;
}

const msi::ReportingScope* currentScope() {
    const DWORD slot = currentScopeSlot();
    return slot == TLS_OUT_OF_INDEXES ? nullptr
                                      : static_cast<const msi::ReportingScope*>(TlsGetValue(slot));
}

void setCurrentScope(const msi::ReportingScope* scope) {
    const DWORD slot = currentScopeSlot();
    if (slot != TLS_OUT_OF_INDEXES) {
        TlsSetValue(slot, const_cast<msi::ReportingScope*>(scope));
    }
}

} // namespace

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
