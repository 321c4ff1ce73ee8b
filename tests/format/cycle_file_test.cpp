// Cycle files: the header words and what each of them switches, and the
// "<Model>" section with the result directory.
#include "format/cycle_file.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "format/cycle_arrays.h"
#include "support/record_fixture.h"
#include "writer/cycle_file.h"

namespace qv::format {
namespace {

using qvw::CycleFileSpec;
using qvw::CycleSection;
using qvw::DirectoryEntrySpec;

class CycleFile : public ::testing::Test {
protected:
    bool open(const CycleFileSpec& desc) { return open_bytes(qvw::write_cycle_file(desc).bytes()); }
    bool open_bytes(const qvw::Bytes& bytes) { return qvtest::open_cycle(dir_, bytes, c_); }
    // Whether the reason of the last failed open names the file and `section`.
    bool reason_names(const std::string& section) const {
        return c_.reason().rfind(dir_.file("run_0000001.qvres") + ": " + section + ": ", 0) == 0;
    }
    qvtest::TempDir dir_;
    CycleReader c_;
};

// One node real, one element real and one node integer array, plus every
// optional section.
CycleFileSpec full_spec(std::vector<std::int32_t> header) {
    CycleFileSpec desc;
    desc.header = std::move(header);
    desc.chunk_size = 2;
    desc.entries = {DirectoryEntrySpec::real(2, 7, 1, {1, 2, 3}, "NODE REAL"),
                    DirectoryEntrySpec::real(-2, 8, 1, {4, 5, 6, 7}, "ELEMENT REAL"),
                    DirectoryEntrySpec::integer(1, 9, 1, {10, 11, 12}, "NODE INTEGER")};
    desc.displacements = std::vector<float>{0.5f, 1.5f, 2.5f};
    desc.material_fractions = std::vector<std::vector<float>>{{0.25f}};
    desc.rigid_bodies = qvw::BodyArraysSpec{{3}, std::vector<float>(15, 1.0f)};
    desc.joints = qvw::BodyArraysSpec{{4}, std::vector<float>(39, 2.0f)};
    return desc;
}

// Word 1 negative: no model sizes to read after "<Model>".
TEST_F(CycleFile, HeaderWordsBeyondTheCountReadAsAbsent) {
    for (std::int32_t n = 0; n <= 9; ++n) {
        std::vector<std::int32_t> words;
        for (std::int32_t i = 1; i <= n; ++i) words.push_back(-10 * i);
        qvw::FileWriter w;
        w.ints({n}).ints(words).tag("<Model>");
        ASSERT_TRUE(open_bytes(w.bytes())) << n << ": " << c_.reason();
        const model::CycleHeader& h = c_.model().header;
        EXPECT_EQ(h.count(), n);
        EXPECT_EQ(h.word(n), -10 * n);
        EXPECT_EQ(h.word(n + 1), 0);
        EXPECT_FALSE(c_.model().has_sizes);
        qvw::FileWriter lying;
        lying.ints({n + 1}).ints(words).tag("<Model>");  // a count its record cannot hold
        EXPECT_FALSE(open_bytes(lying.bytes())) << n;
        EXPECT_TRUE(reason_names("header")) << c_.reason();
    }
}

// The sizes and the directory of "<Model>" as the exports answer them:
// model_queries_test and variables_test. Whatever the record after the
// counts holds is passed over on the way to the directory.
TEST_F(CycleFile, RecordAfterTheCountsIsPassedOver) {
    CycleFileSpec desc = full_spec({1, 1, 1, 1, 0, 1});
    desc.row9 = qvw::Record().text("anything at all", 80);
    ASSERT_TRUE(open(desc)) << c_.reason();
    ASSERT_EQ(c_.model().directory.size(), 3);
    EXPECT_EQ(c_.model().directory(3).name.trimmed(), "NODE INTEGER");
}

// Registration reads the cycle number and time from "<Model>" when word 1
// is 1, and fails without them; with word 0 it takes none. (That an open
// then reads no sizes: HeaderWordsBeyondTheCountReadAsAbsent.)
TEST_F(CycleFile, StampNeedsWordOneAndItsRecords) {
    qvw::FileWriter w;
    w.ints({1}).ints({1}).tag("<Model>").ints({0}).ints({0});  // no number and time records
    qvtest::RecordFile cut(w.bytes());
    CycleStamp stamp;
    EXPECT_FALSE(read_cycle_stamp(cut.reader(), stamp));
    EXPECT_EQ(cut.reader().reason().rfind(cut.path() + ": <Model>: ", 0), 0u) << cut.reader().reason();

    CycleFileSpec desc = full_spec({0, 1, 1, 1, 0, 1});
    desc.model_content = qvw::Content::Write;  // present, but not to be read
    desc.cycle = 5;
    qvtest::RecordFile f(qvw::write_cycle_file(desc).bytes());
    ASSERT_TRUE(read_cycle_stamp(f.reader(), stamp));
    EXPECT_TRUE(stamp.model_found);
    EXPECT_EQ(stamp.cycle, 0);
}

TEST_F(CycleFile, DirectoryCountLargerThanItsRecord) {
    // (An empty directory record: variables_test, EmptyDirectory.)
    CycleFileSpec desc = full_spec({1, 1, 1, 1, 0, 1});
    desc.directory_count = 4;
    EXPECT_FALSE(open(desc));
    EXPECT_TRUE(reason_names("<Model>")) << c_.reason();
    EXPECT_FALSE(c_.model().has_sizes);
    EXPECT_EQ(c_.model().directory.size(), 0);
    EXPECT_FALSE(c_.is_open());
    // No "<Model>" at all.
    desc.order = {CycleSection::Node};
    EXPECT_FALSE(open(desc));
    EXPECT_TRUE(reason_names("<Model>")) << c_.reason();
}

// Hosts size their arrays from the counts a cycle states: a tiny file may
// restate the model's counts, but not claim more than both they and its own
// bytes could justify.
TEST_F(CycleFile, StatedCountsBeyondModelAndFileAreRefused) {
    CycleFileSpec desc;
    desc.unstructured_nodes = 50'000'000;
    const qvw::Bytes bytes = qvw::write_cycle_file(desc).bytes();
    EXPECT_FALSE(open_bytes(bytes));
    EXPECT_TRUE(reason_names("<Model>")) << c_.reason();
    model::Counts known;
    known.node_count = 50'000'000;
    const std::string path = dir_.file("run_0000001.qvres");
    ASSERT_TRUE(c_.open(path, known)) << c_.reason();
    EXPECT_EQ(c_.model().counts.node_count, 50'000'000);

    for (auto stated : {&CycleFileSpec::unstructured_elements, &CycleFileSpec::unstructured_parts,
                        &CycleFileSpec::variable_count}) {
        desc = CycleFileSpec{};
        desc.*stated = 50'000'000;
        EXPECT_FALSE(open(desc));
        EXPECT_TRUE(reason_names("<Model>")) << c_.reason();
    }
}

TEST_F(CycleFile, ModelSectionMayComeAnywhere) {
    for (std::size_t at = 0; at < 7; ++at) {
        CycleFileSpec desc = full_spec({1, 1, 1, 1, 0, 1, 1, 1});
        desc.order = {CycleSection::JointData, CycleSection::Element, CycleSection::MMVars,
                      CycleSection::RigidBodyData, CycleSection::Node, CycleSection::Displacement};
        desc.order.insert(desc.order.begin() + static_cast<std::ptrdiff_t>(at), CycleSection::Model);
        ASSERT_TRUE(open(desc)) << at;
        runtime::Array<std::int32_t> ints;
        ASSERT_EQ(read_integer_array(c_, kNodeObject, 9, 1, ints), Status::ok) << at;
        EXPECT_EQ(ints(3), 12);
        runtime::Array<float> reals;
        ASSERT_EQ(read_real_array(c_, kElementObject, -8, 1, reals), Status::ok) << at;
        EXPECT_EQ(reals(4), 7.0f);
    }
}

// What each header word switches: the writer follows the words, and forcing
// the arrays into the file shows that the readers follow them too. Node,
// element, displacement, material, rigid body and joint reads.
std::array<Status, 6> read_everything(CycleReader& c) {
    runtime::Array<float> reals;
    runtime::Buffer<float> displacements;
    runtime::Array<std::int32_t> numbers;
    return {read_real_array(c, kNodeObject, -7, 1, reals), read_real_array(c, kElementObject, -8, 1, reals),
            read_displacements(c, displacements), read_material_fractions(c, 1, 1),
            read_rigid_body_data(c, numbers, reals), read_joint_data(c, numbers, reals)};
}

TEST_F(CycleFile, EachHeaderWordSwitchesItsSections) {
    const Status ok = Status::ok, none = Status::no_arrays;
    const struct {
        std::vector<std::int32_t> words;
        std::array<Status, 6> expected;
    } cases[] = {
        {{1, 1, 1, 1, 0, 1}, {ok, ok, ok, ok, ok, ok}},
        {{1, 1, 0, 1, 0, 1}, {none, ok, ok, ok, ok, ok}},          // h3
        {{1, 1, 1, 0, 0, 1}, {ok, none, ok, ok, ok, ok}},          // h4
        {{1, 0, 1, 1, 0, 1}, {ok, ok, none, ok, none, none}},      // h2 below 7 words
        {{1, 1, 1, 1, 0, 0}, {ok, ok, ok, none, ok, ok}},          // h6 below 7 words
        {{1, 0, 1, 1, 0, 0, 1}, {ok, ok, ok, ok, none, none}},     // 7 words: h2 bodies only
        {{1, 0, 1, 1, 0, 0, 0, 0}, {ok, ok, ok, ok, ok, ok}},      // 8 words: h2 unused
        {{1, 0, 1, 1, 0, 0, 1, 1}, {ok, ok, ok, ok, ok, ok}},      // h7, h8: chunked
        {{1, 1, 1, 1, 0, 1, 1, 0}, {ok, ok, ok, ok, ok, ok}},      // bulk chunked only
        {{1, 1, 1, 1, 0, 1, 0, 1}, {ok, ok, ok, ok, ok, ok}},      // bodies chunked only
        {{1}, {none, none, none, none, none, none}},
    };
    for (const auto& c : cases) {
        for (const bool forced : {false, true}) {
            SCOPED_TRACE(::testing::PrintToString(c.words) + (forced ? " forced" : ""));
            CycleFileSpec desc = full_spec(c.words);
            if (forced) {
                for (auto* content : {&desc.node_arrays, &desc.element_arrays, &desc.displacement_array,
                                      &desc.material_arrays, &desc.body_arrays})
                    *content = qvw::Content::Write;
            }
            ASSERT_TRUE(open(desc));
            EXPECT_EQ(read_everything(c_), c.expected);
        }
    }
}

}  // namespace
}  // namespace qv::format
