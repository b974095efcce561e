// The registry string read, the shell folder lookup and the machine-wide
// write probe, against the real registry of the test prefix.
#include "registry.h"
#include "scratch.h"
#include "wow64.h"

#include <gtest/gtest.h>

using namespace vmsi;
using test::TestRegistryKey;

namespace {

const char* const shellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::vector<unsigned char> bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

} // namespace

TEST(ReadRegistryString, ReadsStringsOfAnyLengthUpToTheirFirstNul) {
    TestRegistryKey key(HKEY_CURRENT_USER, "read-string");
    key.setString("Plain", "C:\\Program Files\\Old");
    key.setString("", "default value");
    key.setString("Long", std::string(100000, 'x'));
    key.setBytes("EmbeddedNul", bytes(std::string("before\0after\0", 13)), REG_SZ);

    EXPECT_EQ(readRegistryString(key.root(), key.path(), "Plain"), "C:\\Program Files\\Old");
    EXPECT_EQ(readRegistryString(key.root(), key.path(), ""), "default value");
    EXPECT_EQ(readRegistryString(key.root(), key.path(), "Long"), std::string(100000, 'x'));
    EXPECT_EQ(readRegistryString(key.root(), key.path(), "EmbeddedNul"), "before");
}

TEST(ReadRegistryString, TakesTheDataOfOtherTypesAsText) {
    TestRegistryKey key(HKEY_CURRENT_USER, "read-types");
    key.setString("Expand", "%ProgramFiles%\\Old", REG_EXPAND_SZ);
    key.setBytes("Dword", {'A', 'B', 'C', 0}, REG_DWORD);
    key.setBytes("Unterminated", bytes("xyz"));
    key.setBytes("Empty", {});

    EXPECT_EQ(readRegistryString(key.root(), key.path(), "Expand"), "%ProgramFiles%\\Old");
    EXPECT_EQ(readRegistryString(key.root(), key.path(), "Dword"), "ABC");
    // No NUL at all: exactly the bytes stored, nothing read past them. At
    // these lengths the data ends where the heap's next block header begins,
    // so a read past the end would not stop at a zero of padding.
    EXPECT_EQ(readRegistryString(key.root(), key.path(), "Unterminated"), "xyz");
    for (std::size_t length : {8, 24, 40, 56, 120}) {
        const std::string data(length, 'u');
        key.setBytes("Unterminated", bytes(data));
        EXPECT_EQ(readRegistryString(key.root(), key.path(), "Unterminated"), data) << length;
    }
    EXPECT_EQ(readRegistryString(key.root(), key.path(), "Empty"), "");
}

TEST(ReadRegistryString, GivesTheEmptyTextForWhatIsMissingOrRefused) {
    TestRegistryKey key(HKEY_CURRENT_USER, "read-missing");
    key.setString("Present", "x");
    EXPECT_EQ(readRegistryString(key.root(), key.path(), "Absent"), "");
    EXPECT_EQ(readRegistryString(key.root(), key.path() + "\\NoSuchKey", "Present"), "");

    TestRegistryKey locked(HKEY_CURRENT_USER, "read-refused");
    locked.setString("Value", "secret");
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExA(locked.root(), locked.path().c_str(), 0, WRITE_DAC, &handle),
              ERROR_SUCCESS);
    SECURITY_DESCRIPTOR nobody;
    InitializeSecurityDescriptor(&nobody, SECURITY_DESCRIPTOR_REVISION);
    ACL emptyAcl;
    InitializeAcl(&emptyAcl, sizeof emptyAcl, ACL_REVISION);
    SetSecurityDescriptorDacl(&nobody, TRUE, &emptyAcl, FALSE);
    ASSERT_EQ(RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, &nobody), ERROR_SUCCESS);
    RegCloseKey(handle);
    EXPECT_EQ(readRegistryString(locked.root(), locked.path(), "Value"), "");

    // A null DACL lets the key be removed again.
    ASSERT_EQ(RegOpenKeyExA(locked.root(), locked.path().c_str(), 0, WRITE_DAC, &handle),
              ERROR_SUCCESS);
    SetSecurityDescriptorDacl(&nobody, TRUE, nullptr, FALSE);
    EXPECT_EQ(RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, &nobody), ERROR_SUCCESS);
    RegCloseKey(handle);
}

TEST(ShellFolderPath, ReadsEachKindFromItsOwnValue) {
    struct Row {
        int kind;
        HKEY root;
        const char* keyPath;
        const char* valueName;
    };
    const Row rows[] = {
        {0, HKEY_LOCAL_MACHINE, shellFoldersKey, "Common Desktop"},
        {1, HKEY_CURRENT_USER, shellFoldersKey, "Desktop"},
        {2, HKEY_LOCAL_MACHINE, shellFoldersKey, "Common Start Menu"},
        {3, HKEY_CURRENT_USER, shellFoldersKey, "Start Menu"},
        {4, HKEY_LOCAL_MACHINE, shellFoldersKey, "Common Programs"},
        {5, HKEY_CURRENT_USER, shellFoldersKey, "Programs"},
        {6, HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"},
    };
    // The prefix's own Program Files folder, where the catalogue search
    // looks: under WoW64, Program Files (x86).
    EXPECT_EQ(shellFolderPath(6), test::programFilesFolder);
    for (const Row& row : rows) {
        test::RegistryValueOverride value(row.root, row.keyPath, row.valueName);
        const std::string folder = "C:\\vmsi kind " + std::to_string(row.kind) + "\\";
        value.set(folder);
        EXPECT_EQ(shellFolderPath(row.kind), folder) << "kind " << row.kind;
        value.remove();
        EXPECT_EQ(shellFolderPath(row.kind), "") << "kind " << row.kind << " without its value";
    }
}

TEST(ShellFolderPath, GivesTheEmptyTextForKindsOutOfRange) {
    EXPECT_EQ(shellFolderPath(7), "");
    EXPECT_EQ(shellFolderPath(-1), "");
    EXPECT_EQ(shellFolderPath(0x7FFFFFFF), "");
    EXPECT_EQ(shellFolderPath(static_cast<int>(0x80000000)), "");
}

TEST(CanWriteMachineSettings, FollowsTheRightToOpenSoftwareForWriting) {
    // Wine's token is elevated: HKLM\Software opens for writing.
    EXPECT_TRUE(canWriteMachineSettings());
    {
        test::ReadOnlyRegistryKey readOnly(HKEY_LOCAL_MACHINE, "Software");
        ASSERT_TRUE(readOnly.applied());
        EXPECT_FALSE(canWriteMachineSettings());
        // Reading is still allowed, and the probe wrote nothing.
        EXPECT_EQ(readRegistryString(HKEY_LOCAL_MACHINE,
                                     "Software\\Microsoft\\Windows\\CurrentVersion",
                                     "ProgramFilesDir"),
                  test::programFilesFolder);
    }
    EXPECT_TRUE(canWriteMachineSettings());
}
