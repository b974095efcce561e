// normaliser-bench: the path normaliser, built with the library's own
// compiler options (natively, and for 32-bit Windows), against memcpy of the
// same number of bytes, on inputs of 1 KiB, 64 KiB and 1 MiB. A routine of
// linear time keeps the same ratio at every length; one that rescans the text
// would see it grow with the length.
//
//   normaliser-bench [--rounds N]
//   normaliser-bench --profile plain|one-run|short-runs
//
// Prints one RESULT line per input (see side_by_side.h); exit status 1 when
// the normaliser's result on an input is not what the rule as installers
// are told it gives. The second form only normalises the 64 KiB text of one
// pattern 20 times, untimed, for valgrind --tool=callgrind to count.
#include "normalising_rule.h"
#include "path_normaliser.h"
#include "side_by_side.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using vmsi::bench::compareSideBySide;
using vmsi::bench::printResult;
using vmsi::bench::secondsNow;
// A Western code page: no byte leads a double-byte character.
using vmsi::test::noLeadBytes;

namespace {

std::string repeatedToLength(const std::string& unit, std::size_t length) {
    std::string text;
    text.reserve(length);
    while (text.size() < length) {
        text.append(unit, 0, std::min(unit.size(), length - text.size()));
    }
    return text;
}

struct Pattern {
    const char* name;
    const char* unit;
};

// A plain path (single separators); one run of backslashes the whole length
// long; and short runs, three backslashes after every letter, where the
// routine changes course most often.
const Pattern patterns[] = {
    {"plain", "C:\\Program Files\\Vardo\\Quillmark\\Catalogues\\2024\\"},
    {"one-run", "\\"},
    {"short-runs", "a\\\\\\"},
};

struct Length {
    const char* name;
    std::size_t bytes;
};

const Length lengths[] = {{"1KiB", 1024}, {"64KiB", 64 * 1024}, {"1MiB", 1024 * 1024}};

volatile std::size_t resultBytes;

void compareWithCopy(const std::string& id, const std::string& input, int rounds) {
    if (vmsi::normalisePath(input, noLeadBytes) !=
        vmsi::test::normaliseByRule(input, noLeadBytes)) {
        std::fprintf(stderr, "normaliser-bench: %s: not the result of the rule\n", id.c_str());
        std::exit(1);
    }
    // About 4 MiB of input per batch, whatever the length.
    const int perRound = static_cast<int>(std::max<std::size_t>(4, (4u << 20) / input.size()));
    std::vector<std::string> copies;
    std::vector<char> destination(input.size());

    // Both sides work on fresh copies of the input, made untimed, so that
    // both find their source in the same state of the caches.
    auto timeNormaliser = [&] {
        copies.assign(perRound, input);
        const double start = secondsNow();
        for (std::string& copy : copies) {
            resultBytes = vmsi::normalisePath(std::move(copy), noLeadBytes).size();
        }
        return secondsNow() - start;
    };
    auto timeCopy = [&] {
        copies.assign(perRound, input);
        const double start = secondsNow();
        for (const std::string& copy : copies) {
            std::memcpy(destination.data(), copy.data(), copy.size());
            // The copy counts as used: the compiler may not drop it.
            asm volatile("" : : "r"(destination.data()) : "memory");
        }
        return secondsNow() - start;
    };
    printResult(id.c_str(), compareSideBySide(rounds, timeNormaliser, timeCopy), perRound);
}

int profile(const char* patternName) {
    for (const Pattern& pattern : patterns) {
        if (std::strcmp(pattern.name, patternName) == 0) {
            const std::string input = repeatedToLength(pattern.unit, lengths[1].bytes);
            for (int call = 0; call < 20; ++call) {
                resultBytes = vmsi::normalisePath(input, noLeadBytes).size();
            }
            return 0;
        }
    }
    std::fprintf(stderr, "normaliser-bench: no pattern %s\n", patternName);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--profile") == 0) {
        return profile(argv[2]);
    }
    const int rounds = vmsi::bench::roundsFromArguments(argc, argv, "normaliser-bench");
    if (rounds < 0) {
        return 2;
    }
    for (const Pattern& pattern : patterns) {
        for (const Length& length : lengths) {
            compareWithCopy(std::string("normaliser-") + pattern.name + "-" + length.name,
                            repeatedToLength(pattern.unit, length.bytes), rounds);
        }
    }
    return 0;
}
