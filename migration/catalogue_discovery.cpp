#include "catalogue_discovery.h"

#include "VardoMSICustomActions.h"
#include "diagnostics.h"
#include "handles.h"
#include "paths.h"
#include "registry.h"
#include "result_buffer.h"

namespace vmsi {

namespace {

// In the order they are probed: a hit shadows every candidate after it.
const RegistryCatalogueCandidate registryCandidates[] = {
    {"Vardo QLMK4", "Software\\Vardo\\Quillmark\\4.0", "InstallLocation", "\\system\\pcdb.mdb"},
    {"Orvil QLMK4", "Software\\Vardo\\Quillmark Orvil Edition\\4.0", "InstallLocation",
     "\\system\\pcdb.mdb"},
    {"Stillwell", "Software\\Vardo\\Vardo Stillwell\\1.0\\Install", "Directory",
     "\\system\\pcdb.mdb"},
    {"Lensmith", "Software\\Vardo\\Vardo Lensmith\\1.0\\Install", "Directory",
     "\\system\\pcdb.mdb"},
    {"Orvil Snapdesk", "Software\\Vardo\\Orvil Snapdesk\\3.4\\Install", "Directory",
     "\\system\\pcdb.mdb"},
};

struct FolderCatalogueCandidate {
    const char* belowProgramFiles;
    const char* foundText;
};

// The older products' default folders. Snapdesk is tried before Lensmith
// here, unlike in the registry table; the two Quillmark 4.0 editions have
// no default folder.
const FolderCatalogueCandidate folderCandidates[] = {
    {"\\Vardo Software Inc\\Vardo Stillwell\\System\\pcdb.mdb", "Found the database (stillwell)"},
    {"\\Orvil Computer\\Orvil Snapdesk\\System\\pcdb.mdb", "Found the database (orvil)"},
    {"\\Vardo Software Inc\\Vardo Lensmith\\System\\pcdb.mdb", "Found the database (lensmith)"},
};

constexpr DWORD installFolderBufferSize = MAX_PATH;

Text findInRegisteredInstallations(HWND owner) {
    for (const RegistryCatalogueCandidate& candidate : registryCandidates) {
        Text path = probeRegistryCatalogue(owner, candidate);
        if (!path.empty()) {
            return path;
        }
    }
    return Text();
}

Text findInDefaultFolders(HWND owner) {
    const Text programFiles = shellFolderPath(ShellFolderKind::ProgramFiles);
    reportInformation(owner, "ProgramFiles folder = " + programFiles);

    // An unreadable Program Files folder leaves the appended paths alone,
    // which the normaliser turns into network-style paths; they are tested
    // in that form.
    Text paths[sizeof folderCandidates / sizeof folderCandidates[0]];
    for (std::size_t i = 0; i < sizeof folderCandidates / sizeof folderCandidates[0]; ++i) {
        paths[i] = normalisePath(programFiles + folderCandidates[i].belowProgramFiles);
    }
    for (std::size_t i = 0; i < sizeof folderCandidates / sizeof folderCandidates[0]; ++i) {
        if (pathExists(paths[i])) {
            reportInformation(owner, folderCandidates[i].foundText);
            return paths[i];
        }
    }
    return Text();
}

} // namespace

Text probeRegistryCatalogue(HWND owner, const RegistryCatalogueCandidate& candidate) {
    reportInformation(owner, Text("Check for previous ") + candidate.label + " DB under HKLM");

    RegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, candidate.keyPath, 0, KEY_QUERY_VALUE, key.receive()) !=
        ERROR_SUCCESS) {
        return Text();
    }
    // Data longer than the buffer fails the read, like a missing value; the
    // type is not looked at, so data of any type is text.
    const std::optional<RegistryText> folder =
        readRegistryText(key.get(), candidate.valueName, installFolderBufferSize);
    if (!folder) {
        reportWarning(owner, "Registry Error");
        return Text();
    }
    const Text path = normalisePath(folder->text + candidate.relativePath);
    if (!pathExists(path)) {
        reportInformation(owner, "Did not find database: " + path);
        return Text();
    }
    reportInformation(owner, "Found the database: " + path);
    return path;
}

int findEarlierCatalogue(HWND owner, char* databasePath) {
    Text path = findInRegisteredInstallations(owner);
    if (path.empty()) {
        reportWarning(owner, "registry Key does not exist");
        path = findInDefaultFolders(owner);
        if (path.empty()) {
            reportWarning(owner, "No database found");
            return 0;
        }
    }
    // The caller's buffer is MAX_PATH bytes: a path that does not fit is
    // not handed back cut short, which would name another file.
    if (!fitsResultBuffer(path)) {
        reportWarning(owner, "Database path too long: " + path);
        return 0;
    }
    reportWarning(owner, "csDatabase = " + path);
    copyToResultBuffer(databasePath, path);
    return 1;
}

} // namespace vmsi

// VMSI_CheckForQLMKDB: finds an earlier catalogue; 1 and its path in the buffer.
extern "C" int __stdcall VMSI_CheckForQLMKDB(HWND owner, char* databasePath) {
    return vmsi::findEarlierCatalogue(owner, databasePath);
}
