#include "scratch.h"

#include "machine_keys.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace vmsi::test {

namespace {
constexpr const char* testKeyRoot = "Software\\VardoMSICustomActionsTests";
}

Text thisProgramFolder() {
    char path[4096];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    Text text(path, length);
    return text.substr(0, text.find_last_of('\\'));
}

Text besideThisProgram(const Text& fileName) {
    return thisProgramFolder() + "\\" + fileName;
}

void removeTree(const Text& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        // A program that has just ended may still hold its image for a moment.
        for (int attempt = 0; !DeleteFileA(path.c_str()) && attempt < 100; ++attempt) {
            Sleep(50);
        }
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                Text name = entry.cFileName;
                if (name != "." && name != "..") {
                    removeTree(path + "\\" + name);
                }
            } while (FindNextFileA(search, &entry));
            FindClose(search);
        }
    }
    RemoveDirectoryA(path.c_str());
}

void makeFolders(const Text& path) {
    for (std::size_t at = path.find('\\', 3); at != Text::npos; at = path.find('\\', at + 1)) {
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryA(path.c_str(), nullptr);
}

ScratchFolder::ScratchFolder(const Text& name) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    path_ = Text(temp) + "vmsi-tests\\" + name;
    removeTree(path_);
    makeFolders(path_);
}

ScratchFolder::~ScratchFolder() {
    removeTree(path_);
}

Text ScratchFolder::operator/(const Text& relative) const {
    return path_ + "\\" + relative;
}

void writeFile(const Text& path, const Text& contents) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << contents;
    ASSERT_TRUE(file.good()) << "cannot write " << path;
}

std::optional<Text> readFile(const Text& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

void copyFileOrFail(const Text& from, const Text& to) {
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE))
        << "cannot copy " << from << " to " << to << ": error " << GetLastError();
}

std::optional<Text> waitForFile(const Text& path, DWORD timeoutMilliseconds) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    for (;;) {
        if (auto contents = readFile(path)) {
            return contents;
        }
        if (GetTickCount64() > deadline) {
            return std::nullopt;
        }
        Sleep(10);
    }
}

Text recordField(const Text& record, const Text& field) {
    const Text start = field + "=";
    for (std::size_t at = 0; at < record.size();) {
        const std::size_t end = record.find('\n', at);
        const Text line = record.substr(at, end - at);
        if (line.compare(0, start.size(), start) == 0) {
            return line.substr(start.size());
        }
        at = end == Text::npos ? end : end + 1;
    }
    return "<no " + field + " recorded>";
}

CurrentFolder::CurrentFolder(const Text& folder) {
    char old[MAX_PATH * 2];
    GetCurrentDirectoryA(sizeof old, old);
    old_ = old;
    EXPECT_TRUE(SetCurrentDirectoryA(folder.c_str())) << folder;
}

CurrentFolder::~CurrentFolder() {
    SetCurrentDirectoryA(old_.c_str());
}

TestRegistryKey::TestRegistryKey(HKEY root, const Text& name)
    : root_(root), path_(Text(testKeyRoot) + "\\" + name) {
    RegDeleteTreeA(root_, path_.c_str());
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS)
        << path_;
    if (key != nullptr) {
        RegCloseKey(key);
    }
}

TestRegistryKey::~TestRegistryKey() {
    RegDeleteTreeA(root_, path_.c_str());
    RegDeleteKeyA(root_, testKeyRoot); // only when no other test's key is left
}

void TestRegistryKey::setString(const Text& valueName, const Text& data, DWORD type) const {
    setRegistryString(root_, path_, valueName, data, type);
}

void TestRegistryKey::setBytes(const Text& valueName, const std::vector<unsigned char>& data,
                               DWORD type) const {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(root_, path_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, valueName.c_str(), 0, type, data.data(),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void setRegistryString(HKEY root, const Text& keyPath, const Text& valueName, const Text& data,
                       DWORD type) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS)
        << keyPath;
    EXPECT_EQ(RegSetValueExA(key, valueName.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>(data.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

RegistryValueOverride::RegistryValueOverride(HKEY root, const Text& keyPath, const Text& valueName)
    : root_(root), keyPath_(keyPath), valueName_(valueName) {
    HKEY key = nullptr;
    DWORD size = 0;
    if (RegOpenKeyExA(root_, keyPath_.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExA(key, valueName_.c_str(), nullptr, &type_, nullptr, &size) ==
            ERROR_SUCCESS) {
            data_.resize(size);
            existed_ = RegQueryValueExA(key, valueName_.c_str(), nullptr, &type_, data_.data(),
                                        &size) == ERROR_SUCCESS;
            data_.resize(size);
        }
        RegCloseKey(key);
    }
    notes_ = noteValueToPutBack(root_, keyPath_, valueName_, existed_, type_, data_);
}

RegistryValueOverride::~RegistryValueOverride() {
    if (notes_) {
        putBackNotedValue(root_, keyPath_, valueName_);
    } else if (existed_) {
        HKEY key = nullptr;
        if (RegCreateKeyExA(root_, keyPath_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            RegSetValueExA(key, valueName_.c_str(), 0, type_, data_.data(),
                           static_cast<DWORD>(data_.size()));
            RegCloseKey(key);
        }
    } else {
        remove();
    }
}

void RegistryValueOverride::set(const Text& data) const {
    setRegistryString(root_, keyPath_, valueName_, data);
}

void RegistryValueOverride::remove() const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, keyPath_.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, valueName_.c_str());
        RegCloseKey(key);
    }
}

ReadOnlyRegistryKey::ReadOnlyRegistryKey(HKEY root, const Text& keyPath)
    : root_(root), keyPath_(keyPath) {
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, READ_CONTROL | WRITE_DAC, &key_) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot open " << keyPath << " to change its DACL";
        key_ = nullptr;
        return;
    }
    DWORD size = 0;
    RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, nullptr, &size);
    savedSecurity_.resize(size);
    if (size == 0 || RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, savedSecurity_.data(),
                                       &size) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot read the DACL of " << keyPath;
        return;
    }

    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                             &everyone);
    std::vector<unsigned char> aclBuffer(256);
    auto* acl = reinterpret_cast<ACL*>(aclBuffer.data());
    InitializeAcl(acl, static_cast<DWORD>(aclBuffer.size()), ACL_REVISION);
    AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, everyone);
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    // Should the program die before the destructor, the next puts it back.
    noteSecurityToPutBack(root, keyPath, savedSecurity_);
    applied_ = RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
    FreeSid(everyone);
    EXPECT_TRUE(applied_) << "cannot restrict the DACL of " << keyPath;
}

ReadOnlyRegistryKey::~ReadOnlyRegistryKey() {
    if (key_ == nullptr) {
        return;
    }
    RegCloseKey(key_);
    EXPECT_TRUE(putBackNoted(root_, keyPath_)) << "the key's old DACL could not be put back";
}

} // namespace vmsi::test
