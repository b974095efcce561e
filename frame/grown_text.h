// Texts that a platform call writes into a buffer of the size it is given,
// and answers either with what it wrote or with the size it needs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

namespace vmsi {

// What one such call answered.
struct BufferAnswer {
    enum class Outcome { Written, TooSmall, Failed } outcome;
    std::size_t count; // Written: characters written; TooSmall: the size needed, or 0 if unsaid

    static BufferAnswer written(std::size_t length) { return {Outcome::Written, length}; }
    static BufferAnswer tooSmall(std::size_t needed) { return {Outcome::TooSmall, needed}; }
    static BufferAnswer failed() { return {Outcome::Failed, 0}; }
    // The convention of most path calls: 0 for a failure, a length below the
    // size for the text written, anything else for the size needed (with or
    // without the terminating zero, depending on the call and the version).
    static BufferAnswer ofLength(std::size_t length, std::size_t size) {
        return length == 0 ? failed() : length < size ? written(length) : tooSmall(length);
    }
};

// No path the platform accepts is longer (32,767 characters and the zero).
constexpr std::size_t pathTextLimit = 32768;

// The text that fill(buffer, size) writes, asked again with a larger buffer
// while it answers that the buffer is too small; the empty text when it
// fails or still needs more than limit characters. It ends: every retry at
// least doubles the buffer, whatever size the call names, and the buffer
// never grows past limit.
template <typename Char, typename Fill>
std::basic_string<Char> grownText(Fill fill, std::size_t limit = pathTextLimit) {
    std::basic_string<Char> buffer(std::min<std::size_t>(260, limit), Char());
    for (;;) {
        const BufferAnswer answer = fill(buffer.data(), buffer.size());
        if (answer.outcome == BufferAnswer::Outcome::Written) {
            buffer.resize(std::min(answer.count, buffer.size()));
            return buffer;
        }
        if (answer.outcome == BufferAnswer::Outcome::Failed || buffer.size() >= limit) {
            return std::basic_string<Char>();
        }
        buffer.resize(std::min(limit, std::max(answer.count + 1, buffer.size() * 2)));
    }
}

} // namespace vmsi
