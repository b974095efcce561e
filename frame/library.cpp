// Library start-up and the identity export.
#include "VardoMSICustomActions.h"

#include "diagnostics.h"
#include "module_identity.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(module);
        // The start-up never makes the load fail, whatever it finds: a
        // module without a name or a version resource gets empty texts.
        vmsi::startUpLibrary(module);
        vmsi::attachSink();
    } else if (reason == DLL_PROCESS_DETACH) {
        vmsi::detachSink();
    }
    return TRUE;
}

// GetDLLNameAndVersion: replaces the first text with the library's path and
// the second with its file version. Returns nothing; reports nothing.
extern "C" void __stdcall GetDLLNameAndVersion(std::string& modulePath,
                                               std::string& moduleVersion) {
    modulePath = vmsi::libraryIdentity().path;
    moduleVersion = vmsi::libraryIdentity().version;
}
