#include "registry.h"

#include "handles.h"

#include <algorithm>
#include <vector>

namespace vmsi {

std::optional<RegistryText> readRegistryText(HKEY key, const Text& valueName, DWORD bufferSize) {
    std::vector<char> data(bufferSize);
    RegistryText value;
    DWORD written = bufferSize;
    if (RegQueryValueExA(key, valueName.c_str(), nullptr, &value.type,
                         reinterpret_cast<BYTE*>(data.data()), &written) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    // Only what the query wrote is looked at: data stored without a NUL
    // ends with its last byte.
    value.text.assign(data.begin(), data.begin() + std::min(written, bufferSize));
    value.text.resize(std::min(value.text.find('\0'), value.text.size()));
    return value;
}

std::optional<RegistryText> readRegistryText(HKEY key, const Text& valueName) {
    // The value may have changed between the two queries: a value that grew
    // fails the second like a missing one.
    DWORD size = 0;
    if (RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return readRegistryText(key, valueName, size);
}

Text readRegistryString(HKEY root, const Text& keyPath, const Text& valueName) {
    RegistryKey key;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, registryReadAccess, key.receive()) !=
        ERROR_SUCCESS) {
        return Text();
    }
    return readRegistryText(key.get(), valueName).value_or(RegistryText()).text;
}

bool registryValueExists(HKEY root, const Text& keyPath, const Text& valueName) {
    RegistryKey key;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, registryReadAccess, key.receive()) !=
        ERROR_SUCCESS) {
        return false;
    }
    return RegQueryValueExA(key.get(), valueName.c_str(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
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
