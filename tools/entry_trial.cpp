#include "entry_trial.h"

#include "entry_table.h"
#include "msi_handles.h"
#include "paths.h"
#include "runner.h"
#include "session.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

namespace vmsi::runner {

namespace {

using Entry = UINT(__stdcall*)(MSIHANDLE session);

// The installer's functions, from msi.dll in the system folder, loaded for
// --msi alone. A program that imports msi.dll starts with user32 set up, and
// under Wine that makes the first program of a session start explorer.exe
// for the desktop and wait for it: every run of the runner, --list too, took
// a second or more where it took a tenth, and explorer held the runner's
// standard error meanwhile.
struct Installer {
    LoadedModule module;
    decltype(&::MsiCloseHandle) MsiCloseHandle = nullptr;
    decltype(&::MsiOpenDatabaseA) MsiOpenDatabaseA = nullptr;
    decltype(&::MsiDatabaseOpenViewA) MsiDatabaseOpenViewA = nullptr;
    decltype(&::MsiViewExecute) MsiViewExecute = nullptr;
    decltype(&::MsiGetSummaryInformationA) MsiGetSummaryInformationA = nullptr;
    decltype(&::MsiSummaryInfoSetPropertyA) MsiSummaryInfoSetPropertyA = nullptr;
    decltype(&::MsiSummaryInfoPersist) MsiSummaryInfoPersist = nullptr;
    decltype(&::MsiDatabaseCommit) MsiDatabaseCommit = nullptr;
    decltype(&::MsiSetInternalUI) MsiSetInternalUI = nullptr;
    decltype(&::MsiSetExternalUIA) MsiSetExternalUIA = nullptr;
    decltype(&::MsiOpenPackageA) MsiOpenPackageA = nullptr;
    decltype(&::MsiSetPropertyW) MsiSetPropertyW = nullptr;
    decltype(&::MsiGetPropertyW) MsiGetPropertyW = nullptr;

    // ERROR_SUCCESS when msi.dll is loaded and has every function, or the
    // error of the call that failed.
    DWORD load() {
        module.reset(LoadLibraryExA("msi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
        const bool found = module && find(MsiCloseHandle, "MsiCloseHandle") &&
                           find(MsiOpenDatabaseA, "MsiOpenDatabaseA") &&
                           find(MsiDatabaseOpenViewA, "MsiDatabaseOpenViewA") &&
                           find(MsiViewExecute, "MsiViewExecute") &&
                           find(MsiGetSummaryInformationA, "MsiGetSummaryInformationA") &&
                           find(MsiSummaryInfoSetPropertyA, "MsiSummaryInfoSetPropertyA") &&
                           find(MsiSummaryInfoPersist, "MsiSummaryInfoPersist") &&
                           find(MsiDatabaseCommit, "MsiDatabaseCommit") &&
                           find(MsiSetInternalUI, "MsiSetInternalUI") &&
                           find(MsiSetExternalUIA, "MsiSetExternalUIA") &&
                           find(MsiOpenPackageA, "MsiOpenPackageA") &&
                           find(MsiSetPropertyW, "MsiSetPropertyW") &&
                           find(MsiGetPropertyW, "MsiGetPropertyW");
        return found ? ERROR_SUCCESS : GetLastError();
    }

private:
    template <typename Function>
    bool find(Function& function, const char* name) {
        function = exportOf<Function>(module.get(), name);
        return function != nullptr;
    }
};

Installer installer;

// Databases, views, summaries and sessions, closed through the loaded
// installer.
struct LoadedCloser {
    static void close(MSIHANDLE handle) { installer.MsiCloseHandle(handle); }
};
using InstallerHandle = UniqueHandle<msi::InstallerHandleTraits<LoadedCloser>>;

// The least a package needs for a session to be opened on it: the Property
// table with the properties that every package has, and summary information
// with a platform and language, a package code and the installer version it
// needs. (Wine's MsiOpenPackage refuses a package without a package code
// with ERROR_INSTALL_PACKAGE_INVALID, and leaves its copy of it in the
// Windows folder's Installer folder.) The package is only ever opened, never
// installed, so these codes never name an installed product.
constexpr const char* packageQueries[] = {
    "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, "
    "`Value` LONGCHAR NOT NULL LOCALIZABLE PRIMARY KEY `Property`)",
    "INSERT INTO `Property` (`Property`, `Value`) "
    "VALUES ('ProductCode', '{5D3C2A61-7E0B-4C9F-8A14-2B6E9F0C7D35}')",
    "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductLanguage', '1033')",
    "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductName', 'vmsi-run trial')",
    "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductVersion', '1.0.0')",
    "INSERT INTO `Property` (`Property`, `Value`) VALUES ('Manufacturer', 'Vardo')",
};
constexpr const char* packageTemplate = "Intel;1033";
constexpr const char* packageCode = "{8F1E4B27-3C6A-4D05-9B72-E0A5C3D81F46}";
constexpr INT packageSchema = 200;

// The package's file, named by GetTempFileNameA (which makes it, empty, so
// that nothing else takes the name) and deleted when the trial ends.
class TemporaryFile {
public:
    TemporaryFile() {
        char folder[MAX_PATH + 1];
        char path[MAX_PATH];
        const DWORD length = GetTempPathA(sizeof folder, folder);
        if (length > 0 && length < sizeof folder && GetTempFileNameA(folder, "vmr", 0, path) != 0) {
            path_ = path;
        } else {
            error_ = GetLastError();
        }
    }
    ~TemporaryFile() {
        if (!path_.empty()) {
            DeleteFileA(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Empty when no file could be made, for the reason in error().
    const Text& path() const { return path_; }
    DWORD error() const { return error_; }

private:
    Text path_;
    DWORD error_ = ERROR_SUCCESS;
};

UINT execute(MSIHANDLE database, const char* query) {
    InstallerHandle view;
    UINT status = installer.MsiDatabaseOpenViewA(database, query, view.receive());
    return status == ERROR_SUCCESS ? installer.MsiViewExecute(view.get(), 0) : status;
}

UINT writeSummary(MSIHANDLE database) {
    InstallerHandle summary;
    UINT status = installer.MsiGetSummaryInformationA(database, nullptr, 3, summary.receive());
    if (status == ERROR_SUCCESS) {
        status = installer.MsiSummaryInfoSetPropertyA(summary.get(), PIDSI_TEMPLATE, VT_LPSTR, 0,
                                                      nullptr, packageTemplate);
    }
    if (status == ERROR_SUCCESS) {
        status = installer.MsiSummaryInfoSetPropertyA(summary.get(), PIDSI_REVNUMBER, VT_LPSTR, 0,
                                                      nullptr, packageCode);
    }
    if (status == ERROR_SUCCESS) {
        status = installer.MsiSummaryInfoSetPropertyA(summary.get(), PIDSI_PAGECOUNT, VT_I4,
                                                      packageSchema, nullptr, nullptr);
    }
    return status == ERROR_SUCCESS ? installer.MsiSummaryInfoPersist(summary.get()) : status;
}

// Under Wine, the first program of a session that needs the desktop window
// starts explorer.exe /desktop for it and hands explorer its standard error,
// which stays open for as long as that desktop lives, seconds after the last
// program on it has ended: a caller reading the runner's errors through a
// pipe waits for it, and one reading a file finds it still held. The
// installer's session needs the desktop, so it is made here first, with
// standard error set aside. On Windows the desktop is always there.
void makeTheDesktopWithStandardErrorAside() {
    const HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_ERROR_HANDLE, nullptr);
    const LoadedModule user(LoadLibraryExA("user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    const auto desktopWindow =
        user ? exportOf<HWND(WINAPI*)()>(user.get(), "GetDesktopWindow") : nullptr;
    if (desktopWindow != nullptr) {
        desktopWindow();
    }
    SetStdHandle(STD_ERROR_HANDLE, errors);
}

// Writes the package to the path; ERROR_SUCCESS or the first failure.
UINT makePackage(const Text& path) {
    InstallerHandle database;
    UINT status = installer.MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_CREATE, database.receive());
    for (const char* query : packageQueries) {
        if (status == ERROR_SUCCESS) {
            status = execute(database.get(), query);
        }
    }
    if (status == ERROR_SUCCESS) {
        status = writeSummary(database.get());
    }
    return status == ERROR_SUCCESS ? installer.MsiDatabaseCommit(database.get()) : status;
}

// The installer calls its external handler from the thread that sends the
// message: here, the entry's own. It also sends lines of its own when a
// session opens and closes, which are not the entry's.
bool entryRunning = false;

int CALLBACK printLogLine(void*, UINT messageType, const char* message) {
    if (entryRunning && (messageType & 0xFF000000) == INSTALLMESSAGE_INFO && message != nullptr) {
        std::fprintf(stderr, "%s\n", message);
        std::fflush(stderr);
    }
    return 0; // not handled: a log the installer writes also gets the line
}

void printResults(MSIHANDLE session, const Text& entryName, UINT returned) {
    const Text stem = msi::upperCase(entryName) + "_";
    // Each immediate entry's result, the text that a buffer action's entry
    // hands back, and the exit code of the program that a waiting action's
    // entry started.
    std::vector<Text> suffixes = {"RESULT"};
    if (const msi::EntryDescription* entry = msi::findEntry(entryName)) {
        if (entry->resultTextName != nullptr) {
            suffixes.push_back(entry->resultTextName);
        }
        if (entry->handsOutExitCode) {
            suffixes.push_back("EXITCODE");
        }
    }
    for (const Text& suffix : suffixes) {
        const Text name = stem + suffix;
        const Text value =
            ansiWord(msi::wideProperty(installer.MsiGetPropertyW, session, widened(name)));
        if (!value.empty()) {
            std::printf("%s=%s\n", name.c_str(), value.c_str());
        }
    }
    const char* meaning = returned == ERROR_SUCCESS           ? " (ERROR_SUCCESS)"
                          : returned == ERROR_INSTALL_FAILURE ? " (ERROR_INSTALL_FAILURE)"
                                                              : "";
    std::printf("return: %u%s\n", returned, meaning);
    std::fflush(stdout);
}

// A warning for each property given that the entry does not read: it is
// set all the same, and the entry runs as a package with that property would
// run it.
void warnOfUnreadProperties(const Text& entryName,
                            const std::vector<std::pair<std::wstring, std::wstring>>& properties) {
    const std::optional<EntryReads> reads = entryReads(entryName);
    if (!reads) {
        return;
    }
    Text list;
    for (const Text& name : reads->properties) {
        list += (list.empty() ? "" : ", ") + name;
    }
    for (const auto& property : properties) {
        const Text name = ansiWord(property.first);
        if (std::find(reads->properties.begin(), reads->properties.end(), name) ==
            reads->properties.end()) {
            std::fprintf(stderr, "vmsi-run: warning: %s reads no property %s; it reads %s\n",
                         entryName.c_str(), name.c_str(), list.c_str());
        }
    }
    std::fflush(stderr);
}

} // namespace

std::optional<EntryReads> entryReads(const Text& entryName) {
    const msi::EntryDescription* entry = msi::findEntry(entryName);
    if (entry == nullptr) {
        return std::nullopt;
    }
    EntryReads reads{&entry->action, {}};
    const Text stem = msi::upperCase(entryName) + "_";
    for (std::size_t i = 0; i < entry->action.argumentCount; ++i) {
        reads.properties.push_back(stem + msi::upperCase(entry->action.arguments[i].name));
    }
    reads.properties.push_back(stem + "FAILONZERO");
    if (entry->handsOutExitCode) {
        reads.properties.push_back(stem + "FAILONEXITCODE");
        reads.properties.push_back(stem + "TIMEOUT");
    }
    return reads;
}

int tryEntry(const Text& dllPath, const Text& entryName,
             const std::vector<std::wstring>& assignments) {
    std::vector<std::pair<std::wstring, std::wstring>> properties;
    for (const std::wstring& assignment : assignments) {
        const std::size_t equals = assignment.find(L'=');
        if (equals == 0 || equals == std::wstring::npos) {
            return usageError("--msi takes properties as NAME=VALUE, not \"" +
                              ansiWord(assignment) + "\"");
        }
        properties.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
    }
    makeTheDesktopWithStandardErrorAside();
    // Before the entry's library, whose import of msi.dll then finds it
    // loaded instead of searching for it, beside this program first.
    if (const DWORD error = installer.load(); error != ERROR_SUCCESS) {
        return usageError("cannot load msi.dll from the system folder (error " +
                          std::to_string(error) + ")");
    }
    const LoadedModule library = loadLibraryToRun(dllPath);
    if (!library) {
        return exitUsage;
    }
    const Entry entry = exportOf<Entry>(library.get(), entryName.c_str());
    if (entry == nullptr) {
        return usageError(dllPath + " has no entry " + entryName +
                          "; the entries are named Vmsi<Action>, such as VmsiCheckForQLMK "
                          "(vmsi-run --msi --list shows them)");
    }
    warnOfUnreadProperties(entryName, properties);

    const TemporaryFile package;
    if (package.path().empty()) {
        return usageError("cannot make a file in the temporary folder (error " +
                          std::to_string(package.error()) + ")");
    }
    if (const UINT status = makePackage(package.path()); status != ERROR_SUCCESS) {
        return usageError("cannot make a package in " + package.path() + " (error " +
                          std::to_string(status) + ")");
    }
    // No dialog of the installer's own, whatever happens in the session.
    installer.MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    installer.MsiSetExternalUIA(printLogLine, INSTALLLOGMODE_INFO, nullptr);
    InstallerHandle session;
    if (const UINT status = installer.MsiOpenPackageA(package.path().c_str(), session.receive());
        status != ERROR_SUCCESS) {
        return usageError("cannot open a session on " + package.path() + " (error " +
                          std::to_string(status) + ")");
    }
    for (const auto& [name, value] : properties) {
        if (const UINT status =
                installer.MsiSetPropertyW(session.get(), name.c_str(), value.c_str());
            status != ERROR_SUCCESS) {
            return usageError("cannot set the property " + ansiWord(name) + " (error " +
                              std::to_string(status) + ")");
        }
    }

    std::fflush(stdout);
    entryRunning = true;
    const UINT returned = entry(session.get());
    entryRunning = false;
    printResults(session.get(), entryName, returned);
    return returned == ERROR_SUCCESS ? 0 : 1;
}

} // namespace vmsi::runner
