#include "machine_keys.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace vmsi::test {

namespace {

constexpr const char* testKeyRoot = "Software\\VardoMSICustomActionsTests";
constexpr const char* putBackRoot = "Software\\VardoMSICustomActionsTests\\PutBack";

bool keyExists(const Text& keyPath, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | view, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// One record per changed key, named after it and its view:
// "HKLM32/Software/Classes/...".
Text recordName(HKEY root, REGSAM view, const Text& keyPath) {
    Text name = Text(root == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCU") +
                (view == KEY_WOW64_32KEY ? "32" : "64") + "/" + keyPath;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

Text recordPath(const Text& name) {
    return Text(putBackRoot) + "\\" + name;
}

HKEY openOrCreate(HKEY root, const Text& keyPath, REGSAM view = 0) {
    HKEY key = nullptr;
    RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                    nullptr);
    return key;
}

// The key and everything in it, in the given view (RegDeleteTreeA has none).
void deleteKeyTree(HKEY root, const Text& keyPath, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteTreeA(key, nullptr);
        RegCloseKey(key);
    }
    RegDeleteKeyExA(root, keyPath.c_str(), view, 0);
}

// A key of the record (Existed 0 or 1, and the key's copy when it was
// there; Made, the outermost parent made for it) before the key is
// replaced: false when one is noted already.
bool noteKeyToPutBack(const Text& keyPath, REGSAM view, const std::vector<Text>& madeParents) {
    const Text record = recordPath(recordName(HKEY_LOCAL_MACHINE, view, keyPath));
    HKEY noted = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, record.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &noted, &disposition) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot note " << keyPath << " to be put back";
        return false;
    }
    const bool fresh = disposition == REG_CREATED_NEW_KEY;
    if (fresh) {
        HKEY key = nullptr;
        const DWORD existed = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | view,
                                            &key) == ERROR_SUCCESS;
        if (existed) {
            HKEY copy = openOrCreate(noted, "Copy");
            EXPECT_EQ(RegCopyTreeA(key, nullptr, copy), ERROR_SUCCESS) << keyPath;
            RegCloseKey(copy);
            RegCloseKey(key);
        }
        RegSetValueExA(noted, "Existed", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&existed),
                       sizeof existed);
        if (!madeParents.empty()) {
            setRegistryString(HKEY_CURRENT_USER, record, "Made", madeParents.front());
        }
    }
    RegCloseKey(noted);
    return fresh;
}

// The record of a value: the key's, and "|" and the value's name.
Text valueRecordName(HKEY root, const Text& keyPath, const Text& valueName) {
    return recordName(root, ownRegistryView, keyPath) + "|" + valueName;
}

// True when the key's DACL, if noted, was set again. After a run that died
// the parents made for a key go too, with whatever that run made in them.
bool putBack(const Text& name, bool runDied = false) {
    const Text record = recordPath(name);
    const HKEY root = name.compare(0, 4, "HKLM") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const REGSAM view = name.compare(4, 2, "32") == 0 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    const std::size_t bar = name.find('|');
    Text keyPath = name.substr(7, bar == Text::npos ? Text::npos : bar - 7);
    std::replace(keyPath.begin(), keyPath.end(), '/', '\\');

    if (bar != Text::npos) {
        const Text valueName = name.substr(bar + 1);
        std::vector<unsigned char> data(64 * 1024);
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(data.size());
        if (RegGetValueA(HKEY_CURRENT_USER, record.c_str(), "Saved", RRF_RT_ANY | RRF_NOEXPAND,
                         &type, data.data(), &size) == ERROR_SUCCESS) {
            HKEY key = openOrCreate(root, keyPath, view);
            RegSetValueExA(key, valueName.c_str(), 0, type, data.data(), size);
            RegCloseKey(key);
        } else {
            HKEY key = nullptr;
            if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_SET_VALUE | view, &key) ==
                ERROR_SUCCESS) {
                RegDeleteValueA(key, valueName.c_str());
                RegCloseKey(key);
            }
        }
    }

    bool securitySet = true;
    std::vector<unsigned char> security(4096);
    DWORD size = static_cast<DWORD>(security.size());
    if (RegGetValueA(HKEY_CURRENT_USER, record.c_str(), "Security", RRF_RT_REG_BINARY, nullptr,
                     security.data(), &size) == ERROR_SUCCESS) {
        HKEY key = nullptr;
        securitySet =
            RegOpenKeyExA(root, keyPath.c_str(), 0, WRITE_DAC | view, &key) == ERROR_SUCCESS &&
            RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, security.data()) == ERROR_SUCCESS;
        if (key != nullptr) {
            RegCloseKey(key);
        }
    }
    DWORD existed = 0;
    size = sizeof existed;
    if (RegGetValueA(HKEY_CURRENT_USER, record.c_str(), "Existed", RRF_RT_REG_DWORD, nullptr,
                     &existed, &size) == ERROR_SUCCESS) {
        deleteKeyTree(root, keyPath, view);
        HKEY copy = nullptr;
        if (existed && RegOpenKeyExA(HKEY_CURRENT_USER, (record + "\\Copy").c_str(), 0, KEY_READ,
                                     &copy) == ERROR_SUCCESS) {
            HKEY key = openOrCreate(root, keyPath, view);
            RegCopyTreeA(copy, nullptr, key);
            RegCloseKey(key);
            RegCloseKey(copy);
        }
    }
    char made[1024];
    size = sizeof made;
    if (runDied && RegGetValueA(HKEY_CURRENT_USER, record.c_str(), "Made", RRF_RT_REG_SZ, nullptr,
                                made, &size) == ERROR_SUCCESS) {
        deleteKeyTree(root, made, view);
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, record.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, record.c_str());
    // Only when nothing else is noted, and no test key is left.
    RegDeleteKeyA(HKEY_CURRENT_USER, putBackRoot);
    RegDeleteKeyA(HKEY_CURRENT_USER, testKeyRoot);
    return securitySet;
}

// Before any test: what a run that died left written down. The read-only
// keys first, which would refuse the rest.
const bool putBackAtStart = [] {
    HKEY records = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, putBackRoot, 0, KEY_READ, &records) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<Text> names;
    char name[1024];
    for (DWORD i = 0; RegEnumKeyA(records, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
        names.emplace_back(name);
    }
    RegCloseKey(records);
    std::stable_partition(names.begin(), names.end(), [](const Text& noted) {
        return RegGetValueA(HKEY_CURRENT_USER, recordPath(noted).c_str(), "Security",
                            RRF_RT_REG_BINARY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    });
    for (const Text& noted : names) {
        std::printf("[put back] %s, left changed by an earlier run\n", noted.c_str());
        putBack(noted, true);
    }
    return true;
}();

} // namespace

bool noteValueToPutBack(HKEY root, const Text& keyPath, const Text& valueName, bool existed,
                        DWORD type, const std::vector<unsigned char>& data) {
    HKEY noted = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER,
                        recordPath(valueRecordName(root, keyPath, valueName)).c_str(), 0, nullptr,
                        0, KEY_ALL_ACCESS, nullptr, &noted, &disposition) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot note " << keyPath << ":" << valueName << " to be put back";
        return false;
    }
    if (disposition == REG_CREATED_NEW_KEY && existed) {
        RegSetValueExA(noted, "Saved", 0, type, data.data(), static_cast<DWORD>(data.size()));
    }
    RegCloseKey(noted);
    return disposition == REG_CREATED_NEW_KEY;
}

void putBackNotedValue(HKEY root, const Text& keyPath, const Text& valueName) {
    putBack(valueRecordName(root, keyPath, valueName));
}

void noteSecurityToPutBack(HKEY root, const Text& keyPath,
                           const std::vector<unsigned char>& security) {
    HKEY noted =
        openOrCreate(HKEY_CURRENT_USER, recordPath(recordName(root, ownRegistryView, keyPath)));
    EXPECT_EQ(RegSetValueExA(noted, "Security", 0, REG_BINARY, security.data(),
                             static_cast<DWORD>(security.size())),
              ERROR_SUCCESS)
        << "cannot note the DACL of " << keyPath << " to be put back";
    RegCloseKey(noted);
}

bool putBackNoted(HKEY root, const Text& keyPath) {
    return putBack(recordName(root, ownRegistryView, keyPath));
}

MachineRegistryKey::MachineRegistryKey(const Text& keyPath, REGSAM view)
    : keyPath_(keyPath), view_(view) {
    for (std::size_t at = keyPath.find('\\'); at != Text::npos; at = keyPath.find('\\', at + 1)) {
        if (!keyExists(keyPath.substr(0, at), view_)) {
            madeParents_.push_back(keyPath.substr(0, at));
        }
    }
    putsBack_ = noteKeyToPutBack(keyPath_, view_, madeParents_);
    deleteKeyTree(HKEY_LOCAL_MACHINE, keyPath_, view_);
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | view_, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << keyPath_;
    if (key != nullptr) {
        RegCloseKey(key);
    }
}

MachineRegistryKey::~MachineRegistryKey() {
    if (putsBack_) {
        putBack(recordName(HKEY_LOCAL_MACHINE, view_, keyPath_));
    } else {
        deleteKeyTree(HKEY_LOCAL_MACHINE, keyPath_, view_);
    }
    for (auto parent = madeParents_.rbegin(); parent != madeParents_.rend(); ++parent) {
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, parent->c_str(), view_, 0); // fails while not empty
    }
}

void MachineRegistryKey::setString(const Text& valueName, const Text& data, DWORD type) const {
    setBytes(valueName, Text(data.c_str(), data.size() + 1), type);
}

void MachineRegistryKey::setBytes(const Text& valueName, const Text& data, DWORD type) const {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE | view_, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << keyPath_;
    EXPECT_EQ(RegSetValueExA(key, valueName.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

} // namespace vmsi::test
