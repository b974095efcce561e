// Time grows linearly with input length: the path normaliser and the
// conversion tool's parameters (which normalise a path) are timed on inputs
// of 32 KiB and of 512 KiB, made by repeating a pattern: the worst cases one
// can think of (all backslashes, where halving pairs would take a pass per
// halving; separators behind double-byte characters) and a spread of the
// inputs the fuzzer has kept in its corpus. Sixteen times the input may take
// sixteen times as long, with room for noise; a quadratic routine takes 256
// times. Large blocks are kept on the heap, so that both sizes run on memory
// already touched and only the work itself is compared. The time is the
// process's CPU time, not the clock on the wall: on a shared machine a
// pause of the process would make the small input look slow (hiding a
// quadratic routine) or the large one (failing a linear one).
//   linear-time-check [corpus folder...]
#include "command_lines.h"
#include "fuzz_support.h"
#include "path_normaliser.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <malloc.h>

using namespace vmsi;

namespace {

constexpr std::size_t smallSize = 32 * 1024;
constexpr std::size_t largeSize = 512 * 1024;
constexpr std::size_t corpusSample = 40;
constexpr double allowedRatio = 48.0; // 16 for linear time, three times over
constexpr double noiseSeconds = 0.005;

std::string repeatedTo(const std::string& pattern, std::size_t size) {
    std::string text;
    text.reserve(size + pattern.size());
    while (text.size() < size) {
        text += pattern;
    }
    return text;
}

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The CPU time of one run of the work: the best of four batches of that many
// runs each.
template <typename Work>
double bestSeconds(Work work, int runs) {
    double best = 1e9;
    for (int batch = 0; batch < 4; ++batch) {
        const double start = cpuSeconds();
        for (int run = 0; run < runs; ++run) {
            work();
        }
        best = std::min(best, (cpuSeconds() - start) / runs);
    }
    return best;
}

struct Scaling {
    double small;
    double large;
};

Scaling scalingOf(const std::string& pattern, test::LeadByteRule isLead, bool conversion) {
    const std::string small = repeatedTo(pattern, smallSize);
    const std::string large = repeatedTo(pattern, largeSize);
    std::size_t sink = 0;
    const auto run = [&](const std::string& text) {
        sink += conversion ? catalogueConversionParameters(text, text, text, isLead).size()
                           : normalisePath(text, isLead).size();
    };
    // The small input sixteen times in a row: both sizes are timed over the
    // same amount of work, long enough for the clock's grain and the cost of
    // reading it not to count.
    Scaling scaling{bestSeconds([&] { run(small); }, largeSize / smallSize),
                    bestSeconds([&] { run(large); }, 1)};
    if (sink == 0) {
        std::puts("");
    }
    return scaling;
}

} // namespace

int main(int argc, char** argv) {
    mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
    std::vector<std::pair<std::string, std::string>> patterns = {
        {"backslashes", "\\"},
        {"pairs of backslashes between letters", "a\\\\"},
        {"runs of three", "\\\\\\x"},
        {"double-byte characters ending in 0x5C, then separators", "\x95\\\\\\"},
        {"a path", "C:\\Program Files\\\\Vardo\\\\\\cache\\"},
    };
    std::vector<std::filesystem::path> corpus;
    for (int i = 1; i < argc; ++i) {
        if (std::filesystem::is_directory(argv[i])) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
                corpus.push_back(entry.path());
            }
        }
    }
    std::sort(corpus.begin(), corpus.end());
    const std::size_t step = std::max<std::size_t>(1, corpus.size() / corpusSample);
    std::size_t corpusInputs = 0;
    for (std::size_t i = 0; i < corpus.size(); i += step) {
        std::ifstream file(corpus[i], std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(file)), {});
        if (data.size() > 1) {
            patterns.emplace_back(corpus[i].filename().string(), data);
            ++corpusInputs;
        }
    }

    int failures = 0;
    double worstRatio = 0;
    std::string worst;
    for (const auto& [name, pattern] : patterns) {
        const test::LeadByteRule isLead =
            fuzz::leadByteRuleFor(static_cast<std::uint8_t>(pattern[0]));
        for (bool conversion : {false, true}) {
            const Scaling scaling = scalingOf(pattern, isLead, conversion);
            const double ratio = scaling.large / std::max(scaling.small, 1e-9);
            if (ratio > worstRatio && scaling.large > noiseSeconds / 10) {
                worstRatio = ratio;
                worst = name;
            }
            if (ratio > allowedRatio && scaling.large > noiseSeconds) {
                ++failures;
                std::printf("FAILED: %s (%s): %.4f s for 32 KiB, %.4f s for 512 KiB (%.0f times)\n",
                            name.c_str(), conversion ? "conversion parameters" : "normaliser",
                            scaling.small, scaling.large, ratio);
            }
        }
    }
    std::printf("[figures] linear time: %zu patterns (%zu from the corpus) at 32 KiB and 512 KiB, "
                "normaliser and conversion parameters; worst growth in CPU time %.1f times for 16 "
                "times the length (%s)\n",
                patterns.size(), corpusInputs, worstRatio, worst.c_str());
    return failures == 0 ? 0 : 1;
}
