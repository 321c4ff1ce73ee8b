// Compressed arrays: the byte encoding, both framings through the writer and
// the reader, zlib errors and the skip buffer.
#include "format/compressed_array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/record_fixture.h"
#include "writer/records.h"

namespace qv::format {
namespace {

using qvtest::RecordFile;
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

using qvtest::values;

std::vector<std::int32_t> ramp(std::size_t n) { return qvtest::ramp<std::int32_t>(n, 1); }

std::int32_t next_int(RecordReader& r) {
    std::int32_t v = -99;
    EXPECT_TRUE(r.int32(v));
    return v;
}

// Values are packed least significant byte first; that the reader unpacks
// them so is what the round trips below show.
TEST(ValueEncoding, LeastSignificantByteFirst) {
    const std::int32_t ints[] = {1, 2, -2};
    EXPECT_EQ(qvw::pack_values(ints, 3), (Bytes{1, 0, 0, 0, 2, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}));
    const float one = 1.0f;
    EXPECT_EQ(qvw::pack_values(&one, 1), (Bytes{0, 0, 0x80, 0x3F}));
}

// Both framings and both types; reals whose bit patterns a conversion
// through double or a sloppy copy would change (-0.0, NaN payloads,
// a denormal, infinities).
TEST(CompressedArray, RoundTripsBothFormsBitForBit) {
    const std::vector<std::int32_t> ints = {0, 1, -1, INT32_MAX, INT32_MIN, 300, 65536, 7, 8, 9};
    const std::vector<float> reals = {0.0f, -0.0f, 1.0f, -3.25e-38f, from_bits(0x00000001u),
                                      from_bits(0x7FC00001u), from_bits(0xFFA5A5A5u), from_bits(0x7F800001u),
                                      INFINITY, -INFINITY, 3.4e38f};
    for (const Framing framing : {Framing::Single, Framing::Chunked}) {
        SCOPED_TRACE(framing == Framing::Single ? "single" : "chunked");
        FileWriter w;
        if (framing == Framing::Single)
            w.single_ints(ints).single_reals(reals).single_ints({});
        else
            w.chunked_ints(ints, {5, 3, 2}).chunked_reals(reals, {1, 6, 4}).chunked_ints({}, {});
        w.ints({42});
        RecordFile f(w.bytes());
        RecordReader& c = f.reader();
        runtime::Array<std::int32_t> got_ints;
        ASSERT_EQ(read_array(c, framing, got_ints), Status::ok);
        EXPECT_EQ(values(got_ints), ints);
        runtime::Array<float> got_reals;
        ASSERT_EQ(read_array(c, framing, got_reals), Status::ok);
        ASSERT_EQ(got_reals.size(), static_cast<std::int64_t>(reals.size()));
        for (std::size_t i = 0; i < reals.size(); ++i) EXPECT_EQ(bits(got_reals.data()[i]), bits(reals[i])) << i;
        ASSERT_EQ(read_array(c, framing, got_ints), Status::ok);
        EXPECT_TRUE(got_ints.allocated());
        EXPECT_EQ(got_ints.size(), 0);
        EXPECT_EQ(next_int(c), 42);
    }
}

TEST(CompressedArray, HighlyCompressedArrayIsNotTakenForDamage) {
    // A million zeros deflate about a thousandfold, close to the most a
    // stream can expand; the plausibility check on counts must let it pass.
    FileWriter w;
    w.single_ints(std::vector<std::int32_t>(1000000, 0));
    RecordFile f(w.bytes());
    runtime::Array<std::int32_t> got;
    ASSERT_EQ(read_array(f.reader(), Framing::Single, got), Status::ok);
    EXPECT_EQ(got.size(), 1000000);
}

// Values a short stream did not produce: an integer array ends before
// them (in the chunked form the rest of the array is passed over), a real
// array reads them as 0.
TEST(CompressedArray, ShortStreamEndsIntegerArraysAndZeroFillsReals) {
    const std::vector<std::int32_t> v = ramp(12);
    const Bytes five = qvw::compress_values(v.data(), 5), seven = qvw::compress_values(v.data() + 5, 7);
    const auto length = [](const Bytes& b) { return static_cast<std::int32_t>(b.size()); };
    FileWriter w;
    w.ints({8, length(five)}).payload(five).ints({1});
    w.ints({14}).ints({7, length(five)}).payload(five).ints({7, length(seven)}).payload(seven);
    w.ints({0, 0}).ints({2});
    RecordFile f(w.bytes());
    RecordReader& c = f.reader();
    for (const bool integer : {true, false}) {
        SCOPED_TRACE(integer ? "integers" : "reals");
        c.rewind();
        for (const Framing framing : {Framing::Single, Framing::Chunked}) {
            std::vector<std::int32_t> expected = ramp(5);
            if (!integer) expected.resize(framing == Framing::Single ? 8 : 7, 0);
            if (!integer && framing == Framing::Chunked) expected.insert(expected.end(), v.begin() + 5, v.end());
            runtime::Array<std::int32_t> ints;
            runtime::Array<float> reals;
            ASSERT_EQ(integer ? read_array(c, framing, ints) : read_array(c, framing, reals), Status::ok);
            std::vector<std::int32_t> got = values(ints);
            for (const float r : reals) got.push_back(static_cast<std::int32_t>(bits(r)));
            EXPECT_EQ(got, expected);
            EXPECT_EQ(next_int(c), framing == Framing::Single ? 1 : 2);
        }
    }
}

// An empty stream of an empty array is no error, though zlib says so.
TEST(SingleForm, EmptyPayloadReadsAsEmptyArrayAndSetsTheMessage) {
    FileWriter w;
    w.ints({0, 0}).payload({}).ints({42});
    RecordFile f(w.bytes());
    RecordReader& c = f.reader();
    runtime::Array<std::int32_t> got;
    ASSERT_EQ(read_array(c, Framing::Single, got), Status::ok);
    EXPECT_TRUE(got.allocated());
    EXPECT_EQ(got.size(), 0);
    // zlib's code for an empty stream, right-aligned in 4 characters.
    const std::string m(c.zlib_message(ZlibRoutine::SingleInts).view());
    ASSERT_EQ(m.size(), 50u);
    EXPECT_EQ(m.substr(0, 31), "Non-zero error code returned  -") << m;
    EXPECT_TRUE(m[31] >= '1' && m[31] <= '9') << m;
    EXPECT_EQ(m.substr(32), std::string(18, ' '));
    EXPECT_EQ(std::string(c.zlib_message(ZlibRoutine::SingleReals).view()), std::string(50, ' '));
    EXPECT_EQ(next_int(c), 42);
}

// A first chunk count of 0 ends the array before its payload record; so
// does a negative count after a chunk, with fewer values than the total.
TEST(ChunkedForm, CountOfZeroOrBelowEndsTheArray) {
    const std::int32_t pair[] = {8, 9};
    const Bytes stream = qvw::compress_values(pair, 2);
    std::int32_t count = 2;
    FileWriter w;
    w.ints({4}).ints({0, static_cast<std::int32_t>(stream.size())}).payload(stream);
    w.ints({3}).write_chunk(count, pair).ints({-1, 0}).ints({42});
    // The writer's chunk counts down to 0, and a chunk of 0 writes nothing.
    EXPECT_EQ(count, 0);
    const std::size_t written = w.size();
    EXPECT_EQ(w.write_chunk(count, pair).size(), written);
    RecordFile f(w.bytes());
    RecordReader& c = f.reader();
    runtime::Array<std::int32_t> got;
    ASSERT_EQ(read_array(c, Framing::Chunked, got), Status::ok);
    EXPECT_EQ(got.size(), 0);
    RecordData payload;
    ASSERT_EQ(c.record(payload), Status::ok);
    EXPECT_EQ(payload.size(), stream.size());
    ASSERT_EQ(read_array(c, Framing::Chunked, got), Status::ok);
    EXPECT_EQ(values(got), (std::vector<std::int32_t>{8, 9}));
    EXPECT_EQ(next_int(c), 42);
}

TEST(SkipArray, SkipBufferGrowsByOnePointTwoAndBelongsToItsReader) {
    FileWriter w;
    for (std::int32_t length : {1000, 1100, 1300, 10})
        w.ints({1, length}).payload(Bytes(static_cast<std::size_t>(length), 0));
    RecordFile f(w.bytes()), other(w.bytes());
    RecordReader& c = f.reader();
    ASSERT_EQ(c.skip_buffer_capacity(), 0);
    for (const std::int64_t capacity : {1200, 1200, 1560, 1560}) {
        ASSERT_EQ(skip_array(c, Framing::Single), Status::ok);
        EXPECT_EQ(c.skip_buffer_capacity(), capacity);
    }
    ASSERT_EQ(skip_array(other.reader(), Framing::Single), Status::ok);
    EXPECT_EQ(other.reader().skip_buffer_capacity(), 1200);
    EXPECT_EQ(c.skip_buffer_capacity(), 1560);
    c.close();
    EXPECT_EQ(c.skip_buffer_capacity(), 0);
}

}  // namespace
}  // namespace qv::format
