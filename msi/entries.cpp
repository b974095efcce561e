// The Windows Installer entry points: UINT __stdcall Msi<Action>(MSIHANDLE),
// one per action, named after it without its "VMSI_" prefix. Each runs the
// routine behind the action's export with the arguments the entry reads.
// One more entry builds the CustomActionData of a deferred one.
#include "entry_runner.h"

#include "cache_removal.h"
#include "catalogue_conversion.h"
#include "catalogue_discovery.h"
#include "favourites.h"
#include "file_version.h"
#include "launch.h"
#include "registration.h"
#include "shortcuts.h"
#include "version_marker.h"

using vmsi::findExport;
using vmsi::msi::ActionOutput;
using vmsi::msi::Arguments;
using vmsi::msi::EntryDescription;
using vmsi::msi::runEntry;

extern "C" UINT __stdcall MsiLaunch(MSIHANDLE session) {
    static constexpr EntryDescription entry{"MsiLaunch", *findExport("VMSI_Launch"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&) {
        return vmsi::launchThroughShell(nullptr, a.text(0), a.text(1), a.text(2));
    });
}

extern "C" UINT __stdcall MsiLaunchWait(MSIHANDLE session) {
    static constexpr EntryDescription entry{"MsiLaunchWait", *findExport("VMSI_LaunchWait"),
                                            nullptr, true};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput& output) {
        return vmsi::launchAndWait(nullptr, a.text(0), a.text(1), a.text(2),
                                   vmsi::LaunchRequest::Start, &output.exitCode);
    });
}

extern "C" UINT __stdcall MsiRegister(MSIHANDLE session) {
    static constexpr EntryDescription entry{"MsiRegister", *findExport("VMSI_Register"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&) {
        return vmsi::registerComponent(nullptr, a.text(0), a.text(1), a.text(2));
    });
}

extern "C" UINT __stdcall MsiCheckIfAppInstalled(MSIHANDLE session) {
    static constexpr EntryDescription entry{"MsiCheckIfAppInstalled",
                                            *findExport("VMSI_CheckIfAppInstalled"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&) {
        return vmsi::checkIfAppInstalled(nullptr, a.text(0));
    });
}

extern "C" UINT __stdcall MsiCheckVersionOfFile(MSIHANDLE session) {
    static constexpr EntryDescription entry{"MsiCheckVersionOfFile",
                                            *findExport("VMSI_CheckVersionOfFile"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&) {
        return vmsi::checkVersionOfFile(nullptr, a.text(0), a.text(1), a.integer(2), a.integer(3),
                                        a.integer(4), a.integer(5));
    });
}

extern "C" UINT __stdcall MsiCreateDesktopShortcut(MSIHANDLE session) {
    static constexpr EntryDescription entry{"MsiCreateDesktopShortcut",
                                            *findExport("VMSI_CreateDesktopShortcut"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&) {
        return vmsi::createDesktopShortcut(nullptr, a.integer(0), a.text(1), a.text(2));
    });
}

extern "C" UINT __stdcall MsiRemoveDesktopShortcut(MSIHANDLE session) {
    static constexpr EntryDescription entry{"MsiRemoveDesktopShortcut",
                                            *findExport("VMSI_RemoveDesktopShortcut"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&) {
        return vmsi::removeDesktopShortcut(nullptr, a.integer(0), a.text(1));
    });
}

extern "C" UINT __stdcall MsiCheckForQLMKDB(MSIHANDLE session) {
    static constexpr EntryDescription entry{"MsiCheckForQLMKDB", *findExport("VMSI_CheckForQLMKDB"),
                                            "DATABASEPATH"};
    return runEntry(session, entry, [](const Arguments&, ActionOutput& output) {
        return vmsi::findEarlierCatalogue(nullptr, output.text);
    });
}

extern "C" UINT __stdcall MsiCheckForQLMK(MSIHANDLE session) {
    static constexpr EntryDescription entry{"MsiCheckForQLMK", *findExport("VMSI_CheckForQLMK"),
                                            "VERSIONTEXT"};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput& output) {
        return vmsi::checkInstalledVersion(nullptr, a.integer(0), output.text);
    });
}

extern "C" UINT __stdcall MsiLaunchDbMigrate(MSIHANDLE session) {
    static constexpr EntryDescription entry{"MsiLaunchDbMigrate",
                                            *findExport("VMSI_LaunchDbMigrate"), nullptr, true};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput& output) {
        return vmsi::convertCatalogue(nullptr, a.text(0), a.text(1), a.text(2), a.text(3),
                                      &output.exitCode);
    });
}

extern "C" UINT __stdcall MsiWriteFavorites(MSIHANDLE session) {
    static constexpr EntryDescription entry{"MsiWriteFavorites", *findExport("VMSI_WriteFavorites"),
                                            nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&) {
        return vmsi::writeFavourites(nullptr, a.text(0), a.text(1), a.text(2));
    });
}

extern "C" UINT __stdcall MsiRemoveQLMKCache(MSIHANDLE session) {
    static constexpr EntryDescription entry{"MsiRemoveQLMKCache",
                                            *findExport("VMSI_RemoveQLMKCache"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&) {
        return vmsi::removeCacheFolder(nullptr, a.text(0), a.text(1));
    });
}

// MsiSetCustomActionData: sets a deferred action's CustomActionData from the
// properties that MsiSetCustomActionData_Request names, quoted as the deferred
// entries read it.
extern "C" UINT __stdcall MsiSetCustomActionData(MSIHANDLE session) {
    return vmsi::msi::setCustomActionData(session);
}
