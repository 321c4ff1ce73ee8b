// The inflaters: zlib's codes, values and counts for whole, short, long,
// truncated and damaged streams, the same from each inflater the build has.
#include "format/inflate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <zlib.h>
#if RESULTS_API_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "writer/records.h"
#include "writer/zlib_stream.h"

namespace qv::format {
namespace {

using qvw::Bytes;
using qvw::ZlibStream;

struct NamedInflater {
    const char* name;
    Inflater inflate;
};

void PrintTo(const NamedInflater& i, std::ostream* os) { *os << i.name; }

std::vector<NamedInflater> inflaters() {
    std::vector<NamedInflater> all = {{"zlib", &inflate_values_zlib}};
#if RESULTS_API_HAVE_LIBDEFLATE
    all.push_back({"libdeflate", &inflate_values_libdeflate});
#endif
    return all;
}

std::vector<std::int32_t> ramp(int n) {
    std::vector<std::int32_t> v;
    for (int i = 0; i < n; ++i) v.push_back(i * i - 7 * i);
    return v;
}

Bytes stream_of(const std::vector<std::int32_t>& v) { return qvw::compress_values(v.data(), v.size()); }

Bytes stored_stream_of(const std::vector<std::int32_t>& v) {
    const Bytes raw = qvw::pack_values(v.data(), v.size());
    uLongf n = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(n);
    if (compress2(out.data(), &n, raw.data(), static_cast<uLong>(raw.size()), 0) != Z_OK) return {};
    out.resize(n);
    return out;
}

Bytes cut(Bytes b, std::size_t n) {
    b.resize(b.size() - n);
    return b;
}

Bytes joined(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What one inflater made of a stream: the code, the words, and the
// destination (room for `count` values and a guard value behind them).
struct Outcome {
    int code = 1;
    std::int64_t words = -1;
    std::vector<std::int32_t> values;
};

constexpr std::int32_t kGuard = 0x5A5A5A5A;

Outcome run(Inflater inflate, const Bytes& stream, std::int64_t count) {
    Outcome o;
    o.values.assign(static_cast<std::size_t>(count < 0 ? 0 : count) + 1, -1);
    o.values.back() = kGuard;
    o.code = inflate(o.values.data(), count, stream.empty() ? nullptr : stream.data(),
                     static_cast<std::int64_t>(stream.size()), o.words);
    EXPECT_EQ(o.values.back(), kGuard) << "written past the destination";
    o.values.pop_back();
    return o;
}

class Inflaters : public ::testing::TestWithParam<NamedInflater> {};

// Streams that end: Z_OK, the values produced, the rest 0.
TEST_P(Inflaters, WholeStreamsGiveTheirValuesAndZerosBehind) {
    const std::vector<std::int32_t> v = ramp(1000);
    const Bytes bytes6 = {1, 2, 3, 4, 5, 6};
    uLongf n6 = 64;
    Bytes six(n6);
    ASSERT_EQ(compress(six.data(), &n6, bytes6.data(), 6), Z_OK);
    six.resize(n6);
    const Bytes one_byte = ZlibStream().fixed_block(true).code('x').code(256).finish({'x'});
    const struct {
        const char* what;
        Bytes stream;
        std::int64_t count;
        std::int64_t words;
        std::vector<std::int32_t> head;  // the first values expected
    } cases[] = {
        {"exact fit", stream_of(v), 1000, 1000, v},
        {"fewer values than room", stream_of({5, -6, 7}), 5, 3, {5, -6, 7, 0, 0}},
        {"last value cut short", six, 3, 1, {0x04030201, 0x0605, 0}},
        {"bytes after the checksum", joined(stream_of({5, -6, 7}), Bytes(9, 0xEE)), 3, 3, {5, -6, 7}},
        {"stored blocks (level 0)", stored_stream_of(v), 1000, 1000, v},
        {"empty array", stream_of({}), 0, 0, {}},
        {"empty stream into room", stream_of({}), 2, 0, {0, 0}},
        // uncompress inflates into a byte of its own when there is no room.
        {"one byte, no room", one_byte, 0, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.stream.empty());
        const Outcome o = run(GetParam().inflate, c.stream, c.count);
        EXPECT_EQ(o.code, Z_OK);
        EXPECT_EQ(o.words, c.words);
        EXPECT_EQ(o.values, c.head);
    }
}

// Streams that do not end where they should, and damaged ones: the code
// uncompress gives, whatever the inflater.
TEST_P(Inflaters, OtherStreamsFailWithZlibsCode) {
    const std::vector<std::int32_t> v = ramp(1000);
    const Bytes whole = stream_of(v);
    // Bytes changed through at(): g++ -O3 otherwise warns of a write past the
    // end of a copy it cannot prove non-empty.
    Bytes bad_checksum = whole;
    bad_checksum.at(whole.size() - 1) ^= 1;
    Bytes bad_header = whole;
    bad_header.at(0) ^= 0xFF;
    Bytes dictionary = {0x78, 0xBB, 0, 0, 0, 1};  // a preset dictionary's id
    dictionary.insert(dictionary.end(), whole.begin() + 2, whole.end());
    // Four literals, then a length code zlib does not know.
    const Bytes reserved_after_one_value = ZlibStream()
                                               .fixed_block(true)
                                               .code('A').code('B').code('C').code('D')
                                               .code(286).distance(0).code(256)
                                               .finish_with_checksum(1);
    const Bytes too_far_back = ZlibStream()
                                   .fixed_block(true)
                                   .code('A').code(257).distance(1).code(256)
                                   .finish({'A', 'A', 'A', 'A'});
    const Bytes block_type_3 = ZlibStream().bits(1, 1).bits(3, 2).finish({});
    const struct {
        const char* what;
        Bytes stream;
        std::int64_t count;
        int code;
    } cases[] = {
        {"would inflate to more", whole, 999, Z_BUF_ERROR},
        {"truncated", cut(whole, 40), 1000, Z_DATA_ERROR},
        {"checksum cut off, values fill the room", cut(whole, 4), 1000, Z_BUF_ERROR},
        {"checksum cut off, room for more", cut(whole, 4), 1001, Z_DATA_ERROR},
        {"bad checksum", bad_checksum, 1000, Z_DATA_ERROR},
        {"bad header", bad_header, 1000, Z_DATA_ERROR},
        {"preset dictionary", dictionary, 1000, Z_DATA_ERROR},
        {"no bytes", {}, 3, Z_DATA_ERROR},
        {"no bytes, no room", {}, 0, Z_DATA_ERROR},
        {"more than one byte, no room", stream_of({1}), 0, Z_DATA_ERROR},
        {"invalid code right after the room is full", reserved_after_one_value, 1, Z_DATA_ERROR},
        {"distance too far back", too_far_back, 1, Z_DATA_ERROR},
        {"reserved block type", block_type_3, 1, Z_DATA_ERROR},
        {"negative count", whole, -1, Z_BUF_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(run(GetParam().inflate, c.stream, c.count).code, c.code);
    }
}

INSTANTIATE_TEST_SUITE_P(Each, Inflaters, ::testing::ValuesIn(inflaters()),
                         [](const auto& info) { return std::string(info.param.name); });

#if RESULTS_API_HAVE_LIBDEFLATE

// Both inflaters on every cut and every single-bit flip of a few streams, at
// room for fewer, as many and more values: the same code, and on success
// the same values and count.
TEST(InflatersAgree, OnEveryCutAndBitFlip) {
    std::vector<std::int32_t> mixed = ramp(300);
    for (int i = 0; i < 100; ++i) mixed.push_back(i % 7);
    const std::vector<Bytes> streams = {stream_of(mixed), stream_of(ramp(20)),
                                        stored_stream_of(ramp(50))};
    int compared = 0;
    auto agree = [&](const Bytes& s, std::int64_t count) -> ::testing::AssertionResult {
        ++compared;
        const Outcome a = run(&inflate_values_zlib, s, count);
        const Outcome b = run(&inflate_values_libdeflate, s, count);
        if (a.code != b.code || (a.code == Z_OK && (a.words != b.words || a.values != b.values)))
            return ::testing::AssertionFailure()
                   << "codes " << a.code << " / " << b.code << ", count " << count << ", "
                   << s.size() << " bytes";
        return ::testing::AssertionSuccess();
    };
    for (const Bytes& whole : streams) {
        const std::int64_t n = run(&inflate_values_zlib, whole, 1 << 12).words;
        ASSERT_GT(n, 0);
        for (std::size_t keep = 0; keep <= whole.size(); ++keep) {
            const Bytes s(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep));
            for (std::int64_t count : {std::int64_t(0), n - 1, n, n + 1})
                ASSERT_TRUE(agree(s, count)) << "cut to " << keep;
        }
        for (std::size_t bit = 0; bit < 8 * whole.size(); ++bit) {
            Bytes s = whole;
            s[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
            ASSERT_TRUE(agree(s, n)) << "bit " << bit << " flipped";
        }
    }
    EXPECT_GT(compared, 10000);
}

void* refuse(std::size_t) { return nullptr; }

TEST(LibdeflateInflater, WithoutMemoryFailsWithZlibsMemoryCode) {
    const Bytes s = stream_of({1, 2, 3});
    libdeflate_set_memory_allocator(&refuse, &std::free);
    const Outcome o = run(&inflate_values_libdeflate, s, 3);
    libdeflate_set_memory_allocator(&std::malloc, &std::free);
    EXPECT_EQ(o.code, Z_MEM_ERROR);
    EXPECT_EQ(o.words, 0);
    EXPECT_EQ(o.values, (std::vector<std::int32_t>{0, 0, 0}));
    EXPECT_EQ(run(&inflate_values_libdeflate, s, 3).code, Z_OK);
}

#endif

}  // namespace
}  // namespace qv::format
