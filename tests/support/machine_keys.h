// Keys under HKEY_LOCAL_MACHINE at the paths the product itself uses, such
// as an earlier installation's key, in the test prefix; and the record of
// what the tests change in the prefix's own registry, so that a run that
// died is put right by the next.
#pragma once

#include "text.h"
#include "wow64.h"

#include <windows.h>

#include <vector>

namespace vmsi::test {

// Made for the life of the object, with whatever parent keys were missing,
// then removed with everything in it and with the parents it made, as far as
// nothing else has come to live in them. A key that was there before is put
// back as it was. In the view of HKLM\Software that the library reads, unless
// told another.
class MachineRegistryKey {
public:
    explicit MachineRegistryKey(const Text& keyPath, REGSAM view = ownRegistryView);
    ~MachineRegistryKey();
    MachineRegistryKey(const MachineRegistryKey&) = delete;
    MachineRegistryKey& operator=(const MachineRegistryKey&) = delete;

    const Text& path() const { return keyPath_; }
    void setString(const Text& valueName, const Text& data, DWORD type = REG_SZ) const;
    void setBytes(const Text& valueName, const Text& data, DWORD type = REG_BINARY) const;

private:
    Text keyPath_;
    REGSAM view_;
    std::vector<Text> madeParents_; // outermost first
    bool putsBack_ = false;         // false inside another object of the same key
};

// What a test changes in the prefix's registry is written down first, under
// HKCU\Software\VardoMSICustomActionsTests\PutBack (HKCU, as HKLM\Software
// itself may be the key made read-only), and put back and struck off when
// the test is done. A test program that starts puts back whatever a run
// that died left written down, before any test runs. Each note names the
// registry view it was made in, the program's own unless told another, so
// that the other build's program puts it back where it was. putBackNoted()
// is false when a DACL noted could not be set again.
void noteSecurityToPutBack(HKEY root, const Text& keyPath,
                           const std::vector<unsigned char>& security);
bool putBackNoted(HKEY root, const Text& keyPath);
// A value as it is (its type and data, or its absence); false when it is
// noted already, by an object that will put it back itself.
bool noteValueToPutBack(HKEY root, const Text& keyPath, const Text& valueName, bool existed,
                        DWORD type, const std::vector<unsigned char>& data);
void putBackNotedValue(HKEY root, const Text& keyPath, const Text& valueName);

} // namespace vmsi::test
