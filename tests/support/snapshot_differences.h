// What differs between two snapshots (tree_snapshot.h, registry_snapshot.h),
// one line per entry, so that a failure names the change rather than
// printing both snapshots whole.
#pragma once

#include "text.h"

#include <map>

namespace vmsi::test {

inline Text shortened(const Text& text) {
    constexpr std::size_t limit = 160;
    return text.size() <= limit
               ? text
               : text.substr(0, limit) + "... (" + std::to_string(text.size()) + " bytes)";
}

// Empty when the two are equal.
inline Text differencesBetween(const std::map<Text, Text>& before,
                               const std::map<Text, Text>& after) {
    Text lines;
    for (const auto& [key, value] : before) {
        const auto now = after.find(key);
        if (now == after.end()) {
            lines += "  gone: " + shortened(key) + "\n";
        } else if (now->second != value) {
            lines += "  changed: " + shortened(key) + ": " + shortened(value) + " -> " +
                     shortened(now->second) + "\n";
        }
    }
    for (const auto& [key, value] : after) {
        if (before.count(key) == 0) {
            lines += "  new: " + shortened(key) + ": " + shortened(value) + "\n";
        }
    }
    return lines;
}

} // namespace vmsi::test
