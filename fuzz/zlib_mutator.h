// Mutations inside the compressed arrays of a results file. Byte mutations
// of a zlib stream almost always break it, so the library's inflater sees
// damage and the readers behind it see nothing new: this mutator finds the
// compressed payloads by walking the record framing, inflates one, changes
// the values it holds and compresses them again, with the record lengths
// and the array header's compressed length (and sometimes its value count)
// rewritten to match. The libFuzzer entry (LLVMFuzzerCustomMutator) is
// compiled only into the libFuzzer executables (QVFUZZ_CUSTOM_MUTATOR).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvfuzz {

// A byte mutator of libFuzzer's shape: mutates data[0, size) in place into
// at most max_size bytes and returns the new size.
using MutateBytes = std::size_t (*)(std::uint8_t* data, std::size_t size, std::size_t max_size);

// One compressed array (single form) or chunk (chunked form) of a file:
// the header record [count, compressed length] and the payload record that
// follows it, by the offsets of their leading lengths.
struct CompressedPayload {
    std::size_t header = 0;
    std::size_t payload = 0;
    std::size_t length = 0;  // payload bytes
    // The chunked array's total record before its chunks; npos when the
    // record before is not one.
    std::size_t total = npos;
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
};

// Every header + payload record pair of the file's leading run of whole
// records (the walk stops where the framing breaks). Whether a payload
// inflates is not checked here.
std::vector<CompressedPayload> find_payloads(const std::uint8_t* data, std::size_t size);

// The payload's stream inflated; false when it does not inflate completely
// into at most `limit` bytes.
bool inflate_payload(const std::uint8_t* data, const CompressedPayload& p, std::size_t limit,
                     std::vector<std::uint8_t>& out);

// Replaces payload `p` by `content` compressed at `level`, rewrites both
// lengths of the payload record and the header's compressed length, and adds
// `count_delta` to the header's count (and to the total record, when the
// chunk has one). Returns the new size, or 0, leaving data alone, when the
// result would not fit max_size.
std::size_t splice_payload(std::uint8_t* data, std::size_t size, std::size_t max_size,
                           const CompressedPayload& p, const std::vector<std::uint8_t>& content,
                           int level, std::int32_t count_delta);

// One mutation inside a compressed array chosen by `seed`: inflate, change
// the values (with `mutate`, or a value tweak: special floats, sign flips,
// large integers), compress, splice. Returns the new size, or 0 when no
// payload inflates or the result does not fit; data is then unchanged.
std::size_t mutate_compressed(std::uint8_t* data, std::size_t size, std::size_t max_size,
                              std::uint32_t seed, MutateBytes mutate);

}  // namespace qvfuzz
