# Turns the RESULT and SIZE lines of the bench programs into the Markdown
# table of docs/benchmarks.md, with each row's goal and whether it is met.
#   RESULT <id> <median ratio> <lower quartile> <upper quartile>
#          <library µs per operation> <floor µs per operation> <rounds> <per round>
#   SIZE <library bytes> <empty bytes> <library imports,...> <empty imports,...>

function duration(microseconds) {
    if (microseconds < 1) return sprintf("%.0f ns", microseconds * 1000)
    if (microseconds < 1000) return sprintf("%.1f µs", microseconds)
    if (microseconds < 1000000) return sprintf("%.2f ms", microseconds / 1000)
    return sprintf("%.2f s", microseconds / 1000000)
}

function kib(bytes) { return sprintf("%.1f KiB", bytes / 1024) }

function ratioRow(number, library, floor, id, goal) {
    if (!(id in median)) {
        printf "| %s | %s | %s | | | not measured | | at most %.1fx | no |\n", number, library, floor, goal
        return
    }
    printf "| %s | %s | %s | %s | %s | %.2fx | %.2f–%.2f | at most %.1fx | %s |\n", number, library, floor,
        duration(libraryTime[id]), duration(floorTime[id]), median[id], lower[id], upper[id], goal,
        median[id] <= goal ? "yes" : "no"
}

$1 == "RESULT" {
    median[$2] = $3; lower[$2] = $4; upper[$2] = $5
    libraryTime[$2] = $6; floorTime[$2] = $7
}

$1 == "SIZE" {
    librarySize = $2; emptySize = $3
    libraryImports = split($4, ignored, ","); emptyImports = split($5, ignored, ",")
    libraryImportList = $4; emptyImportList = $5
}

END {
    print "| # | Library | Floor | Library time | Floor time | Ratio (median) | Spread | Goal | Met |"
    print "|---|---|---|---|---|---|---|---|---|"
    ratioRow("1", "DLL load, start-up and unload (`LoadLibrary` + `FreeLibrary`, win64)",
        "the empty DLL, same options and version resource", "load", 1.2)
    ratioRow("2", "`VMSI_RemoveQLMKCache`, folder of 2,000 small files",
        "`FindFirstFile`/`DeleteFile` loop and `RemoveDirectory`, identical folder", "cache-removal", 1.2)
    ratioRow("3", "`VMSI_CheckForQLMKDB`, no earlier catalogue",
        "5 key opens, the Program Files value, 3 attribute tests", "catalogue-discovery", 1.5)
    ratioRow("4", "`VMSI_CheckVersionOfFile`, folder and file name",
        "`SearchPathA` + `GetFileVersionInfoSizeA`/`GetFileVersionInfoA` + `VerQueryValueA`", "version-check", 1.5)

    split("plain one-run short-runs", patterns, " ")
    patternText["plain"] = "plain path"
    patternText["one-run"] = "one run of backslashes"
    patternText["short-runs"] = "short runs (`a\\\\\\`)"
    split("1KiB 64KiB 1MiB", lengths, " ")
    lengthText["1KiB"] = "1 KiB"; lengthText["64KiB"] = "64 KiB"; lengthText["1MiB"] = "1 MiB"
    letter = 0
    for (p = 1; p <= 3; p++) {
        base = "normaliser-" patterns[p] "-1KiB"
        for (l = 1; l <= 3; l++) {
            id = "normaliser-" patterns[p] "-" lengths[l]
            number = "5" substr("abcdefghi", ++letter, 1)
            what = "path normaliser (native), " patternText[patterns[p]] ", " lengthText[lengths[l]]
            if (!(id in median)) {
                printf "| %s | %s | `memcpy` | | | not measured | | below 20x, flat | no |\n", number, what
                continue
            }
            # Flat: no more than twice the ratio at 1 KiB. A routine that
            # rescans the text would grow 64 and 1024 times.
            met = median[id] < 20 && (base in median) && median[id] <= 2 * median[base]
            printf "| %s | %s | `memcpy` of the same length | %s | %s | %.2fx | %.2f–%.2f | below 20x, flat | %s |\n",
                number, what, duration(libraryTime[id]), duration(floorTime[id]), median[id], lower[id],
                upper[id], met ? "yes" : "no"
        }
    }

    if (librarySize == "") {
        print "| 6 | stripped win32 DLL | the empty DLL | | | not measured | | under 100 KiB | no |"
    } else {
        printf "| 6 | stripped win32 DLL: %s, %d imported DLLs (%s) | the empty DLL: %s, %d imported DLLs (%s) | | | %.2fx | | under 100 KiB | %s |\n",
            kib(librarySize), libraryImports, libraryImportList, kib(emptySize), emptyImports, emptyImportList,
            librarySize / emptySize, librarySize < 100 * 1024 ? "yes" : "no"
    }
}
