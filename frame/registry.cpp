#include "registry.h"

#include "handles.h"

#include <vector>

namespace vmsi {

Text readRegistryString(HKEY root, const Text& keyPath, const Text& valueName) {
    RegistryKey key;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, registryReadAccess, key.receive()) !=
        ERROR_SUCCESS) {
        return Text();
    }
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
        return Text();
    }
    std::vector<char> data(size);
    DWORD written = size;
    // The value may have changed between the two queries: only what the
    // second one wrote is used, and nothing at all when it failed.
    if (size == 0 ||
        RegQueryValueExA(key.get(), valueName.c_str(), nullptr, nullptr,
                         reinterpret_cast<BYTE*>(data.data()), &written) != ERROR_SUCCESS) {
        return Text();
    }
    if (written > size) {
        written = size;
    }
    Text text(data.data(), written);
    return text.substr(0, text.find('\0'));
}

namespace {

struct ShellFolderValue {
    HKEY root;
    const char* keyPath;
    const char* valueName;
};

constexpr const char* shellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Indexed by ShellFolderKind: each odd kind is the current user's counterpart
// of the all-users kind before it.
const ShellFolderValue shellFolderValues[] = {
    {HKEY_LOCAL_MACHINE, shellFoldersKey, "Common Desktop"},
    {HKEY_CURRENT_USER, shellFoldersKey, "Desktop"},
    {HKEY_LOCAL_MACHINE, shellFoldersKey, "Common Start Menu"},
    {HKEY_CURRENT_USER, shellFoldersKey, "Start Menu"},
    {HKEY_LOCAL_MACHINE, shellFoldersKey, "Common Programs"},
    {HKEY_CURRENT_USER, shellFoldersKey, "Programs"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"},
};

} // namespace

Text shellFolderPath(int kind) {
    const unsigned int index = static_cast<unsigned int>(kind);
    if (index >= sizeof(shellFolderValues) / sizeof(shellFolderValues[0])) {
        return Text();
    }
    const ShellFolderValue& value = shellFolderValues[index];
    return readRegistryString(value.root, value.keyPath, value.valueName);
}

bool canWriteMachineSettings() {
    RegistryKey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, registryWriteProbeAccess,
                         key.receive()) == ERROR_SUCCESS;
}

} // namespace vmsi
