// The places all twelve actions work on, made for real: a scratch tree, the
// Shell Folders values pointed into it, App Paths entries, an earlier
// installation's key and version markers under HKLM. Every action has a call
// here that succeeds (its baseline); restore() puts back whatever a call
// changed, and the snapshots show what it changed.
//
// While the bench lives, the current folder is a scratch folder, so a text
// taken as a relative path lands in the scratch tree.
#pragma once

#include "export_call.h"
#include "machine_keys.h"
#include "registry_snapshot.h"
#include "scratch.h"
#include "tree_snapshot.h"

#include <memory>
#include <optional>
#include <vector>

namespace vmsi::test {

// Appended to a name to give its spellings outside ASCII: letters of the
// Western code page, and a lead byte of the Japanese one followed by the
// byte 0x5C (in the Western code page two characters, the second of them a
// backslash).
inline const Text westernLetters = "\xC4\xD6\xDC\xE9";
inline const Text leadByteAndBackslash = "\x95\x5C";

class ActionBench {
public:
    ActionBench();
    ~ActionBench();
    ActionBench(const ActionBench&) = delete;
    ActionBench& operator=(const ActionBench&) = delete;

    const Text& root() const { return scratch_.path(); }
    Text operator/(const Text& relative) const { return scratch_ / relative; }

    // The argument's value in the action's call that succeeds.
    ArgumentValue baseline(const ExportDescription& action,
                           const ArgumentDescription& argument) const;

    // The folders the Shell Folders values name while the bench lives.
    Text userDesktop() const { return scratch_ / "Desktop\\User"; }
    Text commonDesktop() const { return scratch_ / "Desktop\\Common"; }
    Text userPrograms() const { return scratch_ / "Programs\\User"; }
    Text commonPrograms() const { return scratch_ / "Programs\\Common"; }

    // The program the shell starts to open a folder while the bench lives; it
    // leaves its record (fixtures/recorder.cpp) beside itself.
    Text folderOpener() const { return scratch_ / "Shell\\recorder.exe"; }

    // Everything the actions may touch, as made.
    const TreeSnapshot& pristineTree() const { return pristineTree_; }
    TreeSnapshot tree() const { return snapshotOf(root()); }
    // The registry keys the actions read (and must never write).
    std::vector<RegistrySnapshot> registry() const;
    const std::vector<RegistrySnapshot>& pristineRegistry() const { return pristineRegistry_; }
    // Places outside the bench that a stray write would most likely hit: the
    // drive's root, the Windows folder, the temporary folder, the test
    // program's folder and the real desktops, listed one level deep.
    std::vector<TreeSnapshot> surroundings() const;

    // Deletes whatever calls created and makes again whatever they deleted
    // or changed, so that the tree equals pristineTree() once more.
    void restore();

    // The path relative to the bench's root, if the path lies inside it.
    std::optional<Text> relativeToRoot(const Text& path) const;

private:
    void makeLayout() const;

    ScratchFolder scratch_;
    std::optional<CurrentFolder> current_;
    std::vector<std::unique_ptr<RegistryValueOverride>> overrides_; // shell folders, App Paths
    std::vector<std::unique_ptr<MachineRegistryKey>> machineKeys_;
    std::vector<Text> realDesktops_;
    TreeSnapshot pristineTree_;
    std::vector<RegistrySnapshot> pristineRegistry_;
};

} // namespace vmsi::test
