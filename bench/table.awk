# Turns the RESULT and SIZE lines of the bench programs into the Markdown
# table of docs/benchmarks.md, with each row's goal and whether it is met.
#   RESULT <build>-<id> <median ratio> <lower quartile> <upper quartile>
#          <library µs per operation> <floor µs per operation> <rounds> <per round>
#   SIZE <library bytes> <empty bytes> <library imports,...> <empty imports,...>
# The build is win64 or win32. With -v unmeasured32=<reason>, the
# 32-bit rows were left out on purpose and say so instead of "no".

function duration(microseconds) {
    if (microseconds < 1) return sprintf("%.0f ns", microseconds * 1000)
    if (microseconds < 1000) return sprintf("%.1f µs", microseconds)
    if (microseconds < 1000000) return sprintf("%.2f ms", microseconds / 1000)
    return sprintf("%.2f s", microseconds / 1000000)
}

function kib(bytes) { return sprintf("%.1f KiB", bytes / 1024) }

function unmeasured(build) {
    return build == "win32" && unmeasured32 != "" ? "not measured" : "no"
}

# One row: the comparison's figures, or its absence. Met when the median
# ratio is at most `goal`.
function row(number, build, library, floor, id, goal, goalText,   met) {
    if (!(id in median)) {
        printf "| %s | %s | %s | %s | | | not measured | | %s | %s |\n", number, buildText[build], library,
            floor, goalText, unmeasured(build)
        return
    }
    met = median[id] <= goal
    printf "| %s | %s | %s | %s | %s | %s | %.2fx | %.2f–%.2f | %s | %s |\n", number, buildText[build], library,
        floor, duration(libraryTime[id]), duration(floorTime[id]), median[id], lower[id], upper[id], goalText,
        met ? "yes" : "no"
}

function actionRow(number, library, floor, id, goal,   b) {
    for (b = 1; b <= 2; b++)
        row(number, wineBuilds[b], library, floor, wineBuilds[b] "-" id, goal, sprintf("at most %.1fx", goal))
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
    buildText["win64"] = "win64, 64-bit Wine"
    buildText["win32"] = "win32, 32-bit Wine"
    split("win64 win32", wineBuilds, " ")

    print "| # | Build | Library | Floor | Library time | Floor time | Ratio (median) | Spread | Goal | Met |"
    print "|---|---|---|---|---|---|---|---|---|---|"
    actionRow("1", "DLL load, start-up and unload (`LoadLibrary` + `FreeLibrary`)",
        "the empty DLL, same options and version resource", "load", 1.2)
    actionRow("2", "`VMSI_RemoveQLMKCache`, folder of 2,000 small files",
        "`FindFirstFile`/`DeleteFile` loop and `RemoveDirectory`, identical folder", "cache-removal", 1.2)
    actionRow("3", "`VMSI_CheckForQLMKDB`, no earlier catalogue",
        "5 key opens, the Program Files value, 3 attribute tests", "catalogue-discovery", 1.5)
    actionRow("4", "`VMSI_CheckVersionOfFile`, folder and file name",
        "`SearchPathA` + `GetFileVersionInfoSizeA`/`GetFileVersionInfoA` + `VerQueryValueA`", "version-check", 1.5)

    if (librarySize == "") {
        print "| 6 | win32 | stripped DLL | the empty DLL | | | not measured | | under 100 KiB | no |"
    } else {
        printf "| 6 | win32 | stripped DLL: %s, %d imported DLLs (%s) | the empty DLL: %s, %d imported DLLs (%s) | | | %.2fx | | under 100 KiB | %s |\n",
            kib(librarySize), libraryImports, libraryImportList, kib(emptySize), emptyImports, emptyImportList,
            librarySize / emptySize, librarySize < 100 * 1024 ? "yes" : "no"
    }
}
