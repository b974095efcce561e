// normaliser-bench: the path normaliser, built natively with the library's
// own compiler options, against memcpy of the same number of bytes, on
// inputs of 1 KiB, 64 KiB and 1 MiB. A routine of linear time keeps the same
// ratio at every length; one that rescans the text would see it grow with
// the length.
//
//   normaliser-bench [--rounds N]
//
// Prints one RESULT line per input (see side_by_side.h).
#include "path_normaliser.h"
#include "side_by_side.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using vmsi::bench::compareSideBySide;
using vmsi::bench::printResult;

namespace {

// A Western code page: no byte leads a double-byte character.
bool noLeadBytes(unsigned char) {
    return false;
}

double secondsNow() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

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

} // namespace

int main(int argc, char** argv) {
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
