// Hand-built zlib streams.
#include "writer/zlib_stream.h"

#include <stdexcept>

#include <zlib.h>

namespace qvw {

ZlibStream::ZlibStream(std::uint8_t cmf, std::uint8_t flg) : bytes_{cmf, flg} {}

ZlibStream& ZlibStream::bits(std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        pending_ |= ((value >> i) & 1u) << pending_bits_;
        if (++pending_bits_ == 8) {
            bytes_.push_back(static_cast<std::uint8_t>(pending_));
            pending_ = 0;
            pending_bits_ = 0;
        }
    }
    return *this;
}

void ZlibStream::huffman(std::uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) bits((code >> i) & 1u, 1);
}

ZlibStream& ZlibStream::fixed_block(bool final) { return bits(final ? 1 : 0, 1).bits(1, 2); }

ZlibStream& ZlibStream::code(int symbol, std::uint32_t extra, int extra_bits) {
    if (symbol < 0 || symbol > 287) throw std::invalid_argument("literal/length code out of range");
    if (symbol < 144)
        huffman(0x30 + symbol, 8);
    else if (symbol < 256)
        huffman(0x190 + (symbol - 144), 9);
    else if (symbol < 280)
        huffman(symbol - 256, 7);
    else
        huffman(0xC0 + (symbol - 280), 8);
    return bits(extra, extra_bits);
}

ZlibStream& ZlibStream::distance(int symbol, std::uint32_t extra, int extra_bits) {
    if (symbol < 0 || symbol > 31) throw std::invalid_argument("distance code out of range");
    huffman(static_cast<std::uint32_t>(symbol), 5);
    return bits(extra, extra_bits);
}

ZlibStream& ZlibStream::stored_block(bool final, const Bytes& data) {
    if (data.size() > 0xFFFF) throw std::length_error("stored block longer than 65535 bytes");
    bits(final ? 1 : 0, 1).bits(0, 2);
    if (pending_bits_) bits(0, 8 - pending_bits_);
    const auto n = static_cast<std::uint32_t>(data.size());
    bits(n, 16).bits(~n & 0xFFFF, 16);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return *this;
}

Bytes ZlibStream::finish_with_checksum(std::uint32_t adler) const {
    Bytes out = bytes_;
    if (pending_bits_) out.push_back(static_cast<std::uint8_t>(pending_));
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(adler >> shift));
    return out;
}

Bytes ZlibStream::finish(const Bytes& content) const {
    return finish_with_checksum(adler32_of(content));
}

std::uint32_t ZlibStream::adler32_of(const Bytes& content) {
    return static_cast<std::uint32_t>(
        adler32(adler32(0L, Z_NULL, 0), content.data(), static_cast<uInt>(content.size())));
}

}  // namespace qvw
