// Reading the arrays of a cycle file: the directory walk and its read
// position, code translation, the section readers, and damaged sections by
// kind of damage (truncation, counts that lie, corrupt streams, sizes the
// analysis cannot justify).
#include "format/cycle_arrays.h"
#include "support/allocation_limit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "support/record_fixture.h"
#include "writer/cycle_file.h"

namespace qv::format {
namespace {

using qvw::Bytes;
using qvw::CycleFileSpec;
using qvw::CycleSection;
using qvw::DirectoryEntrySpec;

const std::vector<std::int32_t> kSingle = {1, 1, 1, 1, 0, 1};
const std::vector<std::int32_t> kChunked = {1, 1, 1, 1, 0, 1, 1, 1};

using qvtest::ramp;
using qvtest::spoil_stream;
using qvtest::values;

class CycleArrays : public ::testing::Test {
protected:
    void SetUp() override { runtime::set_allocation_limit_for_testing(256 * 1024); }
    void TearDown() override { runtime::set_allocation_limit_for_testing(0); }
    void open_bytes(const Bytes& bytes) { ASSERT_TRUE(qvtest::open_cycle(dir_, bytes, c_)) << c_.reason(); }
    void open(const CycleFileSpec& desc) { open_bytes(qvw::write_cycle_file(desc).bytes()); }
    qvtest::TempDir dir_;
    CycleReader c_;
};

// Entries of kind 2 for variables 1..n, qualifier 1; entry v holds 20 + v
// values starting at 100 v.
CycleFileSpec node_reals(int n, std::vector<std::int32_t> header = kSingle) {
    CycleFileSpec desc;
    desc.header = std::move(header);
    desc.chunk_size = 7;
    for (int v = 1; v <= n; ++v)
        desc.entries.push_back(DirectoryEntrySpec::real(2, v, 1, ramp(20 + v, 100.0f * v)));
    return desc;
}

using DirectoryWalk = CycleArrays;

// Node reals 1-4 and 7 (2 with a corrupt stream: only an array that is
// inflated notices), a node integer 5 and an element real 6. The real
// reader continues from the read position when the wanted entry lies ahead
// and restarts from the tag otherwise; after the last entry the position is 0.
TEST_F(DirectoryWalk, PositionContinuesForwardAndRestartsOtherwise) {
    for (const auto& header : {kSingle, kChunked}) {
        SCOPED_TRACE(header.size());
        const bool chunked = header.size() >= 7;
        CycleFileSpec desc = node_reals(7, header);
        desc.entries[4] = DirectoryEntrySpec::integer(1, 5, 1, ramp(25, 500));
        desc.entries[5].kind = -2;
        Bytes file = qvw::write_cycle_file(desc).bytes();
        ASSERT_TRUE(spoil_stream(file, desc.entries[1].reals, 0, chunked ? 7 : 0));
        open_bytes(file);
        const struct {
            std::int32_t object;
            int entry;
            Status status;
            int position;
        } steps[] = {
            {kNodeObject, 1, Status::ok, 1},       {kNodeObject, 4, Status::ok, 4},  // 2 and 3 skipped
            {kNodeObject, 3, Status::ok, 3},       {kElementObject, 6, Status::ok, -6},
            {kNodeObject, 7, Status::ok, 0},       {kNodeObject, 2, Status::corrupt_stream, 0},
            {kNodeObject, 7, Status::ok, 0},       {kNodeObject, 5, Status::not_found, 0},
            {kNodeObject, 6, Status::not_found, 0}, {kElementObject, 6, Status::ok, -6},
            {kElementObject, 6, Status::ok, -6},   {kNodeObject, 1, Status::ok, 1},
        };
        for (const auto& step : steps) {
            runtime::Array<float> r;
            ASSERT_EQ(read_real_array(c_, step.object, -step.entry, 1, r), step.status) << step.entry;
            const auto& e = desc.entries[static_cast<std::size_t>(step.entry - 1)];
            EXPECT_EQ(values(r), step.status == Status::ok ? e.reals : std::vector<float>{}) << step.entry;
            EXPECT_EQ(r.allocated(), step.status == Status::ok) << step.entry;
            EXPECT_EQ(c_.read_position, step.position) << step.entry;
        }
        runtime::Array<std::int32_t> i;
        ASSERT_EQ(read_integer_array(c_, kNodeObject, -5, 1, i), Status::ok);
        EXPECT_EQ(values(i), desc.entries[4].ints);
    }
}

// Codes: a negative code is the variable index itself; a positive one is
// looked up in the (all-zero) code list, where 0 sits at index 1, and an
// integer code not in the list is its own index. The integer reader matches
// |qualifier|, the layered one the qualifier with its sign, and only the
// real and layered readers keep a read position.
TEST_F(DirectoryWalk, CodesAndQualifiers) {
    CycleFileSpec desc;
    desc.entries = {DirectoryEntrySpec::real(2, 1, 1, {1.0f}),
                    DirectoryEntrySpec::real(2, 7, 1, {7.0f}),
                    DirectoryEntrySpec::integer(1, 1, 1, {10}),
                    DirectoryEntrySpec::integer(1, 9, -3, {90}),
                    DirectoryEntrySpec::integer(1, 9, 4, {94}),
                    DirectoryEntrySpec::integer(-1, 20, -1, ramp(50, 1000)),
                    DirectoryEntrySpec::integer(-1, 20, 1, ramp(50, 2000)),
                    DirectoryEntrySpec::integer(-1, 20, -2, ramp(50, 3000))};
    open(desc);
    enum Reader { Real, Integer, Layered };
    const struct {
        Reader reader;
        std::int32_t object, code, qualifier;
        Status status;
        std::int32_t first, position;
    } steps[] = {
        {Real, kNodeObject, 7, 1, Status::not_found, 0, 0},    {Real, kNodeObject, 0, 1, Status::ok, 1, 1},
        {Real, kNodeObject, -7, 1, Status::ok, 7, 2},          {Integer, kNodeObject, 0, 1, Status::ok, 10, 0},
        {Integer, kNodeObject, 9, 3, Status::ok, 90, 0},       {Integer, kNodeObject, -9, -3, Status::not_found, 0, 0},
        {Layered, kNodeObject, 9, 4, Status::ok, 94, 5},       {Layered, kElementObject, -20, -1, Status::ok, 1000, -6},
        // Entry 6 (qualifier -1) behind the position is not the wanted +1.
        {Layered, kElementObject, -20, 1, Status::ok, 2000, -7}, {Layered, kElementObject, -20, -1, Status::ok, 1000, -6},
        {Layered, kElementObject, -20, 2, Status::not_found, 0, 0}, {Integer, kElementObject, -20, 2, Status::ok, 3000, 0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(::testing::Message() << step.reader << ": " << step.code << ", " << step.qualifier);
        runtime::Array<float> r;
        runtime::Array<std::int32_t> i;
        const auto [object, code, qualifier] = std::tuple(step.object, step.code, step.qualifier);
        const Status st = step.reader == Real      ? read_real_array(c_, object, code, qualifier, r)
                        : step.reader == Integer ? read_integer_array(c_, object, code, qualifier, i)
                                                 : read_layered_integer_array(c_, object, code, qualifier, i);
        ASSERT_EQ(st, step.status);
        EXPECT_EQ(r.allocated() || i.allocated(), st == Status::ok);
        EXPECT_EQ(st != Status::ok ? 0.0f : step.reader == Real ? r(1) : float(i(1)), float(step.first));
        EXPECT_EQ(c_.read_position, step.position);
    }
}

using CycleSections = CycleArrays;

// Stored arrays shorter than the slots leave the rest 0, longer ones are
// cut; a header that says the section holds none gives zero arrays; a cycle
// without the section has no material arrays. The cover is read either way.
TEST_F(CycleSections, MaterialFractionsFillAndCutToTheSlots) {
    const std::vector<float> zero(8, 0.0f), shorter = {1, 2, 3, 4, 5, 0, 0, 0};
    const struct {
        std::vector<std::int32_t> header;
        bool section;
        Status status;
    } cases[] = {{kSingle, true, Status::ok},
                 {kChunked, true, Status::ok},
                 {{1, 1, 1, 1, 0, 0}, true, Status::no_arrays},
                 {kSingle, false, Status::section_missing}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.header) + (c.section ? "" : " without the section"));
        CycleFileSpec desc;
        desc.header = c.header;
        desc.chunk_size = 3;
        desc.structured_parts = {{2, 2, 2}};
        if (c.section) desc.material_fractions = std::vector<std::vector<float>>{ramp(5, 1.0f), ramp(10, 20.0f)};
        desc.entries = {DirectoryEntrySpec::real(-2, 3, 1, ramp(10, 0.0f)),
                        DirectoryEntrySpec::real(-2, 155, -1, ramp(10, 50.0f)),
                        DirectoryEntrySpec::real(2, 155, 1, {})};
        open(desc);
        ASSERT_EQ(read_material_fractions(c_, 8, 2), c.status);
        const MaterialFractions& f = c_.fractions;
        EXPECT_TRUE(f.loaded);
        if (c.status == Status::section_missing) {
            EXPECT_TRUE(std::none_of(f.materials.begin(), f.materials.end(),
                                     [](const auto& m) { return m.allocated(); }));
        } else {
            ASSERT_EQ(f.materials.size(), 2u);
            EXPECT_EQ(values(f.materials[0]), c.status == Status::ok ? shorter : zero);
            EXPECT_EQ(values(f.materials[1]), c.status == Status::ok ? ramp(8, 20.0f) : zero);
        }
        EXPECT_EQ(values(f.cover), desc.entries[1].reals);
        EXPECT_EQ(c_.read_position, -2);
    }
}

// Which header words make the sections hold arrays is checked with the
// other header rules; here the values, with the displacements in the bulk
// framing (word 7) and the rigid body and joint arrays in the body framing
// (word 8), and what a missing section or a closed file leaves.
TEST_F(CycleSections, DisplacementsRigidBodiesAndJoints) {
    for (const auto& [words, status] : {std::pair<std::vector<std::int32_t>, Status>{kSingle, Status::ok},
                                        {kChunked, Status::ok},
                                        {{1, 0, 1, 1, 0, 1, 0, 1}, Status::ok},
                                        {{1, 0, 1, 1, 0, 1}, Status::no_arrays}}) {
        SCOPED_TRACE(::testing::PrintToString(words));
        CycleFileSpec desc;
        desc.header = words;
        desc.chunk_size = 16;  // the data arrays take several chunks
        desc.displacements = ramp(30, 0.5f);
        desc.rigid_bodies = qvw::BodyArraysSpec{{7, 9}, ramp(30, 1.0f)};
        desc.joints = qvw::BodyArraysSpec{{4, 5, 6}, ramp(117, 2.0f)};
        open(desc);
        const bool present = status == Status::ok;
        runtime::Buffer<float> displacements;
        runtime::Array<float> body_data, joint_data;
        runtime::Array<std::int32_t> body_numbers, joint_numbers;
        EXPECT_EQ(read_displacements(c_, displacements), status);
        EXPECT_EQ(values(displacements), present ? *desc.displacements : std::vector<float>{});
        EXPECT_EQ(read_rigid_body_data(c_, body_numbers, body_data), status);
        EXPECT_EQ(read_joint_data(c_, joint_numbers, joint_data), status);
        EXPECT_EQ(values(body_numbers), present ? desc.rigid_bodies->numbers : std::vector<std::int32_t>{});
        EXPECT_EQ(values(body_data), present ? desc.rigid_bodies->data : std::vector<float>{});
        EXPECT_EQ(values(joint_numbers), present ? desc.joints->numbers : std::vector<std::int32_t>{});
        EXPECT_EQ(values(joint_data), present ? desc.joints->data : std::vector<float>{});
        EXPECT_EQ(joint_data.allocated(), present);
    }
    open(CycleFileSpec{});
    // Arrays left from an earlier cycle are released.
    runtime::Array<float> reals;
    runtime::Array<std::int32_t> numbers;
    const auto stale = [&] {
        runtime::allocate(reals, 3);
        runtime::allocate(numbers, 3);
    };
    runtime::Buffer<float> kept;
    kept.resize(3);
    EXPECT_EQ(read_displacements(c_, kept), Status::section_missing);
    EXPECT_FALSE(kept.holds());
    stale();
    EXPECT_EQ(read_rigid_body_data(c_, numbers, reals), Status::section_missing);
    EXPECT_FALSE(numbers.allocated() || reals.allocated());
    EXPECT_EQ(read_joint_data(c_, numbers, reals), Status::section_missing);
    c_.close();
    kept.resize(3);
    EXPECT_EQ(read_displacements(c_, kept), Status::not_open);
    EXPECT_FALSE(kept.holds());
}

// Damaged sections. Every case ends in a failure status with nothing
// allocated, the position cleared, and the allocation limit of the fixture
// never reached.
CycleFileSpec every_section(std::vector<std::int32_t> header) {
    CycleFileSpec desc = node_reals(0, std::move(header));
    desc.chunk_size = 5;
    desc.entries = {DirectoryEntrySpec::real(2, 1, 1, ramp(12, 1.0f)),
                    DirectoryEntrySpec::integer(-1, 2, 1, ramp(9, 40)),
                    DirectoryEntrySpec::integer(1, 3, 1, ramp(11, 60)),
                    DirectoryEntrySpec::real(-2, 155, 1, ramp(12, 80.0f)),
                    DirectoryEntrySpec::real(2, 5, 1, ramp(13, 100.0f))};
    desc.structured_parts = {{2, 2, 3}};
    desc.displacements = ramp(14, 200.0f);
    desc.material_fractions = std::vector<std::vector<float>>{ramp(12, 300.0f), ramp(12, 400.0f)};
    desc.rigid_bodies = qvw::BodyArraysSpec{{1, 2}, ramp(30, 500.0f)};
    desc.joints = qvw::BodyArraysSpec{{3}, ramp(39, 600.0f)};
    return desc;
}

// Reads everything `section` holds and checks that it failed cleanly:
// nothing left allocated, the position cleared.
::testing::AssertionResult fails_cleanly(CycleReader& c, CycleSection section) {
    runtime::Array<float> r;
    runtime::Buffer<float> d;
    runtime::Array<std::int32_t> numbers;
    Status st = Status::ok;
    switch (section) {
    case CycleSection::Node: st = read_real_array(c, kNodeObject, -5, 1, r); break;
    case CycleSection::Element: st = read_real_array(c, kElementObject, -155, 1, r); break;
    case CycleSection::Displacement: st = read_displacements(c, d); break;
    case CycleSection::MMVars: st = read_material_fractions(c, 12, 2); break;
    case CycleSection::RigidBodyData: st = read_rigid_body_data(c, numbers, r); break;
    default: st = read_joint_data(c, numbers, r);
    }
    bool left = r.allocated() || d.holds() || numbers.allocated();
    for (const auto& m : c.fractions.materials) left = left || m.allocated();
    if (st == Status::ok) return ::testing::AssertionFailure() << "read succeeded";
    if (left) return ::testing::AssertionFailure() << "data left allocated, status " << static_cast<int>(st);
    if (c.read_position != 0 && section != CycleSection::MMVars)
        return ::testing::AssertionFailure() << "position " << c.read_position;
    return ::testing::AssertionSuccess();
}

using TruncatedSection = CycleArrays;

// Places to cut the records in [begin, end): at each record's start, inside
// and after its leading length, inside its data, inside and before its
// trailing length. Any other cut reads like one of these.
std::vector<std::int64_t> cut_points(const Bytes& file, std::int64_t begin, std::int64_t end) {
    std::vector<std::int64_t> cuts;
    for (std::int64_t r = begin; r < end;) {
        const auto* p = file.data() + r;
        const std::int64_t length = (std::int64_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
        const std::int64_t next = r + length + 8;
        for (const std::int64_t c : {r, r + 2, r + 4, r + 4 + length / 2, next - 4, next - 1})
            if (cuts.empty() || c > cuts.back()) cuts.push_back(c);
        r = next;
    }
    return cuts;
}

TEST_F(TruncatedSection, CutAnywhereFailsCleanly) {
    for (const auto& header : {kSingle, kChunked})
        for (const CycleSection section :
             {CycleSection::Node, CycleSection::Element, CycleSection::Displacement,
              CycleSection::MMVars, CycleSection::RigidBodyData, CycleSection::JointData}) {
            CycleFileSpec desc = every_section(header);
            desc.order = {CycleSection::Model, section};
            qvw::CycleFileLayout layout;
            const Bytes whole = qvw::write_cycle_file(desc, layout).bytes();
            const auto& extent = layout.of(section);
            ASSERT_GE(extent.begin, 0);
            for (const std::int64_t cut : cut_points(whole, extent.begin, extent.end)) {
                open_bytes(Bytes(whole.begin(), whole.begin() + cut));
                ASSERT_TRUE(fails_cleanly(c_, section))
                    << "section " << static_cast<int>(section) << ", header words "
                    << header.size() << ", cut at " << cut << " of " << extent.end;
            }
        }
}

using LyingCounts = CycleArrays;

TEST_F(LyingCounts, ArrayHeadersFailTheirArrayAndLengthsAlsoTheSkip) {
    // The node section starts with the tag record (58 bytes), then entry 1's
    // array. Single form: header record [4, count, length, 4]. Chunked
    // form: total record [4, total, 4], first chunk header [4, count,
    // length, 4]. A skip reads past an array by its lengths alone.
    struct Lie {
        const std::vector<std::int32_t>* header;
        std::int64_t offset;
        std::int32_t value;
        bool breaks_skip;
    };
    const Lie lies[] = {
        {&kSingle, 62, INT32_MAX, false}, {&kSingle, 62, -1, false},
        {&kSingle, 62, 1000000, false},   {&kSingle, 66, INT32_MAX, true},
        {&kSingle, 66, -1, true},         {&kSingle, 66, 1000000, true},
        {&kChunked, 62, 11, false},       {&kChunked, 62, INT32_MAX, false},
        {&kChunked, 62, -1, false},       {&kChunked, 74, 6, false},
        {&kChunked, 74, 1000000, false},  {&kChunked, 78, INT32_MAX, true},
        {&kChunked, 78, -5, true},
    };
    for (const Lie& lie : lies) {
        CycleFileSpec desc = node_reals(2, *lie.header);
        desc.order = {CycleSection::Model, CycleSection::Node};
        qvw::CycleFileLayout layout;
        qvw::FileWriter w = qvw::write_cycle_file(desc, layout);
        w.overwrite_i32(static_cast<std::size_t>(layout.of(CycleSection::Node).begin + lie.offset),
                        lie.value);
        open_bytes(w.bytes());
        SCOPED_TRACE(std::to_string(lie.header->size()) + " words, offset " + std::to_string(lie.offset) +
                     ", value " + std::to_string(lie.value));
        runtime::Array<float> r;
        EXPECT_NE(read_real_array(c_, kNodeObject, -1, 1, r), Status::ok);
        EXPECT_FALSE(r.allocated());
        EXPECT_EQ(c_.read_position, 0);
        EXPECT_EQ(read_real_array(c_, kNodeObject, -2, 1, r), lie.breaks_skip ? Status::damaged : Status::ok);
        EXPECT_EQ(values(r), lie.breaks_skip ? std::vector<float>{} : desc.entries[1].reals);
    }
}

TEST_F(LyingCounts, ChunkedTotalAboveItsChunks) {
    // Integer and real arrays alike hold the values their chunks held: a
    // total above them sizes nothing.
    for (const bool integer : {false, true}) {
        CycleFileSpec desc;
        desc.header = kChunked;
        desc.chunk_size = 7;
        desc.entries = {integer ? DirectoryEntrySpec::integer(1, 1, 1, ramp(21, 5))
                                : DirectoryEntrySpec::real(2, 1, 1, ramp(21, 5.0f))};
        desc.order = {CycleSection::Model, CycleSection::Node};
        qvw::CycleFileLayout layout;
        qvw::FileWriter w = qvw::write_cycle_file(desc, layout);
        w.overwrite_i32(static_cast<std::size_t>(layout.of(CycleSection::Node).begin + 62), 30);
        open_bytes(w.bytes());
        runtime::Array<std::int32_t> i;
        runtime::Array<float> r;
        ASSERT_EQ(integer ? read_integer_array(c_, kNodeObject, -1, 1, i) : read_real_array(c_, kNodeObject, -1, 1, r),
                  Status::ok);
        EXPECT_EQ(values(i), integer ? ramp(21, 5) : std::vector<std::int32_t>{});
        EXPECT_EQ(values(r), integer ? std::vector<float>{} : ramp(21, 5.0f));
    }
}

// 4 MB per material is above the fixture's allocation limit; 1000
// materials of 1000 slots, each array small, are more values than the cycle
// file could hold.
TEST_F(LyingCounts, MaterialArraysBeyondTheLimitOrTheCycleFileAreRefused) {
    CycleFileSpec desc;
    desc.structured_parts = {{100, 100, 100}};
    desc.material_fractions = std::vector<std::vector<float>>{{1}, {2}, {3}};
    open(desc);
    EXPECT_EQ(read_material_fractions(c_, 1000000, 3), Status::damaged);
    for (const auto& m : c_.fractions.materials) EXPECT_FALSE(m.allocated());
    desc.structured_parts = {{10, 10, 10}};
    desc.material_fractions.emplace();
    open(desc);
    EXPECT_EQ(read_material_fractions(c_, 1000, 1000), Status::damaged);
    for (const auto& m : c_.fractions.materials) EXPECT_FALSE(m.allocated());
}

using CorruptStream = CycleArrays;

TEST_F(CorruptStream, LeavesEachReadersDestinationUnallocated) {
    for (const auto& header : {kSingle, kChunked}) {
        CycleFileSpec desc = every_section(header);
        Bytes file = qvw::write_cycle_file(desc).bytes();
        const bool chunked = header.size() >= 7;
        // One chunk of several spoils the whole array.
        ASSERT_TRUE(spoil_stream(file, desc.entries[0].reals, chunked ? 5 : 0, chunked ? 5 : 0));
        ASSERT_TRUE(spoil_stream(file, desc.entries[2].ints, chunked ? 10 : 0, chunked ? 1 : 0));
        ASSERT_TRUE(spoil_stream(file, *desc.displacements, 0, chunked ? 5 : 0));
        ASSERT_TRUE(spoil_stream(file, (*desc.material_fractions)[0], 0, chunked ? 5 : 0));
        ASSERT_TRUE(spoil_stream(file, desc.rigid_bodies->data, 0, chunked ? 5 : 0));
        open_bytes(file);

        runtime::Array<float> r;
        runtime::Array<std::int32_t> i;
        EXPECT_EQ(read_real_array(c_, kNodeObject, -1, 1, r), Status::corrupt_stream);
        EXPECT_FALSE(r.allocated());
        EXPECT_EQ(read_integer_array(c_, kNodeObject, -3, 1, i), Status::corrupt_stream);
        EXPECT_FALSE(i.allocated());
        EXPECT_EQ(read_layered_integer_array(c_, kNodeObject, -3, 1, i), Status::corrupt_stream);
        ASSERT_EQ(read_real_array(c_, kNodeObject, -5, 1, r), Status::ok);  // skipped, not inflated
        EXPECT_EQ(values(r), desc.entries[4].reals);
        runtime::Buffer<float> d;
        EXPECT_EQ(read_displacements(c_, d), Status::corrupt_stream);
        EXPECT_FALSE(d.holds());

        const MaterialFractions& f = c_.fractions;
        EXPECT_EQ(read_material_fractions(c_, 12, 2), Status::corrupt_stream);
        EXPECT_FALSE(f.materials[0].allocated());
        EXPECT_EQ(values(f.materials[1]), (*desc.material_fractions)[1]);
        EXPECT_EQ(values(f.cover), desc.entries[3].reals);

        EXPECT_EQ(read_rigid_body_data(c_, i, r), Status::corrupt_stream);
        EXPECT_FALSE(i.allocated() || r.allocated());
        EXPECT_EQ(read_joint_data(c_, i, r), Status::ok);
        EXPECT_EQ(values(r), desc.joints->data);
        // zlib's code for a bad check value, kept per kind of array.
        EXPECT_EQ(std::string(c_.records().zlib_message(chunked ? ZlibRoutine::ChunkedReals
                                                                 : ZlibRoutine::SingleReals).view()),
                  "Non-zero error code returned  -3" + std::string(18, ' '));
    }
}

}  // namespace
}  // namespace qv::format
