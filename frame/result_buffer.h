// Result buffers: character buffers that the caller owns and passes without
// a size. The public header asks callers for MAX_PATH bytes, and nothing
// longer than that, terminating zero included, is ever written into one.
#pragma once

#include "text.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace vmsi {

constexpr std::size_t resultBufferSize = MAX_PATH;

// Whether the text and its terminating zero fit a result buffer.
inline bool fitsResultBuffer(const Text& text) {
    return text.size() < resultBufferSize;
}

// Copies the text and a terminating zero into the caller's buffer, cut to
// fit. A null buffer is never written: a caller that only wants the answer
// may pass none.
inline void copyToResultBuffer(char* buffer, const Text& text) {
    if (buffer == nullptr) {
        return;
    }
    const std::size_t length = std::min(text.size(), resultBufferSize - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

} // namespace vmsi
