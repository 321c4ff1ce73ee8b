// A caller's text buffer: the length of the string it held at the call is
// the field width; exactly that many characters are written, no NUL.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace qv::runtime {

struct TextField {
    char* chars = nullptr;
    std::size_t length = 0;

    // Measures the NUL-terminated string the buffer holds now.
    static TextField of(char* buffer) { return {buffer, buffer ? std::strlen(buffer) : 0}; }

    // The text cut to the field, or padded with blanks to its length.
    void write(std::string_view text) const {
        if (!chars) return;
        const std::size_t n = std::min(length, text.size());
        std::memcpy(chars, text.data(), n);
        std::memset(chars + n, ' ', length - n);
    }
};

}  // namespace qv::runtime
