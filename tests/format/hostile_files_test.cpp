// Hostile base and cycle files: counts of one section that do not fit the
// arrays of another, arrays made to inflate far beyond their file, and
// result directories whose queries would each walk the whole file again.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "format/base_file.h"
#include "format/cycle_arrays.h"
#include "runtime/alloc.h"
#include "support/allocation_limit.h"
#include "support/analysis_files.h"
#include "support/record_fixture.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace qv::format {
namespace {

using qvw::BaseFileSpec;
using qvw::PartSpec;

// Coordinates (n, 2n, 3n) of `nodes` nodes.
std::vector<float> coordinates(int nodes) {
    std::vector<float> xyz;
    for (int n = 0; n < nodes; ++n) xyz.insert(xyz.end(), {float(n), float(2 * n), float(3 * n)});
    return xyz;
}

struct Loaded {
    bool ok = false;
    std::string reason, path;
    model::Analysis a;
};

// Reads the base file `desc` with an inflation limit (0: none).
Loaded load(const BaseFileSpec& desc, std::int64_t limit = 0) {
    qvtest::RecordFile f(qvw::write_base_file(desc).bytes());
    f.reader().limit_inflation(limit);
    Loaded out;
    bool tags = false;
    out.ok = read_base_file(f.reader(), out.a, tags);
    out.reason = f.reader().reason();
    out.path = f.path();
    return out;
}

class CountsThatDoNotAddUp : public ::testing::Test {
protected:
    void SetUp() override { runtime::set_allocation_limit_for_testing(16 << 20); }
    void TearDown() override { runtime::set_allocation_limit_for_testing(0); }
};

// Every structured slot needs its coordinates, planes (I = 1) and blocks
// without cells (J = 1) too, or hosts would lay out 8000 slots over 8
// points; the nodes after them are unstructured nodes, however many. A file
// without any coordinates stores no geometry: the exports serve it (libqvres
// refuses it, tested with its interface).
TEST_F(CountsThatDoNotAddUp, EverySlotNeedsItsCoordinates) {
    const struct {
        std::int32_t i, j, k;
        int nodes;
        bool ok;
    } cases[] = {{3, 2, 2, 12, true},  {3, 2, 2, 11, false}, {3, 2, 2, 16, true},
                 {1, 3, 2, 6, true},   {1, 3, 2, 5, false},  {2, 1, 3, 6, true},
                 {2, 1, 3, 0, true},   {20, 20, 20, 8, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.i << " x " << c.j << " x " << c.k << ", " << c.nodes);
        BaseFileSpec desc;
        desc.parts.push_back(PartSpec::structured("P", c.i, c.j, c.k));
        desc.coordinates = coordinates(c.nodes);
        const Loaded l = load(desc);
        EXPECT_EQ(l.ok, c.ok) << l.reason;
        if (c.ok) {
            EXPECT_EQ(l.a.counts.node_count, c.nodes);
        }
    }
    // Two blocks count together: 12 + 6 slots. The reason names the file,
    // the section and both counts.
    BaseFileSpec two;
    two.parts = {PartSpec::structured("A", 3, 2, 2), PartSpec::structured("B", 1, 3, 2)};
    two.coordinates = coordinates(17);
    const Loaded l = load(two);
    EXPECT_EQ(l.reason.rfind(l.path + ": <Parts>: 17 node coordinates for 18 structured slots and "
                                      "0 unstructured nodes (at byte ", 0), 0u) << l.reason;
    two.coordinates = coordinates(18);
    EXPECT_TRUE(load(two).ok);
}

// Without a connectivity the stored node lists are the parts' nodes: they
// must name nodes held, as the connectivity must (0 stays an empty place).
TEST_F(CountsThatDoNotAddUp, StoredNodeListsNameNodesHeld) {
    for (const auto& [list, ok] : {std::pair<std::vector<std::int32_t>, bool>{{1, 4, 6}, true},
                                   {{0, 2, 6}, true},
                                   {{1, 7, 2}, false},
                                   {{-1, 2, 3}, false}}) {
        SCOPED_TRACE(::testing::PrintToString(list));
        BaseFileSpec desc;
        desc.parts.push_back(PartSpec::unstructured("LOOSE", {1}));
        desc.parts.back().node_ids = list;
        desc.coordinates = coordinates(6);
        const Loaded l = load(desc);
        EXPECT_EQ(l.ok, ok) << l.reason;
        if (!ok) {
            EXPECT_NE(l.reason.find(": <Parts>: unstructured part 1: node list names node " +
                                    std::to_string(list[list[0] < 0 ? 0 : 1]) + " of 6"),
                      std::string::npos)
                << l.reason;
        }
    }
}

using InflationLimit = CountsThatDoNotAddUp;

// 50,000 element types of one value deflate to a few hundred bytes and
// inflate to 200,000: a limit below that refuses the file, naming the array,
// the limit and the file's size; no limit, or a limit above, reads it.
TEST_F(InflationLimit, ArraysBeyondTheLimitAreRefused) {
    BaseFileSpec desc = qvtest::small_model();
    desc.element_types.assign(50000, 1);
    const std::int64_t size = static_cast<std::int64_t>(qvw::write_base_file(desc).size());
    ASSERT_LT(size, 10000);
    const Loaded refused = load(desc, 150000);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.reason.find(": <Parts>: element types: the arrays inflate to more than 150000 "
                                  "bytes, the limit for a base file of " +
                                  std::to_string(size) + " bytes"),
              std::string::npos)
        << refused.reason;
    EXPECT_TRUE(load(desc, 0).ok);
    // Everything the file inflates to: the part's element and node lists (2
    // and 3), 16 connectivity entries, 24 nodes' coordinates and numbers,
    // 50,000 types and 2 element numbers.
    const std::int64_t all = 4 * (2 + 3 + 16 + 72 + 50000 + 24 + 2);
    EXPECT_TRUE(load(desc, all).ok);
    EXPECT_FALSE(load(desc, all - 1).ok);
}

// The default grows with the file: 64 bytes per byte and 16 MiB besides.
TEST_F(InflationLimit, DefaultScalesWithTheFile) {
    EXPECT_EQ(default_inflation_limit(0), 16777216);
    EXPECT_EQ(default_inflation_limit(1000000), 64000000 + 16777216);
    EXPECT_EQ(default_inflation_limit(UINT64_MAX), INT64_MAX);
}

// A directory of `n` entries alternating between node and element reals,
// each array of 3 values: entry e holds e, e + 0.5, e + 0.25.
qvw::CycleFileSpec alternating(int n) {
    qvw::CycleFileSpec desc;
    for (int e = 1; e <= n; ++e)
        desc.entries.push_back(qvw::DirectoryEntrySpec::real(
            e % 2 ? 2 : -2, e, 1, {float(e), float(e) + 0.5f, float(e) + 0.25f}));
    return desc;
}

// Queries in directory order alternate between the sections. Each array is
// passed over at most once and each tag searched once, so the records read
// grow with the entries, not with their square (4,000 entries would take
// some 8 million records if every query walked again from its tag).
TEST(DirectoryWalkWork, AlternatingEntriesCostOnePass) {
    constexpr int kEntries = 4000;
    qvtest::TempDir dir;
    CycleReader c;
    ASSERT_TRUE(qvtest::open_cycle(dir, qvw::write_cycle_file(alternating(kEntries)).bytes(), c))
        << c.reason();
    const std::uint64_t before = c.records().records_begun();
    runtime::Array<float> r;
    for (int round = 0; round < 2; ++round)
        for (int e = 1; e <= kEntries; ++e) {
            ASSERT_EQ(read_real_array(c, e % 2 ? kNodeObject : kElementObject, -e, 1, r), Status::ok) << e;
            ASSERT_EQ(qvtest::values(r), (std::vector<float>{float(e), float(e) + 0.5f, float(e) + 0.25f}));
        }
    // Backwards too, then entries that are not there.
    for (int e = kEntries; e >= 1; --e)
        ASSERT_EQ(read_real_array(c, e % 2 ? kNodeObject : kElementObject, -e, 1, r), Status::ok) << e;
    for (int e = 1; e <= 100; ++e)
        ASSERT_EQ(read_real_array(c, kNodeObject, -(kEntries + e), 1, r), Status::not_found);
    // Two records (header, payload) per array read, per array passed over
    // once, and per record of the one search of the element tag; the
    // integer reader and the loops above add no walk.
    const std::uint64_t records = c.records().records_begun() - before;
    EXPECT_LT(records, 3u * 4 * kEntries + 2u * 2 * kEntries + 2u * kEntries) << records;
}

// A damaged array in the walk stays damage for every entry behind it,
// however often asked, while the entries before it still read.
TEST(DirectoryWalkWork, DamageStaysWhereItIs) {
    qvw::CycleFileSpec desc = alternating(9);
    qvw::Bytes file = qvw::write_cycle_file(desc).bytes();
    // Entry 5's header record claims a payload longer than the file.
    const std::vector<float> fifth = desc.entries[4].reals;
    const qvw::Bytes stream = qvw::compress_values(fifth.data(), fifth.size());
    const auto at = std::search(file.begin(), file.end(), stream.begin(), stream.end());
    ASSERT_NE(at, file.end());
    // The header record [count, length] ends 8 bytes (its trailing length
    // and the payload's leading one) before the stream.
    const std::size_t length_at = static_cast<std::size_t>(at - file.begin()) - 12;
    file[length_at] = 0x7F;
    qvtest::TempDir dir;
    CycleReader c;
    ASSERT_TRUE(qvtest::open_cycle(dir, file, c)) << c.reason();
    runtime::Array<float> r;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(read_real_array(c, kNodeObject, -7, 1, r), Status::damaged);
        EXPECT_EQ(read_real_array(c, kNodeObject, -3, 1, r), Status::ok);
        EXPECT_EQ(qvtest::values(r), (std::vector<float>{3.0f, 3.5f, 3.25f}));
        EXPECT_EQ(read_real_array(c, kElementObject, -8, 1, r), Status::ok);
        EXPECT_EQ(read_real_array(c, kNodeObject, -9, 1, r), Status::damaged);
    }
}

}  // namespace
}  // namespace qv::format
