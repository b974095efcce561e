// Side-by-side measurement: the library and its floor are timed in turns
// within one process, in the order library-floor, floor-library, ... so that
// a drift of the machine's speed weighs on both alike. Each round gives one
// ratio; a comparison reports the median ratio and its interquartile range.
//
// Times are read from QueryPerformanceCounter.
//
// Every comparison prints one line for scripts/bench.sh:
//   RESULT <id> <median ratio> <lower quartile> <upper quartile>
//          <library time per operation, µs> <floor time per operation, µs>
//          <rounds> <operations per round>
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <windows.h>

namespace vmsi::bench {

inline double secondsNow() {
    static const double ticksPerSecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerSecond;
}

// The value at the given fraction (0 to 1) of the samples, interpolated
// between the two nearest when it falls between them.
inline double quantile(const std::vector<double>& samples, double fraction) {
    const std::size_t count = samples.size();
    if (count == 0) {
        return 0;
    }
    std::vector<double> sorted(count);
    std::partial_sort_copy(samples.begin(), samples.end(), sorted.begin(), sorted.end());
    const double position = fraction * static_cast<double>(count - 1);
    const std::size_t below = static_cast<std::size_t>(position);
    const std::size_t above = std::min(below + 1, count - 1);
    const double weight = position - static_cast<double>(below);
    return sorted[below] * (1 - weight) + sorted[above] * weight;
}

class SideBySide {
public:
    // Times, in seconds, of one round's batch of library and floor runs.
    void add(double libraryTime, double floorTime) {
        libraryTimes_.push_back(libraryTime);
        floorTimes_.push_back(floorTime);
        ratios_.push_back(libraryTime / floorTime);
    }

    double medianRatio() const { return quantile(ratios_, 0.5); }
    double lowerQuartile() const { return quantile(ratios_, 0.25); }
    double upperQuartile() const { return quantile(ratios_, 0.75); }
    double medianLibraryTime() const { return quantile(libraryTimes_, 0.5); }
    double medianFloorTime() const { return quantile(floorTimes_, 0.5); }
    std::size_t rounds() const { return ratios_.size(); }

private:
    std::vector<double> libraryTimes_;
    std::vector<double> floorTimes_;
    std::vector<double> ratios_;
};

// Runs the rounds; each function times one batch and returns its seconds.
// One untimed batch of each comes first, to fill caches and load what the
// first call loads.
template <typename TimeLibrary, typename TimeFloor>
SideBySide compareSideBySide(int rounds, TimeLibrary&& timeLibrary, TimeFloor&& timeFloor) {
    timeLibrary();
    timeFloor();
    SideBySide comparison;
    for (int round = 0; round < rounds; ++round) {
        double libraryTime = 0;
        double floorTime = 0;
        if (round % 2 == 0) {
            libraryTime = timeLibrary();
            floorTime = timeFloor();
        } else {
            floorTime = timeFloor();
            libraryTime = timeLibrary();
        }
        comparison.add(libraryTime, floorTime);
    }
    return comparison;
}

inline void printResult(const char* id, const SideBySide& comparison, int operationsPerRound) {
    const double microseconds = 1e6 / operationsPerRound;
    std::printf("RESULT %s %.3f %.3f %.3f %.3f %.3f %zu %d\n", id, comparison.medianRatio(),
                comparison.lowerQuartile(), comparison.upperQuartile(),
                comparison.medianLibraryTime() * microseconds,
                comparison.medianFloorTime() * microseconds, comparison.rounds(),
                operationsPerRound);
    std::fflush(stdout);
}

// The number of rounds from "--rounds N" (21 when not given), or -1 after a
// usage message for anything else.
inline int roundsFromArguments(int argc, char** argv, const char* programName) {
    int rounds = 21;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--rounds N]\n", programName);
            return -1;
        }
    }
    if (rounds < 1) {
        std::fprintf(stderr, "%s: --rounds takes a positive number\n", programName);
        return -1;
    }
    return rounds;
}

} // namespace vmsi::bench
