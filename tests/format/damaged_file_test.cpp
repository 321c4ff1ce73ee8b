// Damaged results files, by kind of damage: truncated files, framing or
// counts that contradict each other, counts whose sizes overflow, corrupt
// streams. Every case must end in an error status, never in a read past a
// buffer or in the fatal exit of the allocation layer: the fixture lowers the
// allocation limit so that a count taken on trust would end the test process.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "format/compressed_array.h"
#include "format/record.h"
#include "format/tag_search.h"
#include "runtime/alloc.h"
#include "support/unit_fixture.h"
#include "writer/records.h"

namespace qv::format {
namespace {

using qvtest::UnitFile;
using qvw::Bytes;
using qvw::FileWriter;

class DamagedFile : public ::testing::Test {
protected:
    void SetUp() override { runtime::set_allocation_limit_for_testing(64 * 1024); }
    void TearDown() override {
        runtime::set_allocation_limit_for_testing(0);
        release_skip_buffer();
    }
};

std::vector<std::int32_t> ramp(int n) {
    std::vector<std::int32_t> v;
    for (int i = 0; i < n; ++i) v.push_back(i * 7919);
    return v;
}

Bytes stream_of(std::vector<std::int32_t> values) { return qvw::compress_values(values.data(), values.size()); }
std::int32_t size_of(const Bytes& b) { return static_cast<std::int32_t>(b.size()); }
Bytes cut(Bytes b, std::size_t n) { return Bytes(b.begin(), b.end() - static_cast<std::ptrdiff_t>(n)); }

enum class Op { Record, Peek, Int, Pair, Prefix4, Header, Total, Ints, Chunked, Reals, SkipSingle, SkipChunked,
                Rewind, Find, Message, NoSkipBuffer };

struct Step {
    Op op;
    int expected;
    const char* text = "";  // the tag of Find, the code field of Message
};

int run(runtime::Connection& c, const Step& step) {
    std::int32_t v[2] = {};
    std::int64_t length = 0;
    char field[4];
    RecordData data;
    SingleHeader h;
    runtime::Array<std::int32_t> ints;
    runtime::Array<float> reals;
    int st = kReadOk;
    switch (step.op) {
    case Op::Record: return read_record(c, data);
    case Op::Peek: return peek_record_length(c, length);
    case Op::Int: return read_ints(c, v, 1) ? kReadOk : kReadError;
    case Op::Pair: return read_ints(c, v, 2) ? kReadOk : kReadError;
    case Op::Prefix4: return read_record_prefix(c, field, 4);
    case Op::Header: return read_single_header(c, h);
    case Op::Total: return read_chunked_total(c, v[0]);
    case Op::Ints: st = read_array(c, Framing::Single, ints); break;
    case Op::Chunked: st = read_array(c, Framing::Chunked, ints); break;
    case Op::Reals: st = read_array(c, Framing::Single, reals); break;
    case Op::SkipSingle: return skip_array(c, Framing::Single);
    case Op::SkipChunked: return skip_array(c, Framing::Chunked);
    case Op::Rewind: rewind(c); return kReadOk;
    case Op::Find: return find_tag(c, step.text);
    case Op::Message: {
        std::string m = std::string("Non-zero error code returned") + step.text;
        m.resize(50, ' ');
        return std::string(zlib_message(ZlibRoutine::SingleInts).view()) == m ? kReadOk : kReadError;
    }
    case Op::NoSkipBuffer: return skip_buffer_capacity() == 0 ? kReadOk : kReadError;
    }
    // A failed array read leaves nothing allocated.
    return st != kReadOk && (ints.allocated() || reals.allocated()) ? -100 : st;
}

TEST_F(DamagedFile, EveryCaseEndsInAnErrorStatus) {
    const int ok = kReadOk, end = kReadEnd, bad = kReadError, inflate = kInflateError;
    const Bytes one = stream_of({1}), three = stream_of({1, 2, 3});
    Bytes corrupt = stream_of(ramp(50));
    corrupt[0] ^= 0xFF;  // the zlib header no longer checks
    using W = FileWriter;
    const struct {
        const char* what;
        W file;
        std::vector<Step> steps;
    } cases[] = {
        {"length past the end", W().ints({1}).raw(qvw::be32(100)).raw(Bytes(10, 0)),
         {{Op::Int, ok}, {Op::Record, bad}, {Op::Record, end}}},
        {"fewer bytes than a frame", W().raw({0, 0, 0}), {{Op::Peek, bad}, {Op::Record, end}}},
        {"missing trailing length", W().raw(cut(W().ints({5, 6}).bytes(), 2)), {{Op::Int, bad}, {Op::Record, end}}},
        {"negative leading length", W().raw(qvw::be32(-8)).raw(Bytes(8, 0)).raw(qvw::be32(-8)).ints({1}),
         {{Op::Record, bad}, {Op::Record, end}}},
        {"trailing length mismatch", W().ints({1, 2}).overwrite_i32(12, 12).ints({3}),
         {{Op::Pair, bad}, {Op::Rewind, ok}, {Op::Prefix4, bad}}},
        {"truncated single payload", W().raw(cut(W().single_ints(ramp(2000)).bytes(), 100)),
         {{Op::Header, bad}, {Op::Rewind, ok}, {Op::Ints, bad}, {Op::Rewind, ok}, {Op::SkipSingle, bad}}},
        {"truncated second chunk", W().raw(cut(W().chunked_ints(ramp(2000), {1000, 1000}).bytes(), 100)),
         {{Op::Chunked, bad}, {Op::Rewind, ok}, {Op::SkipChunked, bad}}},
        {"truncated before the terminating header", W().raw(cut(W().chunked_ints(ramp(10), {10}).bytes(), 16)),
         {{Op::Chunked, bad}}},
        {"compressed length larger than the file", W().ints({2, 1 << 30}).payload(three),
         {{Op::Header, bad}, {Op::Rewind, ok}, {Op::SkipSingle, bad}}},
        {"negative count", W().ints({-1, size_of(one)}).payload(one), {{Op::Ints, bad}}},
        {"negative length", W().ints({1, -1}).payload(one),
         {{Op::Ints, bad}, {Op::Rewind, ok}, {Op::SkipSingle, bad}}},
        {"count that cannot fit the payload", W().ints({INT32_MAX, size_of(one)}).payload(one),
         {{Op::Header, bad}, {Op::Rewind, ok}, {Op::Ints, bad}}},
        // 4 x 0x40000001 is 4 in 32 bits: the size the stream really holds.
        {"4 x count overflow", W().ints({0x40000001, size_of(one)}).payload(one), {{Op::Reals, bad}}},
        {"chunked total that cannot fit", W().ints({INT32_MAX}).ints({1, size_of(one)}).payload(one).ints({0, 0}),
         {{Op::Total, bad}, {Op::Rewind, ok}, {Op::Chunked, bad}}},
        {"huge chunk length skipped", W().ints({9}).ints({1, INT32_MAX}).payload(Bytes(16, 0)).ints({0, 0}),
         {{Op::SkipChunked, bad}, {Op::NoSkipBuffer, ok}}},
        {"chunks exceeding the total", W().chunked_ints(ramp(10), {5, 3, 2}, 6), {{Op::Chunked, bad}}},
        {"corrupt stream", W().ints({50, size_of(corrupt)}).payload(corrupt).ints({42}),
         {{Op::Ints, inflate}, {Op::Message, ok, "  -3"}, {Op::Int, ok}}},
        {"stream longer than the count", W().ints({2, size_of(three)}).payload(three).ints({42}),
         {{Op::Ints, inflate}, {Op::Message, ok, "  -5"}, {Op::Int, ok}}},
        // A tag before the damage is still found, after the rewind.
        {"tag search over a negative length", W().tag("<Model>").ints({1}).raw(qvw::be32(-4)).raw(Bytes(40, ' ')),
         {{Op::Find, 1, "<Materials>"}, {Op::Find, 0, "<Model>"}}},
        {"tag search over a bad trailer and a length past the end",
         W().tag("<Model>").ints({1, 2}).overwrite_i32(70, 99).tag("<Parts>").raw(qvw::be32(1000)).raw(Bytes(60, ' ')),
         {{Op::Find, 1, "<Materials>"}, {Op::Find, 0, "<Parts>"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        release_skip_buffer();
        UnitFile f(c.file.bytes());
        for (std::size_t i = 0; i < c.steps.size(); ++i)
            EXPECT_EQ(run(f.connection(), c.steps[i]), c.steps[i].expected) << "step " << i;
    }
}

TEST_F(DamagedFile, ChunksNeverWritePastTheTotal) {
    for (const std::int32_t total : {6, 10}) {
        FileWriter w;
        w.chunked_ints(ramp(10), {5, 3, 2}, total);
        UnitFile f(w.bytes());
        std::int32_t read_total = 0;
        ASSERT_EQ(read_chunked_total(f.connection(), read_total), kReadOk);
        ASSERT_EQ(read_total, total);
        // Room for `total` values and a guard after them: zlib writes the
        // values, and the sanitizers do not see into zlib.
        std::vector<std::int32_t> dest(static_cast<std::size_t>(total) + 8, -1);
        std::int64_t n = 0;
        EXPECT_EQ(read_chunks(f.connection(), dest.data(), total, n), total == 10 ? kReadOk : kReadError);
        EXPECT_EQ(std::vector<std::int32_t>(dest.begin() + total, dest.end()), std::vector<std::int32_t>(8, -1));
        if (total == 10) {
            EXPECT_EQ(n, 10);
            std::vector<std::int32_t> expected = ramp(10);
            expected.resize(18, -1);
            EXPECT_EQ(dest, expected);
        }
    }
    // The destination claims room for everything; a count still has to be
    // backed by its payload.
    const Bytes one = stream_of({1});
    FileWriter w;
    w.ints({INT32_MAX - 1, size_of(one)}).payload(one).ints({0, 0});
    UnitFile f(w.bytes());
    std::int32_t dest[1] = {};
    std::int64_t n = 0;
    EXPECT_EQ(read_chunks(f.connection(), dest, INT32_MAX, n), kReadError);
    EXPECT_EQ(n, 0);
}

TEST_F(DamagedFile, CorruptChunkStillReadsTheRestOfTheArray) {
    const std::vector<float> v = {1.0f, 2.0f, 3.0f};
    FileWriter w;
    w.chunked_reals(v, {1, 1, 1}).ints({42});
    // Spoil the Adler-32 trailer of the second chunk's stream.
    const Bytes stream = qvw::compress_values(v.data() + 1, 1);
    auto at = std::search(w.bytes().begin(), w.bytes().end(), stream.begin(), stream.end());
    ASSERT_NE(at, w.bytes().end());
    *(at + size_of(stream) - 1) ^= 0x01;
    UnitFile f(w.bytes());
    auto& c = f.connection();
    std::int32_t total = 0;
    ASSERT_EQ(read_chunked_total(c, total), kReadOk);
    float dest[3] = {};
    std::int64_t n = 0;
    EXPECT_EQ(read_chunks(c, dest, total, n), kInflateError);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(dest[0], 1.0f);
    EXPECT_EQ(dest[2], 3.0f);
    EXPECT_EQ(std::string(zlib_message(ZlibRoutine::ChunkedReals).view()),
              "Non-zero error code returned  -3" + std::string(18, ' '));
    std::int32_t next = 0;
    ASSERT_TRUE(read_int(c, next));
    EXPECT_EQ(next, 42);
}

}  // namespace
}  // namespace qv::format
