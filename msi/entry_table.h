// The Windows Installer entry points, one row each: UINT __stdcall
// Vmsi<Action>(MSIHANDLE) runs the action behind the export VMSI_<Action>.
// Windows Installer keeps names that begin with "Msi", in any case, for its
// own, so the entries, the include's custom actions and their properties
// begin with "Vmsi". The entry library and vmsi-run --msi both read this.
#pragma once

#include "export_table.h"
#include "text.h"

#include <string_view>

namespace vmsi::msi {

struct EntryDescription {
    const char* name;                     // the entry, also the stem of its property names
    const char* resultTextName = nullptr; // buffer actions: the property suffix of the text
    // Actions that wait for a program: the entry hands its exit code to the
    // package and takes a second fail request, for a non-zero one, and a
    // time-out in seconds.
    bool handsOutExitCode = false;
    const ExportDescription& action = *exportOfEntry(name);

private:
    // VMSI_<Action> for Vmsi<Action>.
    static constexpr const ExportDescription* exportOfEntry(std::string_view entry) {
        for (const ExportDescription& description : exportTable) {
            const std::string_view exported = description.name;
            if (entry.substr(0, 4) == "Vmsi" && exported.substr(0, 5) == "VMSI_" &&
                entry.substr(4) == exported.substr(5)) {
                return &description;
            }
        }
        return nullptr;
    }
};

inline constexpr EntryDescription entryTable[] = {
    {"VmsiLaunch"},
    {"VmsiLaunchWait", nullptr, true},
    {"VmsiRegister"},
    {"VmsiCheckIfAppInstalled"},
    {"VmsiCheckVersionOfFile"},
    {"VmsiCreateDesktopShortcut"},
    {"VmsiRemoveDesktopShortcut"},
    {"VmsiCheckForQLMKDB", "DATABASEPATH"},
    {"VmsiCheckForQLMK", "VERSIONTEXT"},
    {"VmsiLaunchDbMigrate", nullptr, true},
    {"VmsiWriteFavorites"},
    {"VmsiRemoveQLMKCache"},
};

// The row of the entry of that name, or null. Where it is evaluated as a
// constant, *findEntry("...") of a name the table lacks does not compile.
constexpr const EntryDescription* findEntry(std::string_view name) {
    for (const EntryDescription& entry : entryTable) {
        if (name == entry.name) {
            return &entry;
        }
    }
    return nullptr;
}

// Property names are upper case: the entry's, then the argument's.
inline Text upperCase(Text text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

} // namespace vmsi::msi
