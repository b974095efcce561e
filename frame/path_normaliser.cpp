#include "path_normaliser.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace vmsi {

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the word-wise scan takes the first byte of a word as its lowest");

// The scan reads the text a machine word at a time: 8 bytes in the 64-bit
// build, 4 in the 32-bit one.
using Word = std::uintptr_t;

constexpr Word everyByte(unsigned char byte) {
    return static_cast<Word>(~Word{0}) / 0xFF * byte;
}

constexpr Word lowSevenBits = everyByte(0x7F);
constexpr Word highBits = everyByte(0x80);
constexpr Word backslashes = everyByte('\\');
constexpr unsigned topByteShift = 8 * (sizeof(Word) - 1);

// 0x80 in each byte of the word that is zero, 0 in the others. Exact: no
// byte's sum carries into the next.
Word zeroBytes(Word word) {
    return ~(((word & lowSevenBits) + lowSevenBits) | word | lowSevenBits);
}

// Writes the bytes of the word that are not dropped (0x80 in dropped) at
// text + write and returns the new write position. Every byte is stored,
// and the position moves on past the kept ones only: no branch depends on
// the text.
template <std::size_t... Byte>
std::size_t keepUndroppedBytes(char* text, std::size_t write, Word word, Word dropped,
                               std::index_sequence<Byte...>) {
    const Word kept = ~dropped & highBits;
    ((text[write] = static_cast<char>(word >> (8 * Byte)), write += (kept >> (8 * Byte + 7)) & 1),
     ...);
    return write;
}

std::size_t keepUndropped(char* text, std::size_t write, Word word, Word dropped) {
    return keepUndroppedBytes(text, write, word, dropped, std::make_index_sequence<sizeof(Word)>());
}

} // namespace

// Repeatedly halving every run of backslashes, pair by pair, ends with each
// run as a single backslash; one left-to-right pass that keeps the first
// backslash of each run gives the same text in linear time. The pass works
// in place, in the text it was given: the result is never longer, except
// for the backslash added in front at the end.
//
// It takes a word at a time while the next word holds no byte from 0x80 up,
// which is most paths throughout; otherwise one character, asking the
// lead-byte test only about bytes from 0x80 up.
std::string normalisePath(std::string path, LeadByteTest isLeadByte) {
    char* const text = path.data();
    const std::size_t size = path.size();
    std::size_t read = 0;
    std::size_t write = 0;
    // The last byte read, exclusive-or a backslash: zero when it was a
    // backslash (not the trail byte of a double-byte character), and a
    // backslash now continues its run.
    Word beforeRead = 0xFF;

    for (;;) {
        while (size - read >= sizeof(Word)) {
            Word word;
            std::memcpy(&word, text + read, sizeof word);
            if ((word & highBits) != 0) {
                break;
            }
            // A backslash right after a backslash is dropped: a byte of
            // notBackslashes | notBackslashes << 8 is zero there. The first
            // byte's predecessor is the last byte read.
            const Word notBackslashes = word ^ backslashes;
            const Word dropped = zeroBytes(notBackslashes | notBackslashes << 8 | beforeRead);
            beforeRead = notBackslashes >> topByteShift;
            if (dropped == 0) {
                std::memcpy(text + write, &word, sizeof word);
                write += sizeof word;
            } else if (dropped != highBits) {
                write = keepUndropped(text, write, word, dropped);
            }
            read += sizeof word;
        }
        if (read == size) {
            break;
        }
        const unsigned char byte = static_cast<unsigned char>(text[read]);
        if (byte >= 0x80 && read + 1 < size && isLeadByte(byte)) {
            // A double-byte character: its trail byte is never a separator.
            text[write++] = text[read++];
            text[write++] = text[read++];
            beforeRead = 0xFF;
            continue;
        }
        if (byte != '\\' || beforeRead != 0) {
            text[write++] = static_cast<char>(byte);
        }
        beforeRead = byte ^ '\\';
        ++read;
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
