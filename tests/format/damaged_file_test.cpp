// Damaged results files, by kind of damage: truncated files, framing or
// counts that contradict each other, and counts whose sizes overflow. Every
// case must end in an error status, never in a read past a buffer or in the
// fatal exit of the allocation layer: the fixture lowers the allocation limit
// so that a count taken on trust would end the test process.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
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
    std::vector<std::int32_t> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = i * 7919;
    return v;
}

Bytes stream_of(std::vector<std::int32_t> values) {
    return qvw::compress_values(values.data(), values.size());
}

// All reads after a damaged record: the file reads as ended.
void expect_reads_as_ended(runtime::Connection& c) {
    RecordData data;
    EXPECT_EQ(read_record(c, data), kReadEnd);
}

using TruncatedFile = DamagedFile;

TEST_F(TruncatedFile, LengthRunningPastTheEnd) {
    FileWriter w;
    w.ints({1}).raw(qvw::be32(100)).raw(Bytes(10, 0));
    UnitFile f(w.bytes());
    std::int32_t v = 0;
    ASSERT_TRUE(read_int(f.connection(), v));
    RecordData data;
    EXPECT_EQ(read_record(f.connection(), data), kReadError);
    expect_reads_as_ended(f.connection());
}

TEST_F(TruncatedFile, FewerBytesThanAFrame) {
    FileWriter w;
    w.raw({0, 0, 0});
    UnitFile f(w.bytes());
    std::int64_t length = 0;
    EXPECT_EQ(peek_record_length(f.connection(), length), kReadError);
    EXPECT_EQ(skip_record(f.connection()), kReadEnd);
}

TEST_F(TruncatedFile, MissingTrailingLength) {
    FileWriter w;
    w.ints({5, 6});
    w.bytes().resize(w.size() - 2);
    UnitFile f(w.bytes());
    std::int32_t v = 0;
    EXPECT_FALSE(read_int(f.connection(), v));
    expect_reads_as_ended(f.connection());
}

TEST_F(TruncatedFile, InsideASingleFormPayload) {
    FileWriter w;
    w.single_ints(ramp(2000));
    w.bytes().resize(w.size() - 100);
    {
        UnitFile f(w.bytes());
        SingleHeader h;
        EXPECT_EQ(read_single_header(f.connection(), h), kReadError);
    }
    {
        UnitFile f(w.bytes());
        runtime::Array<std::int32_t> out;
        EXPECT_EQ(read_array(f.connection(), Framing::Single, out), kReadError);
        EXPECT_FALSE(out.allocated());
    }
    {
        UnitFile f(w.bytes());
        EXPECT_EQ(skip_array(f.connection(), Framing::Single), kReadError);
    }
}

TEST_F(TruncatedFile, InsideASecondChunk) {
    FileWriter w;
    w.chunked_ints(ramp(2000), {1000, 1000});
    w.bytes().resize(w.size() - 100);
    {
        UnitFile f(w.bytes());
        runtime::Array<std::int32_t> out;
        EXPECT_EQ(read_array(f.connection(), Framing::Chunked, out), kReadError);
        EXPECT_FALSE(out.allocated());
    }
    {
        UnitFile f(w.bytes());
        EXPECT_EQ(skip_array(f.connection(), Framing::Chunked), kReadError);
    }
}

TEST_F(TruncatedFile, BeforeTheTerminatingHeader) {
    FileWriter w;
    w.chunked_ints(ramp(10), {10});
    w.bytes().resize(w.size() - 16);  // the whole [0, 0] record
    UnitFile f(w.bytes());
    runtime::Array<std::int32_t> out;
    EXPECT_EQ(read_array(f.connection(), Framing::Chunked, out), kReadError);
    EXPECT_FALSE(out.allocated());
}

TEST_F(TruncatedFile, CompressedLengthLargerThanTheFile) {
    const Bytes s = stream_of({1, 2});
    FileWriter w;
    w.ints({2, 1 << 30}).payload(s);
    UnitFile f(w.bytes());
    SingleHeader h;
    EXPECT_EQ(read_single_header(f.connection(), h), kReadError);
    rewind(f.connection());
    EXPECT_EQ(skip_array(f.connection(), Framing::Single), kReadError);
}

using InconsistentFile = DamagedFile;

TEST_F(InconsistentFile, NegativeLeadingLength) {
    FileWriter w;
    w.raw(qvw::be32(-8)).raw(Bytes(8, 0)).raw(qvw::be32(-8)).ints({1});
    UnitFile f(w.bytes());
    RecordData data;
    EXPECT_EQ(read_record(f.connection(), data), kReadError);
    expect_reads_as_ended(f.connection());
}

TEST_F(InconsistentFile, TrailingLengthDiffersFromTheLeadingOne) {
    FileWriter w;
    w.ints({1, 2});
    w.overwrite_i32(w.size() - 4, 12);
    w.ints({3});
    UnitFile f(w.bytes());
    std::int32_t pair[2] = {};
    EXPECT_FALSE(read_ints(f.connection(), pair, 2));
    rewind(f.connection());
    char field[50];
    EXPECT_EQ(read_record_prefix(f.connection(), field, 4), kReadError);
}

TEST_F(InconsistentFile, ChunksAddUpToMoreThanTheTotal) {
    FileWriter w;
    w.chunked_ints(ramp(10), {5, 3, 2}, 6);
    {
        UnitFile f(w.bytes());
        std::int32_t total = 0;
        ASSERT_EQ(read_chunked_total(f.connection(), total), kReadOk);
        ASSERT_EQ(total, 6);
        // Room for `total` values and a guard after them: zlib writes the
        // values, and the sanitizers do not see into zlib.
        std::vector<std::int32_t> dest(6 + 8, -1);
        std::int64_t n = 0;
        EXPECT_EQ(read_chunks(f.connection(), dest.data(), total, n), kReadError);
        EXPECT_EQ(std::vector<std::int32_t>(dest.begin() + 6, dest.end()),
                  std::vector<std::int32_t>(8, -1));
    }
    {
        UnitFile f(w.bytes());
        runtime::Array<std::int32_t> out;
        EXPECT_EQ(read_array(f.connection(), Framing::Chunked, out), kReadError);
        EXPECT_FALSE(out.allocated());
    }
}

TEST_F(InconsistentFile, ChunksFillingTheTotalExactlyAreAccepted) {
    FileWriter w;
    w.chunked_ints(ramp(6), {5, 1});
    UnitFile f(w.bytes());
    std::int32_t total = 0;
    ASSERT_EQ(read_chunked_total(f.connection(), total), kReadOk);
    std::unique_ptr<std::int32_t[]> dest(new std::int32_t[6]);
    std::int64_t n = 0;
    EXPECT_EQ(read_chunks(f.connection(), dest.get(), total, n), kReadOk);
    EXPECT_EQ(n, 6);
    EXPECT_EQ(dest[5], 5 * 7919);
}

TEST_F(InconsistentFile, CorruptStreamIsAnInflateErrorAfterThePayload) {
    Bytes bad = stream_of(ramp(50));
    bad[0] ^= 0xFF;  // the zlib header no longer checks
    FileWriter w;
    w.ints({50, static_cast<std::int32_t>(bad.size())}).payload(bad).ints({42});
    UnitFile f(w.bytes());
    auto& c = f.connection();
    runtime::Array<std::int32_t> out;
    EXPECT_EQ(read_array(c, Framing::Single, out), kInflateError);
    EXPECT_EQ(std::string(zlib_message(ZlibRoutine::SingleInts).view()),
              "Non-zero error code returned  -3" + std::string(18, ' '));
    std::int32_t next = 0;
    ASSERT_TRUE(read_int(c, next));
    EXPECT_EQ(next, 42);
}

TEST_F(InconsistentFile, CorruptChunkStillReadsTheRestOfTheArray) {
    FileWriter w;
    w.chunked_reals({1.0f, 2.0f, 3.0f}, {1, 1, 1}).ints({42});
    // Damage the last Adler-32 byte of the second chunk's stream: header
    // record (4 + 4 + 4) and payload record of the first chunk come first.
    const std::size_t first_payload = 12 + 16;
    const std::size_t first_length = w.bytes()[first_payload + 3];
    const std::size_t second_payload = first_payload + 8 + first_length + 16;
    const std::size_t second_length = w.bytes()[second_payload + 3];
    w.bytes()[second_payload + 4 + second_length - 1] ^= 0x01;
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

TEST_F(InconsistentFile, NegativeCountOrLengthInASingleHeader) {
    const Bytes s = stream_of({1});
    for (const auto& head : {std::vector<std::int32_t>{-1, static_cast<std::int32_t>(s.size())},
                             std::vector<std::int32_t>{1, -1}}) {
        FileWriter w;
        w.ints(head).payload(s);
        UnitFile f(w.bytes());
        runtime::Array<std::int32_t> out;
        EXPECT_EQ(read_array(f.connection(), Framing::Single, out), kReadError);
    }
    FileWriter w;
    w.ints({1, -1}).payload(s);
    UnitFile f(w.bytes());
    EXPECT_EQ(skip_array(f.connection(), Framing::Single), kReadError);
}

TEST_F(InconsistentFile, TagSearchOverDamagedRecordsTerminates) {
    FileWriter w;
    w.tag("<Model>").ints({1}).raw(qvw::be32(-4)).raw(Bytes(40, ' '));
    {
        UnitFile f(w.bytes());
        EXPECT_EQ(find_tag(f.connection(), "<Materials>"), 1);
        // A tag before the damage is still found, after the rewind.
        EXPECT_EQ(find_tag(f.connection(), "<Model>"), 0);
    }
    FileWriter t;
    t.tag("<Model>").ints({1, 2});
    t.overwrite_i32(t.size() - 4, 99);
    t.tag("<Parts>").raw(qvw::be32(1000)).raw(Bytes(60, ' '));
    UnitFile f(t.bytes());
    EXPECT_EQ(find_tag(f.connection(), "<Materials>"), 1);
    EXPECT_EQ(find_tag(f.connection(), "<Parts>"), 0);
}

using OverflowingCount = DamagedFile;

TEST_F(OverflowingCount, HugeSingleCountWithATinyPayloadIsRefusedBeforeAllocating) {
    const Bytes s = stream_of({1});
    FileWriter w;
    w.ints({INT32_MAX, static_cast<std::int32_t>(s.size())}).payload(s);
    UnitFile f(w.bytes());
    SingleHeader h;
    EXPECT_EQ(read_single_header(f.connection(), h), kReadError);
    rewind(f.connection());
    runtime::Array<std::int32_t> out;
    EXPECT_EQ(read_array(f.connection(), Framing::Single, out), kReadError);
    EXPECT_FALSE(out.allocated());
}

TEST_F(OverflowingCount, FourTimesCountWrapsToTheStreamSize) {
    // 4 x 0x40000001 is 4 in 32 bits: the size of the one value the stream
    // really holds.
    const Bytes s = stream_of({77});
    FileWriter w;
    w.ints({0x40000001, static_cast<std::int32_t>(s.size())}).payload(s);
    UnitFile f(w.bytes());
    runtime::Array<float> out;
    EXPECT_EQ(read_array(f.connection(), Framing::Single, out), kReadError);
    EXPECT_FALSE(out.allocated());
}

TEST_F(OverflowingCount, HugeChunkedTotal) {
    FileWriter w;
    w.ints({INT32_MAX}).ints({1, 12}).payload(stream_of({1})).ints({0, 0});
    UnitFile f(w.bytes());
    std::int32_t total = 0;
    EXPECT_EQ(read_chunked_total(f.connection(), total), kReadError);
    rewind(f.connection());
    runtime::Array<std::int32_t> out;
    EXPECT_EQ(read_array(f.connection(), Framing::Chunked, out), kReadError);
    EXPECT_FALSE(out.allocated());
}

TEST_F(OverflowingCount, HugeChunkCountWithinAGenerousDestination) {
    // The destination claims room for everything; the count still has to be
    // backed by the payload.
    const Bytes s = stream_of({1});
    FileWriter w;
    w.ints({INT32_MAX - 1, static_cast<std::int32_t>(s.size())}).payload(s).ints({0, 0});
    UnitFile f(w.bytes());
    std::int32_t dest[1] = {};
    std::int64_t n = 0;
    EXPECT_EQ(read_chunks(f.connection(), dest, INT32_MAX, n), kReadError);
    EXPECT_EQ(n, 0);
}

TEST_F(OverflowingCount, SkippingAHugePayloadLengthAllocatesNothing) {
    FileWriter w;
    w.ints({9}).ints({1, INT32_MAX}).payload(Bytes(16, 0)).ints({0, 0});
    UnitFile f(w.bytes());
    EXPECT_EQ(skip_array(f.connection(), Framing::Chunked), kReadError);
    EXPECT_EQ(skip_buffer_capacity(), 0);
}

}  // namespace
}  // namespace qv::format
