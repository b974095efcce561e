#!/usr/bin/env bash
# Writes docs/reliability.md from the output of the last run of the test
# command: ctest's log in build/win64 (every figure in the report is read from
# it), run after scripts/test.sh.
#   scripts/reliability-report.sh [LOG] [OUTPUT]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/root.sh"
log="${1:-$root/build/win64/Testing/Temporary/LastTest.log}"
output="${2:-$root/docs/reliability.md}"
[ -f "$log" ] || { echo "no test log at $log: run scripts/test.sh first" >&2; exit 1; }

# The figures line of that kind, without its tag, or a note that it is missing.
figures() {
    local line
    line=$(grep -m1 "^\[figures\] $1" "$log" | sed "s/^\[figures\] $1 *//") || true
    echo "${line:-(not in the log)}"
}

# "Passed" or "Failed" and the time of one ctest test. A test judged by its
# output says "Test Pass Reason:" or "Test Fail Reason:" instead of "Test
# Passed." or "Test Failed.".
outcome() {
    awk -v name="$1" '
        $0 ~ "^[0-9]+/[0-9]+ Testing: " name "$" { inside = 1; next }
        inside && (/^[0-9]+\/[0-9]+ Testing: / || /^End testing/) { exit }
        inside && /^Test time =/ { time = $4 }
        inside && /^Test (Passed\.|Pass Reason:)/ { verdict = "Passed" }
        inside && /^Test (Failed\.|Fail Reason:)/ { verdict = "Failed" }
        END { print (verdict == "" ? "not in the log" : verdict ", " time " s") }
    ' "$log"
}

# The GoogleTest verdicts of the tests whose names match, as "name: OK".
verdicts() {
    grep -E "^\[ +(OK|FAILED) +\] ($1)[^ ]* \(" "$log" | sort -u |
        sed -E 's/^\[ +(OK|FAILED) +\] ([^ ]+) \(([0-9]+) ms\)$/- `\2`: \1 (\3 ms)/'
}

started=$(sed -n 's/^Start testing: //p' "$log" | head -1)
leaks=$(grep '^\[figures\] leaks: ' "$log" | sed 's/^\[figures\] leaks: //' |
    sed -E 's/^([A-Za-z_]+) ([0-9]+) successful and ([0-9]+) failing calls in ([0-9.]+) s: (.*)$/| `\1` | \2 + \3 | \4 s | \5 |/')
bad_input=$(figures "bad-input:")
fuzz_normaliser=$(figures "fuzz: path-normaliser")
fuzz_command_lines=$(figures "fuzz: command-lines")
linear=$(figures "linear time:")
stage32=$(figures "stage32:")
double_byte=$(grep -cE '^\[ +OK +\] DoubleByteCodePage\.' "$log" || true)

cat >"$output" <<EOF
# Reliability and security: what was tried and what held

Written by \`scripts/reliability-report.sh\` from ctest's log of the last run
of \`scripts/test.sh\` (started ${started:-at an unknown time}); every figure
below is that run's. Run the test command, then the script, to bring it up to
date.

## Summary

| Area | What was tried | What held | ctest test: outcome |
|---|---|---|---|
| Bad input | Every text argument of all twelve actions in turn null, empty, 259, 260, 261, 32,767 and 65,536 bytes, only backslashes, with leading and with trailing backslashes, with Western letters outside ASCII, with a lead byte and 0x5C; every integer argument 0, -1, 65,536, INT_MIN and INT_MAX; the two result buffers also null. Through the shipped DLL, as the installer calls it. ${bad_input}. | No crash; every result the contract gives for what is on the disk and in the registry; nothing written past a result buffer; the scratch tree, the registry keys the actions read and the places around them (C:\\, the Windows and temporary folders, the test program's folder, the real desktops) unchanged but for the one place each call may change. | wine-suite: $(outcome wine-suite) |
| Double-byte code page | The normaliser (against the rule, 5,000 random paths) and all ten actions that join paths, with real files and folders named with Shift-JIS characters whose second byte is 0x5C (表, ソ, 能, 十), in a second Wine prefix whose ANSI code page is 932. ${double_byte} tests. | No such character is merged with the backslash after it or split from its first byte: every file is found, created, copied or deleted at its real path, and every started program gets its path and parameters whole. | double-byte-code-page: $(outcome double-byte-code-page) |
| Leaks | Each action in a loop on a path where it succeeds and one where it fails (table below); handles counted in the system's handle table (NtQuerySystemInformation), heap bytes in use (HeapWalk over every heap), committed private memory (VirtualQuery). | No growth beyond the allowance (3 handles, 8 KiB of heap, 256 KiB of private memory); a leaked registry key shows as +300 handles, a heap block lost per call as +96,600 heap bytes. | wine-suite: $(outcome wine-suite) |
| Containment | Cache removal: names that climb or are drive-qualified (16 of them) and a parent whose joined folder is a network path, a cache folder that is a link to a folder outside, a link between parent and cache folder, a link inside the cache folder, read-only, hidden and system files, a hidden system parent, a file in use; real entries whose Unicode names best-fit into paths one and two levels up (U+FF0F, U+FF3C) or into ".." (U+FF0E); an entry swapped for a link to a folder outside after it was found; a link above the parent pointed elsewhere once the folder was held; a rival moving the held folder and each held entry away; through stand-ins for Windows, a folder reached through an object-namespace link, a FAT volume and deduplicated folders. Shortcuts: groups and names that climb out of their folders (21 of them); desktop entries that are links to an empty and to a full hidden folder outside, read-only and hidden shortcuts, a shortcut in use; through stand-ins, a deletion refused by an access list and a FAT volume. | Nothing outside the cache folder or the shortcut folders is changed, removed or has its marks reset; a name that reads as a path is never acted on; a link is never followed; a held entry or folder cannot be moved away (sharing violation); FAT volumes and deduplicated folders go as NTFS does. | wine-suite: $(outcome wine-suite) |
| Planting | Programs planted at both unquoted prefixes of a path with two spaces, for \`VMSI_Launch\`, \`VMSI_LaunchWait\` and \`VMSI_LaunchDbMigrate\`; a regsvr32.exe in the current folder and beside the test program; a version.dll beside the test program and in the current folder; the import tables of both builds. | Only the named program is started; the system's regsvr32.exe registers; the one library the version check asks for is the system folder's version.dll; the libraries import KnownDLLs only (kernel32, advapi32, shell32, msvcrt). | wine-suite: $(outcome wine-suite); binary-tables: $(outcome binary-tables) |
| Fuzzing | The path normaliser: ${fuzz_normaliser}. The command-line builders: ${fuzz_command_lines}. Linear time: ${linear}. | Properties: no two adjacent backslashes but a leading pair; normalising twice equals once; every other character, double-byte ones included, unchanged and in order; agreement with the stated rule; the started program, the registration tool and the conversion tool find their paths whole. No AddressSanitizer or UndefinedBehaviorSanitizer finding. | fuzz: $(outcome fuzz) |
| 32-bit conformance | The shipped 32-bit DLL from the release bundle, in one 32-bit process: all thirteen exports called with their declared argument counts, the stack pointer measured around each call, every action once where it finds nothing and once where it does its work. ${stage32}. | Every export removes exactly its argument bytes; every smoke case gives its result and leaves what it should. | stage32: $(outcome stage32) |

## Threat model

The library runs inside the installer, and its deferred actions usually run
as LocalSystem. A local user without rights can set public properties on the
msiexec command line (a repair included), write into folders they own, run
a named pipe server, and give files Unicode names, which the 8-bit
functions turn into look-alikes (best fit: U+FF02, U+FF0F, U+FF3C and
U+FF1A become \`"\`, \`/\`, \`\\\` and \`:\`). What stands in the way:

- Cache removal never takes an entry's 8-bit name for a path: an entry whose
  name holds a separator, a drive colon, a wildcard, a quote or a pipe, or
  is made only of dots and spaces, is never acted on. The cache folder is
  held, must lie where its name says (its final path is the parent's final
  path and the name, so a junction or an object-namespace link below the
  parent is refused, while links above the parent stay allowed), its
  entries are listed through the hold and opened relative to it, and it is
  removed through the hold, never by path.
- A shortcut group or name that leads out of its folder (a ".." component,
  a leading separator, a drive, or any of \`: * ? " < > |\`) is refused.
- Windows' answers that Wine cannot give (a FAT volume refusing the reparse
  tag query, a link in the object namespace, an access list refusing
  deletion, a deduplicated folder) are replayed by stand-ins for Windows
  (\`tests/support/windows_stand_ins.h\`).
- Properties: the Windows Installer entries read every property and their
  CustomActionData through \`MsiGetPropertyW\` and convert without best fit;
  a value the ANSI code page cannot hold exactly runs nothing. Public
  properties must never feed an elevated deferred action:
  \`MsiSetCustomActionData\` builds deferred data from private properties,
  quoted so that it splits back exactly (\`docs/msi.md\`).
- Started tools: regsvr32 gets only its own switches, so no second
  component is registered with the installer's rights; the conversion tool
  gets no argument that holds a double quote, and a path that ends in
  backslashes reaches it whole.
- The favourites file is written only into an ordinary file on a disk:
  never through a link, never into a pipe (whose server could act as the
  installer) or a device; it holds one line.
- The install log: carriage returns and line feeds are written \`<CR>\` and
  \`<LF>\`, so that no text forges a line; brackets are escaped without
  splitting double-byte characters; the data \`MsiSetCustomActionData\`
  builds stays out of the log when \`MsiHiddenProperties\` lists it. A
  deferred action cannot see that list, so a deferred entry that cannot
  read its data still shows it.
- The DLLs: ASLR (with high entropy on 64-bit), DEP, NO_SEH on 32-bit and
  the stack protector, each checked by \`binary-tables\`; the entry points'
  DLL gives its thread slot back when it is unloaded.

## Leak loops

| Action | Successful + failing calls | Time | Growth |
|---|---|---|---|
${leaks:-| (not in the log) | | | |}

## Containment and planting tests

$(verdicts 'CacheRemovalTest|HeldEntryKind|ShortcutTest\.(ADesktopEntry|RemovesAReadOnly|AFailedDeletion|NamesThatClimb|ARefusedDeletion)|Planting|RegisterTest\.ARegsvr32|LaunchTest\.WaitQuotes')

## Each failure class, and the test that fails without its protection

Checked by hand while the tests were written: the protection was taken out
of the library, the tests were run, and the protection was put back.

| Failure class | Protection taken out | What failed |
|---|---|---|
| A tool found through the search path | regsvr32 started by the program search | \`RegisterTest.ARegsvr32PlantedInTheCurrentOrTheProgramFolderIsNotStarted\` (the planted one ran) |
| An unquoted path with spaces | \`CreateProcessA\` without the application name, unquoted | \`LaunchTest.WaitQuotesAPathWithSpacesAndNeverStartsAProgramAtItsPrefix\`, \`Planting.NoLaunchStartsAProgramPlantedAtAnUnquotedPrefixOfItsPath\` (My.exe ran) |
| A library found through the search path | version.dll loaded by its bare name; version.dll imported | \`Planting.TheVersionCheckAsksForTheSystemsVersionLibraryOnly\`; binary-tables |
| A delete that follows a link | the old path-based deletion with the search's attributes; the check of the path while the entry is held; the hold without delete sharing; the folder held for attributes alone | \`CacheRemovalTest.AnEntrySwappedForALinkAfterItWasFoundIsNeverFollowed\`, \`ALinkedEntryIsNeverFollowed\`, \`NeitherAHeldEntryNorTheHeldFolderCanBeMovedAway\`, \`HeldEntryKind.LinksAreTakenAsLinksWhereverTheyShow\` |
| A delete that climbs out of its folder | the check of the cache folder's name; the check for links between parent and cache folder (now the comparison of final paths) | \`CacheRemovalTest.RefusesANameThatDoesNotLieBelowTheParent\`, the bad-input matrix; \`CacheRemovalTest.ACacheFolderReachedThroughALinkIsLeftAlone\` |
| A name that reads as a path once best-fit | the check of entry names, and the opening relative to the held folder (each alone keeps the victims; with neither, both were deleted and the parent lost its marks) | \`CacheRemovalTest.AnEntryWhoseNameReadsAsAPathIsNeverActedOn\` |
| A link above the parent pointed elsewhere once the folder is held | entries opened relative to the held folder; the folder removed through its hold | \`CacheRemovalTest.ALinkAboveTheParentPointedElsewhereMidwayLeadsNowhereElse\` (the other folder's file deleted; the held folder left behind) |
| A cache folder reached through a link below the parent | the comparison of final paths | \`CacheRemovalTest.AFolderWhoseFinalPathLiesElsewhereIsLeftAlone\` (a stand-in for an object-namespace link), \`ACacheFolderReachedThroughALinkIsLeftAlone\` (Hop\\Cache) |
| Shortcut names that climb out | the check of group and name | \`ShortcutTest.NamesThatClimbOutOfTheirFolderAreRefused\` (a file outside deleted, another copied in) |
| Windows' own answers | the FAT fallback; the name-surrogate test; the hold for attributes after any refused deletion | \`CacheRemovalTest.OnAFatVolumeOrInDeduplicatedFoldersTheRemovalGoesAsOnNtfs\`, \`ShortcutTest.ARefusedDeletionAndAFatVolumeAreHandledAsOnWindows\`, \`HeldEntryKind.LinksAreTakenAsLinksWhereverTheyShow\` |
| A registry string without a terminator read past its end | the length of the data read, in the registry string read and in the catalogue probe | \`ReadRegistryString.TakesTheDataOfOtherTypesAsText\`, \`CatalogueDiscoveryTest.OddRegistryDataAndLongTextsAreHandledSafely\` |
| A text longer than a fixed buffer | the command line built in a 260-byte buffer; the guard that a text of 32,767 bytes or more names nothing | the bad-input matrix (the conversion tool got its paths cut); the test process died (VMSI_Launch, 65,536-byte name) |
| Handles or memory kept on an error path | a registry key let go without closing; a heap block lost per call | \`Leaks.NoActionKeepsAHandleOrMemoryOnAnyPath\` (+300 handles; +96,600 heap bytes) |
| A double-byte character taken for a separator | the lead-byte test | all three \`DoubleByteCodePage\` tests, in the code page 932 prefix |
| A normaliser that is not linear, or wrong | halving by erasing pairs; lead bytes ignored | the linear-time check (208 times for 16 times the length); the fuzzer, within seconds |
| A property best-fitted into a quote or a separator | the exact conversion (best fit, as \`MsiGetPropertyA\` gives) | \`MsiPackageTest.APropertyTheCodePageCannotHoldExactlyRunsNothing\` (U+FF02 split the deferred data: \`sr\\victim\` was emptied, and the installation failed on the split-off fail request) |
| A started tool given more than its arguments | the regsvr32 switch check; the conversion tool's quote refusal and backslash doubling | \`RegisterTest.OptionsOtherThanTheToolsOwnSwitchesStartNothing\`; \`CatalogueConversionTest.TheToolReadsEachPathWholeAndAQuoteStartsNothing\` (the tool started; \`C:\\Old Cat\\\` took \`-n\` with it) |
| A write through a link or into a pipe | the favourites file opened as before (\`CREATE_ALWAYS\`, no check of the handle) | \`FavouritesTest.APipeOfThatNameIsNeverWritten\` (the line reached the pipe), \`ALinkInThePlaceOfTheFileIsNotFollowed\` (the link's target overwritten), \`ADevicePathToADiskFileIsWrittenAndALineBreakIsRefused\` |
| A forged or broken log line | the CR and LF escapes; the lead-byte step; the hidden-data check | \`CustomActionDataTest.LogTextsKeepToOneLineAndNeverReferToAProperty\`; \`MsiPackageTest.TheDataEntryQuotesPropertiesExactlyAndKeepsHiddenDataOutOfTheLog\` |
| A thread slot kept per load | the slot freed at unload | \`MsiEntryLibrary.FreesItsThreadSlotWhenUnloaded\` (three loads kept three slots) |
| A DLL without the loader's protections | \`--dynamicbase\`, \`--nxcompat\`, \`--no-seh\`, \`-fstack-protector-strong\` | binary-tables (each rule, each 32-bit DLL) |

The App Paths read, whose buffer lies on the stack, has no test that fails
reliably without its length: what lies after the data read cannot be set up
from outside the call.

## What Wine could not do

- Junctions: Wine 8 cannot create them, and its \`CreateSymbolicLinkA\`
  answers TRUE and creates nothing. Links are Unix symbolic links, which Wine
  shows as reparse points when they point at folders.
- A handle that is a link: Wine 8 opens the target of a link whatever
  \`FILE_FLAG_OPEN_REPARSE_POINT\` says (measured: the deletion of such a
  handle to a link to an empty folder removed the folder). The library
  therefore also reads the path's attributes while it holds an entry. What
  Windows shows, a handle that reads as a reparse point with a name-surrogate
  tag, is covered through the decision those attributes lead to
  (\`HeldEntryKind\`).
- A Unix link to a file: Wine 8 shows it as a plain file, on the path and on
  the handle, and acts on its target (measured: \`DeleteFileA\` on such a link
  deleted the target). No Windows program can tell it apart; on Windows a
  file link is a reparse point and is deleted as the link.
- A FAT volume's refusal of \`GetFileInformationByHandleEx(FileAttributeTagInfo)\`,
  a link in the object namespace, a deduplicated folder, and a file whose
  access list refuses deletion (Wine 8 keeps no access lists on files: one
  that grants reading alone opens for deletion; measured): each is replayed
  by a stand-in for Windows in place of the one platform call.
- Wine 8 shows a Unix link with the reparse tag 0, and refuses
  \`FileDispositionInfoEx\` (error 87): the library's test of what Wine opened
  reads the path's reparse mark, whatever its tag, and the deletion falls
  back to \`FileDispositionInfo\`.
- A planted version.dll being loaded: Wine's user32 imports version.dll, so
  every process that has the library already holds the system's copy, and a
  load by bare name would be given that copy. The test records what the
  library asks the loader for instead.
- \`GetProcessHandleCount\` answers 0 and \`PrivateUsage\` stays 0: handles and
  memory are counted from the system's handle table, the heaps and the
  address space.
- The ANSI code page comes from the locale of the process's environment
  (the registry's Nls\\CodePage ACP value is ignored), so the code page 932
  prefix carries a compiled Japanese locale used through LOCPATH.
- A text of 65,535 characters given to an ANSI function has its length
  wrapped, and Wine answers for a shorter path; the library never hands the
  platform a text of 32,767 bytes or more.
- \`WaitForInputIdle\`: Wine 8 answers it early, often before regsvr32 has
  registered anything, and keeps a handle to the started program's idle
  event on every call (measured: 300 registrations, 300 handles). The registration's
  wait is tested through a stand-in that answers as Windows does; the leak
  loop allows the one handle per registration.
- A pipe server may impersonate its client whatever security quality of
  service the client asked for: the favourites file's identification-only
  open cannot be shown, only that nothing is written into the pipe.
- A test process that dies in the middle may end with status 0 under Wine:
  a GoogleTest run passes only once it has printed its summary.
EOF
echo "reliability report: $output"
