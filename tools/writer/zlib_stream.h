// Hand-built zlib streams, for tests of the inflaters with streams a
// compressor never writes: blocks of the fixed codes with each code chosen,
// stored blocks, any header and any checksum.
#pragma once

#include <cstdint>

#include "writer/records.h"

namespace qvw {

class ZlibStream {
public:
    // Starts with the two header bytes (0x78 0x01: deflate, 32 KiB window,
    // no dictionary).
    explicit ZlibStream(std::uint8_t cmf = 0x78, std::uint8_t flg = 0x01);

    // Block header of a block in the fixed codes.
    ZlibStream& fixed_block(bool final);
    // One literal/length code (0..287) of the fixed codes, then `extra_bits`
    // bits of `extra`.
    ZlibStream& code(int symbol, std::uint32_t extra = 0, int extra_bits = 0);
    // One distance code (0..31) of the fixed codes and its extra bits.
    ZlibStream& distance(int symbol, std::uint32_t extra = 0, int extra_bits = 0);
    // A stored block holding `data`, with its length and complement.
    ZlibStream& stored_block(bool final, const Bytes& data);
    // Raw bits, least significant first.
    ZlibStream& bits(std::uint32_t value, int count);

    // The stream so far, padded to a byte, then the Adler-32 checksum
    // (big-endian) of `content`, the bytes the stream stands for.
    Bytes finish(const Bytes& content) const;
    Bytes finish_with_checksum(std::uint32_t adler) const;

    static std::uint32_t adler32_of(const Bytes& content);

private:
    // A Huffman code: most significant bit first.
    void huffman(std::uint32_t code, int length);
    Bytes bytes_;
    std::uint32_t pending_ = 0;
    int pending_bits_ = 0;
};

}  // namespace qvw
