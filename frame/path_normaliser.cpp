#include "path_normaliser.h"

namespace vmsi {

// Repeatedly halving every run of backslashes, pair by pair, ends with each
// run as a single backslash; one left-to-right pass that keeps the first
// backslash of each run gives the same text in linear time.
std::string normalisePath(std::string path, LeadByteTest isLeadByte) {
    std::string result;
    result.reserve(path.size() + 1);
    bool previousWasBackslash = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(path[i]);
        if (isLeadByte(byte) && i + 1 < path.size()) {
            // A double-byte character: its trail byte is never a separator.
            result += path[i];
            result += path[++i];
            previousWasBackslash = false;
            continue;
        }
        if (byte == '\\') {
            if (!previousWasBackslash) {
                result += '\\';
            }
            previousWasBackslash = true;
            continue;
        }
        result += path[i];
        previousWasBackslash = false;
    }
    // A path that begins with a separator is given the network form; this
    // compares the first byte only.
    if (!result.empty() && result[0] == '\\') {
        result.insert(result.begin(), '\\');
    }
    return result;
}

} // namespace vmsi
