// Damaged results files, by kind of damage: truncated files, framing or
// counts that contradict each other, counts whose sizes overflow, corrupt
// streams. Every case must end in an error status, never in a read past a
// buffer or in the fatal exit of the allocation layer: the fixture lowers the
// allocation limit so that a count taken on trust would end the test process.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "format/compressed_array.h"
#include "format/record.h"
#include "runtime/alloc.h"
#include "support/allocation_limit.h"
#include "support/record_fixture.h"
#include "writer/records.h"

namespace qv::format {
namespace {

using qvtest::RecordFile;
using qvw::Bytes;
using qvw::FileWriter;

class DamagedFile : public ::testing::Test {
protected:
    void SetUp() override { runtime::set_allocation_limit_for_testing(64 * 1024); }
    void TearDown() override { runtime::set_allocation_limit_for_testing(0); }
};

std::vector<std::int32_t> ramp(int n) {
    std::vector<std::int32_t> v;
    for (int i = 0; i < n; ++i) v.push_back(i * 7919);
    return v;
}

Bytes stream_of(std::vector<std::int32_t> values) { return qvw::compress_values(values.data(), values.size()); }
std::int32_t size_of(const Bytes& b) { return static_cast<std::int32_t>(b.size()); }
Bytes cut(Bytes b, std::size_t n) { return Bytes(b.begin(), b.end() - static_cast<std::ptrdiff_t>(n)); }

enum class Op { Record, Int, Pair, Prefix4, Ints, Chunked, Reals, SkipSingle, SkipChunked, Rewind, Find,
                Message, NoSkipBuffer };

struct Step {
    Op op;
    Status expected;
    const char* text = "";  // the tag of Find, the code field of Message
};

Status run(RecordReader& r, const Step& step) {
    std::int32_t v[2] = {};
    char field[4];
    RecordData data;
    runtime::Array<std::int32_t> ints;
    runtime::Array<float> reals;
    Status st = Status::ok;
    switch (step.op) {
    case Op::Record: return r.record(data);
    case Op::Int: return r.ints(v, 1) ? Status::ok : Status::damaged;
    case Op::Pair: return r.ints(v, 2) ? Status::ok : Status::damaged;
    case Op::Prefix4: return r.prefix(field, 4);
    case Op::Ints: st = read_array(r, Framing::Single, ints); break;
    case Op::Chunked: st = read_array(r, Framing::Chunked, ints); break;
    case Op::Reals: st = read_array(r, Framing::Single, reals); break;
    case Op::SkipSingle: return skip_array(r, Framing::Single);
    case Op::SkipChunked: return skip_array(r, Framing::Chunked);
    case Op::Rewind: r.rewind(); return Status::ok;
    case Op::Find: return r.find_tag(step.text);
    case Op::Message: {
        std::string m = std::string("Non-zero error code returned") + step.text;
        m.resize(50, ' ');
        return std::string(r.zlib_message(ZlibRoutine::SingleInts).view()) == m ? Status::ok : Status::damaged;
    }
    case Op::NoSkipBuffer: return r.skip_buffer_capacity() == 0 ? Status::ok : Status::damaged;
    }
    // A failed array read leaves nothing allocated.
    if (st != Status::ok && (ints.allocated() || reals.allocated())) ADD_FAILURE() << "array left allocated";
    return st;
}

TEST_F(DamagedFile, EveryCaseEndsInAnErrorStatus) {
    const Status ok = Status::ok, end = Status::end, bad = Status::damaged, inflate = Status::corrupt_stream,
               missing = Status::section_missing;
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
        {"fewer bytes than a frame", W().raw({0, 0, 0}), {{Op::Record, bad}, {Op::Record, end}}},
        {"missing trailing length", W().raw(cut(W().ints({5, 6}).bytes(), 2)), {{Op::Int, bad}, {Op::Record, end}}},
        {"negative leading length", W().raw(qvw::be32(-8)).raw(Bytes(8, 0)).raw(qvw::be32(-8)).ints({1}),
         {{Op::Record, bad}, {Op::Record, end}}},
        {"trailing length mismatch", W().ints({1, 2}).overwrite_i32(12, 12).ints({3}),
         {{Op::Pair, bad}, {Op::Rewind, ok}, {Op::Prefix4, bad}}},
        {"truncated single payload", W().raw(cut(W().single_ints(ramp(2000)).bytes(), 100)),
         {{Op::Ints, bad}, {Op::Rewind, ok}, {Op::SkipSingle, bad}}},
        {"truncated second chunk", W().raw(cut(W().chunked_ints(ramp(2000), {1000, 1000}).bytes(), 100)),
         {{Op::Chunked, bad}, {Op::Rewind, ok}, {Op::SkipChunked, bad}}},
        {"truncated before the terminating header", W().raw(cut(W().chunked_ints(ramp(10), {10}).bytes(), 16)),
         {{Op::Chunked, bad}}},
        {"compressed length larger than the file", W().ints({2, 1 << 30}).payload(three),
         {{Op::Ints, bad}, {Op::Rewind, ok}, {Op::SkipSingle, bad}}},
        {"negative count", W().ints({-1, size_of(one)}).payload(one), {{Op::Ints, bad}}},
        {"negative length", W().ints({1, -1}).payload(one),
         {{Op::Ints, bad}, {Op::Rewind, ok}, {Op::SkipSingle, bad}}},
        {"count that cannot fit the payload", W().ints({INT32_MAX, size_of(one)}).payload(one),
         {{Op::Ints, bad}}},
        // 4 x 0x40000001 is 4 in 32 bits: the size the stream really holds.
        {"4 x count overflow", W().ints({0x40000001, size_of(one)}).payload(one), {{Op::Reals, bad}}},
        {"chunked total that cannot fit", W().ints({INT32_MAX}).ints({1, size_of(one)}).payload(one).ints({0, 0}),
         {{Op::Chunked, bad}}},
        // Within the total, but more than the chunk's payload can hold.
        {"chunk count that cannot fit", W().ints({5000}).ints({5000, size_of(one)}).payload(one).ints({0, 0}),
         {{Op::Chunked, bad}}},
        {"huge chunk length skipped", W().ints({9}).ints({1, INT32_MAX}).payload(Bytes(16, 0)).ints({0, 0}),
         {{Op::SkipChunked, bad}, {Op::NoSkipBuffer, ok}}},
        {"chunks exceeding the total", W().chunked_ints(ramp(10), {5, 3, 2}, 6), {{Op::Chunked, bad}}},
        {"corrupt stream", W().ints({50, size_of(corrupt)}).payload(corrupt).ints({42}),
         {{Op::Ints, inflate}, {Op::Message, ok, "  -3"}, {Op::Int, ok}}},
        {"stream longer than the count", W().ints({2, size_of(three)}).payload(three).ints({42}),
         {{Op::Ints, inflate}, {Op::Message, ok, "  -5"}, {Op::Int, ok}}},
        // A tag before the damage is still found, after the rewind.
        {"tag search over a negative length", W().tag("<Model>").ints({1}).raw(qvw::be32(-4)).raw(Bytes(40, ' ')),
         {{Op::Find, missing, "<Materials>"}, {Op::Find, ok, "<Model>"}}},
        {"tag search over a bad trailer and a length past the end",
         W().tag("<Model>").ints({1, 2}).overwrite_i32(70, 99).tag("<Parts>").raw(qvw::be32(1000)).raw(Bytes(60, ' ')),
         {{Op::Find, missing, "<Materials>"}, {Op::Find, ok, "<Parts>"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordFile f(c.file.bytes());
        for (std::size_t i = 0; i < c.steps.size(); ++i)
            EXPECT_EQ(run(f.reader(), c.steps[i]), c.steps[i].expected) << "step " << i;
    }
}

}  // namespace
}  // namespace qv::format
