#include "registry_snapshot.h"

#include <vector>

namespace vmsi::test {

namespace {

void addKey(HKEY key, const Text& relative, RegistrySnapshot& snapshot) {
    snapshot[relative] = "key";
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD nameLength = sizeof name;
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        std::vector<unsigned char> data(size);
        nameLength = sizeof name;
        RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data.data(), &size);
        snapshot[relative + ":" + Text(name, nameLength)] =
            "type " + std::to_string(type) + ", data " + Text(data.begin(), data.end());
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        HKEY subkey = nullptr;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &subkey) == ERROR_SUCCESS) {
            addKey(subkey, relative + "\\" + name, snapshot);
            RegCloseKey(subkey);
        }
    }
}

} // namespace

RegistrySnapshot registrySnapshotOf(HKEY root, const Text& keyPath) {
    RegistrySnapshot snapshot;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        snapshot[""] = "missing";
        return snapshot;
    }
    addKey(key, "", snapshot);
    RegCloseKey(key);
    return snapshot;
}

} // namespace vmsi::test
