#include "path_normaliser.h"

namespace vmsi {

// Repeatedly halving every run of backslashes, pair by pair, ends with each
// run as a single backslash; one left-to-right pass that keeps the first
// backslash of each run gives the same text in linear time. The pass works
// in place: what it keeps is never longer than what it has read.
Text normalisePath(Text path, LeadByteTest isLeadByte) {
    std::size_t write = 0;
    bool afterBackslash = false;
    for (std::size_t read = 0; read < path.size();) {
        const std::size_t length = characterEnd(path, read, isLeadByte) - read;
        const bool backslash = length == 1 && path[read] == '\\';
        if (!(backslash && afterBackslash)) {
            for (std::size_t i = 0; i < length; ++i) {
                path[write++] = path[read + i];
            }
        }
        afterBackslash = backslash;
        read += length;
    }
    path.resize(write);

    // A path that begins with a separator is given the network form; this
    // compares the first byte only.
    if (!path.empty() && path[0] == '\\') {
        path.insert(path.begin(), '\\');
    }
    return path;
}

} // namespace vmsi
