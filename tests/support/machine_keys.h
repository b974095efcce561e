// Keys under HKEY_LOCAL_MACHINE at the paths the product itself uses, such
// as an earlier installation's key, in the test prefix.
#pragma once

#include "text.h"

#include <windows.h>

#include <vector>

namespace vmsi::test {

// Made for the life of the object, with whatever parent keys were missing,
// then removed with everything in it and with the parents it made, as far as
// nothing else has come to live in them.
class MachineRegistryKey {
public:
    explicit MachineRegistryKey(const Text& keyPath);
    ~MachineRegistryKey();
    MachineRegistryKey(const MachineRegistryKey&) = delete;
    MachineRegistryKey& operator=(const MachineRegistryKey&) = delete;

    const Text& path() const { return keyPath_; }
    void setString(const Text& valueName, const Text& data, DWORD type = REG_SZ) const;
    void setBytes(const Text& valueName, const Text& data, DWORD type = REG_BINARY) const;

private:
    Text keyPath_;
    std::vector<Text> madeParents_; // outermost first
};

} // namespace vmsi::test
