// Mutations inside the compressed arrays of a results file.
#include "zlib_mutator.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>

#include <zlib.h>

namespace qvfuzz {
namespace {

// Inflated arrays larger than this are left alone: mutating them costs
// more than the fuzzer gains.
constexpr std::size_t kInflateLimit = std::size_t(1) << 20;

std::uint32_t be32_at(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

void put_be32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

struct Framed {
    std::size_t offset, length;
};

// The leading run of whole records: length, data, the same length.
std::vector<Framed> records(const std::uint8_t* data, std::size_t size) {
    std::vector<Framed> out;
    for (std::size_t at = 0; size - at >= 8;) {
        const std::size_t n = be32_at(data + at);
        if (n > size - at - 8 || be32_at(data + at + 4 + n) != n) break;
        out.push_back({at, n});
        at += n + 8;
    }
    return out;
}

// A header record [count, length] whose length is that of the next record.
bool pairs(const std::uint8_t* data, const std::vector<Framed>& r, std::size_t i) {
    return i + 1 < r.size() && r[i].length == 8 && be32_at(data + r[i].offset + 8) == r[i + 1].length &&
           r[i + 1].length >= 2;
}

// Value-level changes: a few 4-byte values set to a special float or
// integer, sign-flipped or moved by one.
void tweak_values(std::vector<std::uint8_t>& v, std::minstd_rand& rng) {
    if (v.size() < 4) return;
    static const std::uint32_t specials[] = {
        0x7FC00000u, 0xFFC00000u, 0x7F800000u, 0xFF800000u, 0x80000000u, 0x7F7FFFFFu,
        0x00000001u, 0x00800000u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x00000000u, 0x40000000u,
        0x4F000000u, 0xCF000000u, 0x00010000u, 0x000000FFu};
    const int changes = 1 + static_cast<int>(rng() % 3);
    for (int c = 0; c < changes; ++c) {
        std::uint8_t* p = v.data() + 4 * (rng() % (v.size() / 4));
        std::uint32_t u = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                          (std::uint32_t(p[3]) << 24);  // stored least significant byte first
        switch (rng() % 4) {
        case 0: u = specials[rng() % (sizeof specials / sizeof specials[0])]; break;
        case 1: u ^= 0x80000000u; break;
        case 2: u += (rng() & 1) ? 1u : 0xFFFFFFFFu; break;
        default: u = static_cast<std::uint32_t>(rng()); break;
        }
        for (int b = 0; b < 4; ++b) p[b] = static_cast<std::uint8_t>(u >> (8 * b));
    }
}

}  // namespace

std::vector<CompressedPayload> find_payloads(const std::uint8_t* data, std::size_t size) {
    const std::vector<Framed> r = records(data, size);
    std::vector<CompressedPayload> out;
    for (std::size_t i = 0; i < r.size(); ++i) {
        if (!pairs(data, r, i)) continue;
        CompressedPayload p;
        p.header = r[i].offset;
        p.payload = r[i + 1].offset;
        p.length = r[i + 1].length;
        // Back over the chunks before this one to the total record.
        std::size_t j = i;
        while (j >= 2 && pairs(data, r, j - 2)) j -= 2;
        if (j >= 1 && r[j - 1].length == 4) p.total = r[j - 1].offset;
        out.push_back(p);
    }
    return out;
}

bool inflate_payload(const std::uint8_t* data, const CompressedPayload& p, std::size_t limit,
                     std::vector<std::uint8_t>& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    out.resize(std::min<std::size_t>(limit, std::max<std::size_t>(64, 4 * p.length)));
    z.next_in = const_cast<Bytef*>(data + p.payload + 4);
    z.avail_in = static_cast<uInt>(p.length);
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (z.total_out == out.size()) {
            if (out.size() >= limit) break;
            out.resize(std::min(limit, 2 * out.size()));
        }
        z.next_out = out.data() + z.total_out;
        z.avail_out = static_cast<uInt>(out.size() - z.total_out);
        rc = inflate(&z, Z_NO_FLUSH);
    }
    out.resize(z.total_out);
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

std::size_t splice_payload(std::uint8_t* data, std::size_t size, std::size_t max_size,
                           const CompressedPayload& p, const std::vector<std::uint8_t>& content,
                           int level, std::int32_t count_delta) {
    uLongf length = compressBound(static_cast<uLong>(content.size()));
    std::vector<std::uint8_t> stream(length);
    if (compress2(stream.data(), &length, content.data(), static_cast<uLong>(content.size()), level) != Z_OK)
        return 0;
    const std::size_t old_end = p.payload + 8 + p.length;
    const std::size_t new_size = size - p.length + length;
    if (new_size > max_size || length > std::numeric_limits<std::int32_t>::max()) return 0;
    // The tail moves first, then the new payload record goes in its place.
    std::memmove(data + p.payload + 8 + length, data + old_end, size - old_end);
    put_be32(data + p.payload, static_cast<std::uint32_t>(length));
    std::memcpy(data + p.payload + 4, stream.data(), length);
    put_be32(data + p.payload + 4 + length, static_cast<std::uint32_t>(length));
    put_be32(data + p.header + 8, static_cast<std::uint32_t>(length));
    if (count_delta != 0) {
        put_be32(data + p.header + 4, be32_at(data + p.header + 4) + static_cast<std::uint32_t>(count_delta));
        if (p.total != CompressedPayload::npos)
            put_be32(data + p.total + 4, be32_at(data + p.total + 4) + static_cast<std::uint32_t>(count_delta));
    }
    return new_size;
}

std::size_t mutate_compressed(std::uint8_t* data, std::size_t size, std::size_t max_size,
                              std::uint32_t seed, MutateBytes mutate) {
    const std::vector<CompressedPayload> found = find_payloads(data, size);
    if (found.empty()) return 0;
    std::minstd_rand rng(seed | 1u);
    // The first payload that inflates, from a random start.
    const std::size_t start = rng() % found.size();
    std::vector<std::uint8_t> values;
    for (std::size_t n = 0; n < found.size(); ++n) {
        const CompressedPayload& p = found[(start + n) % found.size()];
        if (!inflate_payload(data, p, kInflateLimit, values)) continue;
        const std::size_t before = values.size();
        if (mutate && rng() % 2 == 0) {
            values.resize(std::min(kInflateLimit, 2 * before + 64));
            values.resize(mutate(values.data(), before, values.size()));
        } else {
            tweak_values(values, rng);
        }
        // The count follows the values mostly; now and then it is off.
        const std::int64_t grown = (static_cast<std::int64_t>(values.size()) - static_cast<std::int64_t>(before)) / 4;
        std::int32_t delta = rng() % 4 != 0 ? static_cast<std::int32_t>(grown) : 0;
        if (rng() % 8 == 0) delta += static_cast<std::int32_t>(rng() % 5) - 2;
        return splice_payload(data, size, max_size, p, values, static_cast<int>(rng() % 10), delta);
    }
    return 0;
}

}  // namespace qvfuzz

#ifdef QVFUZZ_CUSTOM_MUTATOR
#ifndef QVFUZZ_FILE_OFFSET
#define QVFUZZ_FILE_OFFSET 0
#endif

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size);

// One mutation in three goes inside a compressed array; the rest, and every
// one that finds none, are libFuzzer's own.
extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned int seed) {
    constexpr std::size_t offset = QVFUZZ_FILE_OFFSET;
    if (seed % 3 == 0 && size > offset && max_size > offset) {
        const std::size_t n =
            qvfuzz::mutate_compressed(data + offset, size - offset, max_size - offset, seed / 3, LLVMFuzzerMutate);
        if (n) return n + offset;
    }
    return LLVMFuzzerMutate(data, size, max_size);
}
#endif
