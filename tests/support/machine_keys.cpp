#include "machine_keys.h"

#include "scratch.h"

#include <gtest/gtest.h>

namespace vmsi::test {

namespace {

bool keyExists(const Text& keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

} // namespace

MachineRegistryKey::MachineRegistryKey(const Text& keyPath) : keyPath_(keyPath) {
    for (std::size_t at = keyPath.find('\\'); at != Text::npos; at = keyPath.find('\\', at + 1)) {
        if (!keyExists(keyPath.substr(0, at))) {
            madeParents_.push_back(keyPath.substr(0, at));
        }
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, keyPath_.c_str());
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << keyPath_;
    if (key != nullptr) {
        RegCloseKey(key);
    }
}

MachineRegistryKey::~MachineRegistryKey() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, keyPath_.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath_.c_str());
    for (auto parent = madeParents_.rbegin(); parent != madeParents_.rend(); ++parent) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, parent->c_str()); // fails while not empty
    }
}

void MachineRegistryKey::setString(const Text& valueName, const Text& data, DWORD type) const {
    setRegistryString(HKEY_LOCAL_MACHINE, keyPath_, valueName, data, type);
}

void MachineRegistryKey::setBytes(const Text& valueName, const Text& data, DWORD type) const {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, valueName.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

} // namespace vmsi::test
