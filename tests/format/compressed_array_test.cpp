// Compressed arrays: the byte encoding, both framings through the writer and
// the reader, zlib errors, skipping and the skip buffer.
#include "format/compressed_array.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "format/record.h"
#include "support/unit_fixture.h"
#include "writer/records.h"

namespace qv::format {
namespace {

using qvtest::UnitFile;
using qvw::Bytes;
using qvw::FileWriter;

std::uint32_t bits(float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    return u;
}

float from_bits(std::uint32_t u) {
    float v;
    std::memcpy(&v, &u, 4);
    return v;
}

Bytes inflate_all(const Bytes& stream, std::size_t max_bytes) {
    Bytes out(max_bytes + 1);
    uLongf n = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(out.data(), &n, stream.data(), static_cast<uLong>(stream.size())), Z_OK);
    out.resize(n);
    return out;
}

Bytes deflate_bytes(const Bytes& raw) {
    uLongf n = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(n);
    EXPECT_EQ(compress(out.data(), &n, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
    out.resize(n);
    return out;
}

// Reals whose bit patterns a conversion through double or a sloppy copy
// would change.
std::vector<float> awkward_reals() {
    return {0.0f, -0.0f, 1.0f, -3.25e-38f, from_bits(0x00000001u), from_bits(0x7FC00001u),
            from_bits(0xFFA5A5A5u), from_bits(0x7F800001u), INFINITY, -INFINITY, 3.4e38f};
}

std::vector<std::int32_t> ramp(int n, std::int32_t start = 1) {
    std::vector<std::int32_t> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = start + i;
    return v;
}

std::string message(ZlibRoutine r) { return std::string(zlib_message(r).view()); }

std::string padded(std::string s, std::size_t n) {
    s.resize(n, ' ');
    return s;
}

TEST(ValueEncoding, ValuesArePackedLeastSignificantByteFirst) {
    const std::int32_t ints[] = {1, 2, -2};
    EXPECT_EQ(qvw::pack_values(ints, 3),
              (Bytes{1, 0, 0, 0, 2, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}));
    const Bytes stream = qvw::compress_values(ints, 1);
    EXPECT_EQ(inflate_all(stream, 4), (Bytes{1, 0, 0, 0}));

    const float reals[] = {1.0f};
    EXPECT_EQ(inflate_all(qvw::compress_values(reals, 1), 4), (Bytes{0, 0, 0x80, 0x3F}));
}

TEST(ValueEncoding, StreamsFitTheWritersOutputBound) {
    // Values that do not compress at all still fit 1.2 x size + 12.
    std::vector<std::int32_t> noise(3000);
    std::uint32_t x = 12345;
    for (auto& v : noise) v = static_cast<std::int32_t>(x = x * 1664525u + 1013904223u);
    for (std::size_t n : {std::size_t(1), std::size_t(2), std::size_t(3000)}) {
        const Bytes stream = qvw::compress_values(noise.data(), n);
        EXPECT_LE(stream.size(), static_cast<std::size_t>(1.2 * 4.0 * double(n)) + 12);
        EXPECT_EQ(inflate_all(stream, 4 * n), qvw::pack_values(noise.data(), n));
    }
}

TEST(ValueEncoding, ReaderUnpacksAnIndependentlyMadeStream) {
    const Bytes stream = deflate_bytes({1, 0, 0, 0, 0x2C, 0x01, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    std::int32_t out[3] = {};
    std::int64_t words = -1;
    EXPECT_EQ(inflate_values(out, 3, stream.data(), static_cast<std::int64_t>(stream.size()), words),
              Z_OK);
    EXPECT_EQ(words, 3);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 300);
    EXPECT_EQ(out[2], -1);
}

TEST(ValueEncoding, ShortStreamLeavesTheRestZeroAndCountsWordsProduced) {
    const std::int32_t three[] = {7, 8, 9};
    const Bytes stream = qvw::compress_values(three, 3);
    std::int32_t out[5] = {-1, -1, -1, -1, -1};
    std::int64_t words = -1;
    EXPECT_EQ(inflate_values(out, 5, stream.data(), static_cast<std::int64_t>(stream.size()), words),
              Z_OK);
    EXPECT_EQ(words, 3);
    EXPECT_EQ(out[2], 9);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[4], 0);
}

TEST(SingleForm, RoundTripsIntegersAndRealsBitForBit) {
    const std::vector<std::int32_t> ints = {0, 1, -1, INT32_MAX, INT32_MIN, 300, 65536};
    const std::vector<float> reals = awkward_reals();
    FileWriter w;
    w.single_ints(ints).single_reals(reals).single_ints({});
    UnitFile f(w.bytes());
    auto& c = f.connection();

    runtime::Array<std::int32_t> got_ints;
    ASSERT_EQ(read_array(c, Framing::Single, got_ints), kReadOk);
    EXPECT_EQ(std::vector<std::int32_t>(got_ints.begin(), got_ints.end()), ints);

    runtime::Array<float> got_reals;
    ASSERT_EQ(read_array(c, Framing::Single, got_reals), kReadOk);
    ASSERT_EQ(got_reals.size(), static_cast<std::int64_t>(reals.size()));
    for (std::size_t i = 0; i < reals.size(); ++i)
        EXPECT_EQ(bits(got_reals.data()[i]), bits(reals[i])) << "value " << i;

    runtime::Array<std::int32_t> empty;
    ASSERT_EQ(read_array(c, Framing::Single, empty), kReadOk);
    EXPECT_TRUE(empty.allocated());
    EXPECT_EQ(empty.size(), 0);
}

TEST(SingleForm, HighlyCompressedArrayIsNotTakenForDamage) {
    // A million zeros deflate about a thousandfold, close to the most a
    // stream can expand; the plausibility check on counts must let it pass.
    const std::vector<std::int32_t> zeros(1000000, 0);
    FileWriter w;
    w.single_ints(zeros);
    UnitFile f(w.bytes());
    runtime::Array<std::int32_t> got;
    ASSERT_EQ(read_array(f.connection(), Framing::Single, got), kReadOk);
    EXPECT_EQ(got.size(), 1000000);
}

TEST(SingleForm, EmptyPayloadLeavesDestinationAndSetsTheMessage) {
    FileWriter w;
    w.ints({0, 0}).payload({}).ints({42});
    UnitFile f(w.bytes());
    auto& c = f.connection();
    SingleHeader h;
    ASSERT_EQ(read_single_header(c, h), kReadOk);
    std::int32_t dest[2] = {-7, -7};
    EXPECT_EQ(read_single_payload(c, dest, h), kReadOk);
    EXPECT_EQ(dest[0], -7);
    EXPECT_EQ(dest[1], -7);

    // zlib's code for an empty stream, right-aligned in 4 characters.
    const std::string m = message(ZlibRoutine::SingleInts);
    ASSERT_EQ(m.size(), 50u);
    EXPECT_EQ(m.substr(0, 30), "Non-zero error code returned  ");
    EXPECT_EQ(m[30], '-');
    EXPECT_TRUE(m[31] >= '1' && m[31] <= '9') << m;
    EXPECT_EQ(m.substr(32), std::string(18, ' '));

    std::int32_t next = 0;
    ASSERT_TRUE(read_int(c, next));
    EXPECT_EQ(next, 42);
}

TEST(SingleForm, StreamLongerThanTheCountIsAnInflateError) {
    const std::int32_t three[] = {1, 2, 3};
    const Bytes stream = qvw::compress_values(three, 3);
    FileWriter w;
    w.ints({2, static_cast<std::int32_t>(stream.size())}).payload(stream).ints({42});
    UnitFile f(w.bytes());
    auto& c = f.connection();
    SingleHeader h;
    ASSERT_EQ(read_single_header(c, h), kReadOk);
    std::int32_t dest[2] = {};
    EXPECT_EQ(read_single_payload(c, dest, h), kInflateError);
    EXPECT_EQ(message(ZlibRoutine::SingleInts), padded("Non-zero error code returned  -5", 50));
    std::int32_t next = 0;
    ASSERT_TRUE(read_int(c, next));
    EXPECT_EQ(next, 42);
}

TEST(ChunkedForm, ChunksFillConsecutivePositions) {
    const std::vector<std::int32_t> values = ramp(10, 101);
    FileWriter w;
    w.chunked_ints(values, {5, 3, 2}).ints({42});
    UnitFile f(w.bytes());
    auto& c = f.connection();
    std::int32_t total = 0;
    ASSERT_EQ(read_chunked_total(c, total), kReadOk);
    ASSERT_EQ(total, 10);
    std::vector<std::int32_t> dest(10, -1);
    std::int64_t n = 0;
    ASSERT_EQ(read_chunks(c, dest.data(), total, n), kReadOk);
    EXPECT_EQ(n, 10);
    EXPECT_EQ(dest, values);
    std::int32_t next = 0;
    ASSERT_TRUE(read_int(c, next));
    EXPECT_EQ(next, 42);
}

TEST(ChunkedForm, RoundTripsRealsBitForBit) {
    const std::vector<float> reals = awkward_reals();
    FileWriter w;
    w.chunked_reals(reals, {1, 6, 4});
    UnitFile f(w.bytes());
    runtime::Array<float> got;
    ASSERT_EQ(read_array(f.connection(), Framing::Chunked, got), kReadOk);
    ASSERT_EQ(got.size(), static_cast<std::int64_t>(reals.size()));
    for (std::size_t i = 0; i < reals.size(); ++i)
        EXPECT_EQ(bits(got.data()[i]), bits(reals[i])) << "value " << i;
}

TEST(ChunkedForm, FirstHeaderOfZeroEndsTheArrayWithoutAPayload) {
    const std::int32_t one[] = {5};
    const Bytes stream = qvw::compress_values(one, 1);
    FileWriter w;
    w.ints({4}).ints({0, static_cast<std::int32_t>(stream.size())}).payload(stream);
    UnitFile f(w.bytes());
    auto& c = f.connection();
    std::int32_t total = 0;
    ASSERT_EQ(read_chunked_total(c, total), kReadOk);
    std::int32_t dest[4] = {};
    std::int64_t n = -1;
    ASSERT_EQ(read_chunks(c, dest, total, n), kReadOk);
    EXPECT_EQ(n, 0);
    // The next record is still the payload.
    std::int64_t length = 0;
    ASSERT_EQ(peek_record_length(c, length), kReadOk);
    EXPECT_EQ(length, static_cast<std::int64_t>(stream.size()));
}

TEST(ChunkedForm, NegativeCountEndsTheArrayToo) {
    FileWriter w;
    std::int32_t count = 2;
    const std::int32_t values[] = {8, 9};
    w.ints({2}).write_chunk(count, values).ints({-1, 0}).ints({42});
    EXPECT_EQ(count, 0);
    UnitFile f(w.bytes());
    runtime::Array<std::int32_t> got;
    ASSERT_EQ(read_array(f.connection(), Framing::Chunked, got), kReadOk);
    EXPECT_EQ(std::vector<std::int32_t>(got.begin(), got.end()), (std::vector<std::int32_t>{8, 9}));
    std::int32_t next = 0;
    ASSERT_TRUE(read_int(f.connection(), next));
    EXPECT_EQ(next, 42);
}

TEST(ChunkedForm, ArrayWithFewerValuesThanTheTotal) {
    FileWriter w;
    w.chunked_ints(ramp(7), {3, 2}, 7);
    UnitFile f(w.bytes());
    runtime::Array<std::int32_t> got;
    ASSERT_EQ(read_array(f.connection(), Framing::Chunked, got), kReadOk);
    EXPECT_EQ(got.size(), 5);
    EXPECT_EQ(got(5), 5);
}

TEST(WriteChunk, CountOfZeroWritesNothing) {
    FileWriter w;
    std::int32_t count = 0;
    const float values[] = {1.0f};
    w.write_chunk(count, values);
    EXPECT_TRUE(w.bytes().empty());
    EXPECT_EQ(count, 0);
}

TEST(SkipArray, PassesBothFormsWithoutInflating) {
    const Bytes garbage(40, 0xAB);  // not a zlib stream: skipping must not look
    FileWriter w;
    w.single_ints(ramp(100)).ints({1});
    w.chunked_reals(awkward_reals(), {4, 7}).ints({2});
    w.ints({3, 40}).payload(garbage).ints({3});
    w.ints({9}).ints({5, 40}).payload(garbage).ints({0, 0}).ints({4});
    UnitFile f(w.bytes());
    auto& c = f.connection();
    std::int32_t marker = 0;
    ASSERT_EQ(skip_array(c, Framing::Single), kReadOk);
    ASSERT_TRUE(read_int(c, marker));
    EXPECT_EQ(marker, 1);
    ASSERT_EQ(skip_array(c, Framing::Chunked), kReadOk);
    ASSERT_TRUE(read_int(c, marker));
    EXPECT_EQ(marker, 2);
    ASSERT_EQ(skip_array(c, Framing::Single), kReadOk);
    ASSERT_TRUE(read_int(c, marker));
    EXPECT_EQ(marker, 3);
    ASSERT_EQ(skip_array(c, Framing::Chunked), kReadOk);
    ASSERT_TRUE(read_int(c, marker));
    EXPECT_EQ(marker, 4);
}

TEST(SkipArray, SkipBufferGrowsByOnePointTwoAndIsReused) {
    release_skip_buffer();
    ASSERT_EQ(skip_buffer_capacity(), 0);
    FileWriter w;
    for (std::int32_t length : {1000, 1100, 1300, 10})
        w.ints({1, length}).payload(Bytes(static_cast<std::size_t>(length), 0));
    UnitFile f(w.bytes());
    auto& c = f.connection();

    ASSERT_EQ(skip_array(c, Framing::Single), kReadOk);
    EXPECT_EQ(skip_buffer_capacity(), 1200);
    ASSERT_EQ(skip_array(c, Framing::Single), kReadOk);
    EXPECT_EQ(skip_buffer_capacity(), 1200);
    ASSERT_EQ(skip_array(c, Framing::Single), kReadOk);
    EXPECT_EQ(skip_buffer_capacity(), 1560);
    ASSERT_EQ(skip_array(c, Framing::Single), kReadOk);
    EXPECT_EQ(skip_buffer_capacity(), 1560);

    release_skip_buffer();
    EXPECT_EQ(skip_buffer_capacity(), 0);
    rewind(c);
    ASSERT_EQ(skip_array(c, Framing::Single), kReadOk);
    EXPECT_EQ(skip_buffer_capacity(), 1200);
    release_skip_buffer();
}

}  // namespace
}  // namespace qv::format
