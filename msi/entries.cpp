// The Windows Installer entry points: UINT __stdcall Vmsi<Action>(MSIHANDLE),
// one per action VMSI_<Action>. Windows Installer keeps names that begin
// with "Msi", in any case, for its own, so the entries, the include's
// custom actions and their properties begin with "Vmsi". Each runs the
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
using vmsi::WaitPolicy;
using vmsi::msi::ActionOutput;
using vmsi::msi::Arguments;
using vmsi::msi::EntryDescription;
using vmsi::msi::runEntry;

extern "C" UINT __stdcall VmsiLaunch(MSIHANDLE session) {
    static constexpr EntryDescription entry{"VmsiLaunch", *findExport("VMSI_Launch"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&, WaitPolicy&) {
        return vmsi::launchThroughShell(nullptr, a.text(0), a.text(1), a.text(2));
    });
}

extern "C" UINT __stdcall VmsiLaunchWait(MSIHANDLE session) {
    static constexpr EntryDescription entry{"VmsiLaunchWait", *findExport("VMSI_LaunchWait"),
                                            nullptr, true};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput& output, WaitPolicy& wait) {
        return vmsi::launchAndWait(nullptr, a.text(0), a.text(1), a.text(2),
                                   vmsi::LaunchRequest::Start, &output.exitCode, &wait);
    });
}

extern "C" UINT __stdcall VmsiRegister(MSIHANDLE session) {
    static constexpr EntryDescription entry{"VmsiRegister", *findExport("VMSI_Register"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&, WaitPolicy& wait) {
        return vmsi::registerComponent(nullptr, a.text(0), a.text(1), a.text(2), WaitForInputIdle,
                                       &wait);
    });
}

extern "C" UINT __stdcall VmsiCheckIfAppInstalled(MSIHANDLE session) {
    static constexpr EntryDescription entry{"VmsiCheckIfAppInstalled",
                                            *findExport("VMSI_CheckIfAppInstalled"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&, WaitPolicy&) {
        return vmsi::checkIfAppInstalled(nullptr, a.text(0));
    });
}

extern "C" UINT __stdcall VmsiCheckVersionOfFile(MSIHANDLE session) {
    static constexpr EntryDescription entry{"VmsiCheckVersionOfFile",
                                            *findExport("VMSI_CheckVersionOfFile"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&, WaitPolicy&) {
        return vmsi::checkVersionOfFile(nullptr, a.text(0), a.text(1), a.integer(2), a.integer(3),
                                        a.integer(4), a.integer(5));
    });
}

extern "C" UINT __stdcall VmsiCreateDesktopShortcut(MSIHANDLE session) {
    static constexpr EntryDescription entry{"VmsiCreateDesktopShortcut",
                                            *findExport("VMSI_CreateDesktopShortcut"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&, WaitPolicy&) {
        return vmsi::createDesktopShortcut(nullptr, a.integer(0), a.text(1), a.text(2));
    });
}

extern "C" UINT __stdcall VmsiRemoveDesktopShortcut(MSIHANDLE session) {
    static constexpr EntryDescription entry{"VmsiRemoveDesktopShortcut",
                                            *findExport("VMSI_RemoveDesktopShortcut"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&, WaitPolicy&) {
        return vmsi::removeDesktopShortcut(nullptr, a.integer(0), a.text(1));
    });
}

extern "C" UINT __stdcall VmsiCheckForQLMKDB(MSIHANDLE session) {
    static constexpr EntryDescription entry{"VmsiCheckForQLMKDB",
                                            *findExport("VMSI_CheckForQLMKDB"), "DATABASEPATH"};
    return runEntry(session, entry, [](const Arguments&, ActionOutput& output, WaitPolicy&) {
        return vmsi::findEarlierCatalogue(nullptr, output.text);
    });
}

extern "C" UINT __stdcall VmsiCheckForQLMK(MSIHANDLE session) {
    static constexpr EntryDescription entry{"VmsiCheckForQLMK", *findExport("VMSI_CheckForQLMK"),
                                            "VERSIONTEXT"};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput& output, WaitPolicy&) {
        return vmsi::checkInstalledVersion(nullptr, a.integer(0), output.text);
    });
}

extern "C" UINT __stdcall VmsiLaunchDbMigrate(MSIHANDLE session) {
    static constexpr EntryDescription entry{"VmsiLaunchDbMigrate",
                                            *findExport("VMSI_LaunchDbMigrate"), nullptr, true};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput& output, WaitPolicy& wait) {
        return vmsi::convertCatalogue(nullptr, a.text(0), a.text(1), a.text(2), a.text(3),
                                      &output.exitCode, &wait);
    });
}

extern "C" UINT __stdcall VmsiWriteFavorites(MSIHANDLE session) {
    static constexpr EntryDescription entry{"VmsiWriteFavorites",
                                            *findExport("VMSI_WriteFavorites"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&, WaitPolicy&) {
        return vmsi::writeFavourites(nullptr, a.text(0), a.text(1), a.text(2));
    });
}

extern "C" UINT __stdcall VmsiRemoveQLMKCache(MSIHANDLE session) {
    static constexpr EntryDescription entry{"VmsiRemoveQLMKCache",
                                            *findExport("VMSI_RemoveQLMKCache"), nullptr};
    return runEntry(session, entry, [](const Arguments& a, ActionOutput&, WaitPolicy&) {
        return vmsi::removeCacheFolder(nullptr, a.text(0), a.text(1));
    });
}

// VmsiSetCustomActionData: sets a deferred action's CustomActionData from the
// properties that VmsiSetCustomActionData_Request names, quoted as the deferred
// entries read it.
extern "C" UINT __stdcall VmsiSetCustomActionData(MSIHANDLE session) {
    return vmsi::msi::setCustomActionData(session);
}
