#include "path_normaliser.h"

namespace vmsi {

namespace {

// The number of bytes of the character that begins at `at`: 2 for a
// double-byte character, whose trail byte is never a separator, else 1. A lead
// byte as the very last byte stands alone. The test is asked only about bytes
// from 0x80 up.
std::size_t characterLength(const std::string& text, std::size_t at, LeadByteTest isLeadByte) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    return byte >= 0x80 && at + 1 < text.size() && isLeadByte(byte) ? 2 : 1;
}

} // namespace

// Repeatedly halving every run of backslashes, pair by pair, ends with each
// run as a single backslash; one left-to-right pass that keeps the first
// backslash of each run gives the same text in linear time. The pass works
// in place: what it keeps is never longer than what it has read.
std::string normalisePath(std::string path, LeadByteTest isLeadByte) {
    std::size_t write = 0;
    bool afterBackslash = false;
    for (std::size_t read = 0; read < path.size();) {
        const std::size_t length = characterLength(path, read, isLeadByte);
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
