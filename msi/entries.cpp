// The Windows Installer entry points of msi/entry_table.h, each running the
// routine behind its action's export with the arguments the entry reads.
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

using namespace vmsi;
using msi::ActionOutput;
using msi::Arguments;

// The entry of that name: its row, and the call of its routine, where `a`
// holds the arguments, `output` what it hands back and `wait` how it waits.
#define VMSI_ENTRY(entryName, call)                                                                \
    extern "C" UINT __stdcall entryName(MSIHANDLE session) {                                       \
        static constexpr const msi::EntryDescription& entry = *msi::findEntry(#entryName);         \
        return msi::runEntry(session, entry,                                                       \
                             []([[maybe_unused]] const Arguments& a,                               \
                                [[maybe_unused]] ActionOutput& output,                             \
                                [[maybe_unused]] WaitPolicy& wait) { return call; });              \
    }

// clang-format off
VMSI_ENTRY(VmsiLaunch, launchThroughShell(nullptr, a.text(0), a.text(1), a.text(2)))
VMSI_ENTRY(VmsiLaunchWait, launchAndWait(nullptr, a.text(0), a.text(1), a.text(2), LaunchRequest::Start, &output.exitCode, &wait))
VMSI_ENTRY(VmsiRegister, registerComponent(nullptr, a.text(0), a.text(1), a.text(2), WaitForInputIdle, &wait))
VMSI_ENTRY(VmsiCheckIfAppInstalled, checkIfAppInstalled(nullptr, a.text(0)))
VMSI_ENTRY(VmsiCheckVersionOfFile, checkVersionOfFile(nullptr, a.text(0), a.text(1), a.integer(2), a.integer(3), a.integer(4), a.integer(5)))
VMSI_ENTRY(VmsiCreateDesktopShortcut, createDesktopShortcut(nullptr, a.integer(0), a.text(1), a.text(2)))
VMSI_ENTRY(VmsiRemoveDesktopShortcut, removeDesktopShortcut(nullptr, a.integer(0), a.text(1)))
VMSI_ENTRY(VmsiCheckForQLMKDB, findEarlierCatalogue(nullptr, output.text))
VMSI_ENTRY(VmsiCheckForQLMK, checkInstalledVersion(nullptr, a.integer(0), output.text))
VMSI_ENTRY(VmsiLaunchDbMigrate, convertCatalogue(nullptr, a.text(0), a.text(1), a.text(2), a.text(3), &output.exitCode, &wait))
VMSI_ENTRY(VmsiWriteFavorites, writeFavourites(nullptr, a.text(0), a.text(1), a.text(2)))
VMSI_ENTRY(VmsiRemoveQLMKCache, removeCacheFolder(nullptr, a.text(0), a.text(1)))
// clang-format on

// VmsiSetCustomActionData: sets a deferred action's CustomActionData from the
// properties that VmsiSetCustomActionData_Request names, quoted as the deferred
// entries read it.
extern "C" UINT __stdcall VmsiSetCustomActionData(MSIHANDLE session) {
    return msi::setCustomActionData(session);
}
