#include "path_normaliser.h"

#include <emmintrin.h>

#include <array>
#include <cstdint>
#include <utility>

// Every x86 processor that runs Windows 8 or later has SSE2 (the system
// requires it), and the 64-bit instruction set includes it. The 32-bit build
// asks for it with -msse2 (cmake/VmsiCodeOptions.cmake); without it this is a
// build fault, not a reason to fall back to a slower routine.
#ifndef __SSE2__
#error "the path normaliser reads the text with SSE2 instructions"
#endif

namespace vmsi {

namespace {

// The text is read 16 bytes at a time, in both builds.
using Block = __m128i;
constexpr std::size_t blockSize = sizeof(Block);
constexpr unsigned everyByteOfABlock = 0xFFFF;

// SSE2 has no instruction that moves each byte by its own distance, so the
// bytes of a block are gathered in two lanes of 8 with 64-bit shifts. A kept
// byte with n dropped bytes before it in its lane moves n places down, in
// three steps of 1, 2 and 4 places, the bits of n lowest first: then no kept
// byte ever lands where another one still is. For each of the 256 patterns of
// dropped bytes in a lane, the byte masks of the steps, each in the places
// where the bytes are at that step: `stay`, the kept bytes that the first step
// leaves in place (so that it also clears the dropped ones), and `by1`, `by2`,
// `by4`, the bytes that each step moves. Pairs of masks are loaded together.
// The compiler computes the tables: 8 KiB of read-only data, and no work at
// load time.
struct LaneMoves {
    alignas(16) std::uint64_t stayAndBy1[2];
    std::uint64_t by2AndBy4[2];
};

constexpr std::uint64_t bytePlace(int place) {
    return std::uint64_t{0xFF} << (8 * place);
}

constexpr LaneMoves laneMovesFor(unsigned dropped) {
    std::uint64_t stay = 0;
    std::uint64_t moving[3] = {};
    int droppedBefore = 0;
    for (int place = 0; place < 8; ++place) {
        if ((dropped >> place & 1) != 0) {
            ++droppedBefore;
            continue;
        }
        if (droppedBefore % 2 == 0) {
            stay |= bytePlace(place);
        }
        int now = place;
        for (int step = 0; step < 3; ++step) {
            if ((droppedBefore >> step & 1) != 0) {
                moving[step] |= bytePlace(now);
                now -= 1 << step;
            }
        }
    }
    return {{stay, moving[0]}, {moving[1], moving[2]}};
}

template <std::size_t... Pattern>
constexpr std::array<LaneMoves, 256> allLaneMoves(std::index_sequence<Pattern...>) {
    return {laneMovesFor(Pattern)...};
}

constexpr std::array<LaneMoves, 256> laneMoves = allLaneMoves(std::make_index_sequence<256>());

// The number of kept bytes of a lane, for each pattern of dropped ones.
template <std::size_t... Pattern>
constexpr std::array<unsigned char, 256> allKeptCounts(std::index_sequence<Pattern...>) {
    return {static_cast<unsigned char>(8 - __builtin_popcount(Pattern))...};
}

constexpr std::array<unsigned char, 256> keptBytes = allKeptCounts(std::make_index_sequence<256>());

Block loadBlock(const char* at) {
    return _mm_loadu_si128(reinterpret_cast<const Block*>(at));
}

template <int places>
Block moveDown(Block bytes, Block moving) {
    return _mm_or_si128(_mm_andnot_si128(moving, bytes),
                        _mm_srli_epi64(_mm_and_si128(moving, bytes), 8 * places));
}

// Writes the kept bytes of the block at text + write and returns the new write
// position. Each lane is stored whole, 8 bytes, the second one over the end of
// the first lane's kept bytes: nothing is stored past the block's own end.
std::size_t keepUndropped(char* text, std::size_t write, Block block, unsigned dropped) {
    const LaneMoves& low = laneMoves[dropped & 0xFF];
    const LaneMoves& high = laneMoves[dropped >> 8];
    const Block lowFirst = _mm_load_si128(reinterpret_cast<const Block*>(low.stayAndBy1));
    const Block highFirst = _mm_load_si128(reinterpret_cast<const Block*>(high.stayAndBy1));
    const Block lowSecond = _mm_load_si128(reinterpret_cast<const Block*>(low.by2AndBy4));
    const Block highSecond = _mm_load_si128(reinterpret_cast<const Block*>(high.by2AndBy4));

    block = _mm_or_si128(
        _mm_and_si128(_mm_unpacklo_epi64(lowFirst, highFirst), block),
        _mm_srli_epi64(_mm_and_si128(_mm_unpackhi_epi64(lowFirst, highFirst), block), 8));
    block = moveDown<2>(block, _mm_unpacklo_epi64(lowSecond, highSecond));
    block = moveDown<4>(block, _mm_unpackhi_epi64(lowSecond, highSecond));

    _mm_storel_epi64(reinterpret_cast<Block*>(text + write), block);
    write += keptBytes[dropped & 0xFF];
    _mm_storel_epi64(reinterpret_cast<Block*>(text + write), _mm_unpackhi_epi64(block, block));
    return write + keptBytes[dropped >> 8];
}

} // namespace

// Repeatedly halving every run of backslashes, pair by pair, ends with each
// run as a single backslash; one left-to-right pass that keeps the first
// backslash of each run gives the same text in linear time. The pass works
// in place, in the text it was given: the result is never longer, except
// for the backslash added in front at the end, and nothing is ever stored
// past the bytes already read.
//
// It takes a block of 16 bytes at a time while the block holds no byte from
// 0x80 up, which is most paths throughout; otherwise it goes one character at
// a time up to and including the first such byte, asking the lead-byte test
// only about bytes from 0x80 up.
std::string normalisePath(std::string path, LeadByteTest isLeadByte) {
    char* const text = path.data();
    const std::size_t size = path.size();
    std::size_t read = 0;
    std::size_t write = 0;
    // 1 when the last byte read was a backslash (not the trail byte of a
    // double-byte character): a backslash now continues its run.
    unsigned afterBackslash = 0;
    const Block backslashes = _mm_set1_epi8('\\');

    for (;;) {
        std::size_t characterWiseUpTo = size;
        while (size - read >= blockSize) {
            const Block block = loadBlock(text + read);
            const unsigned highBytes = static_cast<unsigned>(_mm_movemask_epi8(block));
            if (highBytes != 0) {
                characterWiseUpTo = read + static_cast<unsigned>(__builtin_ctz(highBytes)) + 1;
                break;
            }
            // A backslash right after a backslash is dropped; the first
            // byte's predecessor is the last byte read.
            const unsigned backslashBits =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, backslashes)));
            const unsigned dropped = backslashBits & (backslashBits << 1 | afterBackslash);
            afterBackslash = backslashBits >> (blockSize - 1);
            if (dropped == 0) {
                _mm_storeu_si128(reinterpret_cast<Block*>(text + write), block);
                write += blockSize;
            } else if (dropped != everyByteOfABlock) {
                write = keepUndropped(text, write, block, dropped);
            } // else a run goes on through the whole block: nothing is kept
            read += blockSize;
        }
        while (read < characterWiseUpTo) {
            const unsigned char byte = static_cast<unsigned char>(text[read]);
            if (byte >= 0x80 && read + 1 < size && isLeadByte(byte)) {
                // A double-byte character: its trail byte is never a separator.
                text[write++] = text[read++];
                text[write++] = text[read++];
                afterBackslash = 0;
                continue;
            }
            const unsigned backslash = byte == '\\';
            if ((backslash & afterBackslash) == 0) {
                text[write++] = static_cast<char>(byte);
            }
            afterBackslash = backslash;
            ++read;
        }
        if (read == size) {
            break;
        }
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
