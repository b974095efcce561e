// Real places for the tests to work in: scratch folders under the prefix's
// temporary folder and registry keys under a test-owned key, each wiped when
// made and again when done.
#pragma once

#include "text.h"

#include <windows.h>

#include <optional>
#include <vector>

namespace vmsi::test {

Text thisProgramFolder();

// The built library or fixture of that file name beside the test program.
Text besideThisProgram(const Text& fileName);

class ScratchFolder {
public:
    explicit ScratchFolder(const Text& name);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const Text& path() const { return path_; }
    // path() + "\" + relative
    Text operator/(const Text& relative) const;

private:
    Text path_;
};

// Removes a file or a whole folder tree; links are removed, never followed.
void removeTree(const Text& path);
void makeFolders(const Text& path);
void writeFile(const Text& path, const Text& contents);
std::optional<Text> readFile(const Text& path);
void copyFileOrFail(const Text& from, const Text& to);
// Waits until the file exists, for things started without waiting.
std::optional<Text> waitForFile(const Text& path, DWORD timeoutMilliseconds = 20000);

// One field of a "name=value" line record written by a fixture ("commandLine",
// "workingFolder", "arg1", ...), or a marker text when the record lacks it.
Text recordField(const Text& record, const Text& field);

// A copy of a file planted at a path for the life of the object, then
// removed with the record a planted recorder leaves.
class PlantedFile {
public:
    PlantedFile(const Text& from, const Text& path) : path_(path) { copyFileOrFail(from, path); }
    ~PlantedFile() {
        removeTree(path_);
        removeTree(path_ + ".record");
    }
    PlantedFile(const PlantedFile&) = delete;
    PlantedFile& operator=(const PlantedFile&) = delete;

    const Text& path() const { return path_; }
    // Whether the planted program ran: its record is there.
    bool ran() const { return readFile(path_ + ".record").has_value(); }

private:
    Text path_;
};

// Makes a folder the current folder for the life of the object.
class CurrentFolder {
public:
    explicit CurrentFolder(const Text& folder);
    ~CurrentFolder();
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    Text old_;
};

// HKCU or HKLM "Software\VardoMSICustomActionsTests\<name>", created empty.
class TestRegistryKey {
public:
    TestRegistryKey(HKEY root, const Text& name);
    ~TestRegistryKey();
    TestRegistryKey(const TestRegistryKey&) = delete;
    TestRegistryKey& operator=(const TestRegistryKey&) = delete;

    HKEY root() const { return root_; }
    const Text& path() const { return path_; }
    void setString(const Text& valueName, const Text& data, DWORD type = REG_SZ) const;
    void setBytes(const Text& valueName, const std::vector<unsigned char>& data,
                  DWORD type = REG_BINARY) const;

private:
    HKEY root_;
    Text path_;
};

// Sets a registry value for the life of the object and puts back what was
// there before (or removes it): for the system's own keys in the prefix. What
// was there is noted first, for the next program to put back should this one
// die (machine_keys.h).
class RegistryValueOverride {
public:
    RegistryValueOverride(HKEY root, const Text& keyPath, const Text& valueName);
    ~RegistryValueOverride();
    RegistryValueOverride(const RegistryValueOverride&) = delete;
    RegistryValueOverride& operator=(const RegistryValueOverride&) = delete;

    void set(const Text& data) const;
    void remove() const;

private:
    HKEY root_;
    Text keyPath_;
    Text valueName_;
    bool existed_ = false;
    DWORD type_ = REG_SZ;
    std::vector<unsigned char> data_;
    bool notes_ = false; // puts back from its note (machine_keys.h), not nested
};

// Gives a key a DACL that lets everyone read it and nobody write it, for the
// life of the object, then puts its old DACL back (noted first, so that a
// program that dies meanwhile has it put back by the next: machine_keys.h).
// Wine's token is elevated, so this is how a refused write open is produced
// for real.
class ReadOnlyRegistryKey {
public:
    ReadOnlyRegistryKey(HKEY root, const Text& keyPath);
    ~ReadOnlyRegistryKey();
    ReadOnlyRegistryKey(const ReadOnlyRegistryKey&) = delete;
    ReadOnlyRegistryKey& operator=(const ReadOnlyRegistryKey&) = delete;

    bool applied() const { return applied_; }

private:
    HKEY root_;
    Text keyPath_;
    HKEY key_ = nullptr;
    std::vector<unsigned char> savedSecurity_;
    bool applied_ = false;
};

void setRegistryString(HKEY root, const Text& keyPath, const Text& valueName, const Text& data,
                       DWORD type = REG_SZ);

} // namespace vmsi::test
