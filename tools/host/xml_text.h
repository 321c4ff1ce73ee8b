// Text written into XML files (SVG plots, VTK files): the five special
// characters escaped, and names from results files made well-formed UTF-8:
// a byte that starts no valid UTF-8 sequence is taken as Latin-1 (the
// solver writes names in a single-byte code page), and control characters
// (C0 but tab and line ends, DEL, C1), which XML cannot hold or which
// would reach a terminal showing the file, become '?'.
#pragma once

#include <cstddef>
#include <string>

namespace qvhost {

// Length of the valid UTF-8 sequence at s[i] of a character XML can hold
// (no overlong forms, no surrogates, not U+FFFE or U+FFFF, nothing past
// U+10FFFF), or 0.
inline std::size_t utf8_sequence(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = byte(i);
    const std::size_t n = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    const unsigned char second = byte(i + 1);
    if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) || (b == 0xF0 && second < 0x90) ||
        (b == 0xF4 && second > 0x8F) || (b == 0xEF && second == 0xBF && byte(i + 2) >= 0xBE))
        return 0;
    return n;
}

inline std::string xml_escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80) {
            const std::size_t n = utf8_sequence(s, i);
            // U+0080..U+009F, the C1 controls, as UTF-8 (C2 80..C2 9F) or
            // as Latin-1 bytes: a CSI among them would reach the terminal
            // of whoever shows the file.
            const bool c1 = n == 0 ? u < 0xA0 : n == 2 && u == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0;
            if (c1) {
                out += '?';
            } else if (n) {
                out.append(s, i, n);
            } else {
                out += static_cast<char>(0xC0 | (u >> 6));
                out += static_cast<char>(0x80 | (u & 0x3F));
            }
            i += n ? n - 1 : 0;
            continue;
        }
        if ((u < 0x20 && c != '\t' && c != '\n' && c != '\r') || u == 0x7F) {
            out += '?';
            continue;
        }
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace qvhost
