// The compressed-array mutator of the fuzz targets: it finds the payloads of
// both framings, and a payload it splices back reads as the new values with
// the record lengths, the compressed length and the counts made to match.
#include "zlib_mutator.h"

#include <gtest/gtest.h>

#include <vector>

#include "format/compressed_array.h"
#include "support/record_fixture.h"
#include "writer/records.h"

namespace {

using qv::format::Framing;
using qv::format::Status;

// A single-form array of ints, then a chunked array of reals in two chunks.
qvw::Bytes two_arrays() {
    qvw::FileWriter w;
    w.single_ints({1, 2, 3, 4}).chunked_reals({0.5f, 1.5f, 2.5f}, {2, 1});
    return w.bytes();
}

std::vector<std::uint8_t> packed(const std::vector<std::int32_t>& v) {
    return qvw::pack_values(v.data(), v.size());
}

TEST(ZlibMutator, FindsEveryPayloadAndTheChunkedTotal) {
    const qvw::Bytes file = two_arrays();
    const auto found = qvfuzz::find_payloads(file.data(), file.size());
    ASSERT_EQ(found.size(), 3u);
    // The single-form array has no total record; both chunks share one.
    EXPECT_EQ(found[1].total, found[2].total);
    EXPECT_NE(found[1].total, qvfuzz::CompressedPayload::npos);
    std::vector<std::uint8_t> values;
    ASSERT_TRUE(qvfuzz::inflate_payload(file.data(), found[0], 1 << 20, values));
    EXPECT_EQ(values, packed({1, 2, 3, 4}));
    // A broken framing ends the walk.
    qvw::Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(found[1].payload) + 5);
    EXPECT_EQ(qvfuzz::find_payloads(cut.data(), cut.size()).size(), 1u);
}

TEST(ZlibMutator, SplicedValuesReadBackInBothFramings) {
    qvw::Bytes file = two_arrays();
    const auto found = qvfuzz::find_payloads(file.data(), file.size());
    file.resize(file.size() + 4096);
    // Longer values into the single array, then more into the second chunk
    // (whose offsets the first splice moved: found again).
    std::size_t size = qvfuzz::splice_payload(file.data(), file.size() - 4096, file.size(), found[0],
                                              packed({7, 8, 9, 10, 11, 12}), 9, 2);
    ASSERT_GT(size, 0u);
    const auto again = qvfuzz::find_payloads(file.data(), size);
    ASSERT_EQ(again.size(), 3u);
    const float reals[] = {9.0f, -1.0f, 4.0f};
    size = qvfuzz::splice_payload(file.data(), size, file.size(), again[2],
                                  qvw::pack_values(reals, 3), 0, 2);
    ASSERT_GT(size, 0u);
    file.resize(size);

    qvtest::RecordFile f(file);
    qv::runtime::Array<std::int32_t> ints;
    ASSERT_EQ(qv::format::read_array(f.reader(), Framing::Single, ints), Status::ok);
    EXPECT_EQ(std::vector<std::int32_t>(ints.begin(), ints.end()), (std::vector<std::int32_t>{7, 8, 9, 10, 11, 12}));
    qv::runtime::Array<float> chunked;
    ASSERT_EQ(qv::format::read_array(f.reader(), Framing::Chunked, chunked), Status::ok);
    EXPECT_EQ(std::vector<float>(chunked.begin(), chunked.end()), (std::vector<float>{0.5f, 1.5f, 9.0f, -1.0f, 4.0f}));
}

TEST(ZlibMutator, NothingChangesWhenTheResultDoesNotFit) {
    qvw::Bytes file = two_arrays();
    const qvw::Bytes before = file;
    const auto found = qvfuzz::find_payloads(file.data(), file.size());
    std::vector<std::uint8_t> noise(4000);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<std::uint8_t>(i * 7919u >> 3);
    EXPECT_EQ(qvfuzz::splice_payload(file.data(), file.size(), file.size() + 16, found[0], noise, 6, 0), 0u);
    EXPECT_EQ(file, before);
}

// A stub byte mutator that fills all the room it is given with noise.
std::size_t noise_to_the_end(std::uint8_t* data, std::size_t, std::size_t max_size) {
    for (std::size_t i = 0; i < max_size; ++i) data[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
    return max_size;
}

TEST(ZlibMutator, EveryMutationFitsAndKeepsTheFraming) {
    const qvw::Bytes original = two_arrays();
    int fell_back = 0, mutated = 0;
    for (std::uint32_t seed = 0; seed < 64; ++seed) {
        // No room to grow: the noise never fits, value tweaks may.
        qvw::Bytes file = original;
        const std::size_t n = qvfuzz::mutate_compressed(file.data(), file.size(), file.size(), seed, noise_to_the_end);
        if (n == 0) {
            EXPECT_EQ(file, original);
            ++fell_back;
            continue;
        }
        ++mutated;
        ASSERT_LE(n, original.size());
        file.resize(n);
        const auto found = qvfuzz::find_payloads(file.data(), file.size());
        ASSERT_EQ(found.size(), 3u) << "seed " << seed;
        std::vector<std::uint8_t> values;
        for (const auto& p : found) EXPECT_TRUE(qvfuzz::inflate_payload(file.data(), p, 1 << 20, values));
    }
    EXPECT_GT(fell_back, 0);
    EXPECT_GT(mutated, 0);
}

}  // namespace
