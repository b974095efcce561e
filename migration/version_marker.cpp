#include "version_marker.h"

#include "VardoMSICustomActions.h"
#include "diagnostics.h"
#include "registry.h"
#include "result_buffer.h"

#include <string>

namespace vmsi {

namespace {

constexpr const char* markerValueName = "Version";

// "Software\Vardo\QLMKInternalVersion\Version<n>", n as a signed decimal, as
// "%i" writes it.
Text versionMarkerKeyPath(int version) {
    return "Software\\Vardo\\QLMKInternalVersion\\Version" + std::to_string(version);
}

} // namespace

int checkInstalledVersion(HWND owner, int version, char* versionText) {
    const Text keyPath = versionMarkerKeyPath(version);
    if (!registryValueExists(HKEY_LOCAL_MACHINE, keyPath, markerValueName)) {
        // The same text whatever version was asked for.
        reportWarning(owner, "Quillmark4 Not Installed");
        return 0;
    }
    // The value's presence alone decides: an empty or unreadable text still
    // gives 1, and the buffer then holds the empty text.
    const Text text = readRegistryString(HKEY_LOCAL_MACHINE, keyPath, markerValueName);
    // Kept on purpose: the text runs into "installed" without a space.
    reportInformation(owner, text + "installed");
    copyToResultBuffer(versionText, text);
    return 1;
}

} // namespace vmsi

// VMSI_CheckForQLMK: whether that version's marker exists; 1 and its text in the buffer.
extern "C" int __stdcall VMSI_CheckForQLMK(HWND owner, int version, char* versionText) {
    return vmsi::checkInstalledVersion(owner, version, versionText);
}
