#include "action_bench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace vmsi::test {

namespace {

constexpr const char* shellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* appPathsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";
constexpr const char* testKeys = "Software\\VardoMSICustomActionsTests";
constexpr const char* folderOpenCommandKey = "Software\\Classes\\Folder\\shell\\open\\command";

// A name and its spellings outside ASCII. For a folder the second byte of
// leadByteAndBackslash is a separator in the Western code page, so the
// folder it names is the name followed by the lead byte alone.
std::vector<Text> folderSpellings(const Text& name) {
    return {name, name + westernLetters, name + leadByteAndBackslash.substr(0, 1)};
}
std::vector<Text> fileSpellings(const Text& name) {
    return {name, name + westernLetters};
}

std::optional<Text> readRegistryValue(HKEY root, const Text& keyPath, const Text& valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    char data[MAX_PATH * 2] = "";
    DWORD size = sizeof data - 1;
    const LONG status = RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return Text(data, strnlen(data, size));
}

Text lowerCase(Text text) {
    CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

void ensureFolder(const Text& path) {
    if (GetFileAttributesA(path.c_str()) != FILE_ATTRIBUTE_DIRECTORY) {
        makeFolders(path);
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// Written only when it differs, so that putting the bench back is cheap.
void ensureFile(const Text& path, const Text& contents, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    const DWORD expected = attributes == FILE_ATTRIBUTE_NORMAL
                               ? FILE_ATTRIBUTE_ARCHIVE
                               : attributes | FILE_ATTRIBUTE_ARCHIVE;
    const DWORD present = GetFileAttributesA(path.c_str());
    if ((present & ~FILE_ATTRIBUTE_ARCHIVE) == (expected & ~FILE_ATTRIBUTE_ARCHIVE) &&
        readFile(path) == contents) {
        return;
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    writeFile(path, contents);
    SetFileAttributesA(path.c_str(), attributes);
}

void ensureCopy(const Text& from, const Text& to) {
    WIN32_FILE_ATTRIBUTE_DATA source = {};
    WIN32_FILE_ATTRIBUTE_DATA copy = {};
    if (GetFileAttributesExA(to.c_str(), GetFileExInfoStandard, &copy) &&
        GetFileAttributesExA(from.c_str(), GetFileExInfoStandard, &source) &&
        copy.nFileSizeLow == source.nFileSizeLow) {
        return;
    }
    copyFileOrFail(from, to);
}

} // namespace

ActionBench::ActionBench() : scratch_("bench") {
    makeLayout();
    current_.emplace(scratch_ / "Current");

    const std::pair<HKEY, const char*> shellFolders[] = {
        {HKEY_CURRENT_USER, "Desktop"},
        {HKEY_CURRENT_USER, "Programs"},
        {HKEY_LOCAL_MACHINE, "Common Desktop"},
        {HKEY_LOCAL_MACHINE, "Common Programs"},
    };
    for (const auto& [root, value] : shellFolders) {
        const auto present = readRegistryValue(root, shellFoldersKey, value);
        if (std::strstr(value, "Desktop") != nullptr && present) {
            realDesktops_.push_back(*present);
        }
        overrides_.push_back(std::make_unique<RegistryValueOverride>(root, shellFoldersKey, value));
    }
    overrides_[0]->set(userDesktop());
    overrides_[1]->set(userPrograms());
    overrides_[2]->set(commonDesktop());
    overrides_[3]->set(commonPrograms());

    for (const Text& name : folderSpellings("vmsi-bench.exe")) {
        machineKeys_.push_back(
            std::make_unique<MachineRegistryKey>(Text(appPathsKey) + "\\" + name));
        machineKeys_.back()->setString("", scratch_ / "App\\app.exe");
    }
    // The App Paths key's own default value, which an empty or null name reads.
    overrides_.push_back(
        std::make_unique<RegistryValueOverride>(HKEY_LOCAL_MACHINE, appPathsKey, ""));
    overrides_.back()->set(scratch_ / "App\\app.exe");
    machineKeys_.push_back(std::make_unique<MachineRegistryKey>("Software\\Vardo\\Quillmark\\4.0"));
    machineKeys_.back()->setString("InstallLocation", scratch_ / "Old");
    const Text markers = "Software\\Vardo\\QLMKInternalVersion\\Version";
    machineKeys_.push_back(std::make_unique<MachineRegistryKey>(markers + "4"));
    machineKeys_.back()->setString("Version", "4.0.1");
    // Longer than a result buffer holds.
    machineKeys_.push_back(std::make_unique<MachineRegistryKey>(markers + "-1"));
    machineKeys_.back()->setString("Version", Text(300, 'v'));
    machineKeys_.push_back(std::make_unique<MachineRegistryKey>(markers + "-2147483648"));
    machineKeys_.back()->setString("Version", "");
    machineKeys_.push_back(std::make_unique<MachineRegistryKey>(markers + "2147483647"));
    machineKeys_.back()->setBytes("Version", Text("\x07\x00\x00\x00", 4), REG_DWORD);

    // Opening a folder through the shell starts the shell's file manager,
    // which under Wine rewrites the Shell Folders values. For the bench's
    // life the shell opens a folder with a copy of the recorder instead,
    // which writes down what it was given and ends.
    machineKeys_.push_back(std::make_unique<MachineRegistryKey>(folderOpenCommandKey));
    machineKeys_.back()->setString("", "\"" + folderOpener() + "\" \"%1\"");

    pristineTree_ = tree();
    pristineRegistry_ = registry();
}

ActionBench::~ActionBench() {
    current_.reset();
    // Keys in reverse order of making, so parents made for one go last.
    while (!machineKeys_.empty()) {
        machineKeys_.pop_back();
    }
}

void ActionBench::makeLayout() const {
    const Text document = "notes.vmsi-no-such-type";
    ensureFolder(scratch_ / "Current");
    ensureFolder(scratch_ / "App");
    ensureFile(scratch_ / "App\\app.exe", "app");
    ensureFolder(scratch_ / "New");
    ensureFolder(scratch_ / "Shell");
    ensureCopy(besideThisProgram("recorder.exe"), folderOpener());
    ensureFolder(scratch_ / "Old\\system");
    ensureFile(scratch_ / "Old\\system\\pcdb.mdb", "catalogue");
    for (const Text& folder : folderSpellings("Launch")) {
        ensureFolder(scratch_ / folder);
        for (const Text& file : fileSpellings(document)) {
            ensureFile(scratch_ / folder + "\\" + file, "a document of no known type");
        }
    }
    const std::pair<const char*, const char*> programs[] = {
        {"Tools", "recorder.exe"},
        {"Components", "VmsiSelfRegistering.dll"},
        {"Versions", "VmsiVersion5123.dll"},
    };
    for (const auto& [folderName, fileName] : programs) {
        for (const Text& folder : folderSpellings(folderName)) {
            ensureFolder(scratch_ / folder);
            for (const Text& file : fileSpellings(fileName)) {
                ensureCopy(besideThisProgram(fileName), scratch_ / folder + "\\" + file);
            }
        }
    }
    for (const Text& folder : folderSpellings("Migrate")) {
        ensureFolder(scratch_ / folder);
        ensureCopy(besideThisProgram("recorder.exe"), scratch_ / folder + "\\DbMigrate.exe");
    }
    for (const Text& desktop : {userDesktop(), commonDesktop()}) {
        ensureFolder(desktop);
        for (const Text& file : fileSpellings("Old Quillmark.lnk")) {
            ensureFile(desktop + "\\" + file, "shortcut on " + desktop,
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        }
    }
    for (const Text& programs : {userPrograms(), commonPrograms()}) {
        for (const Text& group : folderSpellings("Quillmark")) {
            ensureFolder(programs + "\\" + group);
            for (const Text& file : fileSpellings("Quillmark.lnk")) {
                ensureFile(programs + "\\" + group + "\\" + file, "shortcut in " + programs);
            }
        }
    }
    for (const Text& base : folderSpellings("Favourites")) {
        for (const Text& folder : folderSpellings("Cfg")) {
            ensureFolder(scratch_ / base + "\\" + folder);
        }
    }
    for (const Text& parent : folderSpellings("CacheParent")) {
        for (const Text& cache : folderSpellings("Cache")) {
            const Text folder = scratch_ / parent + "\\" + cache;
            ensureFolder(folder);
            ensureFile(folder + "\\a.dat", "a");
            ensureFile(folder + "\\b.dat", "b", FILE_ATTRIBUTE_READONLY);
            ensureFile(folder + "\\c.dat", "c", FILE_ATTRIBUTE_HIDDEN);
        }
        // The parent's own file, which no removal of a folder below may touch.
        ensureFile(scratch_ / parent + "\\parent.dat", "the parent's own");
    }
}

ArgumentValue ActionBench::baseline(const ExportDescription& action,
                                    const ArgumentDescription& argument) const {
    const Text key = Text(action.name) + "/" + argument.name;
    const std::pair<const char*, Text> texts[] = {
        {"VMSI_Launch/folder", scratch_ / "Launch"},
        {"VMSI_Launch/fileName", "notes.vmsi-no-such-type"},
        {"VMSI_Launch/parameters", "/p"},
        {"VMSI_LaunchWait/folder", scratch_ / "Tools"},
        {"VMSI_LaunchWait/fileName", "recorder.exe"},
        {"VMSI_LaunchWait/parameters", "--exit=3 /x"},
        {"VMSI_Register/options", "/s"},
        {"VMSI_Register/folder", scratch_ / "Components"},
        {"VMSI_Register/fileName", "VmsiSelfRegistering.dll"},
        {"VMSI_CheckIfAppInstalled/programName", "vmsi-bench.exe"},
        {"VMSI_CheckVersionOfFile/folder", scratch_ / "Versions"},
        {"VMSI_CheckVersionOfFile/fileName", "VmsiVersion5123.dll"},
        {"VMSI_CreateDesktopShortcut/programGroup", "Quillmark"},
        {"VMSI_CreateDesktopShortcut/shortcutFileName", "Quillmark.lnk"},
        {"VMSI_RemoveDesktopShortcut/shortcutFileName", "Old Quillmark.lnk"},
        {"VMSI_LaunchDbMigrate/toolFolder", scratch_ / "Migrate"},
        {"VMSI_LaunchDbMigrate/oldCatalogue", scratch_ / "Old\\system\\pcdb.mdb"},
        {"VMSI_LaunchDbMigrate/newFolder", scratch_ / "New"},
        {"VMSI_LaunchDbMigrate/newFileName", "cat.mdb"},
        {"VMSI_WriteFavorites/baseFolder", scratch_ / "Favourites"},
        {"VMSI_WriteFavorites/fileFolder", "Cfg"},
        {"VMSI_WriteFavorites/favourite", "Pics"},
        {"VMSI_RemoveQLMKCache/parentFolder", scratch_ / "CacheParent"},
        {"VMSI_RemoveQLMKCache/cacheFolderName", "Cache"},
    };
    for (const auto& [name, value] : texts) {
        if (key == name) {
            return ArgumentValue::ofText(value);
        }
    }
    const std::pair<const char*, int> integers[] = {
        {"VMSI_CheckVersionOfFile/first", 5},
        {"VMSI_CheckVersionOfFile/second", 1},
        {"VMSI_CheckVersionOfFile/third", 2},
        {"VMSI_CheckVersionOfFile/fourth", 3},
        {"VMSI_CreateDesktopShortcut/allUsersMode", 1},
        {"VMSI_RemoveDesktopShortcut/allUsersMode", 1},
        {"VMSI_CheckForQLMK/version", 4},
    };
    for (const auto& [name, value] : integers) {
        if (key == name) {
            return ArgumentValue::ofInteger(value);
        }
    }
    ADD_FAILURE() << "the bench has no baseline for " << key;
    return ArgumentValue::nullText();
}

std::vector<RegistrySnapshot> ActionBench::registry() const {
    return {
        registrySnapshotOf(HKEY_LOCAL_MACHINE, "Software\\Vardo"),
        registrySnapshotOf(HKEY_LOCAL_MACHINE, appPathsKey),
        registrySnapshotOf(HKEY_CURRENT_USER, shellFoldersKey),
        registrySnapshotOf(HKEY_LOCAL_MACHINE, shellFoldersKey),
        registrySnapshotOf(HKEY_CURRENT_USER, testKeys),
        registrySnapshotOf(HKEY_LOCAL_MACHINE, testKeys),
        registrySnapshotOf(HKEY_LOCAL_MACHINE, folderOpenCommandKey),
    };
}

std::vector<TreeSnapshot> ActionBench::surroundings() const {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    std::vector<TreeSnapshot> listings = {
        listingOf("C:"),
        listingOf(windows),
        listingOf(temp),
        listingOf(thisProgramFolder()),
    };
    for (const Text& desktop : realDesktops_) {
        listings.push_back(listingOf(desktop));
    }
    return listings;
}

void ActionBench::restore() {
    std::vector<Text> created;
    for (const auto& [path, entry] : tree()) {
        if (pristineTree_.count(path) == 0) {
            created.push_back(path);
        }
    }
    // Deepest first; a folder's removal takes what is below it anyway.
    std::sort(created.begin(), created.end(),
              [](const Text& left, const Text& right) { return left.size() > right.size(); });
    for (const Text& path : created) {
        removeTree(scratch_ / path);
    }
    makeLayout();
}

std::optional<Text> ActionBench::relativeToRoot(const Text& path) const {
    char full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) {
        return std::nullopt;
    }
    Text absolute(full, length);
    while (absolute.size() > 3 && absolute.back() == '\\') {
        absolute.pop_back();
    }
    const Text prefix = lowerCase(root() + "\\");
    if (lowerCase(absolute) == lowerCase(root())) {
        return Text();
    }
    if (lowerCase(absolute).compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    return absolute.substr(prefix.size());
}

} // namespace vmsi::test
