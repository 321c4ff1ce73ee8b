// Reading the arrays of a cycle file: the directory walk and its read
// position, code translation, the section readers, and damaged sections by
// kind of damage (truncation, counts that lie, corrupt streams, sizes the
// store cannot justify).
#include "format/cycle_arrays.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "api/naming.h"
#include "model/store.h"
#include "runtime/file_units.h"
#include "support/temp_dir.h"
#include "support/unit_fixture.h"
#include "writer/cycle_file.h"

namespace qv::format {
namespace {

using model::store;
using qvw::Bytes;
using qvw::CycleFileSpec;
using qvw::CycleSection;
using qvw::DirectoryEntrySpec;

const std::vector<std::int32_t> kSingle = {1, 1, 1, 1, 0, 1};
const std::vector<std::int32_t> kChunked = {1, 1, 1, 1, 0, 1, 1, 1};

std::vector<float> reals(int n, float first) {
    std::vector<float> v;
    for (int i = 0; i < n; ++i) v.push_back(first + static_cast<float>(i));
    return v;
}

std::vector<std::int32_t> ints(int n, std::int32_t first) {
    std::vector<std::int32_t> v;
    for (int i = 0; i < n; ++i) v.push_back(first + i);
    return v;
}

template <class T>
std::vector<T> values(const runtime::Array<T>& a) {
    return std::vector<T>(a.begin(), a.end());
}

// Spoils the Adler-32 trailer of the zlib stream of `v` where the file holds it.
template <class T>
void corrupt_stream(Bytes& file, const std::vector<T>& v, std::size_t offset = 0, std::size_t n = 0) {
    const Bytes stream = qvw::compress_values(v.data() + offset, n ? n : v.size() - offset);
    const auto at = std::search(file.begin(), file.end(), stream.begin(), stream.end());
    ASSERT_NE(at, file.end());
    *(at + static_cast<std::ptrdiff_t>(stream.size()) - 1) ^= 0xFF;
}

class CycleArrays : public ::testing::Test {
protected:
    void SetUp() override { runtime::set_allocation_limit_for_testing(256 * 1024); }
    void TearDown() override {
        runtime::close_unit(runtime::unit::kResults);
        model::release_cycle(store());
        model::reset_base_model(store());
        release_skip_buffer();
        runtime::set_allocation_limit_for_testing(0);
    }
    void open_bytes(const Bytes& bytes) {
        ASSERT_TRUE(api::open_cycle_file(qvtest::write_file(dir_, "run_0000001.qvres", bytes)));
    }
    void open(const CycleFileSpec& desc) { open_bytes(qvw::write_cycle_file(desc).bytes()); }
    // A model of one structured block of i x j x k slots and `materials`
    // materials, as a base file would have left it.
    void model_of(std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t materials) {
        auto& s = store();
        runtime::allocate(s.size_a, 1);
        runtime::allocate(s.size_b, 1);
        runtime::allocate(s.size_c, 1);
        s.size_a(1) = i;
        s.size_b(1) = j;
        s.size_c(1) = k;
        s.material_count = materials;
    }
    qvtest::TempDir dir_;
};

// Entries of kind 2 for variables 1..n, qualifier 1; entry v holds 20 + v
// values starting at 100 v.
CycleFileSpec node_reals(int n, std::vector<std::int32_t> header = kSingle) {
    CycleFileSpec desc;
    desc.header = std::move(header);
    desc.chunk_size = 7;
    for (int v = 1; v <= n; ++v)
        desc.entries.push_back(DirectoryEntrySpec::real(2, v, 1, reals(20 + v, 100.0f * v)));
    return desc;
}

using DirectoryWalk = CycleArrays;

TEST_F(DirectoryWalk, KindsTwoMinusTwoOneTwoPutThreeArraysInTheNodeSection) {
    for (const auto& header : {kSingle, kChunked}) {
        CycleFileSpec desc;
        desc.header = header;
        desc.chunk_size = 3;  // several chunks, the last one short
        desc.entries = {DirectoryEntrySpec::real(2, 1, 1, reals(4, 1.0f)),
                        DirectoryEntrySpec::real(-2, 2, 1, reals(5, 10.0f)),
                        DirectoryEntrySpec::integer(1, 3, 1, ints(6, 20)),
                        DirectoryEntrySpec::real(2, 4, 1, reals(7, 30.0f))};
        open(desc);
        runtime::Array<float> r;
        ASSERT_EQ(read_real_array(kNodeObject, -4, 1, r), kReadOk);  // after two node arrays
        EXPECT_EQ(values(r), desc.entries[3].reals);
        EXPECT_EQ(store().read_position, 0);  // the last entry
        ASSERT_EQ(read_real_array(kElementObject, -2, 1, r), kReadOk);  // first after the tag
        EXPECT_EQ(values(r), desc.entries[1].reals);
        EXPECT_EQ(store().read_position, -2);
        runtime::Array<std::int32_t> i;
        ASSERT_EQ(read_integer_array(kNodeObject, -3, 1, i), kReadOk);
        EXPECT_EQ(values(i), desc.entries[2].ints);
        // Kinds of the other section or family are not arrays here.
        EXPECT_EQ(read_real_array(kNodeObject, -2, 1, r), kArrayNotFound);
        EXPECT_EQ(read_real_array(kNodeObject, -3, 1, r), kArrayNotFound);
        EXPECT_FALSE(r.allocated());
    }
}

TEST_F(DirectoryWalk, LaterEntryContinuesAndEarlierEntryRestarts) {
    // Entry 2's stream is corrupt: only an array that is inflated notices.
    CycleFileSpec desc = node_reals(5);
    Bytes file = qvw::write_cycle_file(desc).bytes();
    corrupt_stream(file, desc.entries[1].reals);
    open_bytes(file);
    release_skip_buffer();
    runtime::Array<float> r;

    ASSERT_EQ(read_real_array(kNodeObject, -1, 1, r), kReadOk);
    EXPECT_EQ(store().read_position, 1);
    EXPECT_EQ(skip_buffer_capacity(), 0);

    ASSERT_EQ(read_real_array(kNodeObject, -4, 1, r), kReadOk);  // skips 2 and 3
    EXPECT_EQ(values(r), desc.entries[3].reals);
    EXPECT_EQ(store().read_position, 4);
    EXPECT_GT(skip_buffer_capacity(), 0);

    // Entry 3 lies behind the position; continuing would never meet it.
    ASSERT_EQ(read_real_array(kNodeObject, -3, 1, r), kReadOk);
    EXPECT_EQ(values(r), desc.entries[2].reals);
    EXPECT_EQ(store().read_position, 3);

    EXPECT_EQ(read_real_array(kNodeObject, -2, 1, r), kInflateError);
    EXPECT_FALSE(r.allocated());
    EXPECT_EQ(store().read_position, 0);
}

TEST_F(DirectoryWalk, AnyRequestOrderGivesTheSameArrays) {
    for (const auto& header : {kSingle, kChunked}) {
        CycleFileSpec desc = node_reals(6, header);
        for (int e : {1, 3}) desc.entries[static_cast<std::size_t>(e)].kind = -2;
        open(desc);
        // Node entries 1, 3, 5, 6 and element entries 2, 4.
        struct Step {
            int entry;
            std::int32_t position;
        };
        const std::vector<std::vector<Step>> orders = {
            {{1, 1}, {2, -2}, {3, 3}, {4, -4}, {5, 5}, {6, 0}},
            {{6, 0}, {5, 5}, {4, -4}, {3, 3}, {2, -2}, {1, 1}},
            {{3, 3}, {1, 1}, {6, 0}, {4, -4}, {2, -2}, {5, 5}, {5, 5}, {6, 0}, {6, 0}},
        };
        for (const auto& order : orders)
            for (const Step& step : order) {
                const auto& e = desc.entries[static_cast<std::size_t>(step.entry - 1)];
                runtime::Array<float> r;
                ASSERT_EQ(read_real_array(e.kind == 2 ? kNodeObject : kElementObject,
                                          -step.entry, 1, r),
                          kReadOk)
                    << step.entry;
                EXPECT_EQ(values(r), e.reals) << step.entry;
                EXPECT_EQ(store().read_position, step.position) << step.entry;
            }
    }
}

TEST_F(DirectoryWalk, CodesTranslateAndIntegerReaderMatchesAbsoluteQualifiers) {
    CycleFileSpec desc;
    desc.entries = {DirectoryEntrySpec::real(2, 1, 1, {1.0f}),
                    DirectoryEntrySpec::real(2, 7, 1, {7.0f}),
                    DirectoryEntrySpec::integer(1, 1, 1, {10}),
                    DirectoryEntrySpec::integer(1, 9, -3, {90}),
                    DirectoryEntrySpec::integer(1, 9, 4, {94})};
    open(desc);
    runtime::Array<float> r;
    runtime::Array<std::int32_t> i;
    // Reals: a positive code is not in the (all-zero) code list; 0 is at 1.
    EXPECT_EQ(read_real_array(kNodeObject, 7, 1, r), kArrayNotFound);
    ASSERT_EQ(read_real_array(kNodeObject, 0, 1, r), kReadOk);
    EXPECT_EQ(r(1), 1.0f);
    ASSERT_EQ(read_real_array(kNodeObject, -7, 1, r), kReadOk);
    EXPECT_EQ(store().read_position, 2);
    // Integers: a code not in the list is its own index.
    ASSERT_EQ(read_integer_array(kNodeObject, 0, 1, i), kReadOk);
    EXPECT_EQ(i(1), 10);
    EXPECT_EQ(store().read_position, 0);
    ASSERT_EQ(read_integer_array(kNodeObject, 9, 3, i), kReadOk);
    EXPECT_EQ(i(1), 90);
    EXPECT_EQ(read_integer_array(kNodeObject, -9, -3, i), kArrayNotFound);
    EXPECT_FALSE(i.allocated());
    ASSERT_EQ(read_layered_integer_array(kNodeObject, 9, 4, i), kReadOk);
    EXPECT_EQ(i(1), 94);
}

TEST_F(DirectoryWalk, LayeredReaderComparesTheQualifierWithItsSign) {
    CycleFileSpec desc;
    desc.entries = {DirectoryEntrySpec::integer(-1, 20, -1, ints(50, 1000)),
                    DirectoryEntrySpec::integer(-1, 20, 1, ints(50, 2000)),
                    DirectoryEntrySpec::integer(-1, 20, -2, ints(50, 3000))};
    open(desc);
    release_skip_buffer();
    runtime::Array<std::int32_t> i;
    ASSERT_EQ(read_layered_integer_array(kElementObject, -20, -1, i), kReadOk);
    EXPECT_EQ(i(1), 1000);
    EXPECT_EQ(store().read_position, -1);
    // Entry 1 (qualifier -1) behind the position is not the wanted +1: the
    // walk continues without going back over it.
    ASSERT_EQ(read_layered_integer_array(kElementObject, -20, 1, i), kReadOk);
    EXPECT_EQ(i(1), 2000);
    EXPECT_EQ(skip_buffer_capacity(), 0);
    ASSERT_EQ(read_layered_integer_array(kElementObject, -20, -1, i), kReadOk);
    EXPECT_EQ(i(1), 1000);
    EXPECT_EQ(read_layered_integer_array(kElementObject, -20, 2, i), kArrayNotFound);
    EXPECT_FALSE(i.allocated());
    ASSERT_EQ(read_integer_array(kElementObject, -20, 2, i), kReadOk);
    EXPECT_EQ(i(1), 3000);
}

using CycleSections = CycleArrays;

TEST_F(CycleSections, DisplacementsInBothFramingsAndMissing) {
    for (const auto& header : {kSingle, kChunked}) {
        CycleFileSpec desc;
        desc.header = header;
        desc.chunk_size = 4;
        desc.displacements = reals(30, 0.5f);
        open(desc);
        ASSERT_EQ(read_displacements(), kReadOk);
        EXPECT_EQ(values(store().displacements), *desc.displacements);
    }
    CycleFileSpec desc;
    open(desc);
    runtime::allocate(store().displacements, 3);  // left from an earlier read
    EXPECT_EQ(read_displacements(), kSectionMissing);
    EXPECT_FALSE(store().displacements.allocated());
    runtime::close_unit(runtime::unit::kResults);
    EXPECT_EQ(read_displacements(), kUnitNotOpen);
}

TEST_F(CycleSections, MaterialFractionsFillAndCutToTheSlots) {
    for (const auto& header : {kSingle, kChunked}) {
        model_of(2, 2, 2, 2);
        CycleFileSpec desc;
        desc.header = header;
        desc.chunk_size = 3;
        desc.structured_parts = {{2, 2, 2}};
        desc.material_fractions = std::vector<std::vector<float>>{reals(5, 1.0f), reals(10, 20.0f)};
        desc.entries = {DirectoryEntrySpec::real(-2, 3, 1, reals(10, 0.0f)),
                        DirectoryEntrySpec::real(-2, 155, -1, reals(10, 50.0f)),
                        DirectoryEntrySpec::real(2, 155, 1, {})};
        open(desc);
        std::int32_t status = -1;
        ASSERT_EQ(read_material_fractions(status), kReadOk);
        EXPECT_EQ(status, 0);
        const auto& s = store();
        EXPECT_TRUE(s.mmvars_loaded);
        ASSERT_EQ(s.material_fractions.size(), 2u);
        EXPECT_EQ(values(s.material_fractions[0]),
                  (std::vector<float>{1, 2, 3, 4, 5, 0, 0, 0}));
        EXPECT_EQ(values(s.material_fractions[1]), reals(8, 20.0f));
        EXPECT_EQ(values(s.cover_fraction), desc.entries[1].reals);
        EXPECT_EQ(s.read_position, -2);
    }
}

TEST_F(CycleSections, MissingMaterialSectionGivesZeroFractionsAndStillTheCover) {
    model_of(3, 1, 2, 2);
    CycleFileSpec desc;
    desc.structured_parts = {{3, 1, 2}};
    desc.entries = {DirectoryEntrySpec::real(-2, 155, 1, reals(8, 0.5f))};
    open(desc);
    std::int32_t status = -1;
    EXPECT_EQ(read_material_fractions(status), kSectionMissing);
    EXPECT_EQ(status, 1);
    ASSERT_EQ(store().material_fractions.size(), 2u);
    for (const auto& m : store().material_fractions) EXPECT_EQ(values(m), std::vector<float>(6, 0.0f));
    EXPECT_EQ(values(store().cover_fraction), desc.entries[0].reals);
    EXPECT_TRUE(store().mmvars_loaded);
}

TEST_F(CycleSections, RigidBodyAndJointDataFollowHeaderWordsTwoSevenAndEight) {
    struct Case {
        std::vector<std::int32_t> words;
        bool present;
    };
    for (const Case& c : {Case{{1, 1, 1, 1, 0, 1}, true}, Case{{1, 0, 1, 1, 0, 1}, false},
                          Case{{1, 1, 1, 1, 0, 1, 1}, true}, Case{{1, 0, 1, 1, 0, 1, 1}, false},
                          Case{{1, 0, 1, 1, 0, 1, 1, 0}, true}, Case{{1, 0, 1, 1, 0, 1, 0, 1}, true}}) {
        CycleFileSpec desc;
        desc.header = c.words;
        desc.chunk_size = 16;  // the data arrays take several chunks
        desc.rigid_bodies = qvw::BodyArraysSpec{{7, 9}, reals(30, 1.0f)};
        desc.joints = qvw::BodyArraysSpec{{4, 5, 6}, reals(117, 2.0f)};
        open(desc);
        const auto& s = store();
        std::int32_t status = -1;
        const std::string at = ::testing::PrintToString(c.words);
        EXPECT_EQ(read_rigid_body_data(status), c.present ? kReadOk : kNoArrays) << at;
        EXPECT_EQ(status, 0);
        EXPECT_EQ(read_joint_data(status), c.present ? kReadOk : kNoArrays) << at;
        EXPECT_EQ(status, 0);
        if (c.present) {
            EXPECT_EQ(values(s.rigid_body_numbers), desc.rigid_bodies->numbers) << at;
            EXPECT_EQ(values(s.rigid_body_data), desc.rigid_bodies->data) << at;
            EXPECT_EQ(values(s.joint_numbers), desc.joints->numbers) << at;
            EXPECT_EQ(values(s.joint_data), desc.joints->data) << at;
        } else {
            EXPECT_FALSE(s.rigid_body_numbers.allocated() || s.rigid_body_data.allocated() ||
                         s.joint_numbers.allocated() || s.joint_data.allocated());
        }
    }
    open(CycleFileSpec{});
    std::int32_t status = -1;
    EXPECT_EQ(read_rigid_body_data(status), kSectionMissing);
    EXPECT_EQ(status, 1);
    status = -1;
    EXPECT_EQ(read_joint_data(status), kSectionMissing);
    EXPECT_EQ(status, 1);
}

// Damaged sections. Every case ends in a failure status with nothing
// allocated, the position cleared, and the allocation limit of the fixture
// never reached.
CycleFileSpec every_section(std::vector<std::int32_t> header) {
    CycleFileSpec desc = node_reals(0, std::move(header));
    desc.chunk_size = 5;
    desc.entries = {DirectoryEntrySpec::real(2, 1, 1, reals(12, 1.0f)),
                    DirectoryEntrySpec::integer(-1, 2, 1, ints(9, 40)),
                    DirectoryEntrySpec::integer(1, 3, 1, ints(11, 60)),
                    DirectoryEntrySpec::real(-2, 155, 1, reals(12, 80.0f)),
                    DirectoryEntrySpec::real(2, 5, 1, reals(13, 100.0f))};
    desc.structured_parts = {{2, 2, 3}};
    desc.displacements = reals(14, 200.0f);
    desc.material_fractions = std::vector<std::vector<float>>{reals(12, 300.0f), reals(12, 400.0f)};
    desc.rigid_bodies = qvw::BodyArraysSpec{{1, 2}, reals(30, 500.0f)};
    desc.joints = qvw::BodyArraysSpec{{3}, reals(39, 600.0f)};
    return desc;
}

// Reads everything `section` holds and checks that it failed cleanly.
::testing::AssertionResult fails_cleanly(CycleSection section) {
    const auto& s = store();
    std::int32_t status = -1;
    runtime::Array<float> r;
    int st = kReadOk;
    bool released = true;
    if (section == CycleSection::Node || section == CycleSection::Element) {
        const bool nodes = section == CycleSection::Node;
        st = read_real_array(nodes ? kNodeObject : kElementObject, nodes ? -5 : -155, 1, r);
        released = !r.allocated();
    } else if (section == CycleSection::Displacement) {
        st = read_displacements();
        released = !s.displacements.allocated();
    } else if (section == CycleSection::MMVars) {
        st = read_material_fractions(status);
        for (const auto& m : s.material_fractions)  // zero without the tag, by design
            released = released && (!m.allocated() || st == kSectionMissing);
    } else if (section == CycleSection::RigidBodyData) {
        st = read_rigid_body_data(status);
        released = !s.rigid_body_numbers.allocated() && !s.rigid_body_data.allocated() && status;
    } else {
        st = read_joint_data(status);
        released = !s.joint_numbers.allocated() && !s.joint_data.allocated() && status;
    }
    if (st == kReadOk) return ::testing::AssertionFailure() << "read succeeded";
    if (!released) return ::testing::AssertionFailure() << "data left allocated, status " << st;
    if (s.read_position != 0 && section != CycleSection::MMVars)
        return ::testing::AssertionFailure() << "position " << s.read_position;
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
                model_of(2, 2, 3, 2);
                open_bytes(Bytes(whole.begin(), whole.begin() + cut));
                ASSERT_TRUE(fails_cleanly(section))
                    << "section " << static_cast<int>(section) << ", header words "
                    << header.size() << ", cut at " << cut << " of " << extent.end;
            }
        }
}

TEST_F(TruncatedSection, EarlierArraysStillReadAfterALaterOneFailed) {
    CycleFileSpec desc = node_reals(3);
    desc.order = {CycleSection::Model, CycleSection::Node};
    Bytes file = qvw::write_cycle_file(desc).bytes();
    file.resize(file.size() - 10);
    open_bytes(file);
    runtime::Array<float> r;
    EXPECT_EQ(read_real_array(kNodeObject, -3, 1, r), kReadError);
    EXPECT_EQ(store().read_position, 0);
    ASSERT_EQ(read_real_array(kNodeObject, -2, 1, r), kReadOk);
    EXPECT_EQ(values(r), desc.entries[1].reals);
    ASSERT_EQ(read_real_array(kNodeObject, -1, 1, r), kReadOk);
    EXPECT_EQ(values(r), desc.entries[0].reals);
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
        const std::string at = std::to_string(lie.header->size()) + " words, offset " +
                               std::to_string(lie.offset) + ", value " + std::to_string(lie.value);
        runtime::Array<float> r;
        EXPECT_NE(read_real_array(kNodeObject, -1, 1, r), kReadOk) << at;
        EXPECT_FALSE(r.allocated()) << at;
        EXPECT_EQ(store().read_position, 0) << at;
        const int behind = read_real_array(kNodeObject, -2, 1, r);
        if (lie.breaks_skip) {
            EXPECT_EQ(behind, kReadError) << at;
            EXPECT_FALSE(r.allocated()) << at;
        } else {
            EXPECT_EQ(behind, kReadOk) << at;
            EXPECT_EQ(values(r), desc.entries[1].reals) << at;
        }
    }
}

TEST_F(LyingCounts, ChunkedTotalAboveItsChunks) {
    // Real arrays keep the values their chunks held; integer arrays keep
    // the announced total, the values no chunk held being 0.
    for (const bool integer : {false, true}) {
        CycleFileSpec desc;
        desc.header = kChunked;
        desc.chunk_size = 7;
        desc.entries = {integer ? DirectoryEntrySpec::integer(1, 1, 1, ints(21, 5))
                                : DirectoryEntrySpec::real(2, 1, 1, reals(21, 5.0f))};
        desc.order = {CycleSection::Model, CycleSection::Node};
        qvw::CycleFileLayout layout;
        qvw::FileWriter w = qvw::write_cycle_file(desc, layout);
        w.overwrite_i32(static_cast<std::size_t>(layout.of(CycleSection::Node).begin + 62), 30);
        open_bytes(w.bytes());
        if (integer) {
            runtime::Array<std::int32_t> i;
            ASSERT_EQ(read_integer_array(kNodeObject, -1, 1, i), kReadOk);
            std::vector<std::int32_t> expected = ints(21, 5);
            expected.resize(30, 0);
            EXPECT_EQ(values(i), expected);
        } else {
            runtime::Array<float> r;
            ASSERT_EQ(read_real_array(kNodeObject, -1, 1, r), kReadOk);
            EXPECT_EQ(values(r), reals(21, 5.0f));
        }
    }
}

TEST_F(LyingCounts, SlotCountBeyondTheAllocationLimitIsRefused) {
    model_of(100, 100, 100, 3);  // 4 MB per material, above the fixture's limit
    CycleFileSpec desc;
    desc.structured_parts = {{100, 100, 100}};
    desc.material_fractions = std::vector<std::vector<float>>{{1}, {2}, {3}};
    open(desc);
    std::int32_t status = -1;
    EXPECT_EQ(read_material_fractions(status), kReadError);
    EXPECT_EQ(status, 2);
    for (const auto& m : store().material_fractions) EXPECT_FALSE(m.allocated());
}

using CorruptStream = CycleArrays;

TEST_F(CorruptStream, LeavesEachReadersDestinationUnallocated) {
    for (const auto& header : {kSingle, kChunked}) {
        CycleFileSpec desc = every_section(header);
        Bytes file = qvw::write_cycle_file(desc).bytes();
        const bool chunked = header.size() >= 7;
        // One chunk of several spoils the whole array.
        corrupt_stream(file, desc.entries[0].reals, chunked ? 5 : 0, chunked ? 5 : 0);
        corrupt_stream(file, desc.entries[2].ints, chunked ? 10 : 0, chunked ? 1 : 0);
        corrupt_stream(file, *desc.displacements, 0, chunked ? 5 : 0);
        corrupt_stream(file, (*desc.material_fractions)[0], 0, chunked ? 5 : 0);
        corrupt_stream(file, desc.rigid_bodies->data, 0, chunked ? 5 : 0);
        model_of(2, 2, 3, 2);
        open_bytes(file);
        const auto& s = store();

        runtime::Array<float> r;
        runtime::Array<std::int32_t> i;
        EXPECT_EQ(read_real_array(kNodeObject, -1, 1, r), kInflateError);
        EXPECT_FALSE(r.allocated());
        EXPECT_EQ(read_integer_array(kNodeObject, -3, 1, i), kInflateError);
        EXPECT_FALSE(i.allocated());
        EXPECT_EQ(read_layered_integer_array(kNodeObject, -3, 1, i), kInflateError);
        ASSERT_EQ(read_real_array(kNodeObject, -5, 1, r), kReadOk);  // skipped, not inflated
        EXPECT_EQ(values(r), desc.entries[4].reals);
        EXPECT_EQ(read_displacements(), kInflateError);
        EXPECT_FALSE(s.displacements.allocated());

        std::int32_t status = -1;
        EXPECT_EQ(read_material_fractions(status), kInflateError);
        EXPECT_EQ(status, 2);
        EXPECT_FALSE(s.material_fractions[0].allocated());
        EXPECT_EQ(values(s.material_fractions[1]), (*desc.material_fractions)[1]);
        EXPECT_EQ(values(s.cover_fraction), desc.entries[3].reals);

        EXPECT_EQ(read_rigid_body_data(status), kInflateError);
        EXPECT_EQ(status, 2);
        EXPECT_FALSE(s.rigid_body_numbers.allocated() || s.rigid_body_data.allocated());
        EXPECT_EQ(read_joint_data(status), kReadOk);
        EXPECT_EQ(values(s.joint_data), desc.joints->data);
    }
}

}  // namespace
}  // namespace qv::format
